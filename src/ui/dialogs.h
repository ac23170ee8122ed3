// Dialogs and message boxes: the table of modeless dialogs with its message pump, the modal
// runners, and the three message boxes. Every window here is owned by the frame window.
#pragma once

#include <windows.h>

constexpr int modeless_dialog_slots = 4;
constexpr int dialog_text_capacity = 512;
constexpr int edit_text_capacity = 256;

HWND open_dialog(unsigned template_id, DLGPROC procedure);
int close_dialog(unsigned template_id);
void pump_messages();

// A text that changes faster than anyone reads it (the install's current file): put up at once
// when setup.screen_pace_ms have passed since the window's last one, else held back, to be put
// up by a later call, by show_held_text, before any message box and when a dialog closes. Under
// Wine each text asks the window server and redraws the control. One window at a time is paced.
void set_text_paced(HWND window, const char* text);
// The held text, if any, is put up now; with `when_due`, only once the pace allows it.
void show_held_text(bool when_due = false);
// How many paced texts went up in this run (the benchmark's profile counts their cost).
unsigned long paced_texts_shown();

// Both return the id of the button that ended the dialog, or -1 when the template is missing.
int run_dialog(unsigned template_id, const char* text);
// `path` (260 characters) is rewritten only when the answer is 408.
int run_path_dialog(unsigned template_id, char* path, const char* text);

INT_PTR CALLBACK plain_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK path_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK silent_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

int show_error(const char* format, ...);
int ask_retry(const char* format, ...);
int ask_yes_no(const char* format, ...);

// Makes the base ask its Retry/Cancel question (support/questions.h) with ask_retry's box.
void answer_base_questions();
