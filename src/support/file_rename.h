// Renaming a file through the handle that has it open (opened with DELETE access), with
// NtSetInformationFile where the system has it (the NT family and Wine): MoveFile would open the
// file once more by its name. The Windows 95 family has no such call; there `can_rename_open_file`
// is false and callers rename by name. Used by the unzip library for the file it unpacks.
#pragma once

#include <windows.h>

#include "support/system_functions.h"

namespace file_rename_detail {

using set_information_function = LONG(WINAPI*)(HANDLE file, void* status, void* information, ULONG length,
                                               int information_class);

inline set_information_function set_information()
{
    // The Windows 95 family has no ntdll.dll loaded.
    static const auto function =
        loaded_system_function<set_information_function>("ntdll.dll", "NtSetInformationFile");
    return function;
}

}  // namespace file_rename_detail

inline bool can_rename_open_file() { return file_rename_detail::set_information() != nullptr; }

// Renames the open file to `target`, a path with a drive letter in the file calls' code page.
// An existing target is replaced only when `replace_existing` is set.
inline bool rename_open_file(HANDLE file, const char* target, bool replace_existing)
{
    const auto rename = file_rename_detail::set_information();
    if (!rename || !target[0] || target[1] != ':' || target[2] != '\\') return false;
    struct {
        BOOLEAN replace_if_exists;
        HANDLE root_directory;
        ULONG name_length;
        WCHAR name[4 + MAX_PATH];
    } information{replace_existing, nullptr, 0, {L'\\', L'?', L'?', L'\\'}};
    const int length = MultiByteToWideChar(AreFileApisANSI() ? CP_ACP : CP_OEMCP, 0, target, -1, information.name + 4,
                                           MAX_PATH);
    if (length <= 1) return false;
    information.name_length = static_cast<ULONG>((4 + length - 1) * sizeof(WCHAR));
    struct {
        LONG status;
        ULONG_PTR information;
    } io_status{};
    constexpr int file_rename_information = 10;
    return rename(file, &io_status, &information, sizeof information, file_rename_information) >= 0;
}
