// The setup sequence: settles the client's directory and runs the install stage.
#pragma once

#include <windows.h>

void run_setup_sequence();

// The progress dialogs 200 and 220: Cancel (220 only) asks string 34006 and, on Yes, sets
// install_cancelled; the install loop stops before its next member.
INT_PTR CALLBACK install_progress_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
