// Answers, from a thread of its own, the next dialog or message box that a process shows:
// records its texts and then clicks a button, presses a key or uses the close box.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct answered_window {
    bool found = false;
    HWND window = nullptr;
    std::string caption;
    std::vector<std::pair<int, std::string>> controls;  // id and text

    std::string text_of(int id) const
    {
        for (const auto& [control_id, text] : controls)
            if (control_id == id) return text;
        return "(no control)";
    }
    bool has_text(const std::string& wanted) const
    {
        for (const auto& control : controls)
            if (control.second == wanted) return true;
        return false;
    }
};

enum class answer_kind { click, close_box, key };

struct answer {
    answer_kind kind;
    int value;  // button id or virtual key
};

inline answer click(int id) { return {answer_kind::click, id}; }
inline answer close_box() { return {answer_kind::close_box, 0}; }
inline answer key(int virtual_key) { return {answer_kind::key, virtual_key}; }

namespace window_answerer_detail {

struct search {
    DWORD process;
    std::vector<HWND> known;  // dialogs already up when the wait began
    HWND found;
};

inline BOOL CALLBACK find_dialog(HWND window, LPARAM context)
{
    auto* wanted = reinterpret_cast<search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char class_name[16] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    if (process != wanted->process || !IsWindowVisible(window) || lstrcmpA(class_name, "#32770") != 0) return TRUE;
    for (HWND known : wanted->known)
        if (known == window) return TRUE;
    wanted->found = window;
    return FALSE;
}

inline std::vector<HWND> visible_dialogs(DWORD process)
{
    search all{process, {}, nullptr};
    for (;;) {
        all.found = nullptr;
        EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&all));
        if (!all.found) return all.known;
        all.known.push_back(all.found);
    }
}

// Another process goes on once a dialog of it is answered, and may show the next one before the
// test waits for it: a wait on another process skips only the dialogs that were up both when the
// last answer was given and when the wait began. One not yet answered may have shown its first
// dialog already (this process's first window call can take longer than the other's start), so
// nothing of it is skipped.
inline std::mutex answered_lock;
inline std::map<DWORD, std::vector<HWND>> up_at_last_answer;

inline std::vector<HWND> dialogs_to_skip(DWORD process)
{
    std::vector<HWND> up = visible_dialogs(process);
    if (process == GetCurrentProcessId()) return up;
    std::lock_guard<std::mutex> hold(answered_lock);
    const auto last = up_at_last_answer.find(process);
    if (last == up_at_last_answer.end()) return {};
    std::vector<HWND> both;
    for (HWND window : up)
        if (std::find(last->second.begin(), last->second.end(), window) != last->second.end()) both.push_back(window);
    return both;
}

inline void note_answer(DWORD process)
{
    std::vector<HWND> up = visible_dialogs(process);
    std::lock_guard<std::mutex> hold(answered_lock);
    up_at_last_answer[process] = std::move(up);
}

inline std::string window_text(HWND window)
{
    char text[1024] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    return text;
}

}  // namespace window_answerer_detail

// Waits for a new visible dialog of `process` (this one by default), records it and gives the answers in
// order (a key leaves the window open for the next answer). Each answer may be followed by `typed`
// characters for the control `type_into` before it.
inline std::future<answered_window> answer_next_window(std::vector<answer> answers, DWORD process = 0,
                                                       int type_into = 0, std::string typed = {})
{
    if (!process) process = GetCurrentProcessId();
    std::vector<HWND> known = window_answerer_detail::dialogs_to_skip(process);
    return std::async(std::launch::async, [=] {
        using namespace window_answerer_detail;
        answered_window result;
        search wanted{process, known, nullptr};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!wanted.found && std::chrono::steady_clock::now() < deadline) {
            EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&wanted));
            if (!wanted.found) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        if (!wanted.found) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // let WM_INITDIALOG finish
        HWND dialog = wanted.found;
        result.found = true;
        result.window = dialog;
        result.caption = window_text(dialog);
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            result.controls.emplace_back(static_cast<short>(GetDlgCtrlID(child)), window_text(child));
        if (type_into) {
            HWND field = GetDlgItem(dialog, type_into);
            SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
            for (char c : typed) SendMessageA(field, WM_CHAR, static_cast<unsigned char>(c), 1);
        }
        note_answer(process);
        for (const answer& step : answers) {
            switch (step.kind) {
            case answer_kind::click:
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(step.value, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, step.value)));
                break;
            case answer_kind::close_box:
                PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            case answer_kind::key: {
                HWND focus = GetDlgItem(dialog, GetDlgCtrlID(GetWindow(dialog, GW_CHILD)));
                GUITHREADINFO info{};
                info.cbSize = sizeof info;
                if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus)
                    focus = info.hwndFocus;
                PostMessageA(focus, WM_KEYDOWN, step.value, 1);
                PostMessageA(focus, WM_KEYUP, step.value, 0xC0000001);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                break;
            }
            }
        }
        return result;
    });
}

// This test program's own path, usable to start it again. Wine names a file outside every
// drive "unix\..."; it opens it as "\\?\unix\...".
inline std::string own_program_path()
{
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    return _strnicmp(module, "unix\\", 5) == 0 ? std::string("\\\\?\\") + module : module;
}
