// The frame and the gauge as they come out on the screen: every check reads pixels back through a
// device context of the whole screen (the X display under Wine). The tests run on a 24-bit
// display; the palette and 16-colour paths are switched on over a live frame.
#include "ui/frame.h"
#include "ui/gauge.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "app/run_state.h"
#include "resource_ids.h"
#include "ui/dialogs.h"
#include "window_answerer.h"

namespace {

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

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
    }
    void TearDown() override { destroy_frame(); }

    void repaint_as(int depth)
    {
        display_depth = depth;
        palette_device = depth == 8;
        if (palette_device) make_frame_palette();
        InvalidateRect(setup.frame_window, nullptr, TRUE);
        UpdateWindow(setup.frame_window);
    }

    // White where the picture (read from its own resource) is white, black where its shadow
    // falls, else the background of that row.
    static void expect_picture(const pixels& screen, auto background)
    {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(
            LockResource(LoadResource(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(BITMAP_BACKDROP), RT_BITMAP))));
        auto is_white = [&](int x, int y) {
            const auto* bits = reinterpret_cast<const std::uint8_t*>(header + 1) + 8;
            return x >= 0 && y >= 0 && x < 360 && y < 90 && (bits[(89 - y) * 48 + x / 8] & (0x80 >> (x % 8)));
        };
        int wrong = 0, white_pixels = 0, shadow_pixels = 0;
        for (int y = 0; y < 94; ++y) {
            for (int x = 0; x < 364; ++x) {
                std::uint32_t expected = background(y);
                if (is_white(x, y)) expected = white, ++white_pixels;
                else if (is_white(x - 4, y - 4)) expected = black, ++shadow_pixels;
                wrong += screen.at(x, y) != expected;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(white_pixels, 2000);
        EXPECT_GT(shadow_pixels, 300);
    }
};

TEST(DisplayClass, FromBitsPlanesAndColours)
{
    for (auto [bits, planes, colours, depth] : std::vector<std::array<int, 4>>{
             {32, 1, -1, 24}, {8, 1, -1, 24}, {8, 1, 257, 24}, {8, 1, 256, 8}, {8, 1, 20, 8}, {1, 8, 256, 8},
             {4, 1, 16, 4}, {1, 4, 16, 4}, {1, 1, 2, 4}})
        EXPECT_EQ(display_class(bits, planes, colours), depth) << bits << " x " << planes << ", " << colours;
}

TEST_F(Frame, OleBuildNumbers)
{
    EXPECT_EQ(start_ole(MAKELONG(638, 23)), 1);
    EXPECT_EQ(ole_initialised, 0);
    EXPECT_EQ(start_ole(MAKELONG(639, 23)), 1);
    EXPECT_EQ(ole_initialised, 1);
    destroy_frame();  // uninitialises OLE
    for (std::uint32_t build : {MAKELONG(639, 22), MAKELONG(0, 24)}) {
        auto box = answer_next_window({click(IDOK)});
        EXPECT_EQ(start_ole(build), 0);
        const answered_window shown = box.get();
        EXPECT_EQ(shown.caption, "Qelmora");
        EXPECT_TRUE(shown.has_text("A newer version of OLE is need to create a shortcut."));
        EXPECT_EQ(ole_initialised, 0);
    }
}

TEST_F(Frame, CoversTheScreenWithTheGradientAndThePicture)
{
    ASSERT_EQ(create_frame("Frame test title"), 1);
    EXPECT_EQ(display_depth, 24);
    EXPECT_EQ(ole_initialised, 1);  // Wine's OLE is of build 23.639 or later
    char title[64] = "";
    GetWindowTextA(setup.frame_window, title, sizeof title);
    EXPECT_STREQ(title, "Frame test title");
    RECT work, client;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetClientRect(setup.frame_window, &client);
    MapWindowPoints(setup.frame_window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_TRUE(IsZoomed(setup.frame_window));
    EXPECT_TRUE(client.left == work.left && client.right == work.right && client.bottom == work.bottom);

    const pixels screen = pixels::on_screen(setup.frame_window);
    auto gradient = [&](int y) { return std::uint32_t(255 - MulDiv(255, y, screen.height)); };
    EXPECT_EQ(screen.at(600, 0), pure_blue);
    EXPECT_LE(screen.at(600, screen.height - 1), 1u);
    for (int x : {400, screen.width - 2})
        for (int y = 0; y < screen.height; ++y) ASSERT_EQ(screen.at(x, y), gradient(y)) << x << "," << y;
    expect_picture(screen, gradient);
}

TEST_F(Frame, PaletteAndSixteenColourDisplays)
{
    ASSERT_EQ(create_frame("Palette"), 1);
    repaint_as(8);
    PALETTEENTRY entries[40];
    ASSERT_EQ(GetPaletteEntries(frame_palette, 0, 40, entries), 33u);
    EXPECT_EQ(entries[32].peRed + entries[32].peGreen + entries[32].peBlue, 3 * 255);
    const pixels stepped = pixels::on_screen(setup.frame_window);
    std::set<std::uint32_t> steps;
    for (int y = 0; y < stepped.height; ++y) {
        const int wanted = 255 - MulDiv(255, y, stepped.height), blue = int(stepped.at(600, y));
        ASSERT_TRUE(blue % 8 == 0 && blue <= 248 && std::abs(blue - wanted) <= 7) << blue << " in row " << y;
        steps.insert(blue);
    }
    EXPECT_EQ(steps.size(), 32u);  // all the palette's blues, none between them
    expect_picture(stepped, [&](int y) { return stepped.at(600, y); });

    repaint_as(4);
    const pixels flat = pixels::on_screen(setup.frame_window);
    for (int y = 0; y < flat.height; ++y) ASSERT_EQ(flat.at(600, y), navy) << "row " << y;
    expect_picture(flat, [](int) { return navy; });
}

// Refuses the frame window, as a system out of window resources would.
LRESULT CALLBACK refuse_frame(int code, WPARAM wparam, LPARAM lparam)
{
    char class_name[32] = "";
    if (code == HCBT_CREATEWND) GetClassNameA(reinterpret_cast<HWND>(wparam), class_name, sizeof class_name);
    return lstrcmpA(class_name, frame_class_name) == 0 ? 1 : CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(Frame, FailuresSetTheirNumbersAndTearDownCopes)
{
    WNDCLASSA taken{0, DefWindowProcA, 0, 0, setup.app_instance, nullptr, nullptr, nullptr, nullptr, GAUGE_CLASS};
    ASSERT_TRUE(RegisterClassA(&taken));
    EXPECT_EQ(create_frame("Gauge class taken"), 0);
    EXPECT_EQ(setup.fatal_error, 15);
    EXPECT_EQ(destroy_frame(), 0);  // the taken class goes; the frame class was never registered

    HHOOK hook = SetWindowsHookExA(WH_CBT, refuse_frame, nullptr, GetCurrentThreadId());
    setup.fatal_error = 0;
    EXPECT_EQ(create_frame("No window"), 0);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(setup.fatal_error, 17);
    EXPECT_EQ(destroy_frame(), 1);
    EXPECT_EQ(destroy_frame(), 0);  // nothing left to unregister

    setup.fatal_error = 0;
    EXPECT_EQ(create_frame("Again"), 1);
    EXPECT_EQ(setup.fatal_error, 0);
}

// Dialog 200 over the frame, its gauge read back from the screen.
class Gauge : public Frame {
protected:
    void SetUp() override
    {
        Frame::SetUp();
        ASSERT_EQ(create_frame("Gauge"), 1);
        gauge = GetDlgItem(open_dialog(DLG_UPDATE_PROGRESS, silent_dialog_proc), CTL_GAUGE);
        ASSERT_TRUE(gauge);
        RECT client;
        GetClientRect(gauge, &client);
        right = client.right - 1;  // the inner area, inside the frame line, ends before column right
    }
    void TearDown() override
    {
        close_dialog(DLG_UPDATE_PROGRESS);
        Frame::TearDown();
    }
    void send(UINT message, LPARAM value) { EXPECT_EQ(SendMessageA(gauge, message, 0, value), 1); }

    // The text drawn whole, centred on the bar, in one pair of colours.
    pixels text_in(const char* text, COLORREF background, COLORREF ink, int width, int height)
    {
        HDC memory = CreateCompatibleDC(nullptr);
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* raw = nullptr;
        HGDIOBJ old = SelectObject(memory, CreateDIBSection(memory, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
        SIZE extent;
        GetTextExtentPoint32A(memory, text, 4, &extent);
        SetBkColor(memory, background);
        SetTextColor(memory, ink);
        RECT all{0, 0, width, height};
        ExtTextOutA(memory, (right - extent.cx) / 2, (height - 1 - extent.cy) / 2, ETO_OPAQUE, &all, text, 4, nullptr);
        pixels drawn(memory, 0, 0, width, height);
        DeleteObject(SelectObject(memory, old));
        DeleteDC(memory);
        return drawn;
    }

    // A black frame line; inside, blue with the text in white up to the split column, then white
    // with the text in blue.
    void expect_bar(const char* text, int split)
    {
        const pixels shown = pixels::on_screen(gauge);
        const int bottom = shown.height - 1;
        const pixels on_blue = text_in(text, RGB(0, 0, 255), RGB(255, 255, 255), shown.width, shown.height);
        const pixels on_white = text_in(text, RGB(255, 255, 255), RGB(0, 0, 255), shown.width, shown.height);
        int wrong = 0;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) {
                const bool inside = x >= 1 && y >= 1 && y < bottom && (x < right || split > right);
                wrong += shown.at(x, y) != (!inside ? black : x < split ? on_blue.at(x, y) : on_white.at(x, y));
            }
        }
        EXPECT_EQ(wrong, 0) << "\"" << text << "\" split at " << split;
        EXPECT_EQ(shown.at(split - 1, 1), split > 1 ? pure_blue : black);  // row 1 holds no text
    }

    HWND gauge = nullptr;
    int right = 0;
};

TEST_F(Gauge, StartsEmptyAndFillsInThirds)
{
    expect_bar("  0%", 1);
    send(GAUGE_SETRANGE, 3);
    send(GAUGE_SETPOS, 1);
    expect_bar(" 33%", right / 3 + 1);  // truncated, not rounded
    send(GAUGE_SETPOS, 2);
    expect_bar(" 66%", 2 * right / 3 + 1);
    send(GAUGE_SETPOS, 3);
    expect_bar("100%", right + 1);  // over the right frame line
    send(GAUGE_SETPOS, 7);
    expect_bar("100%", right + 1);
}

TEST_F(Gauge, NewRangeShowsWithTheNextPositionAndZeroRangeIsEmpty)
{
    send(GAUGE_SETRANGE, 3);
    send(GAUGE_SETPOS, 2);
    send(GAUGE_SETRANGE, 6);
    expect_bar(" 66%", 2 * right / 3 + 1);
    send(GAUGE_SETPOS, 2);
    expect_bar(" 33%", right / 3 + 1);
    send(GAUGE_SETRANGE, 0);
    send(GAUGE_SETPOS, 5);
    expect_bar("  0%", 1);
}

// A copy sends a position for every 32 KB: only those that change the percentage or the split
// column are drawn, and the bar still ends right.
TEST_F(Gauge, PositionsThatChangeNothingOnScreenAreNotPainted)
{
    send(GAUGE_SETRANGE, 1000000);
    const unsigned long draws_before = gauge_draw_count();
    for (LPARAM position = 0; position <= 1000000; position += 100) send(GAUGE_SETPOS, position);
    const unsigned long draws = gauge_draw_count() - draws_before;
    EXPECT_GT(draws, 100u);
    EXPECT_LE(draws, 101u + right + 1);
    expect_bar("100%", right + 1);
}

}  // namespace
