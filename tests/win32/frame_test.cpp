// The frame as it comes out on the screen: every check reads pixels back through a device
// context of the whole screen (the X display under Wine). The tests run on a 24-bit display; the
// palette and 16-colour paths are switched on over a live frame.
#include "ui/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "resource_ids.h"
#include "screen_pixels.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"
#include "window_answerer.h"

namespace {

class Frame : public OnScreen {
protected:
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

}  // namespace
