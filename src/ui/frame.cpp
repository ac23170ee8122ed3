#include "ui/frame.h"

#include <ole2.h>

#include "resource_ids.h"
#include "support/fatal_errors.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"

int display_depth;
int palette_device;
HPALETTE frame_palette;
COLORREF blue_index_table[256];
const BITMAPINFOHEADER* backdrop_bitmap;
unsigned char* backdrop_mask;
int ole_initialised;

namespace {

HBRUSH frame_background;

constexpr int palette_blue_steps = 32;
constexpr int palette_entries = palette_blue_steps + 1;  // the blue steps and white
constexpr int shadow_offset = 4;
constexpr WORD required_ole_major = 23;
constexpr WORD ole_minor_to_initialise = 639;

// The colour table follows the 40-byte header; a 24-bit picture has none.
std::uint32_t colour_table_size(const BITMAPINFOHEADER* header)
{
    return header->biBitCount == 24 ? 0 : 4u << header->biBitCount;
}

const unsigned char* pixel_bits(const BITMAPINFOHEADER* header)
{
    return reinterpret_cast<const unsigned char*>(header) + sizeof(BITMAPINFOHEADER) + colour_table_size(header);
}

std::uint32_t one_bit_image_size(const BITMAPINFOHEADER* header)
{
    const std::uint32_t row_bytes = ((static_cast<std::uint32_t>(header->biWidth) + 7) / 8 + 3) / 4 * 4;
    return row_bytes * static_cast<std::uint32_t>(header->biHeight);
}

void detect_display_depth()
{
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    const int planes = GetDeviceCaps(screen, PLANES);
    const int colours = GetDeviceCaps(screen, NUMCOLORS);
    ReleaseDC(nullptr, screen);
    display_depth = display_class(bits, planes, colours);
    palette_device = display_depth == 8;
    log_line("Bits per pixel = %d", display_depth);
}

// The picture and, beside it, its pixel bits inverted: the mask that cuts the picture and its
// shadow out of the background.
void load_backdrop()
{
    backdrop_bitmap = nullptr;
    backdrop_mask = nullptr;
    HRSRC resource = FindResourceA(setup.app_instance, MAKEINTRESOURCEA(BITMAP_BACKDROP), RT_BITMAP);
    HGLOBAL loaded = resource ? LoadResource(setup.app_instance, resource) : nullptr;
    if (!loaded) return;
    backdrop_bitmap = static_cast<const BITMAPINFOHEADER*>(LockResource(loaded));
    if (!backdrop_bitmap) return;
    const std::uint32_t size = one_bit_image_size(backdrop_bitmap);
    const unsigned char* bits = pixel_bits(backdrop_bitmap);
    backdrop_mask = static_cast<unsigned char*>(alloc_block(size));
    for (std::uint32_t i = 0; i < size; ++i) backdrop_mask[i] = static_cast<unsigned char>(~bits[i]);
}

// Selects the frame's palette as a foreground palette into a context of the frame and realises
// it; the number of entries that changed.
UINT realise_foreground_palette(HWND frame)
{
    HDC dc = GetDC(frame);
    HPALETTE previous = SelectPalette(dc, frame_palette, FALSE);
    const UINT changed = RealizePalette(dc);
    SelectPalette(dc, previous, FALSE);
    ReleaseDC(frame, dc);
    return changed;
}

// From blue 255 in the top row to nearly black in the bottom row; a pen only when the colour changes.
void paint_gradient(HDC dc, int width, int height)
{
    HGDIOBJ original_pen = nullptr;
    HPEN pen = nullptr;
    COLORREF previous = 0;
    for (int y = 0; y < height; ++y) {
        const int blue = 255 - MulDiv(255, y, height);
        const COLORREF colour = palette_device ? blue_index_table[blue] : RGB(0, 0, blue);
        if (colour != previous) {
            HPEN next = CreatePen(PS_SOLID, 0, colour);
            HGDIOBJ out = SelectObject(dc, next);
            if (!original_pen) original_pen = out;
            if (pen) DeleteObject(pen);
            pen = next;
            previous = colour;
        }
        MoveToEx(dc, 0, y, nullptr);
        LineTo(dc, width - 1, y);
    }
    if (original_pen) SelectObject(dc, original_pen);
    if (pen) DeleteObject(pen);
}

// White pixels of the picture in white, their shadow in black 4 pixels right and down; the
// picture's black pixels leave the background as it is.
void paint_backdrop(HDC dc)
{
    const auto* info = reinterpret_cast<const BITMAPINFO*>(backdrop_bitmap);
    const int width = backdrop_bitmap->biWidth;
    const int height = backdrop_bitmap->biHeight;
    auto draw = [&](int at, const void* bits, DWORD operation) {
        StretchDIBits(dc, at, at, width, height, 0, 0, width, height, bits, info, DIB_RGB_COLORS, operation);
    };
    draw(0, backdrop_mask, SRCAND);
    draw(shadow_offset, backdrop_mask, SRCAND);
    draw(0, pixel_bits(backdrop_bitmap), SRCINVERT);
}

void paint_frame(HWND frame)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(frame, &paint);
    RECT client;
    GetClientRect(frame, &client);
    HPALETTE previous_palette = nullptr;
    if (display_depth != 4) {
        if (palette_device) {
            previous_palette = SelectPalette(dc, frame_palette, TRUE);
            RealizePalette(dc);
        }
        paint_gradient(dc, client.right, client.bottom);
    }
    if (backdrop_bitmap && backdrop_mask) paint_backdrop(dc);
    if (previous_palette) SelectPalette(dc, previous_palette, TRUE);
    EndPaint(frame, &paint);
}

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT:
        paint_frame(window);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_QUERYNEWPALETTE:
        if (!frame_palette) return FALSE;
        if (!realise_foreground_palette(window)) return FALSE;
        InvalidateRect(window, nullptr, TRUE);
        return TRUE;
    case WM_PALETTECHANGED:
        if (frame_palette && reinterpret_cast<HWND>(wparam) != window && realise_foreground_palette(window))
            InvalidateRect(window, nullptr, TRUE);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

bool register_frame_class()
{
    WNDCLASSA frame_class{};
    frame_class.style = CS_HREDRAW | CS_VREDRAW | CS_NOCLOSE;
    frame_class.lpfnWndProc = frame_window_proc;
    frame_class.hInstance = setup.app_instance;
    frame_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frame_class.hbrBackground = frame_background = CreateSolidBrush(RGB(0, 0, 128));
    frame_class.lpszClassName = frame_class_name;
    if (RegisterClassA(&frame_class)) return true;
    DeleteObject(frame_background);
    frame_background = nullptr;
    return false;
}

// Maximised, the frame takes the whole work area. Wine on an X display without a window manager
// moves a maximised window but leaves its X window at the size it had before, so the frame
// would stay at its default size on the screen: it is therefore given the maximised rectangle
// as its normal one too, and maximised again from there.
void show_full_screen(HWND frame)
{
    ShowWindow(frame, SW_SHOWMAXIMIZED);
    RECT maximised;
    GetWindowRect(frame, &maximised);
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    OffsetRect(&maximised, -work.left, -work.top);  // placements are relative to the work area
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (GetWindowPlacement(frame, &placement) && !EqualRect(&placement.rcNormalPosition, &maximised)) {
        placement.rcNormalPosition = maximised;
        placement.showCmd = SW_SHOWNORMAL;
        SetWindowPlacement(frame, &placement);
        ShowWindow(frame, SW_SHOWMAXIMIZED);
    }
    UpdateWindow(frame);
}

}  // namespace

int display_class(int bits_per_pixel, int planes, int colours)
{
    const int bits = bits_per_pixel * planes;
    if (bits > 8 || static_cast<unsigned>(colours) > 256) return 24;
    return bits == 8 ? 8 : 4;
}

// 32 steps of blue (0, 8, ... 248) and white; blue_index_table maps every blue to its nearest step.
void make_frame_palette()
{
    auto* palette = static_cast<LOGPALETTE*>(
        alloc_block(sizeof(LOGPALETTE) + (palette_entries - 1) * sizeof(PALETTEENTRY)));
    palette->palVersion = 0x300;
    palette->palNumEntries = palette_entries;
    for (int i = 0; i < palette_blue_steps; ++i) palette->palPalEntry[i] = {0, 0, static_cast<BYTE>(8 * i), 0};
    palette->palPalEntry[palette_blue_steps] = {255, 255, 255, 0};
    frame_palette = CreatePalette(palette);
    free_block(palette);
    for (int k = 0; k < 256; ++k)
        blue_index_table[k] = 0x01000000 | GetNearestPaletteIndex(frame_palette, RGB(0, 0, k));
}

int start_ole(std::uint32_t build)
{
    if (HIWORD(build) != required_ole_major) {
        MessageBoxA(setup.frame_window, resource_text(1, STR_OLE_TOO_OLD), short_resource_text(STR_PRODUCT_CAPTION),
                    MB_ICONINFORMATION | MB_OK);
        return 0;
    }
    if (LOWORD(build) < ole_minor_to_initialise) return 1;
    const HRESULT started = OleInitialize(nullptr);
    if (started != S_OK && started != S_FALSE) return 0;
    ole_initialised = 1;
    return 1;
}

int create_frame(const char* title)
{
    // Every modal runner needs its procedure; a build without one cannot show a question.
    DLGPROC volatile runner_procedures[] = {plain_dialog_proc, path_dialog_proc};
    for (DLGPROC procedure : runner_procedures) {
        if (!procedure) return stop_with(fatal::dialog_procedures);
    }
    detect_display_depth();
    load_backdrop();
    if (palette_device) make_frame_palette();
    if (!register_gauge_class(setup.app_instance)) return stop_with(fatal::gauge_class);
    if (!register_frame_class()) return stop_with(fatal::frame_class);
    setup.frame_window = CreateWindowA(frame_class_name, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                       setup.app_instance, nullptr);
    if (!setup.frame_window) return stop_with(fatal::frame_window);
    if (palette_device) realise_foreground_palette(setup.frame_window);
    show_full_screen(setup.frame_window);
    return start_ole(OleBuildVersion());
}

int destroy_frame()
{
    if (setup.frame_window) {
        DestroyWindow(setup.frame_window);
        setup.frame_window = nullptr;
    }
    if (frame_palette) {
        DeleteObject(frame_palette);
        frame_palette = nullptr;
    }
    if (ole_initialised) {
        OleUninitialize();
        ole_initialised = 0;
    }
    if (backdrop_mask) {
        free_block(backdrop_mask);
        backdrop_mask = nullptr;
    }
    backdrop_bitmap = nullptr;
    if (!unregister_gauge_class(setup.app_instance)) return 0;
    if (!UnregisterClassA(frame_class_name, setup.app_instance)) return 0;
    DeleteObject(frame_background);
    frame_background = nullptr;
    return 1;
}
