#include "app/setup_sequence.h"

#include <cstring>

#include "app/install_stage.h"
#include "install/cleanup.h"
#include "install/disk_space.h"
#include "install/install_loop.h"
#include "locate/locate.h"
#include "resource_ids.h"
#include "shell/dde_client.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/prompts.h"

namespace {

// The drive number of a directory's first letter: 0 for A:.
int drive_of(const char* directory) { return ascii_upper(directory[0]) - 'A'; }

}  // namespace

int ask_target_dir(unsigned template_id, const char* text)
{
    char proposal[path_capacity];
    copy_bounded(proposal, sizeof proposal, setup.target_dir);
    for (;;) {
        const int answer = run_path_dialog(template_id, proposal, text);
        if (answer == BTN_CANCEL) return 0;
        if (answer == BTN_RESTORE) {
            copy_bounded(proposal, sizeof proposal, setup.target_dir);
            continue;
        }
        if (!is_valid_target_path(proposal) || !path_exists(proposal) || !client_dir_acceptable(proposal)) {
            show_error(resource_text(1, STR_INVALID_DIRECTORY));
            continue;
        }
        if (!check_disk_space(drive_of(proposal), proposal, nullptr)) {
            show_error(resource_text(1, STR_DRIVE_TOO_FULL));
            continue;
        }
        copy_bounded(setup.target_dir, sizeof setup.target_dir, proposal);
        return 1;
    }
}

int check_space_for_update()
{
    for (;;) {
        std::uint32_t needed = 0;
        if (check_disk_space(drive_of(setup.target_dir), setup.target_dir, &needed)) return 1;
        if (!ask_retry(resource_text(3, STR_NOT_ENOUGH_SPACE, STR_FREE_SPACE_ADVICE, STR_CANCEL_EXITS),
                       static_cast<unsigned long>(needed)))
            return 0;
    }
}

void run_setup_sequence()
{
    if (setup.chained_run) {
        copy_bounded(setup.target_dir, sizeof setup.target_dir, setup.previous_target_dir);
        if (check_space_for_update()) install_stage();
        else setup.setup_aborted = 1;
        return;
    }
    if (setup.later_disk_marker[0]) {
        show_error(resource_text(1, STR_NOT_FIRST_DISK));
        setup.setup_aborted = 1;
        return;
    }
    if (setup.target_given) copy_bounded(setup.target_dir, sizeof setup.target_dir, setup.given_target_dir);
    else locate_client(setup.target_dir);
    if (setup.setup_aborted) return;
    if (!setup.target_dir[0] && !ask_target_dir(DLG_NOT_FOUND, setup.not_found_text)) {
        setup.setup_aborted = 1;
        return;
    }
    if (setup.target_given) {
        install_stage();
        return;
    }
    for (;;) {
        const int answer = run_dialog(DLG_WELCOME, setup.welcome_text);
        if (answer == BTN_UPDATE) {
            if (check_space_for_update()) install_stage();
            else setup.setup_aborted = 1;
            return;
        }
        if (answer == BTN_REVIEW) {
            if (ask_target_dir(DLG_REVIEW, nullptr)) {
                install_stage();
                return;
            }
            continue;
        }
        if (confirm_exit(nullptr)) return;
    }
}
