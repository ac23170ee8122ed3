// window_peer CLASS SECONDS REPORT
// Shows a top-level window of class CLASS, then a second window that takes the foreground, and
// pumps messages for SECONDS. REPORT (a file) gets "started", and at the end "survived" and
// whether the first window is in the foreground ("foreground 1"); a process killed on the way
// leaves only "started".
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

void report(const char* path, const char* line)
{
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line);
        std::fclose(file);
    }
}

HWND make_window(const char* class_name, const char* title)
{
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = class_name;
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    RegisterClassA(&window_class);
    HWND window = CreateWindowA(class_name, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(window);
    return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 4) return 2;
    const char* report_path = __argv[3];
    HWND peer = make_window(__argv[1], "peer");
    HWND other = make_window("window_peer_other", "other");
    SetForegroundWindow(other);
    report(report_path, "started");

    const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(__argv[2])) * 1000;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
    report(report_path, "survived");
    report(report_path, GetForegroundWindow() == peer ? "foreground 1" : "foreground 0");
    return 0;
}
