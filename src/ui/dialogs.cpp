#include "ui/dialogs.h"

#include <cstdarg>
#include <cstring>

#include "resource_ids.h"
#include "support/questions.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"

namespace {

struct modeless_slot {
    unsigned template_id;  // 0: the slot is free
    DLGPROC procedure;
    HWND window;
};

modeless_slot modeless_dialogs[modeless_dialog_slots];
char dialog_text[dialog_text_capacity];
char edit_text[edit_text_capacity];

// set_text_paced's window, when its last text went up, and the text held back since.
struct paced_text {
    HWND window;
    DWORD shown_at;
    bool held;
    char text[dialog_text_capacity];
} paced;
unsigned long paced_text_count;

void put_up_text(HWND window, const char* text)
{
    SetWindowTextA(window, text);
    ++paced_text_count;
    paced.shown_at = GetTickCount();
    paced.held = false;
}


bool route_dialog_message(MSG* message)
{
    for (const modeless_slot& slot : modeless_dialogs) {
        if (slot.template_id && IsDialogMessageA(slot.window, message)) return true;
    }
    return false;
}

bool is_button_click(WPARAM wparam) { return wparam >= BTN_FIRST && wparam <= BTN_LAST; }

// The close box, the system menu's Close and Alt+F4 end a dialog as its Cancel button would.
INT_PTR end_on_close_box(HWND dialog, WPARAM wparam)
{
    if (wparam != SC_CLOSE) return FALSE;
    EndDialog(dialog, BTN_CANCEL);
    return TRUE;
}

// The three boxes: frame back to full size, text formatted into the box's own buffer, beep, box.
int show_box(UINT beep, UINT style, const char* format, std::va_list args)
{
    char text[512];
    show_held_text();  // the box asks about what the dialog behind it names
    ShowWindow(setup.frame_window, SW_SHOWMAXIMIZED);
    if (format_text_v(text, sizeof text, format, args) < 0) return 0;
    MessageBeep(beep);
    return MessageBoxA(setup.frame_window, text, short_resource_text(STR_BOX_CAPTION), style);
}

}  // namespace

HWND open_dialog(unsigned template_id, DLGPROC procedure)
{
    modeless_slot* free_slot = nullptr;
    for (modeless_slot& slot : modeless_dialogs) {
        if (!slot.template_id) {
            free_slot = &slot;
            break;
        }
    }
    if (!free_slot) {
        show_error(resource_text(1, STR_TOO_MANY_DIALOGS));
        return nullptr;
    }
    free_slot->procedure = procedure;
    if (!procedure) {
        show_error(resource_text(1, STR_NO_DIALOG_PROC), template_id);
        return nullptr;
    }
    free_slot->window = CreateDialogParamA(setup.app_instance, MAKEINTRESOURCEA(template_id), setup.frame_window,
                                           procedure, 0);
    if (!free_slot->window) {
        show_error(resource_text(1, STR_DIALOG_FAILED), template_id);
        return nullptr;
    }
    free_slot->template_id = template_id;
    return free_slot->window;
}

int close_dialog(unsigned template_id)
{
    for (modeless_slot& slot : modeless_dialogs) {
        if (slot.template_id == template_id) {
            slot.template_id = 0;  // free before the window goes, so nothing routes to it
            show_held_text();
            paced.window = nullptr;
            DestroyWindow(slot.window);
            return 1;
        }
    }
    show_error(resource_text(1, STR_NO_SUCH_DIALOG));
    return 0;
}

void set_text_paced(HWND window, const char* text)
{
    if (!window) return;
    if (window != paced.window) {
        show_held_text();
        paced.window = window;
    } else if (GetTickCount() - paced.shown_at < setup.screen_pace_ms) {
        copy_bounded(paced.text, sizeof paced.text, text);
        paced.held = true;
        return;
    }
    put_up_text(window, text);
}

unsigned long paced_texts_shown() { return paced_text_count; }

void show_held_text(bool when_due)
{
    if (!paced.held || (when_due && GetTickCount() - paced.shown_at < setup.screen_pace_ms)) return;
    put_up_text(paced.window, paced.text);
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return;  // consumed: long work goes on
        if (route_dialog_message(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int run_dialog(unsigned template_id, const char* text)
{
    copy_bounded(dialog_text, sizeof dialog_text, text);
    ShowWindow(setup.frame_window, SW_SHOWMAXIMIZED);
    return static_cast<int>(DialogBoxParamA(setup.app_instance, MAKEINTRESOURCEA(template_id), setup.frame_window,
                                            plain_dialog_proc, 0));
}

int run_path_dialog(unsigned template_id, char* path, const char* text)
{
    copy_bounded(dialog_text, sizeof dialog_text, text);
    copy_bounded(edit_text, sizeof edit_text, path);
    const int answer = static_cast<int>(DialogBoxParamA(setup.app_instance, MAKEINTRESOURCEA(template_id),
                                                        setup.frame_window, path_dialog_proc, 0));
    if (answer == BTN_OK) copy_bounded(path, path_capacity, edit_text);
    return answer;
}

INT_PTR CALLBACK plain_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        if (dialog_text[0]) SetDlgItemTextA(dialog, CTL_TEXT, dialog_text);
        return TRUE;
    case WM_COMMAND:
        if (is_button_click(wparam)) EndDialog(dialog, static_cast<INT_PTR>(wparam));
        return FALSE;
    case WM_SYSCOMMAND:
        return end_on_close_box(dialog, wparam);
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK path_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, CTL_PATH, edit_text);
        if (dialog_text[0]) SetDlgItemTextA(dialog, CTL_TEXT, dialog_text);
        return TRUE;
    case WM_COMMAND:
        if (!is_button_click(wparam)) return FALSE;
        GetDlgItemTextA(dialog, CTL_PATH, edit_text, edit_text_capacity);
        EndDialog(dialog, static_cast<INT_PTR>(wparam));
        return TRUE;
    case WM_SYSCOMMAND:
        return end_on_close_box(dialog, wparam);
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK silent_dialog_proc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

int show_error(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int result = show_box(MB_ICONEXCLAMATION, MB_TASKMODAL | MB_ICONHAND | MB_OK, format, args);
    va_end(args);
    return result;
}

int ask_retry(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int result = show_box(MB_ICONEXCLAMATION, MB_TASKMODAL | MB_ICONHAND | MB_RETRYCANCEL, format, args);
    va_end(args);
    return result == IDRETRY;
}

int ask_yes_no(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int result = show_box(MB_ICONQUESTION, MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO, format, args);
    va_end(args);
    return result == IDYES;
}

void answer_base_questions()
{
    set_retry_question([](const char* text) { return ask_retry(text); });
}
