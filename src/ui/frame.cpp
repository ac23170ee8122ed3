#include "ui/frame.h"

#include <windows.h>

#include "app/run_state.h"

namespace {

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_QUERYENDSESSION) return TRUE;
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int create_frame(const char* title)
{
    WNDCLASSA frame_class{};
    frame_class.style = CS_HREDRAW | CS_VREDRAW | CS_NOCLOSE;
    frame_class.lpfnWndProc = frame_window_proc;
    frame_class.hInstance = setup.app_instance;
    frame_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frame_class.hbrBackground = CreateSolidBrush(RGB(0, 0, 128));
    frame_class.lpszClassName = frame_class_name;
    if (!RegisterClassA(&frame_class)) {
        setup.fatal_error = 16;
        return 0;
    }
    setup.frame_window = CreateWindowA(frame_class_name, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                       setup.app_instance, nullptr);
    if (!setup.frame_window) {
        setup.fatal_error = 17;
        return 0;
    }
    ShowWindow(setup.frame_window, SW_SHOWMAXIMIZED);
    UpdateWindow(setup.frame_window);
    return 1;
}

int destroy_frame()
{
    if (setup.frame_window) {
        DestroyWindow(setup.frame_window);
        setup.frame_window = nullptr;
    }
    return UnregisterClassA(frame_class_name, setup.app_instance) != 0;
}
