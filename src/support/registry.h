// String values in the registry. Results are Win32 error codes: 0 success, 2 no such key (or no
// values), 259 no such value; 1 when creating a key or its follow-up step failed.
#pragma once

#include <windows.h>

// The client's key under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER; its "AppPath" names the
// client's folder.
constexpr const char* client_registry_key = "SOFTWARE\\Qelmora\\QEL\\CurrentVersion";

// Reads `value` into `buffer` (capacity bytes; longer values are cut). With `create`, a missing
// key or value is created with the buffer's current text as its value.
LONG reg_read_string(HKEY root, const char* subkey, const char* value, char* buffer, DWORD capacity, int create);
LONG reg_write_string(HKEY root, const char* subkey, const char* value, const char* text);
// Writes `text` unless it would lower a "Revision" value (compared without regard to case) and
// the user, asked with string 35000, declines; 0 when written or declined.
LONG reg_update_string(HKEY root, const char* subkey, const char* value, const char* text);
// Finds a value by listing the key's values (names compared without regard to case).
LONG reg_find_value(HKEY key, const char* value, char* buffer, DWORD capacity);

// The call that opens a key (RegOpenKeyExA), each with only the rights it needs: reading asks for
// KEY_READ, writing for KEY_SET_VALUE. A test puts in one that refuses the rights to write, as
// Windows NT does on HKEY_LOCAL_MACHINE for a user who is no administrator.
using open_key_call = LONG(APIENTRY*)(HKEY root, LPCSTR subkey, DWORD options, REGSAM rights, PHKEY key);
extern open_key_call open_registry_key;
