// What a window shows on the screen, read back as colours, for the tests of the frame and of the
// gauge: every check reads pixels through a device context of the whole screen (the X display
// under Wine).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/frame.h"

constexpr std::uint32_t white = 0xFFFFFF, black = 0, pure_blue = 0x0000FF, navy = 0x000080;

// A rectangle of a device context as 0x00RRGGBB colours; by default a window's client area as
// the screen shows it, once Wine has put what was painted on the display.
struct pixels {
    int width, height;
    std::vector<std::uint32_t> bits;  // top-down

    pixels(HDC source, int x, int y, int w, int h) : width(w), height(h)
    {
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* raw = nullptr;
        HDC memory = CreateCompatibleDC(source);
        HBITMAP section = CreateDIBSection(source, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, section);
        BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY);
        GdiFlush();
        bits.assign(static_cast<std::uint32_t*>(raw), static_cast<std::uint32_t*>(raw) + w * h);
        DeleteObject(SelectObject(memory, old));
        DeleteDC(memory);
    }
    static pixels on_screen(HWND window)
    {
        for (int i = 0; i < 15; ++i) pump_messages(), Sleep(20);
        RECT client;
        GetClientRect(window, &client);
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        HDC screen = GetDC(nullptr);
        pixels result(screen, origin.x, origin.y, client.right, client.bottom);
        ReleaseDC(nullptr, screen);
        return result;
    }
    std::uint32_t at(int x, int y) const { return bits[y * width + x]; }
};

// A test over a frame of its own: the run state fresh, the frame taken down at the end.
class OnScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
    }
    void TearDown() override { destroy_frame(); }
};
