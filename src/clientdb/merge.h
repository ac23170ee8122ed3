// The merge stage: the databases the package carries in place and the delivered IDB\MERGE.DB go
// into the client's IDB\MAIN.IDX, the version records are stamped, the deferred moves are made,
// and WIN.INI, the registry and (on the Windows 95 family) the shell learn where the client is.
#pragma once

// 1 when merged (or nothing to merge); 0 when the merge failed (fatal_error says why) or was
// cancelled (install_cancelled).
int merge_databases();
