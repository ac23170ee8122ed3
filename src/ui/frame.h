// The full-screen frame window behind every dialog, titled with the product's name: a blue
// gradient from top to bottom with the backdrop picture (bitmap 350) and its shadow in the upper
// left corner. create_frame also detects the display's colour class, makes the palette of
// 256-colour displays, registers the gauge class and checks and starts OLE.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr const char* frame_class_name = "_QELSETUP_Frame";

// 1 when the frame is up. 0 on failure: fatal_error holds 28 (a runner's dialog procedure is
// missing), 15 (gauge class), 16 (frame class) or 17 (frame window); or, with fatal_error
// unchanged, OLE is too old (after an information box) or would not start.
int create_frame(const char* title);
// Takes down whatever create_frame made. 1 when both window classes were unregistered.
int destroy_frame();

// The colour class of a display from its bits per pixel, planes and number of colours (NUMCOLORS,
// taken as unsigned, so -1 counts as more than 256): 24, 8 (a palette device) or 4.
int display_class(int bits_per_pixel, int planes, int colours);

// The palette of a 256-colour display: 32 steps of blue (0, 8, ... 248) and white, as
// frame_palette; fills blue_index_table.
void make_frame_palette();

// The OLE step of create_frame for a build number (major in the high word, minor in the low
// word): major not 23 shows the information box and gives 0; 23.0 to 23.638 give 1 without
// starting OLE; later builds start it and give 1 when it started (setting ole_initialised).
int start_ole(std::uint32_t build);

// The frame's state, from create_frame to destroy_frame.
extern int display_depth;  // 24, 8 or 4
extern int palette_device;
extern HPALETTE frame_palette;
extern COLORREF blue_index_table[256];  // PALETTEINDEX of the palette entry nearest to blue k
extern const BITMAPINFOHEADER* backdrop_bitmap;
extern unsigned char* backdrop_mask;  // the picture's pixel bits, every byte inverted
extern int ole_initialised;
