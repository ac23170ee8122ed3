// Draws the frame's backdrop picture (bitmap 350) and writes it as a .bmp file: the word
// "Qelmora" in a bold geometric sans, white on black, 360 x 90 pixels, 1 bit per pixel,
// bottom-up, colour table black then white, 4320 bytes of pixel bits (48 bytes per row).
// The frame draws the white pixels with a black shadow and leaves the black ones transparent.
//
// The letters are built from strokes of one width (rings, arcs, bars and one slanted tail),
// each pixel sampled 4 x 4 times and set white when at least half of its samples fall inside.
//
// Build and run (from the source root; not part of the CMake build):
//   g++ -std=c++20 -O2 -o /tmp/make_backdrop tools/bitmapmaker/make_backdrop.cpp && /tmp/make_backdrop res/backdrop.bmp

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int width = 360;
constexpr int height = 90;
constexpr int row_bytes = ((width + 7) / 8 + 3) / 4 * 4;  // 48
constexpr int samples = 4;                                  // per axis

constexpr double pi = 3.14159265358979323846;
constexpr double stroke = 10.0;    // width of every stroke
constexpr double baseline = 70.0;  // y grows downwards
constexpr double x_height = 44.0;
constexpr double cap_height = 60.0;

// A shape answers whether the point (x, y) lies inside it.
using Shape = std::function<bool(double, double)>;

// The band of width `stroke` around an ellipse of radii rx, ry; limited to the angles from
// `from` to `to` (radians, measured from the positive x axis towards positive y, i.e. clockwise
// on screen) unless they cover the whole turn.
Shape ring(double cx, double cy, double rx, double ry, double from = 0, double to = 2 * pi)
{
    return [=](double x, double y) {
        const double dx = x - cx, dy = y - cy;
        const double outer = (dx * dx) / ((rx + stroke / 2) * (rx + stroke / 2)) +
                             (dy * dy) / ((ry + stroke / 2) * (ry + stroke / 2));
        const double inner = (dx * dx) / ((rx - stroke / 2) * (rx - stroke / 2)) +
                             (dy * dy) / ((ry - stroke / 2) * (ry - stroke / 2));
        if (outer > 1 || inner < 1) return false;
        if (to - from >= 2 * pi) return true;
        double angle = std::atan2(dy, dx);
        if (angle < from) angle += 2 * pi;
        return angle >= from && angle <= to;
    };
}

Shape bar(double x0, double y0, double x1, double y1)
{
    return [=](double x, double y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

// A stroke from (ax, ay) to (bx, by) with square ends cut across the stroke.
Shape slant(double ax, double ay, double bx, double by)
{
    return [=](double x, double y) {
        const double dx = bx - ax, dy = by - ay, length = std::hypot(dx, dy);
        const double along = ((x - ax) * dx + (y - ay) * dy) / length;
        const double across = ((x - ax) * dy - (y - ay) * dx) / length;
        return along >= 0 && along <= length && std::fabs(across) <= stroke / 2;
    };
}

// The word, letter by letter from the left edge `x`; each letter moves x past itself and the gap.
std::vector<Shape> word()
{
    std::vector<Shape> shapes;
    constexpr double gap = 6.0;
    const double x_top = baseline - x_height;
    const double round_r = x_height / 2 - stroke / 2;  // radius of the bowls, to the stroke's middle
    const double bowl_y = baseline - x_height / 2;
    double x = 14.0;

    // Q: a full-height ring and a tail across its lower right.
    {
        const double rx = 27, ry = cap_height / 2 - stroke / 2;
        const double cx = x + rx + stroke / 2, cy = baseline - cap_height / 2;
        shapes.push_back(ring(cx, cy, rx, ry));
        shapes.push_back(slant(cx + 12, cy + 18, cx + 30, baseline + 8));
        x = cx + rx + stroke / 2 + gap;
    }
    // e: a ring open at its lower right, with a bar across its middle.
    {
        const double cx = x + round_r + stroke / 2;
        shapes.push_back(ring(cx, bowl_y, round_r, round_r, 0.75, 2 * pi));
        shapes.push_back(bar(cx - round_r, bowl_y - stroke / 2 + 1, cx + round_r + stroke / 2, bowl_y + stroke / 2 - 1));
        x = cx + round_r + stroke / 2 + gap;
    }
    // l: one stem of cap height.
    shapes.push_back(bar(x, baseline - cap_height, x + stroke, baseline));
    x += stroke + gap;
    // m: a stem and two arches, each standing on a leg.
    {
        const double arch_r = 11.0;  // to the stroke's middle
        const double stem = x, arch_y = x_top + arch_r + stroke / 2;
        shapes.push_back(bar(stem, x_top, stem + stroke, baseline));
        double leg = stem;
        for (int arch = 0; arch < 2; ++arch) {
            const double cx = leg + stroke / 2 + arch_r;
            shapes.push_back(ring(cx, arch_y, arch_r, arch_r, pi, 2 * pi));
            leg = cx + arch_r - stroke / 2;
            shapes.push_back(bar(leg, arch_y, leg + stroke, baseline));
        }
        x = leg + stroke + gap;
    }
    // o: a ring.
    {
        const double cx = x + round_r + stroke / 2;
        shapes.push_back(ring(cx, bowl_y, round_r, round_r));
        x = cx + round_r + stroke / 2 + gap;
    }
    // r: a stem and a shoulder.
    {
        const double arch_r = 13.0;
        shapes.push_back(bar(x, x_top, x + stroke, baseline));
        shapes.push_back(ring(x + stroke / 2 + arch_r, x_top + arch_r + stroke / 2, arch_r, arch_r, pi, 1.68 * pi));
        x += stroke / 2 + arch_r + arch_r * 0.55 + stroke / 2 + gap - 4;  // r leaves room at its foot
    }
    // a: a ring with a stem on its right.
    {
        const double cx = x + round_r + stroke / 2;
        shapes.push_back(ring(cx, bowl_y, round_r, round_r));
        const double stem = cx + round_r - stroke / 2;
        shapes.push_back(bar(stem, x_top, stem + stroke, baseline));
    }
    return shapes;
}

void put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.bmp\n", argv[0]);
        return 2;
    }
    const std::vector<Shape> shapes = word();
    std::array<std::array<std::uint8_t, row_bytes>, height> rows{};  // row 0 at the top
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int inside = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const double px = x + (sx + 0.5) / samples, py = y + (sy + 0.5) / samples;
                    for (const Shape& shape : shapes) {
                        if (shape(px, py)) {
                            ++inside;
                            break;
                        }
                    }
                }
            }
            if (inside * 2 >= samples * samples) rows[y][x / 8] |= 0x80 >> (x % 8);
        }
    }

    constexpr std::uint32_t bits_size = row_bytes * height;  // 4320
    constexpr std::uint32_t bits_offset = 14 + 40 + 8;
    std::vector<std::uint8_t> file;
    file.push_back('B');
    file.push_back('M');
    put32(file, bits_offset + bits_size);
    put32(file, 0);
    put32(file, bits_offset);
    put32(file, 40);      // BITMAPINFOHEADER
    put32(file, width);
    put32(file, height);  // positive: bottom-up
    put16(file, 1);       // planes
    put16(file, 1);       // bits per pixel
    put32(file, 0);       // BI_RGB
    put32(file, bits_size);
    put32(file, 2835);    // 72 dots per inch
    put32(file, 2835);
    put32(file, 2);       // colours used
    put32(file, 0);
    put32(file, 0x00000000);  // entry 0: black (blue, green, red, reserved)
    put32(file, 0x00FFFFFF);  // entry 1: white
    for (int y = height - 1; y >= 0; --y) file.insert(file.end(), rows[y].begin(), rows[y].end());

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
