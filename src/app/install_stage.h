// The install stage, in the order it runs: the members, the records, the deferred moves, the
// version stamps, then the record of the installation; after it the deletion lists and the
// Program Manager item.
#pragma once

// The databases the package carries in place and the delivered IDB\MERGE.DB go into the client's
// IDB\MAIN.IDX, the deferred moves are made, the version records stamped and MERGE.DB deleted.
// 1 when merged (or nothing to merge); 0 when the merge failed (fatal_error says why) or was
// cancelled (install_cancelled).
int merge_databases();

// The members, the database merge, the record of the installation (WIN.INI, the registry and on
// the Windows 95 family the shell), the deletion lists and the Program Manager item. 1 when all
// of it succeeded. After a failed merge the installed files are removed again; once the records
// are in, nothing is.
int install_stage();
