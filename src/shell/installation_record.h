// The record of an installation that other programs read: WIN.INI's [ZOVE] section, "AppPath"
// under the client's registry key of HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, and on the
// Windows 95 family the help contents lines and the uninstall entry (shell_entries.h).
#pragma once

// 0 when WIN.INI could not be written and the user gave up on the disk space (the install is
// then cancelled). A write that lost other entries of WIN.INI counts as failed: the copy kept
// beside it is put back first.
int record_installation();
