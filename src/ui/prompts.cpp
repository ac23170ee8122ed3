#include "ui/prompts.h"

#include "resource_ids.h"
#include "support/log.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "ui/dialogs.h"

int confirm_exit(HWND window)
{
    if (window) ShowWindow(window, SW_HIDE);
    if (run_dialog(DLG_CONFIRM_EXIT, nullptr) == BTN_EXIT) {
        log_line("User exit");
        setup.setup_aborted = 1;
        return 1;
    }
    if (window) ShowWindow(window, SW_SHOW);
    return 0;
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
