#include "shell/shell_entries.h"

#include <windows.h>

#include <cstring>
#include <string_view>

#include "support/memory.h"
#include "support/paths.h"
#include "support/registry.h"
#include "support/run_state.h"
#include "support/text_format.h"

namespace {

constexpr const char* uninstall_key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qelmora";
constexpr const char* remover_name = "RM_QEL.EXE";

// The handle closes with the scope.
struct file_closer {
    HANDLE file;
    ~file_closer() { CloseHandle(file); }
};

}  // namespace

int register_uninstall_entry()
{
    char remover[path_capacity];
    if (format_text(remover, sizeof remover, "%s\\%s", setup.target_dir, remover_name) >= path_capacity) return 0;
    if (!file_can_open(remover)) return 0;
    reg_update_string(HKEY_LOCAL_MACHINE, uninstall_key, "DisplayName", "Qelmora");
    reg_update_string(HKEY_LOCAL_MACHINE, uninstall_key, "UninstallString", remover);
    return 1;
}

int register_help_contents(const char* windows_dir)
{
    char windows[path_capacity];
    if (!windows_dir) {
        const UINT length = GetWindowsDirectoryA(windows, path_capacity);
        if (length == 0 || length >= path_capacity) return 0;
        windows_dir = windows;
    }
    char path[path_capacity];
    if (format_text(path, sizeof path, "%s\\Help\\Windows.cnt", windows_dir) >= path_capacity) return 0;
    const std::uint32_t size = file_size_of(path);
    if (size == 0) return 0;
    const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    file_closer closer{file};
    block_closer contents{alloc_block(size)};
    DWORD got = 0;
    if (!ReadFile(file, contents.block, size, &got, nullptr) || got == 0) return 0;
    // The block holds no NUL of its own: the search stays within the bytes read.
    const std::string_view text(static_cast<const char*>(contents.block), got);
    if (text.find(help_contents_marker) != std::string_view::npos) return 1;
    SetFilePointer(file, 0, nullptr, FILE_END);
    for (const char* line : help_contents_lines) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    }
    return 1;
}
