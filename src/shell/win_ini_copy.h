// WIN.INI is written through the profile calls, and a system may save such a file by cutting it
// and writing it out again: a run stopped in between, or a disk that fills, leaves it empty or cut
// short, and other programs' settings are lost with it. So a whole copy of WIN.INI, QELWIN.BAK in
// the Windows directory, stands beside it while the run writes the client's keys; whoever finds
// WIN.INI lacking an entry of the copy (apart from those keys) puts the copy back.
#pragma once

// Makes the copy (first as QELWIN.TMP, renamed once whole, so that no part of a copy is ever put
// back). True when it stands, or when there is no WIN.INI this run can read to copy; false when
// it could not be written (a full disk).
bool keep_win_ini_copy();

// After the writes: true when WIN.INI holds every entry of the copy but the client's keys. When it
// does not, the copy is put back at once.
bool win_ini_came_through();

// At the start of a run and after a failed write: a copy left behind is written over WIN.INI where
// WIN.INI lacks an entry of it, and then removed. The copy stays when putting it back fails.
void settle_win_ini_copy();

// Whether WIN.INI itself (the file, not what the system holds of it) has the client's keys:
// [ZOVE] "Installed" US and "AppPath" target_dir. A write that found the disk full may have
// been answered with success.
bool win_ini_holds_client_keys();
