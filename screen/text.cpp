// text.cpp - text on the Screen: the work page's text cells and cursor
// (Print, Locate, CharAt and the text view's scroll), and glyphs anywhere
// (DrawText, TextWidth and the fonts made from images).
//
// How a glyph row becomes pixels: on one-byte pixels an 8-wide row is one
// 8-byte store. A table turns the row's byte into a mask of whole bytes, and
// the mask picks foreground or background bytes (a cell) or the ink over the
// page's own bytes (DrawText). Wider pixels, scaled, clipped or other-width
// glyphs fill the runs of set bits instead.
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

// Byte b of a glyph row as 8 pixel bytes in memory order: 0xFF where b has a bit set.
constexpr std::array<uint64_t, 256> MakeRowMasks() {
  std::array<uint64_t, 256> masks{};
  for (int b = 0; b < 256; ++b)
    for (int x = 0; x < 8; ++x)
      if ((b >> (7 - x)) & 1) masks[size_t(b)] |= uint64_t(0xFF) << (8 * (std::endian::native == std::endian::little ? x : 7 - x));
  return masks;
}
constexpr std::array<uint64_t, 256> kRowMasks = MakeRowMasks();

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

void PutOne(uint8_t* at, int32_t bpp, uint32_t colour) {
  if (bpp == 1) *at = uint8_t(colour);
  else if (bpp == 2) WriteU16(at, uint16_t(colour));
  else WriteU32(at, colour);
}

// ---------------------------------------------------------------------------
// Text cells
// ---------------------------------------------------------------------------

int32_t ViewTop(const Screen& s) { return s.textTop < 0 ? 0 : s.textTop; }
int32_t ViewBottom(const Screen& s) { return s.textBottom < 0 ? s.textRows - 1 : s.textBottom; }

// Draws `ch` in fg on bg over text cell (row, column) of `page`. Every mode's
// cell is 8 pixels wide and its grid lies inside the page.
void DrawCell(const Screen& s, uint8_t* page, int32_t row, int32_t column, uint8_t ch, uint32_t fg,
              uint32_t bg) {
  GlyphSet f;
  BuiltinFont(s.cellHeight, f);
  const int32_t bpp = s.bytesPerPixel;
  uint8_t* at = page + size_t(row) * size_t(s.cellHeight) * size_t(s.pitch) + size_t(column) * 8 * size_t(bpp);
  const uint8_t* glyph = GlyphRow(f, ch, 0);
  if (bpp == 1) {
    const uint64_t ink = (fg & 0xFF) * kEveryByte, paper = (bg & 0xFF) * kEveryByte;
    for (int32_t y = 0; y < f.height; ++y, at += s.pitch) {
      const uint64_t mask = kRowMasks[glyph[y]];
      const uint64_t v = (ink & mask) | (paper & ~mask);
      std::memcpy(at, &v, 8);
    }
    return;
  }
  for (int32_t y = 0; y < f.height; ++y, at += s.pitch)
    for (int32_t x = 0; x < 8; ++x) PutOne(at + size_t(x) * size_t(bpp), bpp, (glyph[y] >> (7 - x)) & 1 ? fg : bg);
}

// Moves the text view's cells and pixel rows up one text row; the bottom row
// becomes blanks in fg on bg.
void ScrollView(Screen& s, uint8_t* page, std::vector<TextCell>& cells, uint32_t fg, uint32_t bg) {
  const int32_t top = ViewTop(s), bottom = ViewBottom(s);
  const size_t columns = size_t(s.textColumns);
  std::copy(cells.begin() + ptrdiff_t(size_t(top + 1) * columns), cells.begin() + ptrdiff_t(size_t(bottom + 1) * columns),
            cells.begin() + ptrdiff_t(size_t(top) * columns));
  std::fill_n(cells.begin() + ptrdiff_t(size_t(bottom) * columns), columns, TextCell{32, fg, bg});
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
  if (bpp == 1 && f.width == 8 && scale == 1 && xa == x && xb == x + 7) {
    const uint64_t ink = (colour & 0xFF) * kEveryByte;
    for (int64_t py = ya; py <= yb; ++py) {
      const uint64_t mask = kRowMasks[*GlyphRow(f, ch, py - y)];
      if (!mask) continue;
      uint8_t* at = d.rows[size_t(py)] + x;
      uint64_t v;
      std::memcpy(&v, at, 8);
      v = (v & ~mask) | (ink & mask);
      std::memcpy(at, &v, 8);
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

uint32_t PixelAt(const uint8_t* at, int32_t bpp) {
  return bpp == 1 ? *at : bpp == 2 ? ReadU16(at) : ReadU32(at);
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
  for (const char byte : text) {
    const uint8_t c = uint8_t(byte);
    switch (c) {
      case '\n': newLine(); break;
      case '\r': column = 0; break;
      case '\t': column = std::min((std::min(column, columns - 1) / 8 + 1) * 8, columns); break;
      case '\b': column = std::max(std::min(column, columns - 1) - 1, 0); break;
      default:
        if (column >= columns) newLine();  // the wrap waits for the next character
        cells[size_t(row) * size_t(columns) + size_t(column)] = TextCell{c, fg, bg};
        DrawCell(s, page, row, column, c, fg, bg);
        firstRow = std::min(firstRow, row);
        lastRow = std::max(lastRow, row);
        ++column;
    }
  }
  s.cursorRow = row;
  s.cursorColumn = column;
  if (firstRow <= lastRow) access.Changed(firstRow * s.cellHeight, (lastRow + 1) * s.cellHeight - 1);
}

int32_t PageLocate(int32_t row, int32_t column) {
  Screen& s = *gLayer.screen;
  const bool rowOk = row == kOmitted || (int64_t(row) - 1 >= ViewTop(s) && int64_t(row) - 1 <= ViewBottom(s));
  const bool columnOk = column == kOmitted || (column >= 1 && column <= s.textColumns);
  if (!rowOk || !columnOk) return SetError(1);
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
  if (!SelectTarget(target) || scale < 1 || !FindFont(font, f)) return SetError(1);
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py)) return SetError(1);
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
  ImageShape shape;
  const bool sizeOk = cellWidth >= 1 && cellWidth <= kMaxFontSide && cellHeight >= 1 && cellHeight <= kMaxFontSide;
  if (!sizeOk || gLayer.fonts.size() >= kMaxImageFonts ||
      !ReadImageShape(image, gLayer.screen ? gLayer.screen->bytesPerPixel : 1, shape) ||
      shape.width < 16 * cellWidth || shape.height < 16 * cellHeight) {
    SetError(1);
    return -1;
  }
  ImageFont font{cellWidth, cellHeight, (cellWidth + 7) / 8, {}};
  font.rows.assign(size_t(256) * size_t(cellHeight) * size_t(font.bytesPerRow), 0);
  const uint8_t* pixels = static_cast<const uint8_t*>(image) + shape.headerSize;
  const int32_t bpp = shape.bytesPerPixel;
  for (int32_t g = 0; g < 256; ++g) {
    for (int32_t y = 0; y < cellHeight; ++y) {
      const uint8_t* src = pixels + (int64_t(g / 16) * cellHeight + y) * shape.pitch + int64_t(g % 16) * cellWidth * bpp;
      uint8_t* dst = &font.rows[(size_t(g) * size_t(cellHeight) + size_t(y)) * size_t(font.bytesPerRow)];
      for (int32_t x = 0; x < cellWidth; ++x)
        if (PixelAt(src + int64_t(x) * bpp, bpp) != 0) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
  }
  gLayer.fonts.push_back(std::move(font));
  SetError(0);
  return kFirstImageFont + int32_t(gLayer.fonts.size() - 1);
}

}  // namespace scr
