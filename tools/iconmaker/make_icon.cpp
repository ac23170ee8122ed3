// Draws the program icon of SETUP.EXE (icon group 300) and writes it as a .ico file:
// one 32 x 32 image, 16 colours (4 bits per pixel), transparent where the AND mask is set.
// The picture: a dark blue diskette with a metal shutter on top and a white label below,
// a bold blue "Q" on the label.
//
// Build and run (from the source root; not part of the CMake build):
//   g++ -std=c++20 -O2 -o /tmp/make_icon tools/iconmaker/make_icon.cpp && /tmp/make_icon res/qelsetup.ico

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int size = 32;

// The standard 16-colour palette, as (red, green, blue).
constexpr std::array<std::array<std::uint8_t, 3>, 16> palette = {{
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
}};

enum Colour : std::uint8_t {
  black = 0, navy = 4, silver = 7, grey = 8, blue = 12, white = 15,
  clear = 16  // transparent: AND mask bit set, colour bits 0
};

// Pixel grid, row 0 at the top.
using Picture = std::array<std::array<std::uint8_t, size>, size>;

void fill(Picture& p, int x0, int y0, int x1, int y1, std::uint8_t c) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) p[y][x] = c;
}

// Distance from point (px, py) to the segment (ax, ay)-(bx, by).
double segment_distance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

Picture draw() {
  Picture p;
  for (auto& row : p) row.fill(clear);

  // Diskette body from (2, 2) to (29, 29) with the top right corner cut off diagonally.
  constexpr int left = 2, top = 2, right = 29, bottom = 29, cut = 4;
  auto inside = [&](int x, int y) {
    if (x < left || x > right || y < top || y > bottom) return false;
    return !(x - (right - cut) > y - top);  // the cut corner
  };
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (inside(x, y)) p[y][x] = navy;
  // Outline: every body pixel with a neighbour outside the body.
  Picture outline = p;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (inside(x, y) && !(inside(x - 1, y) && inside(x + 1, y) && inside(x, y - 1) && inside(x, y + 1)))
        outline[y][x] = black;
  p = outline;
  // Light edge along the top and left inside the outline.
  for (int x = left + 1; x <= right - cut - 1; ++x) p[top + 1][x] = blue;
  for (int y = top + 1; y <= bottom - 1; ++y) p[y][left + 1] = blue;
  for (int i = 1; i < cut; ++i) p[top + 1 + i][right - cut - 1 + i] = blue;

  // Metal shutter at the top with its slot.
  fill(p, 9, top + 1, 22, 11, silver);
  for (int y = top + 1; y <= 11; ++y) p[y][22] = grey;      // shade at its right
  for (int x = 9; x <= 22; ++x) p[11][x] = grey;             // and below
  fill(p, 17, 4, 20, 9, navy);                               // the slot
  for (int y = 4; y <= 9; ++y) p[y][17] = black;

  // White label filling the lower part, shaded at its right and bottom edge.
  constexpr int lx0 = 6, ly0 = 14, lx1 = 25, ly1 = 28;
  fill(p, lx0, ly0, lx1, ly1, white);
  for (int y = ly0; y <= ly1; ++y) p[y][lx1] = silver;
  for (int x = lx0; x <= lx1; ++x) p[ly1][x] = silver;

  // The "Q": a thick ring with a slanted tail to the lower right.
  constexpr double cx = 15.5, cy = 20.5, outer = 5.9, inner = 3.2;
  for (int y = ly0 + 1; y < ly1; ++y)
    for (int x = lx0 + 1; x < lx1; ++x) {
      const double px = x + 0.5, py = y + 0.5;  // pixel centre
      const double r = std::hypot((px - cx) / 0.92, py - cy);
      const bool ring = r <= outer && r >= inner;
      const bool tail = segment_distance(px, py, 17.6, 22.6, 21.8, 27.2) <= 1.25;
      if (ring || tail) p[y][x] = blue;
    }
  return p;
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> encode(const Picture& p) {
  constexpr std::uint32_t header_bytes = 40, palette_bytes = 16 * 4;
  constexpr std::uint32_t xor_row = (size * 4 + 31) / 32 * 4;  // 4-bpp rows, 4-byte aligned
  constexpr std::uint32_t and_row = (size + 31) / 32 * 4;      // 1-bpp rows, 4-byte aligned
  constexpr std::uint32_t bits_bytes = (xor_row + and_row) * size;
  constexpr std::uint32_t image_bytes = header_bytes + palette_bytes + bits_bytes;

  std::vector<std::uint8_t> out;
  // ICONDIR
  put16(out, 0);  // reserved
  put16(out, 1);  // type: icon
  put16(out, 1);  // one image
  // ICONDIRENTRY
  out.push_back(size);  // width
  out.push_back(size);  // height
  out.push_back(16);    // colours
  out.push_back(0);     // reserved
  put16(out, 1);        // planes
  put16(out, 4);        // bits per pixel
  put32(out, image_bytes);
  put32(out, 6 + 16);   // the image follows the directory
  // BITMAPINFOHEADER: the height counts the XOR and the AND bitmap.
  put32(out, header_bytes);
  put32(out, size);
  put32(out, 2 * size);
  put16(out, 1);
  put16(out, 4);
  put32(out, 0);  // BI_RGB
  put32(out, bits_bytes);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  for (const auto& c : palette) {  // RGBQUAD: blue, green, red, reserved
    out.push_back(c[2]);
    out.push_back(c[1]);
    out.push_back(c[0]);
    out.push_back(0);
  }
  // XOR bits, bottom row first, high nibble = left pixel.
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(xor_row, 0);
    for (int x = 0; x < size; ++x) {
      const std::uint8_t c = p[y][x] == clear ? 0 : p[y][x];
      row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? c << 4 : c);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  // AND mask, bottom row first, most significant bit = left pixel; 1 = transparent.
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(and_row, 0);
    for (int x = 0; x < size; ++x)
      if (p[y][x] == clear) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
    return 2;
  }
  const std::vector<std::uint8_t> bytes = encode(draw());
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
