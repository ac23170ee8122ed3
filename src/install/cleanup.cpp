#include "install/cleanup.h"

#include <windows.h>

#include <cstring>

#include "install/member_rules.h"
#include "package/package_format.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"

namespace {

bool is_dot_entry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// A path from the package that is joined to target_dir or windows_dir must stay inside it, under
// the rule the member names keep; one that does not is left out, with a log line.
bool stays_inside(const char* path, const char* action)
{
    if (is_safe_member_name(path)) return true;
    log_line("Not %s %s: the name leads outside its folder", action, path);
    return false;
}

// A rename rule names a file, never a path: no separator (an "*.EXT" rule's extension neither).
bool is_name_rule(const char* pattern, const char* rule)
{
    if (!find_char(rule, '\\') && !find_char(rule, '/') && is_safe_member_name(rule)) return true;
    log_line("Not renaming %s to %s: the name leads outside its folder", pattern, rule);
    return false;
}

// The name a match of `rule` gets. "*.EXT": the found name up to and including its first dot, then
// the rule from its third character on (a name without a dot keeps its name). "move": the found
// name, for the deferred record. Anything else: the rule itself, for every match.
void new_name_for(char (&out)[path_capacity], const char* found, const char* rule)
{
    if (rule[0] != '*' && std::strcmp(rule, "move") != 0) {
        lstrcpynA(out, rule, path_capacity);
        return;
    }
    lstrcpynA(out, found, path_capacity);
    if (rule[0] != '*') return;
    char* dot = find_char(out, '.');
    if (!dot) return;
    const char* extension = rule[1] ? rule + 2 : "";
    lstrcpynA(dot + 1, extension, static_cast<int>(path_capacity - (dot + 1 - out)));
}

void add_deferred_move(const char* source, const char* destination)
{
    auto* record = static_cast<deferred_move*>(alloc_block(sizeof(deferred_move)));
    // Kept as a full path: the install loop changes the current directory before the move is made.
    char full[path_capacity];
    const DWORD length = GetFullPathNameA(source, path_capacity, full, nullptr);
    lstrcpynA(record->source, length > 0 && length < path_capacity ? full : source, sizeof record->source);
    lstrcpynA(record->destination, destination, sizeof record->destination);
    record->move_flag = 1;
    record->next = setup.deferred_moves;
    setup.deferred_moves = record;
    ++setup.deferred_move_count;
}

// One rename rule: every match of `pattern` under target_dir goes under target_dir at the same
// relative place. (The client's folder, not the current one: a first disk started from C:\ or
// from the Desktop would move that folder's files into the client.)
void apply_rule(const char* pattern, const char* rule)
{
    char search[path_capacity], directory[path_capacity];
    join_path(search, setup.target_dir, pattern, nullptr);
    path_directory(directory, pattern);

    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA(search, &found);
    if (listing == INVALID_HANDLE_VALUE) return;
    const char* name_pattern = path_file_name(search);
    do {
        const char* name = found.cFileName;
        if (is_dot_entry(name) || !long_name_matches(name_pattern, name)) continue;
        if (found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY && name[0] != '.') {
            // The subdirectory's files are taken by a later entry of this same pass.
            char below[path_capacity], created[path_capacity];
            join_path(below, directory, name, "*.*", nullptr);
            append_pair(setup.rename_list, below, rule);
            // Creates target_dir\<dir>\<name>; the last step, on "*.*", fails harmlessly.
            make_directory_path(target_path(created, below));
            continue;
        }
        char source[path_capacity], new_name[path_capacity], destination[path_capacity];
        join_path(source, setup.target_dir, directory, name, nullptr);
        new_name_for(new_name, name, rule);
        join_path(destination, setup.target_dir, directory, new_name, nullptr);
        if (std::strcmp(rule, "move") == 0) {
            add_deferred_move(source, destination);
            continue;
        }
        log_line("Rename: %s -> %s", source, destination);
        DeleteFileA(destination);
        if (!rename_path(source, destination)) log_line("Rename failed");
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
}

}  // namespace

void release_deferred_moves()
{
    while (deferred_move* record = setup.deferred_moves) {
        setup.deferred_moves = record->next;
        free_block(record);
    }
    setup.deferred_move_count = 0;
}

void prepare_destination()
{
    log_line("Preparing dest dir");
    for (std::uint16_t i = 0; i < setup.prepare_dir_list.count; ++i) {
        const char* directory = setup.prepare_dir_list.names[i];
        if (!stays_inside(directory, "preparing")) continue;
        char path[path_capacity];
        make_directory_path(target_path(path, directory));
    }
    apply_rename_rules();
}

void apply_rename_rules()
{
    // The list grows while it is walked and append_pair moves its arrays: go by index and work on
    // copies of the entry's texts, never on pointers into the arrays.
    for (int index = 0; index < setup.rename_list.count; ++index) {
        const char* rule_text = setup.rename_list.second[index];
        if (!rule_text || !rule_text[0]) continue;  // a preserved-file pattern: not searched
        char pattern[path_capacity], rule[path_capacity];
        lstrcpynA(pattern, setup.rename_list.first[index], path_capacity);
        lstrcpynA(rule, rule_text, path_capacity);
        if (!stays_inside(pattern, "renaming") || !is_name_rule(pattern, rule)) continue;
        apply_rule(pattern, rule);
    }
}

void clean_up_installed_files()
{
    if (!setup.target_dir[0] || !path_exists(setup.target_dir)) return;
    log_line("Cleaning up");
    const member_table* table = setup.file_table;
    if (!table) return;
    for (std::uint16_t i = 0; i < table->count; ++i) {
        const char* name = member_name(table->members[i]);
        if (is_preserved(name)) continue;
        // A file that stood before this run stays: taking it away would lose the client's copy.
        if (!(setup.member_created[i / 8] & (1u << (i % 8)))) continue;
        // Members placed by the system or if-newer rules are not at this path and stay.
        char path[path_capacity];
        DeleteFileA(target_path(path, name));
    }
}

void delete_listed_files()
{
    delete_matching_files(setup.windows_dir, setup.windows_dir_deletions.names, setup.windows_dir_deletions.count);
    delete_matching_files(setup.target_dir, setup.target_dir_deletions.names, setup.target_dir_deletions.count);
}

void delete_matching_files(const char* base, const char* const* patterns, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!stays_inside(patterns[i], "deleting")) continue;
        char full[path_capacity], directory[path_capacity];
        join_path(full, base, patterns[i], nullptr);
        path_directory(directory, full);
        const char* pattern = path_file_name(full);
        WIN32_FIND_DATAA found;
        const HANDLE listing = FindFirstFileA(full, &found);
        if (listing == INVALID_HANDLE_VALUE) continue;
        do {
            // The system's search also takes a file whose 8.3 short name matches: "*.TMP" would
            // take X.TMPL (X~1.TMP). Only the long name counts.
            if (!long_name_matches(pattern, found.cFileName)) continue;
            char path[path_capacity];
            join_path(path, directory, found.cFileName, nullptr);
            DeleteFileA(path);
            log_line("Deleted file %s", path);  // after every attempt, whether it worked or not
        } while (FindNextFileA(listing, &found));
        FindClose(listing);
    }
}

void carry_out_deferred_moves(HWND gauge, std::uint32_t& position)
{
    for (deferred_move* move = setup.deferred_moves; move; move = move->next) {
        // A match of the client's folder that is already where the rule puts it stays as it is.
        if (lstrcmpiA(move->source, move->destination) == 0) {
            set_gauge(gauge, GAUGE_SETPOS, ++position);
            continue;
        }
        char parent[path_capacity], parent_path[path_capacity];
        path_directory(parent, move->destination);
        if (parent[0] && format_text(parent_path, sizeof parent_path, "%s\\", parent) < path_capacity)
            make_directory_path(parent_path);
        // What is already at the destination stays: a move never overwrites.
        if (rename_path(move->source, move->destination)) log_line("Moved %s -> %s", move->source, move->destination);
        else log_line("Couldn't move %s -> %s", move->source, move->destination);
        set_gauge(gauge, GAUGE_SETPOS, ++position);
        pump_messages();
    }
}
