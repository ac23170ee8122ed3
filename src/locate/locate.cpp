#include "locate/locate.h"

#include <cstring>

#include "clientdb/client_db.h"
#include "locate/client_match.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/paths.h"
#include "support/registry.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/prompts.h"

namespace {

// One directory on the way down, as the file system identifies it.
struct directory_identity {
    DWORD volume, index_high, index_low;
};

// Each level adds at least a backslash and one character to a path of at most 259.
constexpr int deepest_level = path_capacity / 2 + 1;

// A directory on the way down; its identity is asked only when a link is met below it.
struct ancestor {
    const char* path;
    bool asked, known;
    directory_identity identity;
};

struct search_path {
    HWND dialog;
    ancestor ancestors[deepest_level];
    int depth;
};

// The directory's identity, where the system gives one (Windows NT and Wine do; the Windows 95
// family opens no directories, and there the path's length alone bounds the depth).
bool identify_directory(const char* path, directory_identity& identity)
{
    const HANDLE directory = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(directory, &information) != 0;
    CloseHandle(directory);
    if (!known || (information.nFileIndexHigh == 0 && information.nFileIndexLow == 0)) return false;
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

bool same_directory(const directory_identity& a, const directory_identity& b)
{
    return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}

// directory, a backslash unless it ends in one (a drive's root), and the name; false when the
// whole would pass 259 characters.
bool join_whole(char* out, const char* directory, const char* name)
{
    const std::size_t length = std::strlen(directory);
    // A last backslash found by characters, so a double-byte name's trail byte does not count.
    const bool at_root = length > 0 && find_last_char(directory, '\\') == directory + length - 1;
    if (length + (at_root ? 0 : 1) + std::strlen(name) >= path_capacity) return false;
    std::memcpy(out, directory, length);
    std::size_t used = length;
    if (!at_root) out[used++] = '\\';
    std::strcpy(out + used, name);
    return true;
}

void show_directory(HWND dialog, const char* directory)
{
    if (dialog) SetDlgItemTextA(dialog, CTL_PATH, directory);
}

// "%s\idb\main.idx" of a recorded directory opens.
bool recorded_database_opens(const char* directory)
{
    char database[path_capacity];
    if (!join_whole(database, directory, "idb\\main.idx")) return false;
    return file_can_open(database) != 0;
}

// A loop in the tree passes through a link (a reparse point: a symbolic link under Wine, a
// junction on NT), so only a directory reached through one is compared with the directories
// above it; opening every directory to identify it would cost more than the whole listing.
bool leads_back_up(const char* directory, search_path& path)
{
    directory_identity self{};
    if (!identify_directory(directory, self)) return false;
    for (int level = 0; level < path.depth; ++level) {
        ancestor& above = path.ancestors[level];
        if (!above.asked) {
            above.asked = true;
            above.known = identify_directory(above.path, above.identity);
        }
        if (above.known && same_directory(above.identity, self)) return true;
    }
    return false;
}

void search_below(const char* directory, search_path& path, bool through_link)
{
    if (setup.search_stopped) return;
    show_directory(path.dialog, directory);
    char program[path_capacity];
    int found = 0;
    if (join_whole(program, directory, short_resource_text(STR_CLIENT_MODULE)) && file_can_open(program))
        found = client_candidate(directory);
    pump_messages();
    if (found || setup.search_stopped) return;

    if (through_link && leads_back_up(directory, path)) return;
    if (path.depth >= deepest_level) return;
    char pattern[path_capacity];
    if (!join_whole(pattern, directory, "*.*")) return;
    WIN32_FIND_DATAA entry;
    const HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    path.ancestors[path.depth] = {directory, false, false, {}};
    ++path.depth;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == '.') continue;
        char child[path_capacity];
        // A path that would not fit is passed over rather than cut into another directory's name.
        if (!join_whole(child, directory, entry.cFileName)) continue;
        search_below(child, path, (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    } while (!setup.search_stopped && FindNextFileA(listing, &entry));
    FindClose(listing);
    --path.depth;
}

}  // namespace

int client_db_verdict(const char* path)
{
    client_db* db = nullptr;
    if (db_open(path, &db) != 0) {
        log_line("IAB:DBO failed on %s", path);
        return 0;
    }
    unsigned char version[3] = {};
    std::uint16_t size = sizeof version;
    const void* body = db_read_record(db, version_record_gid, nullptr, &size);
    std::uint8_t major = 0, minor = 0;
    if (body) {
        const auto* bytes = static_cast<const unsigned char*>(body);
        if (size > 1) major = bytes[1];
        if (size > 2) minor = bytes[2];
        free_block(const_cast<void*>(body));
    }
    db_close(db);
    const int accepted = build_accepted(setup.accepted_builds, major, minor);
    log_line("IAB:Verdict for %s (build %0X) = %s", path, static_cast<unsigned>(major), accepted ? "yes" : "no");
    return accepted;
}

int client_candidate(const char* directory)
{
    char idb[path_capacity], database[path_capacity];
    join_path(idb, directory, "IDB", nullptr);
    if (!db_find_file(database, idb, main_database_id)) return 0;
    const std::uint32_t time = file_dos_time(database);
    if (time == 0) return 1;
    log_line("CFA:Time for %s = %lu", database, static_cast<unsigned long>(time));
    if (client_db_verdict(database) && time > setup.best_client_time) {
        copy_bounded(setup.best_client_dir, sizeof setup.best_client_dir, directory);
        setup.best_client_time = time;
    }
    return 1;
}

int client_dir_acceptable(const char* directory)
{
    setup.best_client_time = 0;
    return client_candidate(directory) && setup.best_client_time != 0;
}

void search_tree(const char* directory, HWND dialog)
{
    search_path path{};
    path.dialog = dialog;
    search_below(directory, path, false);
}

int locate_client(char* out)
{
    out[0] = '\0';
    const HWND dialog = open_dialog(DLG_SEARCH, search_dialog_proc);
    if (!dialog) return 0;
    setup.search_stopped = 0;
    setup.best_client_time = 0;

    bool registry_candidate = false;
    if (reg_read_string(HKEY_LOCAL_MACHINE, client_registry_key, "AppPath", setup.best_client_dir, sizeof setup.best_client_dir,
                        0) == ERROR_SUCCESS &&
        recorded_database_opens(setup.best_client_dir)) {
        registry_candidate = true;
        char candidate[path_capacity];
        copy_bounded(candidate, sizeof candidate, setup.best_client_dir);
        log_line("AppPath = %s", candidate);
        show_directory(dialog, candidate);
        client_candidate(candidate);
    } else {
        setup.best_client_dir[0] = '\0';
    }

    if (!registry_candidate) {
        char recorded[258] = "";
        GetProfileStringA("ZOVE", "AppPath", "", recorded, sizeof recorded);
        if (recorded[0] && recorded_database_opens(recorded)) {
            log_line("AppPath = %s", recorded);
            show_directory(dialog, recorded);
            client_candidate(recorded);
        }
    }

    if (setup.best_client_time == 0) {
        setup.best_client_dir[0] = '\0';
        for (int drive = 0; drive < 26 && !setup.search_stopped; ++drive) {
            if (drive_type_of(drive) != DRIVE_FIXED) continue;
            const char root[4] = {static_cast<char>('A' + drive), ':', '\\', '\0'};
            search_tree(root, dialog);
        }
    }
    close_dialog(DLG_SEARCH);

    if (setup.search_stopped) {
        log_line("User aborted disk search");
        return 0;
    }
    if (setup.best_client_time == 0) {
        log_line("No previous ver found");
        return 0;
    }
    log_line("Most recent = %s", setup.best_client_dir);
    copy_bounded(out, path_capacity, setup.best_client_dir);
    return 1;
}

INT_PTR CALLBACK search_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wparam) == BTN_EXIT) {
        if (confirm_exit(dialog)) setup.search_stopped = 1;
        return TRUE;
    }
    return FALSE;
}
