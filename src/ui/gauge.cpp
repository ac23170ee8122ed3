#include "ui/gauge.h"

#include <array>
#include <cstdint>

#include "resource_ids.h"
#include "support/text_format.h"

namespace {

constexpr COLORREF gauge_blue = RGB(0, 0, 255);
constexpr COLORREF gauge_white = RGB(255, 255, 255);
constexpr std::uint32_t initial_range = 100;

std::uint32_t read_value(HWND gauge, int offset) { return static_cast<std::uint32_t>(GetWindowLongA(gauge, offset)); }

void store_value(HWND gauge, int offset, LPARAM value) { SetWindowLongA(gauge, offset, static_cast<LONG>(value)); }

// What a paint shows: the percentage and the first column of the white part.
struct gauge_look {
    std::uint32_t percent;
    std::uint16_t split;
};

gauge_look look_of(std::uint32_t range, std::uint32_t position, std::uint16_t right)
{
    if (position > range) position = range;
    // A range of 0 has no percentage: it shows as an empty bar at 0 %.
    if (!range) return {0, 1};
    // In 64 bits: the install loop's positions (bytes / 10) pass 2^32 / 100 at 43 MB.
    const std::uint64_t at = position;
    return {static_cast<std::uint32_t>(at * 100 / range), static_cast<std::uint16_t>(at * right / range + 1)};
}

std::uint16_t inner_right(HWND gauge)
{
    RECT client;
    GetClientRect(gauge, &client);
    return static_cast<std::uint16_t>(client.right - 1);
}

// The look last drawn, kept in the process (a window value costs a trip to the window server on
// every write), so that a position that changes nothing on the screen costs no drawing: a copy
// sends one for every 32 KB, far more than the bar has columns. One gauge is on the screen at a
// time; a slot per gauge keeps two apart all the same.
struct drawn_look {
    HWND gauge;
    LONG look;  // 0: not drawn yet
};
std::array<drawn_look, 4> drawn_looks{};
unsigned long draw_count = 0;

LONG packed(gauge_look look) { return static_cast<LONG>((look.percent << 16 | look.split) + 1); }

drawn_look& drawn_slot(HWND gauge)
{
    for (drawn_look& slot : drawn_looks)
        if (slot.gauge == gauge) return slot;
    for (drawn_look& slot : drawn_looks)
        if (!slot.gauge) return slot = {gauge, 0};
    return drawn_looks[0] = {gauge, 0};
}

void forget_gauge(HWND gauge)
{
    for (drawn_look& slot : drawn_looks)
        if (slot.gauge == gauge) slot = {};
}

void draw_gauge(HWND gauge, HDC dc)
{
    const std::uint32_t range = read_value(gauge, gauge_range_offset);
    const std::uint32_t position = read_value(gauge, gauge_position_offset);
    const gauge_look look = look_of(range, position, inner_right(gauge));
    const std::uint32_t percent = look.percent;
    drawn_slot(gauge).look = packed(look);
    ++draw_count;

    char text[8];
    format_text(text, sizeof text, "%3d%%", static_cast<int>(percent));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, 4, &extent);
    const std::int16_t text_width = static_cast<std::int16_t>(extent.cx);
    const std::int16_t text_height = static_cast<std::int16_t>(extent.cy);

    RECT inner;
    GetClientRect(gauge, &inner);
    FrameRect(dc, &inner, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&inner, -1, -1);

    const std::uint16_t split = look.split;
    RECT filled = inner;
    filled.right = split;
    // At the full range the blue part covers the right frame line; the empty part is then empty
    // (never a reversed rectangle, which would be filled the other way round).
    RECT empty = inner;
    empty.left = split < inner.right ? split : inner.right;

    const int x = (static_cast<int>(inner.right) - text_width) / 2;
    const int y = (static_cast<int>(static_cast<std::int16_t>(inner.bottom)) - text_height) / 2;

    SetBkColor(dc, gauge_blue);
    SetTextColor(dc, gauge_white);
    ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &filled, text, 4, nullptr);
    SetBkColor(dc, gauge_white);
    SetTextColor(dc, gauge_blue);
    ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &empty, text, 4, nullptr);
}

void paint_gauge(HWND gauge)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(gauge, &paint);
    draw_gauge(gauge, dc);
    EndPaint(gauge, &paint);
}

// A new position is drawn at once, as a paint of the whole bar would draw it, straight through a
// window DC: under Wine an invalidation followed by UpdateWindow and BeginPaint asks the window
// server about eight times, this twice. The bar is then validated as a paint would leave it, so
// a WM_PAINT still pending (the bar just shown) cannot show a range set after this position.
void show_position(HWND gauge, std::uint32_t position)
{
    if (drawn_slot(gauge).look == packed(look_of(read_value(gauge, gauge_range_offset), position, inner_right(gauge))))
        return;
    if (!IsWindowVisible(gauge)) return;  // shown later, the bar gets a WM_PAINT
    HDC dc = GetDC(gauge);
    if (!dc) return;
    draw_gauge(gauge, dc);
    ReleaseDC(gauge, dc);
    ValidateRect(gauge, nullptr);
}

LRESULT CALLBACK gauge_window_proc(HWND gauge, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        forget_gauge(gauge);
        store_value(gauge, gauge_range_offset, initial_range);
        store_value(gauge, gauge_position_offset, 0);
        return 1;
    case GAUGE_SETPOS:
        // A member's first chunk repeats the position the install loop set: already stored (a
        // store asks the window server, a read does not).
        if (read_value(gauge, gauge_position_offset) != static_cast<std::uint32_t>(lparam))
            store_value(gauge, gauge_position_offset, lparam);
        show_position(gauge, static_cast<std::uint32_t>(lparam));
        return 1;
    case GAUGE_SETRANGE:
        store_value(gauge, gauge_range_offset, lparam);
        return 1;
    case WM_PAINT:
        paint_gauge(gauge);
        return 1;
    case WM_NCDESTROY:
        forget_gauge(gauge);
        return DefWindowProcA(gauge, message, wparam, lparam);

    default:
        return DefWindowProcA(gauge, message, wparam, lparam);
    }
}

}  // namespace

unsigned long gauge_draw_count() { return draw_count; }

HWND dialog_gauge(HWND dialog)
{
    static HWND known_dialog = nullptr, known_gauge = nullptr;
    if (!dialog) return nullptr;
    if (dialog != known_dialog || !known_gauge || GetParent(known_gauge) != dialog) {
        known_dialog = dialog;
        known_gauge = GetDlgItem(dialog, CTL_GAUGE);
    }
    return known_gauge;
}

bool register_gauge_class(HINSTANCE instance)
{
    WNDCLASSA gauge_class{};
    gauge_class.style = CS_HREDRAW | CS_VREDRAW;
    gauge_class.lpfnWndProc = gauge_window_proc;
    gauge_class.cbWndExtra = 8;
    gauge_class.hInstance = instance;
    gauge_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    gauge_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    gauge_class.lpszClassName = GAUGE_CLASS;
    return RegisterClassA(&gauge_class) != 0;
}

bool unregister_gauge_class(HINSTANCE instance) { return UnregisterClassA(GAUGE_CLASS, instance) != 0; }

void set_gauge(HWND gauge, UINT message, std::uint32_t value)
{
    if (gauge) SendMessageA(gauge, message, 0, static_cast<LPARAM>(value));
}
