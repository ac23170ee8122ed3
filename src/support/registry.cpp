#include "support/registry.h"

#include <cstring>

#include "resource_ids.h"
#include "support/memory.h"
#include "support/run_state.h"
#include "support/strings.h"

namespace {

struct key_closer {
    HKEY key;
    ~key_closer() { if (key) RegCloseKey(key); }
};

LONG create_key(HKEY root, const char* subkey, HKEY* key)
{
    DWORD disposition = 0;
    return RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key,
                           &disposition);
}

}  // namespace

open_key_call open_registry_key = RegOpenKeyExA;

LONG reg_find_value(HKEY key, const char* value, char* buffer, DWORD capacity)
{
    DWORD value_count = 0, longest_name = 0, longest_data = 0;
    LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
                                   &longest_name, &longest_data, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result;
    char* name = static_cast<char*>(alloc_block(longest_name + 4));
    unsigned char* data = static_cast<unsigned char*>(alloc_block(longest_data + 4));
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (value_count == 0) {
        result = ERROR_FILE_NOT_FOUND;
    } else {
        for (DWORD index = 0; result == ERROR_SUCCESS || result == ERROR_MORE_DATA; ++index) {
            DWORD name_size = longest_name + 4, data_size = longest_data + 4, type = 0;
            result = RegEnumValueA(key, index, name, &name_size, nullptr, &type, data, &data_size);
            if ((result == ERROR_SUCCESS || result == ERROR_INSUFFICIENT_BUFFER) && lstrcmpiA(name, value) == 0) {
                // Whatever the type, the data is taken as text up to its first NUL, cut to the buffer.
                const DWORD length = static_cast<DWORD>(strnlen(reinterpret_cast<char*>(data), data_size));
                if (capacity > 0) {
                    const DWORD kept = length < capacity ? length : capacity - 1;
                    std::memcpy(buffer, data, kept);
                    buffer[kept] = '\0';
                }
                break;
            }
        }
    }
    free_block(name);
    free_block(data);
    SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
    return result;
}

LONG reg_write_string(HKEY root, const char* subkey, const char* value, const char* text)
{
    if (!root) return ERROR_FILE_NOT_FOUND;
    key_closer key{};
    LONG opened = open_registry_key(root, subkey, 0, KEY_SET_VALUE, &key.key);
    if (opened == ERROR_FILE_NOT_FOUND) {
        key_closer created{};
        if (create_key(root, subkey, &created.key) != ERROR_SUCCESS) return 1;
        if (open_registry_key(root, subkey, 0, KEY_SET_VALUE, &key.key) != ERROR_SUCCESS) return 1;
    } else if (opened != ERROR_SUCCESS) {
        return opened;
    }
    return RegSetValueExA(key.key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

LONG reg_read_string(HKEY root, const char* subkey, const char* value, char* buffer, DWORD capacity, int create)
{
    if (!root) return ERROR_FILE_NOT_FOUND;
    key_closer key{};
    // Only the right to read: a user who may not write the key (NT's HKEY_LOCAL_MACHINE without
    // administrator rights) still reads it.
    LONG opened = open_registry_key(root, subkey, 0, KEY_READ, &key.key);
    if (opened == ERROR_FILE_NOT_FOUND) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        if (create_key(root, subkey, &key.key) != ERROR_SUCCESS) return 1;
        if (reg_write_string(root, subkey, value, buffer) != ERROR_SUCCESS) return 1;
    } else if (opened != ERROR_SUCCESS) {
        return opened;
    }
    const LONG found = reg_find_value(key.key, value, buffer, capacity);
    if ((found == ERROR_NO_MORE_ITEMS || found == ERROR_FILE_NOT_FOUND) && create)
        reg_write_string(root, subkey, value, buffer);
    return found;
}

LONG reg_update_string(HKEY root, const char* subkey, const char* value, const char* text)
{
    char current[path_capacity] = "";
    const LONG read = reg_read_string(root, subkey, value, current, sizeof current, 0);
    if (read == ERROR_SUCCESS) {
        if (lstrcmpiA(text, current) < 0 && lstrcmpiA(value, "Revision") == 0) {
            if (MessageBoxA(nullptr, resource_text(1, STR_NEWER_QEL_REGISTERED), short_resource_text(STR_PRODUCT_CAPTION),
                            MB_YESNO | MB_ICONINFORMATION) != IDYES)
                return ERROR_SUCCESS;
        }
        return reg_write_string(root, subkey, value, text);
    }
    if (read == ERROR_FILE_NOT_FOUND) {
        key_closer created{};
        if (!root || create_key(root, subkey, &created.key) != ERROR_SUCCESS) return 1;
        return reg_write_string(root, subkey, value, text) == ERROR_SUCCESS ? 0 : 1;
    }
    if (read == ERROR_NO_MORE_ITEMS) return reg_write_string(root, subkey, value, text);
    return read;
}
