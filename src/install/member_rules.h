// The rules a member's name implies, shared by the install loop and the clean-up after a stop.
// Portable: the name texts only, from the run state's rename_list.
#pragma once

// The member name matches an entry of rename_list without a rule: same directory part, same
// base name (first 8 bytes) and extension without regard to case, where a part of the pattern
// that starts with "*" matches any.
int is_preserved(const char* name);
