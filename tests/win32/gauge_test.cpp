// The gauge as it comes out on the screen: dialog 200 over the frame, its bar and percentage read
// back pixel by pixel on the 24-bit display of the tests.
#include "ui/gauge.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "resource_ids.h"
#include "screen_pixels.h"
#include "ui/dialogs.h"
#include "ui/frame.h"

namespace {

// Dialog 200 over the frame, its gauge read back from the screen.
class Gauge : public OnScreen {
protected:
    void SetUp() override
    {
        OnScreen::SetUp();
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
        OnScreen::TearDown();
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

// The ranges of large updates: the percentage and the split column are those of exact arithmetic.
TEST_F(Gauge, LargeRangesDrawAsExactArithmeticGives)
{
    for (const std::uint32_t range : {1000000u, 100000000u, 400000000u}) {
        send(GAUGE_SETRANGE, static_cast<LPARAM>(range));
        for (const std::uint32_t position : {0u, range / 3, range / 2, range}) {
            send(GAUGE_SETPOS, static_cast<LPARAM>(position));
            const std::uint64_t at = position;
            char text[8];
            wsprintfA(text, "%3u%%", static_cast<unsigned>(at * 100 / range));
            expect_bar(text, static_cast<int>(at * static_cast<std::uint64_t>(right) / range) + 1);
        }
    }
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
