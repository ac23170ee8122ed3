// The install stage: every member of the package put into place under target_dir by the rule
// its name implies, with a progress dialog the user can cancel between members.
#pragma once

// 1 when every member was handled, 0 when the install stopped (fatal_error, or the user
// cancelled). Leaves the current directory at target_dir and the progress dialog closed.
int install_files();

// A staged system file (target_dir\name) goes to windows_dir\SYSTEM unless the system directory
// already has one; the staged copy is deleted. 1 done.
int install_system_file(const char* staged_path);

// The staged file replaces `destination` only when its time is later; the staged copy is deleted
// either way. 1 done.
int install_if_newer(const char* staged_path, const char* destination);
