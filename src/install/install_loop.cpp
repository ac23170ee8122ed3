#include "install/install_loop.h"

#include <windows.h>

#include <array>
#include <cstring>

#include "install/archive_ahead.h"
#include "install/cleanup.h"
#include "install/disk_space.h"
#include "install/extract.h"
#include "install/member_rules.h"
#include "package/package_format.h"
#include "resource_ids.h"
#include "shell/game_pif.h"
#include "support/fatal_errors.h"
#include "support/file_replace.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"
#include "ui/prompts.h"
#include "ui/screen_pace.h"

namespace {

bool same_text(const char* a, const char* b) { return same_name(a, b); }

}  // namespace

namespace {

void upper_case(char* text) { CharUpperA(text); }

// The current file as the dialog shows it, at the screen's pace: the whole upper-cased path up
// to 30 characters, else the file name (system, if newer) or "..." and the path's last 24 bytes
// (plain).
void show_current_file(HWND text, const member_place& place)
{
    char full[path_capacity];
    std::strcpy(full, place.final_path);
    upper_case(full);
    char shown[path_capacity];
    if (std::strlen(full) <= 30) std::strcpy(shown, full);
    else if (place.rule != install_rule::plain) std::strcpy(shown, path_file_name(full));
    else format_text(shown, sizeof shown, "...%s", text_tail(full, 24));
    set_text_paced(text, shown);
}

// What a stopped run leaves in a folder it installs into: the unzip library's unpacked files not
// yet checked ("dztNNNN.tmp") and the copies made under another name to be put in place. One
// listing of the folder's ".tmp" names serves all three: under Wine each listing reads the whole
// folder.
void remove_stale_temporaries(const char* directory)
{
    char in_directory[path_capacity];
    char search[path_capacity];
    if (!sibling_name(join_path(in_directory, directory, "x", nullptr), "*.tmp", search)) return;
    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA(search, &found);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        bool stale = false;
        for (const char* pattern : {"dzt????.tmp", "QELCOPY.TMP", "qelaside.tmp"})
            stale = stale || long_name_matches(pattern, found.cFileName);
        char stale_path[path_capacity];
        if (stale && sibling_name(search, found.cFileName, stale_path)) DeleteFileA(stale_path);
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
}

// The folders already cleared of stale temporaries in this run, the latest few: members come
// folder by folder or in turns among a few, so each folder is listed about once, and a folder
// that dropped out is only listed again.
struct cleared_directories {
    static constexpr int remembered = 16;
    std::array<std::array<char, path_capacity>, remembered> paths{};
    int next = 0;

    void clear_once(const char* directory)
    {
        for (const auto& path : paths)
            if (path[0] && !lstrcmpiA(path.data(), directory)) return;
        remove_stale_temporaries(directory);
        lstrcpynA(paths[next].data(), directory, path_capacity);
        next = (next + 1) % remembered;
    }
};

bool is_game_program(const char* name) { return same_text(name, short_resource_text(STR_GAME_PROGRAM)); }
bool is_direct(const char* name) { return setup.direct_member[0] && same_text(name, setup.direct_member); }

// The member after `index` whose archive the loop writes next, its index in `next_index`; none
// when the next member written goes directly or is the game program (whose PIF needs the
// archive's space first).
const package_member* member_written_next(std::uint16_t index, std::uint16_t& next_index)
{
    const member_table& table = *setup.file_table;
    for (std::uint32_t next = index + 1u; next < table.count; ++next) {
        const char* name = member_name(table.members[next]);
        if (is_preserved(name) || merged_in_place(setup, name)) continue;
        if (is_direct(name) || is_game_program(name)) return nullptr;
        next_index = static_cast<std::uint16_t>(next);
        return table.members[next];
    }
    return nullptr;
}

// Through every member from `first`; false when the install stopped.
// `text` is the dialog's current-file field, found once by the caller; `pace` moves its gauge and
// lets messages through (a Cancel is taken between members).
// With `ahead`, the next member's archive is written while a plain member is unpacked.
bool install_members(screen_pace& pace, HWND text, std::uint16_t first, std::uint32_t& sum, std::uint32_t divisor,
                     bool ahead)
{
    const member_table& table = *setup.file_table;
    cleared_directories cleared;
    for (std::uint16_t index = first; index < table.count; ++index) {
        const package_member* member = table.members[index];
        const char* name = member_name(member);
        if (is_preserved(name)) {
            log_line("Not installing %s (preserved)", name);
            sum += member->unpacked_size;
            continue;
        }
        // Its records are read from the package itself by the merge; the gauge leaves it out.
        if (merged_in_place(setup, name)) {
            log_line("Not installing %s (merged in place)", name);
            continue;
        }
        if (same_text(name, "IDB\\MERGE.DB")) std::strcpy(setup.merge_db_dir, setup.target_dir);
        pace_gauge(pace, sum / divisor);

        char archive_path[path_capacity];
        if (!GetTempFileNameA(setup.target_dir, "dec", index, archive_path)) archive_path[0] = '\0';
        member_place place;
        find_place(name, place);
        if (place.upper_case_final) upper_case(place.final_path);
        show_current_file(text, place);
        if (is_game_program(name)) {
            discard_spare_archive();
            write_game_pif();
        }
        make_directory_path(place.directory);
        cleared.clear_once(place.directory);

        const int direct = is_direct(name);
        std::uint16_t next_index = 0;
        const package_member* next = ahead && !direct && place.rule == install_rule::plain ? member_written_next(index, next_index) : nullptr;
        char next_archive[path_capacity];
        if (next && !GetTempFileNameA(setup.target_dir, "dec", next_index, next_archive)) next = nullptr;
        const bool was_there = path_exists(place.final_path) != 0;
        if (!write_out_member(member, archive_path, place.directory, place.final_path, direct, &pace, sum, divisor,
                              next, next_archive))
            return false;
        if (!was_there) setup.member_created[index / 8] |= static_cast<unsigned char>(1u << (index % 8));
        // A copy to another place must find the space the archive took free, as it was.
        if (place.rule != install_rule::plain) discard_spare_archive();
        int installed = 1;
        if (place.rule == install_rule::system) installed = install_system_file(place.final_path);
        else if (place.rule == install_rule::if_newer) installed = install_if_newer(place.final_path, place.real_path);
        if (!installed) {
            stop_with(fatal::rule_not_carried_out);
            return false;
        }
        sum += member->unpacked_size;
        pace_turn(pace);
        if (setup.install_cancelled) return false;
    }
    return true;
}

}  // namespace

namespace {

// Copied whole under another name in the destination's folder, then put in place in one step:
// the destination never holds a part of the file under its name.
bool copy_into_place(const char* source, const char* destination)
{
    char partial[path_capacity];
    if (!sibling_name(destination, "QELCOPY.TMP", partial)) return false;
    if (CopyFileA(source, partial, FALSE)) return put_in_place(partial, destination);
    DeleteFileA(partial);
    return false;
}

// The staged copy moved over the installed one; one that another program holds open (a virus
// scanner) cannot be moved and is copied instead.
bool put_newer_copy(const char* staged_path, const char* destination)
{
    char aside[path_capacity];
    if (aside_name(destination, aside) && replace_file(staged_path, destination, aside)) return true;
    return copy_into_place(staged_path, destination);
}

}  // namespace

int install_system_file(const char* staged_path)
{
    char system_dir[path_capacity];
    const UINT length = GetSystemDirectoryA(system_dir, path_capacity);
    if (length == 0 || length >= path_capacity) system_dir[0] = '\0';
    const char* file_name = path_file_name(staged_path);
    char system_path[path_capacity];
    format_text(system_path, sizeof system_path, "%s\\%s", system_dir, file_name);
    if (file_can_open(system_path)) {
        log_line("System file %s exists (current=%lu, install=%lu)", system_path, file_dos_time(system_path),
                 file_dos_time(staged_path));
        log_line("Retaining existing");
    } else {
        char copy_path[path_capacity];
        join_path(copy_path, setup.windows_dir, "SYSTEM", file_name, nullptr);
        log_line("Copy %s -> %s", staged_path, copy_path);
        // Never a part of it under its name, which a later run would retain as existing. (Where
        // the system folder is not windows_dir\SYSTEM, an earlier copy there is replaced.)
        if (!copy_into_place(staged_path, copy_path)) {
            log_line("Copy failed");
            return 0;
        }
    }
    // As for the if-newer rule: the staged copy goes, and one that cannot be deleted does not
    // undo a copy already in SYSTEM.
    DeleteFileA(staged_path);
    return 1;
}

int install_if_newer(const char* staged_path, const char* destination)
{
    const std::uint32_t current = file_dos_time(destination);
    const std::uint32_t install = file_dos_time(staged_path);
    log_line("Existing file %s (current=%lu, install=%lu)", destination, current, install);
    const int result = install > current ? put_newer_copy(staged_path, destination) : 1;
    // The staged copy goes in every case; one that cannot be deleted does not undo the install.
    DeleteFileA(staged_path);
    return result;
}

int install_files()
{
    std::uint32_t sum = 0;
    prepare_destination();
    // The unzip library serves this loop alone: it is released however the loop ends.
    struct unzip_library_closer {
        ~unzip_library_closer() { unload_unzip_library(); }
    } library_closer;
    if (!place_unzip_library() || !load_unzip_library()) return 0;
    log_line("Installing files");
    setup.install_cancelled = 0;

    const unsigned template_id = setup.chained_run ? DLG_INSTALL_PROGRESS : DLG_UPDATE_PROGRESS;
    const HWND dialog = open_dialog(template_id, install_progress_proc);
    const HWND text = dialog ? GetDlgItem(dialog, CTL_TEXT) : nullptr;
    const member_table empty_table{};
    const member_table& table = setup.file_table ? *setup.file_table : empty_table;
    const std::uint32_t range = table.total_unpacked - setup.merge_bytes_a - setup.merge_bytes_b;
    const std::uint32_t divisor = range > 10000000 ? 10 : 1;
    set_gauge(dialog_gauge(dialog), GAUGE_SETRANGE, range / divisor);

    std::uint16_t first = 0;
    if (setup.unzip_library_member) {
        first = 1;
        sum = table.members[0]->unpacked_size;
    }
    // Two archives on the disk at a time, where one was: only where there is room to spare for
    // the largest twice over, so that the second never takes space the install needs.
    std::uint32_t largest_stored = 0;
    for (std::uint16_t i = first; i < table.count; ++i)
        if (table.members[i]->stored_size > largest_stored) largest_stored = table.members[i]->stored_size;
    struct archive_ahead_closer {
        ~archive_ahead_closer() { close_archive_ahead(); }
    } ahead_closer;
    const bool ahead = table.count > first + 1 && room_beyond_need(setup.target_dir, 2ull * largest_stored + 1048576) &&
                       open_archive_ahead();
    screen_pace pace{dialog_gauge(dialog)};
    if (table.count) install_members(pace, text, first, sum, divisor, ahead);
    settle_gauge(pace);
    discard_spare_archive();

    change_directory(setup.target_dir);
    char staging[path_capacity];
    join_path(staging, setup.target_dir, "if_newer", nullptr);
    if (!AreFileApisANSI()) CharToOemA(staging, staging);
    RemoveDirectoryA(staging);
    if (sum == range) set_gauge(dialog_gauge(dialog), GAUGE_SETPOS, sum / divisor);
    close_dialog(template_id);

    if (setup.fatal_error) {
        if (setup.chained_run) clean_up_installed_files();
        return 0;
    }
    if (setup.install_cancelled) {
        log_line("User stopped install");
        if (setup.chained_run) clean_up_installed_files();
        else if (!setup.low_space_program[0]) run_dialog(DLG_SETUP_STOPPED, nullptr);
        return 0;
    }
    return 1;
}
