#include "app/setup_sequence.h"

#include "app/run_state.h"
#include "support/log.h"

// The install stage is not part of this build yet: the run ends as one the user left, so
// nothing claims an update that did not happen.
void run_setup_sequence()
{
    log_line("No install stage in this build");
    setup.setup_aborted = 1;
}
