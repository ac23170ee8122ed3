// Functions that not every system has (the Windows 95 family lacks many), looked up by name in a
// system library the program has loaded already.
#pragma once

#include <windows.h>

// The function, or null when the library is not loaded or has no such export. A library that is
// not loaded gives a null module, and GetProcAddress on a null module searches the program's own
// exports: the module is tested first.
template <class function_type>
function_type loaded_system_function(const char* library, const char* name)
{
    const HMODULE module = GetModuleHandleA(library);
    if (!module) return nullptr;
    return reinterpret_cast<function_type>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
