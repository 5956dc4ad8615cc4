// draw.cpp - the DrawContext and the pixel primitives: PutPixel, GetPixel and
// DrawLine (segment, outline, filled rectangle).
//
// Every operation first makes sure the context belongs to the open Screen,
// selects its target, converts its coordinates and clips them, and only then
// takes the screen lock for the pixel writes. Rows of the visible page that
// change are flagged in DirtyRows while the lock is held.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DRAW_HAVE_WIDE_FILL 1
#endif

#include "draw_internal.h"

using namespace draw_detail;

namespace {

// ---------------------------------------------------------------------------
// PixelRoutines for 1, 2 and 4 bytes per pixel
// ---------------------------------------------------------------------------

void Put1(uint8_t* row, int32_t x, uint32_t c) { row[x] = uint8_t(c); }
void Put2(uint8_t* row, int32_t x, uint32_t c) { WriteU16(row + size_t(x) * 2, uint16_t(c)); }
void Put4(uint8_t* row, int32_t x, uint32_t c) { WriteU32(row + size_t(x) * 4, c); }

uint32_t Get1(const uint8_t* row, int32_t x) { return row[x]; }
uint32_t Get2(const uint8_t* row, int32_t x) { return ReadU16(row + size_t(x) * 2); }
uint32_t Get4(const uint8_t* row, int32_t x) { return ReadU32(row + size_t(x) * 4); }

void Fill1(uint8_t* at, int32_t count, uint32_t c) {
  if (count > 0) std::memset(at, int(c & 0xFF), size_t(count));
}

// Filling one-byte rows: `count` bytes from `at` in each of `rows` rows,
// `pitch` bytes apart (rows of a target are evenly spaced; stepping by the
// pitch keeps the row table's loads out of the store-bound loop).
using RowFill = void (*)(uint8_t* at, ptrdiff_t pitch, int64_t rows, size_t count, uint8_t value);

void FillRowsPlain(uint8_t* at, ptrdiff_t pitch, int64_t rows, size_t count, uint8_t value) {
  for (; rows > 0; --rows, at += pitch) std::memset(at, value, count);
}

#ifdef DRAW_HAVE_WIDE_FILL
// Runs of one vector or more are stored in whole vectors, the last one ending
// exactly at the run's end. For rows of a few hundred bytes this costs far
// less than a library call per row; long runs still go to memset. (Written
// out per instruction set: the stores must inline into their target.)
__attribute__((target("avx2"))) void FillRowsAvx2(uint8_t* at, ptrdiff_t pitch, int64_t rows,
                                                  size_t count, uint8_t value) {
  if (count < 32 || count >= 4096) return FillRowsPlain(at, pitch, rows, count, value);
  const __m256i v = _mm256_set1_epi8(char(value));
  for (; rows > 0; --rows, at += pitch) {
    size_t i = 0;
    for (; i + 32 <= count; i += 32) _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + i), v);
    if (i < count) _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + count - 32), v);
  }
}

__attribute__((target("avx512f"))) void FillRowsAvx512(uint8_t* at, ptrdiff_t pitch,
                                                      int64_t rows, size_t count, uint8_t value) {
  if (count < 64 || count >= 4096) return FillRowsAvx2(at, pitch, rows, count, value);
  const __m512i v = _mm512_set1_epi32(int(value * 0x01010101u));
  for (; rows > 0; --rows, at += pitch) {
    size_t i = 0;
    for (; i + 64 <= count; i += 64) _mm512_storeu_si512(at + i, v);
    if (i < count) _mm512_storeu_si512(at + count - 64, v);
  }
}
#endif

// The widest one-byte row fill the processor supports (read once from its feature flags).
RowFill BestRowFill() {
#ifdef DRAW_HAVE_WIDE_FILL
  static const RowFill best = __builtin_cpu_supports("avx512f") ? FillRowsAvx512
                              : __builtin_cpu_supports("avx2")  ? FillRowsAvx2
                                                                : FillRowsPlain;
  return best;
#else
  return FillRowsPlain;
#endif
}

// A one-byte run as a PixelRoutines fill.
void Fill1Best(uint8_t* at, int32_t count, uint32_t c) {
  if (count < 32) {
    Fill1(at, count, c);
    return;
  }
  BestRowFill()(at, 0, 1, size_t(count), uint8_t(c));
}

// Wider pixels repeat into an 8-byte pattern that is stored in whole units.
template <int Bpp>
void FillWide(uint8_t* at, int32_t count, uint32_t c) {
  if (count <= 0) return;
  const uint64_t pattern = Bpp == 2 ? uint64_t(uint16_t(c)) * 0x0001000100010001ull
                                    : uint64_t(c) * 0x0000000100000001ull;
  size_t bytes = size_t(count) * Bpp;
  for (; bytes >= 8; bytes -= 8, at += 8) std::memcpy(at, &pattern, 8);
  if (bytes) std::memcpy(at, &pattern, bytes);  // the pattern repeats every Bpp bytes
}

// The (target) row and image shape last selected, to notice headers that change.
struct TargetMemo {
  const void* image = nullptr;
  ImageShape shape;
};
TargetMemo gMemo;

bool SameShape(const ImageShape& a, const ImageShape& b) {
  return a.bytesPerPixel == b.bytesPerPixel && a.width == b.width && a.height == b.height &&
         a.pitch == b.pitch && a.headerSize == b.headerSize;
}

// Points the row table at the work page (an empty view when it has none).
void FillWorkRows(DrawContext& d, const Screen& s) {
  if (d.rows.size() < size_t(s.height)) d.rows.resize(size_t(s.height));
  if (d.workPage < 0 || size_t(d.workPage) >= s.pages.size() || !s.pages[d.workPage]) {
    d.view = GraphicsView{};
    return;
  }
  uint8_t* row = s.pages[d.workPage];
  for (int32_t y = 0; y < s.height; ++y, row += s.pitch) d.rows[y] = row;
}

// Style bit for position `index` (bit 15 first, every 16 positions).
inline bool StyleBit(uint32_t style, int64_t index) {
  return (style >> (15 - (index & 15))) & 1u;
}

// ---------------------------------------------------------------------------
// Rectangles
// ---------------------------------------------------------------------------

void DrawRect(DrawContext& d, Screen& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
              uint32_t colour, bool filled, uint32_t style) {
  const GraphicsView& v = d.view;
  const int64_t vx0 = v.x, vy0 = v.y;
  const int64_t vx1 = int64_t(v.x) + v.width - 1, vy1 = int64_t(v.y) + v.height - 1;
  if (x2 < vx0 || y2 < vy0 || x1 > vx1 || y1 > vy1) return;
  const int64_t cx1 = std::max(x1, vx0), cy1 = std::max(y1, vy0);
  const int64_t cx2 = std::min(x2, vx1), cy2 = std::min(y2, vy1);
  const int32_t bpp = d.bytesPerPixel;
  const int32_t run = int32_t(cx2 - cx1 + 1);
  auto fill = d.pixel.fill;
  auto put = d.pixel.put;

  const int32_t lockDepth = LockForDrawing(s);
  if (filled) {
    uint8_t* const* rows = d.rows.data();
    const size_t offset = size_t(cx1) * bpp;
    // Rows that follow each other in memory with nothing between them are
    // filled as one run.
    const int64_t rowBytes = int64_t(run) * bpp;
    const int64_t rowCount = cy2 - cy1 + 1;
    if (rowBytes == d.pitch && rowCount > 1 &&
        rows[cy2] == rows[cy1] + (cy2 - cy1) * int64_t(d.pitch) &&
        rowBytes * rowCount <= INT32_MAX) {
      fill(rows[cy1] + offset, int32_t(int64_t(run) * rowCount), colour);
    } else if (bpp == 1) {
      BestRowFill()(rows[cy1] + offset, d.pitch, rowCount, size_t(run), uint8_t(colour));
    } else {
      for (int64_t y = cy1; y <= cy2; ++y) fill(rows[y] + offset, run, colour);
    }
  } else {
    const int64_t w = x2 - x1 + 1, h = y2 - y1 + 1;
    const bool solid = style == 0xFFFF;
    auto hEdge = [&](int64_t y, int64_t k0) {
      uint8_t* row = d.rows[y];
      if (solid) {
        fill(row + size_t(cx1) * bpp, run, colour);
        return;
      }
      for (int64_t x = cx1; x <= cx2; ++x) {
        if (StyleBit(style, k0 + (x - x1))) put(row, int32_t(x), colour);
      }
    };
    auto vEdge = [&](int64_t x, int64_t k0) {
      if (solid && bpp == 1) {
        // One byte per row: stored directly, stepping through the row table.
        uint8_t* const* rows = d.rows.data();
        for (int64_t y = cy1; y <= cy2; ++y) rows[y][x] = uint8_t(colour);
        return;
      }
      if (solid) {
        for (int64_t y = cy1; y <= cy2; ++y) put(d.rows[y], int32_t(x), colour);
        return;
      }
      for (int64_t y = cy1; y <= cy2; ++y) {
        if (StyleBit(style, k0 + (y - y1))) put(d.rows[y], int32_t(x), colour);
      }
    };
    int64_t k = 0;  // style position, running on from edge to edge
    if (y2 <= vy1) hEdge(y2, k);  // bottom
    k += w;
    if (y1 >= vy0) hEdge(y1, k);  // top
    k += w;
    if (x2 <= vx1) vEdge(x2, k);  // right
    k += h;
    if (x1 >= vx0) vEdge(x1, k);  // left
  }
  if (TargetIsVisible(d, s)) MarkDirtyRows(s, int32_t(cy1), int32_t(cy2));
  UnlockForDrawing(s, lockDepth);
}

// ---------------------------------------------------------------------------
// Straight segments
// ---------------------------------------------------------------------------

// Position i of the segment (0 at the first point) steps the major axis by i
// and the minor axis by floor((2 * i * minor + major) / (2 * major)): exact
// integer rounding. Only the positions whose major coordinate lies in the view
// are visited; the error term is set up directly at the first of them.
void DrawSegment(DrawContext& d, Screen& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                 uint32_t colour, uint32_t style) {
  const GraphicsView& v = d.view;
  if (v.width <= 0 || v.height <= 0) return;
  const int64_t vx0 = v.x, vy0 = v.y;
  const int64_t vx1 = int64_t(v.x) + v.width - 1, vy1 = int64_t(v.y) + v.height - 1;
  const int64_t dx = x2 - x1, dy = y2 - y1;
  const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  const bool xMajor = adx >= ady;
  const int64_t major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
  const int64_t m0 = xMajor ? x1 : y1, sm = xMajor ? sx : sy;
  const int64_t lo = xMajor ? vx0 : vy0, hi = xMajor ? vx1 : vy1;

  int64_t iLo = sm > 0 ? lo - m0 : m0 - hi;
  int64_t iHi = sm > 0 ? hi - m0 : m0 - lo;
  iLo = std::max<int64_t>(iLo, 0);
  iHi = std::min<int64_t>(iHi, major);
  if (iLo > iHi) return;

  const int64_t den = 2 * major;
  int64_t q = 0, r = 0;
  if (major > 0) {
    const __int128 num = __int128(2) * iLo * minor + major;
    q = int64_t(num / den);
    r = int64_t(num % den);
  }
  const bool solid = style == 0xFFFF;
  int64_t firstRow = INT64_MAX, lastRow = INT64_MIN;
  auto put = d.pixel.put;

  const int32_t lockDepth = LockForDrawing(s);
  for (int64_t i = iLo; i <= iHi; ++i) {
    const int64_t a = m0 + sm * i;
    const int64_t b = xMajor ? y1 + sy * q : x1 + sx * q;
    const int64_t px = xMajor ? a : b, py = xMajor ? b : a;
    if (py >= vy0 && py <= vy1 && px >= vx0 && px <= vx1 && (solid || StyleBit(style, i))) {
      put(d.rows[py], int32_t(px), colour);
      firstRow = std::min(firstRow, py);
      lastRow = std::max(lastRow, py);
    }
    r += 2 * minor;
    if (r >= den) {
      r -= den;
      ++q;
    }
  }
  if (firstRow <= lastRow && TargetIsVisible(d, s)) {
    MarkDirtyRows(s, int32_t(firstRow), int32_t(lastRow));
  }
  UnlockForDrawing(s, lockDepth);
}

}  // namespace

// ---------------------------------------------------------------------------
// The context
// ---------------------------------------------------------------------------

namespace draw_detail {

PixelRoutines RoutinesFor(int32_t bytesPerPixel) {
  PixelRoutines p;
  switch (bytesPerPixel) {
    case 2:
      p.put = Put2, p.get = Get2, p.fill = FillWide<2>;
      break;
    case 4:
      p.put = Put4, p.get = Get4, p.fill = FillWide<4>;
      break;
    default:
      p.put = Put1, p.get = Get1;
      p.fill = Fill1Best;
      break;
  }
  return p;
}

bool SelectTargetChecked(const void* target) {
  Screen* s = gLayer.screen;
  if (!s) return false;
  DrawContext& d = gLayer.draw;
  if (d.screenId != s->id && !EnsureDrawContext()) return false;

  if (!target) {
    if (d.flags & (DrawFlags::Fresh | DrawFlags::ImageTarget)) {
      d.view = d.savedView;
      d.bytesPerPixel = s->bytesPerPixel;
      d.pitch = s->pitch;
      FillWorkRows(d, *s);
      d.pixel = RoutinesFor(d.bytesPerPixel);
      d.flags &= ~(DrawFlags::Fresh | DrawFlags::ImageTarget);
      gMemo = TargetMemo{};
    }
    d.target = nullptr;
    return true;
  }

  ImageShape shape;
  if (!ReadImageShape(target, s->bytesPerPixel, shape)) return false;
  if ((d.flags & DrawFlags::ImageTarget) && d.target == target && gMemo.image == target &&
      SameShape(gMemo.shape, shape)) {
    return true;
  }
  if (d.flags & DrawFlags::Fresh) {
    // The work page was never selected since the rebuild: its view is the saved one.
    d.flags &= ~DrawFlags::Fresh;
  } else if (!(d.flags & DrawFlags::ImageTarget)) {
    d.savedView = d.view;
  }
  d.view = GraphicsView{0, 0, shape.width, shape.height};
  d.bytesPerPixel = shape.bytesPerPixel;
  d.pitch = int32_t(shape.pitch);
  if (d.rows.size() < size_t(shape.height)) d.rows.resize(size_t(shape.height));
  uint8_t* row = static_cast<uint8_t*>(const_cast<void*>(target)) + shape.headerSize;
  for (int32_t y = 0; y < shape.height; ++y, row += shape.pitch) d.rows[y] = row;
  d.pixel = RoutinesFor(d.bytesPerPixel);
  d.flags |= DrawFlags::ImageTarget;
  d.target = target;
  gMemo.image = target;
  gMemo.shape = shape;
  return true;
}

}  // namespace draw_detail

bool EnsureDrawContext() {
  Screen* s = gLayer.screen;
  if (!s) return false;
  DrawContext& d = gLayer.draw;
  if (d.screenId == s->id && d.screenId != 0) return true;

  d = DrawContext{};
  gMemo = TargetMemo{};
  d.screenId = s->id;
  d.rows.assign(size_t(std::max(s->height, 0)), nullptr);
  d.savedView = GraphicsView{0, 0, s->width, s->height};
  const uint32_t mask = s->depth >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << s->depth) - 1;
  d.foreground = (s->depth >= 5 && s->depth <= 8) ? 15u : mask;
  d.background = mask & 0xFF000000u;
  d.flags = DrawFlags::Fresh;
  SelectTargetChecked(nullptr);
  return true;
}

void SelectTarget(const void* target) { SelectTargetChecked(target); }

void RetargetWorkPage() {
  Screen* s = gLayer.screen;
  DrawContext& d = gLayer.draw;
  if (!s || d.screenId != s->id) return;
  // While an image is the target the next work-page selection rebuilds the rows.
  if (d.flags & (DrawFlags::ImageTarget | DrawFlags::Fresh)) return;
  FillWorkRows(d, *s);
}

// ---------------------------------------------------------------------------
// The primitives
// ---------------------------------------------------------------------------

void PutPixel(ImageBuffer* target, float x, float y, uint32_t colour, int32_t form,
              int32_t useBackground) {
  if (!ReadyContext() || !Select(target)) return;
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  if (form < 0) {
    colour = useBackground ? d.background : d.foreground;
  } else {
    colour = FitColour(colour, d.bytesPerPixel);
  }
  const int32_t how = form & 7;
  if (how == 2 || how == 3 || how == 5) {
    x += d.lastX;
    y += d.lastY;
  }
  d.lastX = x;
  d.lastY = y;
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py) || !InsideView(d.view, px, py)) return;

  const int32_t lockDepth = LockForDrawing(s);
  uint8_t* row = d.rows[size_t(py)];
  d.pixel.put(row, int32_t(px), colour);
  if (TargetIsVisible(d, s)) MarkDirtyRows(s, int32_t(py), int32_t(py));
  UnlockForDrawing(s, lockDepth);
}

// Any GetPixel: selection, conversion, clipping, any pixel size.
[[gnu::noinline]] static int32_t GetPixelGeneral(ImageBuffer* target, float x, float y) {
  if (!ReadyContext() || !Select(target)) return -1;
  const DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py) || !InsideView(d.view, px, py)) return -1;

  const int32_t lockDepth = LockForDrawing(s);
  const uint8_t* row = d.rows[size_t(py)];
  uint32_t v = d.bytesPerPixel == 1 ? row[px] : d.pixel.get(row, int32_t(px));
  UnlockForDrawing(s, lockDepth);
  if (d.bytesPerPixel == 2 && s.depth == 16) v = Widen565(v);
  return int32_t(v);
}

int32_t GetPixel(ImageBuffer* target, float x, float y) {
  // The usual call, taken straight through: the open Screen's work page as the
  // target (already selected), plain view coordinates, whole numbers, one-byte
  // pixels. Anything else goes through GetPixelGeneral, with the same result.
  Screen* const s = gLayer.screen;
  const DrawContext& d = gLayer.draw;
  if (s && !target && d.flags == 0 && d.bytesPerPixel == 1 && d.screenId == s->id) [[likely]] {
    const int32_t wx = TruncToInt32(x), wy = TruncToInt32(y);
    if (float(wx) == x && float(wy) == y) [[likely]] {
      // Relative to the view's corner: inside when 0 <= w < view size.
      if (wx < 0 || wx >= d.view.width || wy < 0 || wy >= d.view.height) return -1;
      const uint8_t* at = d.rows[size_t(int64_t(wy) + d.view.y)] + (int64_t(wx) + d.view.x);
      const int32_t lockDepth = LockForDrawing(*s);
      const uint32_t v = *at;
      UnlockForDrawing(*s, lockDepth);
      return int32_t(v);
    }
  }
  return GetPixelGeneral(target, x, y);
}

void DrawLine(ImageBuffer* target, float x1, float y1, float x2, float y2, uint32_t colour,
              int32_t shape, uint32_t style, int32_t form) {
  if (!ReadyContext() || !Select(target)) return;
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  colour = form < 0 ? d.foreground : FitColour(colour, d.bytesPerPixel);
  style &= 0xFFFF;
  ApplyCornerForm(d, form, x1, y1, x2, y2);
  int64_t ax, ay, bx, by;
  if (!ToPixel(d, x1, y1, ax, ay) || !ToPixel(d, x2, y2, bx, by)) return;

  if (shape == LineShape::Line) {
    DrawSegment(d, s, ax, ay, bx, by, colour, style);
    return;
  }
  if (ax > bx) std::swap(ax, bx);
  if (ay > by) std::swap(ay, by);
  DrawRect(d, s, ax, ay, bx, by, colour, shape == LineShape::FilledBox, style);
}
