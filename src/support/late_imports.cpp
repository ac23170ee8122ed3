// The C++ runtime linked into the program and its libraries (its thread layer, which the
// exception support needs) imports kernel32 functions that came after the first Windows 95
// release. The Windows 95 loader refuses a program whose import table names a function its
// kernel32 lacks. Each such function is defined here under its import-table name, so the linker
// takes this entry instead of an import: the first call looks the function up in kernel32 and,
// where the system has none, a stand-in answers that is sound for a program of one thread.
// This file is linked as an object into each image, never from an archive, so that it is in
// place before the runtime's archives are searched. tests/imports checks the import tables.
#include <windows.h>

#include "support/system_functions.h"

namespace {

// Looked up on the first call; plain statics, as a guarded one would call back into the runtime.
template <class function_type>
struct late_function {
    const char* name;
    function_type found;
    bool looked;
    function_type get()
    {
        if (!looked) {
            found = loaded_system_function<function_type>("kernel32.dll", name);
            looked = true;
        }
        return found;
    }
};

using tick_count_64_type = ULONGLONG(WINAPI*)();
late_function<tick_count_64_type> real_tick_count_64{"GetTickCount64", nullptr, false};
DWORD last_ticks;
ULONGLONG tick_wraps;

ULONGLONG WINAPI tick_count_64()
{
    if (const auto real = real_tick_count_64.get()) return real();
    // GetTickCount wraps after 49.7 days; count the wraps as the caller sees them.
    const DWORD ticks = GetTickCount();
    if (ticks < last_ticks) tick_wraps += 0x100000000ull;
    last_ticks = ticks;
    return tick_wraps + ticks;
}

using is_debugger_present_type = BOOL(WINAPI*)();
late_function<is_debugger_present_type> real_is_debugger_present{"IsDebuggerPresent", nullptr, false};

BOOL WINAPI is_debugger_present()
{
    const auto real = real_is_debugger_present.get();
    return real ? real() : FALSE;
}

using try_enter_type = BOOL(WINAPI*)(LPCRITICAL_SECTION);
late_function<try_enter_type> real_try_enter{"TryEnterCriticalSection", nullptr, false};

// Without the call, waiting is the only way in; with one thread there is nothing to wait for.
BOOL WINAPI try_enter_critical_section(LPCRITICAL_SECTION section)
{
    if (const auto real = real_try_enter.get()) return real(section);
    EnterCriticalSection(section);
    return TRUE;
}

using add_handler_type = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
late_function<add_handler_type> real_add_handler{"AddVectoredExceptionHandler", nullptr, false};

// The runtime only uses it to name threads for a debugger: no handler is fine.
PVOID WINAPI add_vectored_exception_handler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    const auto real = real_add_handler.get();
    if (real) return real(first, handler);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}

using remove_handler_type = ULONG(WINAPI*)(PVOID);
late_function<remove_handler_type> real_remove_handler{"RemoveVectoredExceptionHandler", nullptr, false};

ULONG WINAPI remove_vectored_exception_handler(PVOID handle)
{
    const auto real = real_remove_handler.get();
    return real ? real(handle) : 0;
}

using handle_information_type = BOOL(WINAPI*)(HANDLE, LPDWORD);
late_function<handle_information_type> real_handle_information{"GetHandleInformation", nullptr, false};

// The runtime asks it whether a thread handle is still valid: on the Windows 95 family, a
// handle that can be waited on is.
BOOL WINAPI get_handle_information(HANDLE handle, LPDWORD flags)
{
    if (const auto real = real_handle_information.get()) return real(handle, flags);
    if (WaitForSingleObject(handle, 0) == WAIT_FAILED) return FALSE;
    if (flags) *flags = 0;
    return TRUE;
}

using set_affinity_type = BOOL(WINAPI*)(HANDLE, DWORD_PTR);
late_function<set_affinity_type> real_set_affinity{"SetProcessAffinityMask", nullptr, false};

BOOL WINAPI set_process_affinity_mask(HANDLE process, DWORD_PTR mask)
{
    if (const auto real = real_set_affinity.get()) return real(process, mask);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

using get_affinity_type = BOOL(WINAPI*)(HANDLE, PDWORD_PTR, PDWORD_PTR);
late_function<get_affinity_type> real_get_affinity{"GetProcessAffinityMask", nullptr, false};

// Asked how many processors there are: without the call, one.
BOOL WINAPI get_process_affinity_mask(HANDLE process, PDWORD_PTR process_mask, PDWORD_PTR system_mask)
{
    if (const auto real = real_get_affinity.get()) return real(process, process_mask, system_mask);
    if (process_mask) *process_mask = 1;
    if (system_mask) *system_mask = 1;
    return TRUE;
}

}  // namespace

// The import-table names: __imp_<name> in 64-bit code, __imp__<name>@<argument bytes> in 32-bit.
#ifdef _WIN64
#define QEL_IMPORT_NAME(name, argument_bytes) "__imp_" #name
#else
#define QEL_IMPORT_NAME(name, argument_bytes) "__imp__" #name "@" #argument_bytes
#endif
// A pointer of the function's own type, so that it is constant data the loader never touches.
#define QEL_LATE_IMPORT(name, argument_bytes, function)                                            \
    extern "C" decltype(&function) const late_import_##name __asm__(QEL_IMPORT_NAME(name, argument_bytes)); \
    extern "C" decltype(&function) const late_import_##name = &function

QEL_LATE_IMPORT(GetTickCount64, 0, tick_count_64);
QEL_LATE_IMPORT(IsDebuggerPresent, 0, is_debugger_present);
QEL_LATE_IMPORT(TryEnterCriticalSection, 4, try_enter_critical_section);
QEL_LATE_IMPORT(AddVectoredExceptionHandler, 8, add_vectored_exception_handler);
QEL_LATE_IMPORT(RemoveVectoredExceptionHandler, 4, remove_vectored_exception_handler);
QEL_LATE_IMPORT(GetHandleInformation, 8, get_handle_information);
QEL_LATE_IMPORT(SetProcessAffinityMask, 8, set_process_affinity_mask);
QEL_LATE_IMPORT(GetProcessAffinityMask, 12, get_process_affinity_mask);
