#include "shell/win_ini_copy.h"

#include <windows.h>

#include <string_view>

#include "support/ini_entries.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/paths.h"
#include "support/run_state.h"

namespace {

// A WIN.INI beyond this is not copied: the Windows 95 family's profile calls stop at 64 KiB.
constexpr DWORD largest_copied = 1 << 20;

struct win_ini_paths {
    char win_ini[path_capacity];
    char copy[path_capacity];
    char partial[path_capacity];
};

win_ini_paths paths_in_windows_dir()
{
    win_ini_paths paths{};
    join_path(paths.win_ini, setup.windows_dir, "WIN.INI", nullptr);
    join_path(paths.copy, setup.windows_dir, "QELWIN.BAK", nullptr);
    join_path(paths.partial, setup.windows_dir, "QELWIN.TMP", nullptr);
    return paths;
}

// A file opened for reading, and its length when it is one this run copies (no larger than
// largest_copied); INVALID_HANDLE_VALUE otherwise.
HANDLE open_copyable(const char* path, DWORD& length)
{
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    length = GetFileSize(file, nullptr);
    if (length != INVALID_FILE_SIZE && length <= largest_copied) return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

bool copyable_length(const char* path, DWORD& length)
{
    const HANDLE file = open_copyable(path, length);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// A file's bytes in a block of the program's memory (free_block), or null when it cannot be read
// whole or is larger than largest_copied.
char* read_whole(const char* path, DWORD& length)
{
    const HANDLE file = open_copyable(path, length);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto* text = static_cast<char*>(alloc_block(length + 1));
    DWORD got = 0;
    if (!ReadFile(file, text, length, &got, nullptr) || got != length) {
        free_block(text);
        text = nullptr;
    }
    CloseHandle(file);
    return text;
}

constexpr std::string_view client_keys[] = {"Installed", "AppPath"};

// How WIN.INI stands against the copy, but for the client's keys.
enum class win_ini_state { whole, cut, changed };

// A WIN.INI that cannot be read is taken as whole: the copy is not put over a file this run
// cannot see.
win_ini_state compare_with_copy(const win_ini_paths& paths, std::string_view copy)
{
    DWORD length = 0;
    char* current = read_whole(paths.win_ini, length);
    if (!current)
        return GetFileAttributesA(paths.win_ini) != INVALID_FILE_ATTRIBUTES ? win_ini_state::whole : win_ini_state::cut;
    const std::string_view text(current, length);
    const win_ini_state state = ini_keeps_entries(copy, text, "ZOVE", client_keys) ? win_ini_state::whole
                                : ini_is_cut_form(copy, text, "ZOVE", client_keys) ? win_ini_state::cut
                                                                                   : win_ini_state::changed;
    free_block(current);
    return state;
}

// Puts the copy in WIN.INI's place when WIN.INI is a cut form of it (a write stopped halfway is
// the only explanation), then removes it. The copy is written over WIN.INI where it stands
// (WIN.INI may be bound where no rename reaches), and stays until WIN.INI reads whole again. A
// WIN.INI edited since the copy was made (by another program, however long ago) is left as it
// is: the copy is stale. False when the copy had to stay.
bool put_back_if_cut(const win_ini_paths& paths, bool& was_whole)
{
    was_whole = true;
    DWORD length = 0;
    char* copy_text = read_whole(paths.copy, length);
    if (!copy_text) return DeleteFileA(paths.copy) != 0 || GetFileAttributesA(paths.copy) == INVALID_FILE_ATTRIBUTES;
    const std::string_view copy(copy_text, length);
    const win_ini_state state = compare_with_copy(paths, copy);
    was_whole = state != win_ini_state::cut;
    const bool put_back = was_whole || (CopyFileA(paths.copy, paths.win_ini, FALSE) &&
                                        compare_with_copy(paths, copy) == win_ini_state::whole);
    free_block(copy_text);
    if (!put_back) {
        log_line("Couldn't put back %s from %s", paths.win_ini, paths.copy);
        return false;
    }
    if (!was_whole) log_line("Put back %s from %s", paths.win_ini, paths.copy);
    if (state == win_ini_state::changed) log_line("%s changed since %s was made: the copy is dropped", paths.win_ini, paths.copy);
    return DeleteFileA(paths.copy) != 0;
}

}  // namespace

bool keep_win_ini_copy()
{
    const win_ini_paths paths = paths_in_windows_dir();
    // A copy that could not be put back at the start stays the one to go by: WIN.INI may be the
    // cut one still.
    settle_win_ini_copy();
    if (GetFileAttributesA(paths.copy) != INVALID_FILE_ATTRIBUTES) return true;
    // What the system still holds of WIN.INI goes to the file first, so that the copy has it.
    WriteProfileStringA(nullptr, nullptr, nullptr);
    DWORD length = 0;
    // No WIN.INI, or none this run can copy: there is nothing to keep, and the writes go on as
    // they would without a copy.
    if (!copyable_length(paths.win_ini, length)) return true;
    DeleteFileA(paths.partial);
    DWORD copied = 0;
    const bool kept = CopyFileA(paths.win_ini, paths.partial, FALSE) && copyable_length(paths.partial, copied) &&
                      copied == length && MoveFileA(paths.partial, paths.copy);
    if (!kept) DeleteFileA(paths.partial);
    return kept;
}

bool win_ini_came_through()
{
    const win_ini_paths paths = paths_in_windows_dir();
    WriteProfileStringA(nullptr, nullptr, nullptr);
    bool was_whole = true;
    put_back_if_cut(paths, was_whole);
    return was_whole;
}

void settle_win_ini_copy()
{
    const win_ini_paths paths = paths_in_windows_dir();
    if (GetFileAttributesA(paths.copy) == INVALID_FILE_ATTRIBUTES) return;
    bool was_whole = true;
    put_back_if_cut(paths, was_whole);
}

bool win_ini_holds_client_keys()
{
    const win_ini_paths paths = paths_in_windows_dir();
    DWORD length = 0;
    char* text = read_whole(paths.win_ini, length);
    if (!text) return false;
    const std::string_view current(text, length);
    const bool holds =
        ini_holds(current, "ZOVE", "Installed", "US") && ini_holds(current, "ZOVE", "AppPath", setup.target_dir);
    free_block(text);
    return holds;
}
