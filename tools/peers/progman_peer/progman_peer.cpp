// progman_peer REPORT SECONDS [refuse:COMMAND] [silent] [no-window] [hang]
// Stands in for Program Manager: a window of class "PROGMAN" (unless no-window) and a DDE server
// for service and topic "PROGMAN" that acknowledges every command positively, except a command
// starting with "[COMMAND(" under refuse:COMMAND (negatively), and none at all under silent;
// under hang it never returns from the initiate while its time lasts (a hung window).
// REPORT gets one line per event, written as it happens:
//   ready | initiate | hanging | execute <text> (manager enabled 0|1) | terminate | enable 0|1
// It runs for SECONDS, or until its conversation ends.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* report_path;
std::string refused;  // "[CreateGroup(" and the like; empty: none
bool silent = false;
bool hang = false;  // never returns from the initiate (until its time is up)
DWORD until_ms = 0;
HWND manager = nullptr;
bool conversation_over = false;

void report(const std::string& line)
{
    if (FILE* file = std::fopen(report_path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string atom_text(ATOM atom)
{
    char text[256] = "";
    if (atom) GlobalGetAtomNameA(atom, text, sizeof text);
    return text;
}

LRESULT CALLBACK server_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    const HWND client = reinterpret_cast<HWND>(wparam);
    switch (message) {
    case WM_DDE_INITIATE: {
        // Atoms keep the letter case of their first registration (Wine's shell: "Progman").
        if (lstrcmpiA(atom_text(LOWORD(lparam)).c_str(), "PROGMAN") != 0 ||
            lstrcmpiA(atom_text(HIWORD(lparam)).c_str(), "PROGMAN") != 0)
            return 0;
        report("initiate");
        if (hang) {
            report("hanging");
            const LONG left = static_cast<LONG>(until_ms - GetTickCount());
            if (left > 0) Sleep(static_cast<DWORD>(left));
            return 0;
        }
        const ATOM application = GlobalAddAtomA("PROGMAN");
        const ATOM topic = GlobalAddAtomA("PROGMAN");
        SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(application, topic));
        return 0;
    }
    case WM_DDE_EXECUTE: {
        const auto block = reinterpret_cast<HGLOBAL>(lparam);
        std::string text;
        if (const char* bytes = static_cast<const char*>(GlobalLock(block))) {
            text = bytes;
            GlobalUnlock(block);
        }
        report("execute " + text + " (manager enabled " + (manager && IsWindowEnabled(manager) ? "1" : "0") + ")");
        if (silent) return 0;
        const bool refuse = !refused.empty() && text.compare(0, refused.size(), refused) == 0;
        const LPARAM answer = PackDDElParam(WM_DDE_ACK, refuse ? 0 : 0x8000, reinterpret_cast<UINT_PTR>(block));
        PostMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), answer);
        return 0;
    }
    case WM_DDE_TERMINATE:
        report("terminate");
        PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
        conversation_over = true;
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

LRESULT CALLBACK manager_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_ENABLE) report(std::string("enable ") + (wparam ? "1" : "0"));
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND make_window(const char* class_name, WNDPROC procedure, DWORD style)
{
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = class_name;
    RegisterClassA(&window_class);
    return CreateWindowA(class_name, class_name, style, 0, 0, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 3) return 2;
    report_path = __argv[1];
    const DWORD seconds = static_cast<DWORD>(std::atoi(__argv[2]));
    bool with_window = true;
    for (int i = 3; i < __argc; ++i) {
        const std::string option = __argv[i];
        if (option.rfind("refuse:", 0) == 0) refused = "[" + option.substr(7) + "(";
        else if (option == "silent") silent = true;
        else if (option == "no-window") with_window = false;
        else if (option == "hang") hang = true;
    }
    if (with_window) manager = make_window("PROGMAN", manager_proc, WS_OVERLAPPEDWINDOW);
    // A hidden top-level window: the broadcast of the initiate reaches it.
    make_window("progman_peer_server", server_proc, WS_OVERLAPPED);
    report("ready");

    const DWORD until = until_ms = GetTickCount() + seconds * 1000;
    while (!conversation_over && static_cast<LONG>(until - GetTickCount()) > 0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    // Let a last enable reach the report.
    const DWORD linger = GetTickCount() + 300;
    while (static_cast<LONG>(linger - GetTickCount()) > 0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
    return 0;
}
