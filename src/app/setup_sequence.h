// The setup sequence: settles the client's directory, checks the space and runs the install stage.
// Its outcome is in the run state: setup_aborted, install_cancelled, fatal_error.
#pragma once

void run_setup_sequence();

// Dialog 215 or 208 with target_dir proposed: 1 with target_dir replaced by the accepted
// directory, 0 when the user left with 406.
int ask_target_dir(unsigned template_id, const char* text);

// 1 when the update fits on target_dir's drive; else the retry box until it fits (1) or the
// user cancels (0).
int check_space_for_update();
