// The gauge: the program's own progress bar, control 502 of the progress dialogs. A framed bar
// that fills with blue from the left, the percentage centred on it (white on the blue part, blue
// on the white part). The frame registers the class at start and unregisters it at the end.
#pragma once

#include <windows.h>

#include <cstdint>

// lParam: the new position; stored, then the bar is drawn at once when its look changes. Answers 1.
constexpr UINT GAUGE_SETPOS = WM_USER;
// lParam: the new range (the position that means 100 %); stored only, the next position shows it.
// A range of 0 shows an empty bar at 0 %. Answers 1.
constexpr UINT GAUGE_SETRANGE = WM_USER + 1;

// The two window values, 32-bit unsigned, in the window's extra bytes.
constexpr int gauge_position_offset = 0;
constexpr int gauge_range_offset = 4;

// The dialog's gauge (control 502), looked up once per dialog rather than on every use: under
// Wine every GetDlgItem asks the window server. Null without a dialog.
HWND dialog_gauge(HWND dialog);

// Sends GAUGE_SETPOS or GAUGE_SETRANGE with `value` to a gauge; nothing without one.
void set_gauge(HWND gauge, UINT message, std::uint32_t value);

// How many times a bar was drawn in this process, by a paint or by a new position: what the
// gauge's screen updates cost is this count times one drawing.
unsigned long gauge_draw_count();

bool register_gauge_class(HINSTANCE instance);
bool unregister_gauge_class(HINSTANCE instance);
