// text.cpp - text on the Screen: the work page's text cells and cursor
// (Print, Locate, CharAt and the text view's scroll), and glyphs anywhere
// (DrawText, TextWidth and the fonts made from images).
//
// How a glyph row becomes pixels: on one-byte pixels an 8-wide row is one
// 8-byte word. A table turns the row's byte into a mask of whole bytes (at
// scale 2, each half of it into 8 bytes). DrawText keeps the page's bytes
// outside the mask; Print renders each glyph once in the current colours and
// copies its rows, several characters to one vector store (CopyCells). Wider
// pixels, larger scales, clipped or other-width glyphs fill the runs of set
// bits instead.
#include "text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>

#include "draw.h"
#include "fonts.h"
#include "imageheader.h"
#include "lock.h"
#include "pixels.h"

namespace scr {

namespace {

constexpr int32_t kFirstImageFont = 100;
constexpr size_t kMaxImageFonts = 64;
constexpr int32_t kMaxFontSide = 32;

// Byte x of 8 pixel bytes in memory order, as a mask of a 64-bit word.
constexpr uint64_t PixelByte(int x) {
  return uint64_t(0xFF) << (8 * (std::endian::native == std::endian::little ? x : 7 - x));
}

// Byte b of a glyph row as 8 pixel bytes: 0xFF where b has a bit set.
constexpr std::array<uint64_t, 256> MakeRowMasks() {
  std::array<uint64_t, 256> masks{};
  for (int b = 0; b < 256; ++b)
    for (int x = 0; x < 8; ++x)
      if ((b >> (7 - x)) & 1) masks[size_t(b)] |= PixelByte(x);
  return masks;
}
constexpr std::array<uint64_t, 256> kRowMasks = MakeRowMasks();

// Half a glyph row (4 bits) at scale 2 as 8 pixel bytes: 0xFF 0xFF for each set bit.
constexpr std::array<uint64_t, 16> MakeDoubledMasks() {
  std::array<uint64_t, 16> masks{};
  for (int n = 0; n < 16; ++n)
    for (int x = 0; x < 8; ++x)
      if ((n >> (3 - x / 2)) & 1) masks[size_t(n)] |= PixelByte(x);
  return masks;
}
constexpr std::array<uint64_t, 16> kDoubledMasks = MakeDoubledMasks();

// Sets the 8 bytes at `at` that `mask` selects to `ink`'s.
inline void Blend(uint8_t* at, uint64_t mask, uint64_t ink) {
  if (!mask) return;
  uint64_t v;
  std::memcpy(&v, at, 8);
  v = (v & ~mask) | (ink & mask);
  std::memcpy(at, &v, 8);
}

constexpr uint64_t kEveryByte = 0x0101010101010101ull;

const uint8_t* GlyphRow(const GlyphSet& f, uint8_t ch, int64_t y) {
  return f.rows + (size_t(ch) * size_t(f.height) + size_t(y)) * size_t(f.bytesPerRow);
}

inline bool Ink(const uint8_t* row, int32_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// The font a number names: 0 the Screen's cell (8 x 8 with no Screen), 8, 14
// or 16 built in, 100 and up made from an image.
bool FindFont(int32_t number, GlyphSet& out) {
  if (number == Font::Screen) return BuiltinFont(gLayer.screen ? gLayer.screen->cellHeight : 8, out);
  if (number >= kFirstImageFont && size_t(number - kFirstImageFont) < gLayer.fonts.size()) {
    const ImageFont& f = gLayer.fonts[size_t(number - kFirstImageFont)];
    out = {f.width, f.height, f.bytesPerRow, f.rows.data()};
    return true;
  }
  return BuiltinFont(number, out);
}

// ---------------------------------------------------------------------------
// Text cells
// ---------------------------------------------------------------------------

// The bytes Print moves the cursor by instead of showing.
bool IsControl(uint8_t c) {
  return c <= '\r' && ((1u << c) & (1u << '\n' | 1u << '\r' | 1u << '\t' | 1u << '\b'));
}

// How many of the first `most` bytes come before a control byte: eight at a
// time while no byte of them is below 14.
size_t PlainRun(const uint8_t* bytes, size_t most) {
  size_t n = 0;
  for (uint64_t w; n + 8 <= most; n += 8) {
    std::memcpy(&w, bytes + n, 8);
    if ((w - 14 * kEveryByte) & ~w & (0x80 * kEveryByte)) break;  // some byte below 14
  }
  while (n < most && !IsControl(bytes[n])) ++n;
  return n;
}

int32_t ViewTop(const Screen& s) { return s.textTop < 0 ? 0 : s.textTop; }
int32_t ViewBottom(const Screen& s) { return s.textBottom < 0 ? s.textRows - 1 : s.textBottom; }

// The one-byte pixel rows of the built-in font `f`'s glyphs in fg on bg; each
// glyph is rendered at its first use in these colours (see Rows).
RenderedCells& RenderedGlyphs(const GlyphSet& f, uint32_t fg, uint32_t bg) {
  RenderedCells& r = gLayer.renderedCells;
  if (r.font != f.rows || r.fg != fg || r.bg != bg) {
    r.font = f.rows;
    r.fg = fg;
    r.bg = bg;
    r.ready.fill(false);
    r.rows.resize(size_t(256) * size_t(f.height));
  }
  return r;
}

// Renders glyph c's rows in the current colours (built-in fonts: one byte a row).
// GCC would turn the loop into a slow emulated gather (Print with a new
// colour on every call: 18 % of its time in here, 8 % as plain loads).
#if defined(__GNUC__) && !defined(__clang__)
#define SCR_NOT_VECTORISED , gnu::optimize("no-tree-vectorize")
#else
#define SCR_NOT_VECTORISED
#endif
template <size_t Height>
[[gnu::noinline SCR_NOT_VECTORISED]] void Render(RenderedCells& r, uint8_t c) {
  r.ready[c] = true;
  const uint64_t paper = (r.bg & 0xFF) * kEveryByte, change = ((r.fg ^ r.bg) & 0xFF) * kEveryByte;
  uint8_t bits[Height];  // a copy the stores below cannot alias
  std::memcpy(bits, r.font + size_t(c) * Height, Height);
  uint64_t* rows = r.rows.data() + size_t(c) * Height;
  for (size_t y = 0; y < Height; ++y) rows[y] = paper ^ (change & kRowMasks[bits[y]]);
}

// Glyph c's rendered rows, rendering it first when this is its first use.
template <size_t Height>
inline const uint64_t* Rows(RenderedCells& r, uint8_t c) {
  if (!r.ready[c]) [[unlikely]]
    Render<Height>(r, c);
  return r.rows.data() + size_t(c) * Height;
}

// Copies the rendered glyphs of n characters onto cells from `at` on. Where
// the compiler has vectors, two characters go together: two rows of each are
// loaded as 16 bytes and interleaved into two 16-byte stores, one per pixel
// row (every cell height is even). 80 x 30 cells of 8 x 16 in a loop of
// copies alone: one 8-byte copy a row 5.8x a memset of the page, a 16-byte
// store built of two 8-byte loads 3.2x, interleaved 16-byte loads 2.4x.
template <size_t Height>
void CopyCells(uint8_t* at, size_t pitch, RenderedCells& glyphs, const uint8_t* text, size_t n) {
  size_t k = 0;
#if defined(__GNUC__)
  using Pair = uint64_t __attribute__((vector_size(16)));
  for (; k + 2 <= n; k += 2, at += 16) {
    const uint64_t *a = Rows<Height>(glyphs, text[k]), *b = Rows<Height>(glyphs, text[k + 1]);
    uint8_t* out = at;
    for (size_t y = 0; y < Height; y += 2, out += 2 * pitch) {
      Pair x, z;
      std::memcpy(&x, a + y, 16);
      std::memcpy(&z, b + y, 16);
      const Pair upper = __builtin_shufflevector(x, z, 0, 2), lower = __builtin_shufflevector(x, z, 1, 3);
      std::memcpy(out, &upper, 16);
      std::memcpy(out + pitch, &lower, 16);
    }
  }
#endif
  for (; k < n; ++k, at += 8)
    for (size_t y = 0; y < Height; ++y) std::memcpy(at + y * pitch, Rows<Height>(glyphs, text[k]) + y, 8);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define SCR_WIDE_CELLS 1
// CopyCells four characters at a time in 32-byte stores, for processors with
// AVX2: four rows of each of four glyphs are loaded and transposed into four
// pixel rows (two interleaves, then two lane swaps). The same loop of copies
// alone: 1.5x the memset, where the two-character loop takes 2.4x.
template <size_t Height>
[[gnu::target("avx2")]] void CopyCellsWide(uint8_t* at, size_t pitch, RenderedCells& glyphs, const uint8_t* text,
                                           size_t n) {
  using Quad = uint64_t __attribute__((vector_size(32)));
  size_t k = 0;
  for (; k + 4 <= n; k += 4, at += 32) {
    const uint64_t* g[4] = {Rows<Height>(glyphs, text[k]), Rows<Height>(glyphs, text[k + 1]),
                            Rows<Height>(glyphs, text[k + 2]), Rows<Height>(glyphs, text[k + 3])};
    uint8_t* out = at;
    size_t y = 0;
    for (; y + 4 <= Height; y += 4, out += 4 * pitch) {
      Quad a, b, c, d;
      std::memcpy(&a, g[0] + y, 32);
      std::memcpy(&b, g[1] + y, 32);
      std::memcpy(&c, g[2] + y, 32);
      std::memcpy(&d, g[3] + y, 32);
      const Quad ab0 = __builtin_shufflevector(a, b, 0, 4, 2, 6), ab1 = __builtin_shufflevector(a, b, 1, 5, 3, 7);
      const Quad cd0 = __builtin_shufflevector(c, d, 0, 4, 2, 6), cd1 = __builtin_shufflevector(c, d, 1, 5, 3, 7);
      const Quad row0 = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5), row1 = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
      const Quad row2 = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7), row3 = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
      std::memcpy(out, &row0, 32);
      std::memcpy(out + pitch, &row1, 32);
      std::memcpy(out + 2 * pitch, &row2, 32);
      std::memcpy(out + 3 * pitch, &row3, 32);
    }
    for (; y < Height; ++y, out += pitch)  // the last two rows of 8 x 14 cells
      for (size_t i = 0; i < 4; ++i) std::memcpy(out + 8 * i, g[i] + y, 8);
  }
  CopyCells<Height>(at, pitch, glyphs, text + k, n - k);
}
#endif

// Draws the n characters at `text` in fg on bg over text cells (row, column)
// onward of `page`; on one-byte pixels by copying the rendered glyphs. Every
// mode's cell is 8 pixels wide and its grid lies inside the page.
void DrawCells(const Screen& s, uint8_t* page, int32_t row, int32_t column, const uint8_t* text, size_t n,
               uint32_t fg, uint32_t bg) {
  GlyphSet f;
  BuiltinFont(s.cellHeight, f);
  const int32_t bpp = s.bytesPerPixel;
  const size_t pitch = size_t(s.pitch), height = size_t(f.height);
  uint8_t* at = page + size_t(row) * height * pitch + size_t(column) * 8 * size_t(bpp);
  if (bpp == 1) {
    RenderedCells& glyphs = RenderedGlyphs(f, fg, bg);
#ifdef SCR_WIDE_CELLS
    if (__builtin_cpu_supports("avx2")) switch (height) {
        case 8: return CopyCellsWide<8>(at, pitch, glyphs, text, n);
        case 14: return CopyCellsWide<14>(at, pitch, glyphs, text, n);
        default: return CopyCellsWide<16>(at, pitch, glyphs, text, n);
      }
#endif
    switch (height) {  // a loop of known length per cell height
      case 8: return CopyCells<8>(at, pitch, glyphs, text, n);
      case 14: return CopyCells<14>(at, pitch, glyphs, text, n);
      default: return CopyCells<16>(at, pitch, glyphs, text, n);
    }
  }
  const auto put = RoutinesFor(bpp).put;
  for (size_t y = 0; y < height; ++y, at += pitch)
    for (size_t k = 0; k < n; ++k)
      for (int32_t x = 0; x < 8; ++x)
        put(at, int32_t(8 * k) + x, (*GlyphRow(f, text[k], int64_t(y)) >> (7 - x)) & 1 ? fg : bg);
}

// Moves the text view's cells and pixel rows up one text row; the bottom row
// becomes blanks in fg on bg.
void ScrollView(Screen& s, uint8_t* page, std::vector<TextCell>& cells, uint32_t fg, uint32_t bg) {
  const int32_t top = ViewTop(s), bottom = ViewBottom(s);
  const size_t columns = size_t(s.textColumns);
  TextCell* view = cells.data() + size_t(top) * columns;
  std::copy(view + columns, view + size_t(bottom - top + 1) * columns, view);
  std::fill_n(view + size_t(bottom - top) * columns, columns, TextCell{32, fg, bg});
  const size_t rowBytes = size_t(s.cellHeight) * size_t(s.pitch);
  uint8_t* first = page + size_t(top) * rowBytes;
  std::memmove(first, first + rowBytes, size_t(bottom - top) * rowBytes);
  FillPixels(page + size_t(bottom) * rowBytes, int64_t(s.width) * s.cellHeight, s.bytesPerPixel, bg);
}

// ---------------------------------------------------------------------------
// Glyphs anywhere
// ---------------------------------------------------------------------------

struct Clip {
  int64_t x0, y0, x1, y1;  // inclusive
};

// Draws the set pixels of glyph `ch` with its top left at pixel (x, y), each a
// scale x scale block, inside `c`. Returns the rows it may have changed, or false.
bool DrawGlyph(DrawContext& d, const GlyphSet& f, uint8_t ch, int64_t x, int64_t y, int32_t scale,
               uint32_t colour, const Clip& c, int64_t& firstRow, int64_t& lastRow) {
  const int64_t xa = std::max(x, c.x0), xb = std::min(x + int64_t(f.width) * scale - 1, c.x1);
  const int64_t ya = std::max(y, c.y0), yb = std::min(y + int64_t(f.height) * scale - 1, c.y1);
  if (xa > xb || ya > yb) return false;
  firstRow = ya;
  lastRow = yb;
  const int32_t bpp = d.bytesPerPixel;
  if (bpp == 1 && f.width == 8 && scale <= 2 && xa == x && xb == x + 8 * scale - 1) {
    const uint64_t ink = (colour & 0xFF) * kEveryByte;
    for (int64_t py = ya; py <= yb; ++py) {
      const uint8_t bits = *GlyphRow(f, ch, (py - y) >> (scale - 1));  // scale 1 or 2: no division
      uint8_t* at = d.rows[size_t(py)] + x;
      if (scale == 1) {
        Blend(at, kRowMasks[bits], ink);
      } else {
        Blend(at, kDoubledMasks[bits >> 4], ink);
        Blend(at + 8, kDoubledMasks[bits & 15], ink);
      }
    }
    return true;
  }
  for (int64_t py = ya; py <= yb; ++py) {
    const uint8_t* bits = GlyphRow(f, ch, (py - y) / scale);
    uint8_t* row = d.rows[size_t(py)];
    for (int32_t gx = 0; gx < f.width;) {
      if (!Ink(bits, gx)) {
        ++gx;
        continue;
      }
      int32_t end = gx + 1;
      while (end < f.width && Ink(bits, end)) ++end;
      const int64_t from = std::max(x + int64_t(gx) * scale, xa), to = std::min(x + int64_t(end) * scale - 1, xb);
      if (from <= to) d.pixel.fill(row + size_t(from) * size_t(bpp), int32_t(to - from + 1), colour);
      gx = end;
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The Screen's text cells and cursor
// ---------------------------------------------------------------------------

void PagePrint(const KeyString& text) {
  Screen& s = *gLayer.screen;
  const DrawContext& dc = gLayer.draw;
  const int32_t columns = s.textColumns, top = ViewTop(s), bottom = ViewBottom(s);
  if (columns <= 0 || bottom < top) return;  // a Screen too small for one cell
  uint8_t* page = s.pages[size_t(dc.workPage)];
  std::vector<TextCell>& cells = s.textCells[size_t(dc.workPage)];
  const uint32_t fg = FitColour(dc.foreground, s.bytesPerPixel), bg = FitColour(dc.background, s.bytesPerPixel);
  int32_t row = std::clamp(s.cursorRow, top, bottom), column = s.cursorColumn;
  int32_t firstRow = INT32_MAX, lastRow = -1;  // text rows that changed
  PixelAccess access(s, dc.workPage == s.visiblePage);
  const auto newLine = [&] {
    column = 0;
    if (row < bottom) {
      ++row;
      return;
    }
    ScrollView(s, page, cells, fg, bg);
    firstRow = top;
    lastRow = bottom;
  };
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    switch (bytes[i]) {
      case '\n': newLine(); ++i; continue;
      case '\r': column = 0; ++i; continue;
      case '\t': column = std::min((std::min(column, columns - 1) / 8 + 1) * 8, columns); ++i; continue;
      case '\b': column = std::max(std::min(column, columns - 1) - 1, 0); ++i; continue;
    }
    if (column >= columns) newLine();  // the wrap waits for the next character
    // The characters up to the next control or the row's end go as one run.
    TextCell* cell = &cells[size_t(row) * size_t(columns) + size_t(column)];
    const size_t most = std::min(size_t(columns - column), text.size() - i);
    const size_t n = PlainRun(bytes + i, most);
    for (size_t k = 0; k < n; ++k) cell[k] = TextCell{bytes[i + k], fg, bg};
    DrawCells(s, page, row, column, bytes + i, n, fg, bg);
    firstRow = std::min(firstRow, row);
    lastRow = std::max(lastRow, row);
    column += int32_t(n);
    i += n;
  }
  s.cursorRow = row;
  s.cursorColumn = column;
  if (firstRow <= lastRow) access.Changed(firstRow * s.cellHeight, (lastRow + 1) * s.cellHeight - 1);
}

int32_t PageLocate(int32_t row, int32_t column) {
  Screen& s = *gLayer.screen;
  const bool rowOk = row == kOmitted || (int64_t(row) - 1 >= ViewTop(s) && int64_t(row) - 1 <= ViewBottom(s));
  const bool columnOk = column == kOmitted || (column >= 1 && column <= s.textColumns);
  if (!rowOk)
    return Fail(1, {"Locate: row ", row, " is outside the text view (", ViewTop(s) + 1, " to ", ViewBottom(s) + 1,
                    ")"});
  if (!columnOk) return Fail(1, {"Locate: column ", column, " is outside 1 to ", s.textColumns});
  if (row != kOmitted) s.cursorRow = row - 1;
  if (column != kOmitted) s.cursorColumn = column - 1;
  return SetError(0);
}

int32_t CharAt(int32_t row, int32_t column, int32_t what) {
  const Screen* s = gLayer.screen;
  if (!s || row < 1 || row > s->textRows || column < 1 || column > s->textColumns || what < 0 || what > 2)
    return -1;
  const TextCell& c =
      s->textCells[size_t(gLayer.draw.workPage)][size_t(row - 1) * size_t(s->textColumns) + size_t(column - 1)];
  return int32_t(what == 0 ? c.character : what == 1 ? c.foreground : c.background);
}

// ---------------------------------------------------------------------------
// Glyphs anywhere
// ---------------------------------------------------------------------------

int32_t DrawText(ImageBuffer* target, float x, float y, const KeyString& text, uint32_t colour, int32_t scale,
                 int32_t font) {
  GlyphSet f;
  if (!SelectTarget(target)) return RefuseTarget("DrawText");
  if (scale < 1) return Fail(1, {"DrawText: scale ", scale, " is below 1"});
  if (!FindFont(font, f)) return Fail(1, {"DrawText: font ", font, " does not exist"});
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py)) return Fail(1, {"DrawText: a coordinate is NaN"});
  colour = FitColour(colour, d.bytesPerPixel);
  const GraphicsView& v = d.view;
  const Clip clip{v.x, v.y, int64_t(v.x) + v.width - 1, int64_t(v.y) + v.height - 1};
  const int64_t advance = int64_t(f.width) * scale, lineHeight = int64_t(f.height) * scale;
  int64_t penX = px, lineY = py, firstRow = INT64_MAX, lastRow = INT64_MIN;
  PixelAccess access(s, TargetIsVisible(d, s));
  for (size_t i = 0; i < text.size() && lineY <= clip.y1; ++i) {
    if (text[i] == '\n') {
      penX = px;
      lineY += lineHeight;
      continue;
    }
    if (penX > clip.x1 || lineY + lineHeight - 1 < clip.y0) {  // nothing more of this line shows
      const size_t next = text.find('\n', i);
      if (next == KeyString::npos) break;
      i = next - 1;
      continue;
    }
    int64_t first, last;
    if (DrawGlyph(d, f, uint8_t(text[i]), penX, lineY, scale, colour, clip, first, last)) {
      firstRow = std::min(firstRow, first);
      lastRow = std::max(lastRow, last);
    }
    penX += advance;
  }
  if (firstRow <= lastRow) access.Changed(int32_t(firstRow), int32_t(lastRow));
  return SetError(0);
}

int32_t TextWidth(const KeyString& text, int32_t scale, int32_t font) {
  GlyphSet f;
  if (scale < 1 || !FindFont(font, f)) return -1;
  int64_t longest = 0, run = 0;
  for (const char c : text) longest = std::max(longest, run = c == '\n' ? 0 : run + 1);
  const int64_t advance = int64_t(f.width) * scale;
  return longest > INT32_MAX / advance ? INT32_MAX : int32_t(longest * advance);
}

int32_t FontFromImage(const void* image, int32_t cellWidth, int32_t cellHeight) {
  const auto refuse = [](std::initializer_list<DetailPiece> why) {
    Fail(1, why);
    return -1;
  };
  if (cellWidth < 1 || cellWidth > kMaxFontSide || cellHeight < 1 || cellHeight > kMaxFontSide)
    return refuse({"FontFromImage: a cell of ", cellWidth, " x ", cellHeight, " is outside 1 to ", kMaxFontSide});
  if (gLayer.fonts.size() >= kMaxImageFonts)
    return refuse({"FontFromImage: ", int64_t(kMaxImageFonts), " fonts are made already"});
  ImageShape shape;
  if (!image) return refuse({"FontFromImage: no image"});
  if (!ReadImageShape(image, gLayer.screen ? gLayer.screen->bytesPerPixel : 1, shape))
    return refuse({"FontFromImage: the image's header is refused"});
  if (shape.width < 16 * cellWidth || shape.height < 16 * cellHeight)
    return refuse({"FontFromImage: the image's ", shape.width, " x ", shape.height,
                   " is smaller than 16 x 16 cells of ", cellWidth, " x ", cellHeight});
  ImageFont font{cellWidth, cellHeight, (cellWidth + 7) / 8, {}};
  font.rows.assign(size_t(256) * size_t(cellHeight) * size_t(font.bytesPerRow), 0);
  const uint8_t* pixels = static_cast<const uint8_t*>(image) + shape.headerSize;
  const int32_t bpp = shape.bytesPerPixel;
  for (int32_t g = 0; g < 256; ++g) {
    for (int32_t y = 0; y < cellHeight; ++y) {
      const uint8_t* src =
          pixels + (int64_t(g / 16) * cellHeight + y) * shape.pitch + int64_t(g % 16) * cellWidth * bpp;
      uint8_t* dst = &font.rows[(size_t(g) * size_t(cellHeight) + size_t(y)) * size_t(font.bytesPerRow)];
      for (int32_t x = 0; x < cellWidth; ++x)
        if (ReadPixel(src, x, bpp) != 0) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
  }
  gLayer.fonts.push_back(std::move(font));
  SetError(0);
  return kFirstImageFont + int32_t(gLayer.fonts.size() - 1);
}

}  // namespace scr
