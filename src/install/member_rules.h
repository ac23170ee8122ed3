// The rules a member's name implies, shared by the install loop and the clean-up after a stop.
// Portable: the name texts only, from the run state's rename_list.
#pragma once

#include "support/run_state.h"

// The member name matches an entry of rename_list without a rule: same directory part, same
// base name (first 8 bytes) and extension without regard to case, where a part of the pattern
// that starts with "*" matches any.
int is_preserved(const char* name);

enum class install_rule { plain, system, if_newer };

// Where one member goes.
struct member_place {
    install_rule rule;
    char directory[path_capacity];    // made before the member is written
    char final_path[path_capacity];   // where the unpacked file lands
    char real_path[path_capacity];    // if-newer: the file it may replace
    // The final path is to be upper-cased in the system's code page before use (a system
    // member whose path fits in 30 characters, every if-newer member); the caller does it, as
    // the code page's letters are the system's to know.
    bool upper_case_final;
};

// The place of member `name` under target_dir: members of "SYSTEM" go straight into target_dir,
// members under "IF_NEWER\" into target_dir\if_newer for a later comparison with the file of
// the same relative path, and every other member to its own relative path.
void find_place(const char* name, member_place& place);
