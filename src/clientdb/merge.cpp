#include "clientdb/merge.h"

#include "support/log.h"

// The merge comes with a later build: the run's log says that it did not run.
int merge_databases()
{
    log_line("Database merge: not in this build");
    return 1;
}
