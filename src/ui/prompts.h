// Two small decisions the setup sequence and the search share: leaving the setup, and the Cancel
// button of the install progress dialog.
#pragma once

#include <windows.h>

// Dialog 205. `window`, when given, is hidden while asking and shown again on Resume; on Exit it
// stays hidden, "User exit" is logged and setup_aborted set. 1 when the user leaves.
int confirm_exit(HWND window);

// The progress dialogs 200 and 220: Cancel (220 only) asks string 34006 and, on Yes, sets
// install_cancelled; the install loop stops before its next member.
INT_PTR CALLBACK install_progress_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
