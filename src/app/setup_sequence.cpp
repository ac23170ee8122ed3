#include "app/setup_sequence.h"

#include <cstring>

#include "app/run_state.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/strings.h"
#include "ui/dialogs.h"

// Settles the client's directory where the command line names it; the install stage is not
// part of this build yet, so the run then ends as one the user left and claims no update.
void run_setup_sequence()
{
    if (setup.chained_run) std::strcpy(setup.target_dir, setup.previous_target_dir);
    else if (setup.target_given) std::strcpy(setup.target_dir, setup.given_target_dir);
    log_line("No install stage in this build");
    setup.setup_aborted = 1;
}

INT_PTR CALLBACK install_progress_proc(HWND, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wparam) == BTN_CANCEL) {
        if (ask_yes_no(resource_text(1, STR_CONFIRM_CANCEL))) setup.install_cancelled = 1;
        return TRUE;
    }
    return FALSE;
}
