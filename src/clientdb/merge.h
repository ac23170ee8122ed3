// The delivered records (IDB\MERGE.DB) into the client's main database.
#pragma once

// 1 when merged (or nothing to merge); 0 when the merge failed or was cancelled.
int merge_databases();
