// The passes around the install loop that act on whole groups of files the package names, rather
// than on members one by one: preparing the destination (directories and rename rules), removing
// the installed members again after a failure, and deleting what the package lists for deletion.
// None of them stops the run or sets fatal_error.
#pragma once

#include <windows.h>

#include <cstdint>

// A match of a "move" rename rule, kept for later rather than moved during the preparation.
struct deferred_move {
    char source[257];
    char destination[257];
    std::uint32_t move_flag;  // 1: move (the only kind the rules make)
    deferred_move* next;
};

// The deferred moves are setup.deferred_moves, newest first, counted by setup.deferred_move_count;
// the source is a full path. The install stage carries them out after the records are in. The
// records live until release_deferred_moves, at the close of the package, which frees them and
// sets the count back to 0.
void release_deferred_moves();

// Makes each deferred move, newest first, and logs it ("Moved A -> B" or "Couldn't move A -> B");
// a move never replaces a file already at its destination, and one whose file is already there
// is nothing to do. Each is one step of the gauge: the
// position goes up by one and the messages are let through.
void carry_out_deferred_moves(HWND gauge, std::uint32_t& position);

// "Preparing dest dir": creates every directory of prepare_dir_list under target_dir, then runs
// the rename pass. The first step of the install loop.
void prepare_destination();

// The rename pass over rename_list. Entries with a rule (a non-empty second text) are searched
// under target_dir, never the current directory: "*.EXT" rules give each match a new extension, "move" keeps a deferred move, any
// other rule is the new name itself; the result goes under target_dir at the same relative
// directory. Each subdirectory met appends an entry "<dir>\<sub>\*.*" with the same rule, which
// the pass then takes in turn; the grown list stays for the rest of the run.
void apply_rename_rules();

// "Cleaning up": deletes target_dir\<name> of every member that is not preserved. Does nothing
// (and logs nothing) when target_dir is empty or missing. Failures are ignored.
void clean_up_installed_files();

// Deletes what windows_dir_deletions names under windows_dir, then what target_dir_deletions
// names under target_dir.
void delete_listed_files();

// For each of `count` patterns (a relative path whose last part may hold wildcards) deletes every
// match under `base` and logs "Deleted file <path>" after each attempt, successful or not.
void delete_matching_files(const char* base, const char* const* patterns, int count);
