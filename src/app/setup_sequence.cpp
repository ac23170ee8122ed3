#include "app/setup_sequence.h"

#include <cstring>

#include "app/run_state.h"
#include "support/log.h"

// Settles the client's directory where the command line names it; the install stage is not
// part of this build yet, so the run then ends as one the user left and claims no update.
void run_setup_sequence()
{
    if (setup.chained_run) std::strcpy(setup.target_dir, setup.previous_target_dir);
    else if (setup.target_given) std::strcpy(setup.target_dir, setup.given_target_dir);
    log_line("No install stage in this build");
    setup.setup_aborted = 1;
}
