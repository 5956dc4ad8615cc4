// shapes.cpp - circles, ellipses, arcs and pies (DrawCircle) and the
// scanline flood fill (FloodFill).
//
// Both work row by row over the current target's row table, clipped to the
// graphics view, under the screen lock when the target is the visible page,
// and flag the rows they touch. Neither touches the error number.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "draw.h"
#include "lock.h"
#include "pixels.h"

namespace scr {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// ---------------------------------------------------------------------------
// Ellipses
// ---------------------------------------------------------------------------

// An ellipse about a pixel centre holds the pixels (x, y) with
// x^2 / a2 + y^2 / b2 <= 1, where a2 = rx^2 + rx and b2 = ry^2 + ry: for a
// whole radius r that is x^2 + y^2 <= r^2 + r, the shape of the midpoint
// circle. Each row of it is one run -w..w.
struct Ellipse {
  double a2, b2;
  int64_t rows;  // rows -rows..rows hold pixels

  // The largest w with w^2 / a2 + dy^2 / b2 <= 1; -1 for a row outside.
  int64_t HalfWidth(int64_t dy) const {
    const double dy2 = double(dy) * double(dy);
    if (dy < -rows || dy > rows) return -1;
    const double w2 = b2 > 0 ? a2 - dy2 * (a2 / b2) : a2;  // exact for whole circles
    return int64_t(std::floor(std::sqrt(std::max(w2, 0.0)) + 1e-9));
  }
};

// The part of the circle an arc keeps: pixels whose angle (counter-clockwise
// from the right, y up, measured before the aspect squeezes the circle) lies
// in [start, start + sweep). The centre counts as angle 0, so complementary
// arcs and pies share no pixel.
struct Arc {
  bool whole = true;
  double start = 0, sweep = 0;
  double sx = 1, sy = 1;  // to the circle's angles: (dx * sx, -dy * sy)

  bool Holds(int64_t dx, int64_t dy) const {
    if (whole) return true;
    double angle = std::atan2(-double(dy) * sy, double(dx) * sx) - start;  // atan2(0, 0) is 0
    while (angle < 0) angle += kTwoPi;
    return angle < sweep;
  }
};

// Draws the run x1..x2 of row y (already inside the view), the arc's pixels only.
void PutRun(DrawContext& d, int64_t y, int64_t x1, int64_t x2, int64_t cx, int64_t cy, const Arc& arc,
            uint32_t colour) {
  uint8_t* row = d.rows[size_t(y)];
  if (arc.whole) {
    d.pixel.fill(row + size_t(x1) * d.bytesPerPixel, int32_t(x2 - x1 + 1), colour);
    return;
  }
  for (int64_t x = x1; x <= x2; ++x) {
    if (arc.Holds(x - cx, y - cy)) d.pixel.put(row, int32_t(x), colour);
  }
}

// Angles as [0, 2pi) and the sweep from start to end; false for NaN or infinite angles.
bool MakeArc(double start, double end, Arc& arc) {
  if (!std::isfinite(start) || !std::isfinite(end)) return false;
  double sweep = std::fmod(end - start, kTwoPi);
  if (sweep < 0) sweep += kTwoPi;
  arc.whole = sweep == 0;
  arc.start = std::fmod(start, kTwoPi);
  if (arc.start < 0) arc.start += kTwoPi;
  arc.sweep = sweep;
  return true;
}

// ---------------------------------------------------------------------------
// Flood fill
// ---------------------------------------------------------------------------

// A run of row y - dir that was filled: row y is searched below it.
struct Span {
  int64_t y, left, right, dir;
};

#if defined(__GNUC__)
using Bytes16 = uint64_t __attribute__((vector_size(16)));
#endif

// How many of the n bytes from p (forward) or before p (backward) repeat
// `pattern`, whose period divides 8 and which starts at p (ends at p).
template <bool Forward>
size_t SameBytes(const uint8_t* p, size_t n, uint64_t pattern) {
  size_t k = 0;
  auto at = [&](size_t bytes) { return Forward ? p + k : p - k - bytes; };
#if defined(__GNUC__)
  const Bytes16 s = {pattern, pattern};
  for (; k + 128 <= n; k += 128) {
    Bytes16 differ = {0, 0};
    for (int i = 0; i < 8; ++i) {
      Bytes16 bytes;
      std::memcpy(&bytes, at(128) + 16 * i, 16);
      differ |= bytes ^ s;
    }
    if (differ[0] | differ[1]) break;
  }
#endif
  for (uint64_t bytes; k + 8 <= n; k += 8) {
    std::memcpy(&bytes, at(8), 8);
    if (bytes != pattern) break;
  }
  return k;  // a multiple of 8: the caller only counts whole rows of 8 or more bytes
}

// What the fill may take: the seed's colour, or (with a border) anything but
// the border colour not yet filled, remembered in a bit per view pixel. One
// form per pixel size and kind, so each test is a plain compare.
template <int Bpp, bool Bordered>
struct Region {
  uint32_t seed, border, fill;
  int64_t vx, vy, vw;
  std::vector<uint64_t> done;  // bordered only

  bool Takes(const uint8_t* row, int64_t x, int64_t y) const {
    const uint32_t v = ReadPixel(row, x, Bpp);
    if constexpr (!Bordered) {
      return v == seed;
    } else {
      const size_t bit = size_t((y - vy) * vw + (x - vx));
      return v != border && !((done[bit >> 6] >> (bit & 63)) & 1);
    }
  }

  // Fills row y from a to the end of the run through x (which the fill
  // takes), at most to hi; returns the run's last pixel. Without a border the
  // run's end is found 128 bytes a step first (open 320 x 200 page: 17.9 us
  // a pixel at a time -> 2.8 us).
  int64_t FillRun(uint8_t* row, int64_t a, int64_t x, int64_t hi, int64_t y) {
    int64_t b = x;
    if constexpr (!Bordered) {
      const size_t same = SameBytes<true>(row + size_t(x) * Bpp, size_t(hi - x + 1) * Bpp, PixelPattern(seed, Bpp));
      b = std::max(x, x + int64_t(same / Bpp) - 1);
    }
    while (b < hi && Takes(row, b + 1, y)) ++b;
    FillPixels(row + size_t(a) * Bpp, b - a + 1, Bpp, fill);
    for (int64_t i = a; Bordered && i <= b; ++i) {
      const size_t bit = size_t((y - vy) * vw + (i - vx));
      done[bit >> 6] |= uint64_t(1) << (bit & 63);
    }
    return b;
  }

  // Under a run as wide as the view, every pixel of the seed's colour in the
  // next row is the region's. Where rows lie end to end, the rows after row y
  // in direction dir that hold only that colour are found and filled as one
  // block (open 320 x 200 page: 3.0 -> 1.7 us). Returns how many.
  int64_t WholeRows(const DrawContext& d, int64_t y, int64_t dir, int64_t& firstRow, int64_t& lastRow) {
    const GraphicsView& v = d.view;
    if constexpr (Bordered) return 0;
    const size_t pitch = size_t(d.pitch);
    if (size_t(v.width) * Bpp != pitch || pitch < 8) return 0;
    const int64_t last = dir > 0 ? int64_t(v.y) + v.height - 1 : v.y;
    const size_t available = size_t((last - y) * dir) * pitch;
    const uint8_t* edge = d.rows[size_t(y)] + (dir > 0 ? pitch : 0);  // where row y meets the next
    const uint64_t pattern = PixelPattern(seed, Bpp);
    const size_t same =
        dir > 0 ? SameBytes<true>(edge, available, pattern) : SameBytes<false>(edge, available, pattern);
    const int64_t rows = int64_t(same / pitch);
    if (rows == 0) return 0;
    const int64_t from = dir > 0 ? y + 1 : y - rows;
    FillPixels(d.rows[size_t(from)], rows * v.width, Bpp, fill);
    firstRow = std::min(firstRow, from);
    lastRow = std::max(lastRow, from + rows - 1);
    return rows * dir;
  }
};

// The seed's run, then runs found row by row above and below: each filled run
// searches the next row in its direction, and the row it came from where it
// reaches past its parent. The first run found in a row is searched under at
// once, the others wait in a list on the heap; nothing recurses. Gives the
// first and last rows filled.
template <int Bpp, bool Bordered>
void FillRegion(Region<Bpp, Bordered>& region, const DrawContext& d, int64_t px, int64_t py, int64_t& firstRow,
                int64_t& lastRow) {
  const GraphicsView& v = d.view;
  const int64_t vx0 = v.x, vy0 = v.y, vx1 = int64_t(v.x) + v.width - 1, vy1 = int64_t(v.y) + v.height - 1;
  uint8_t* seedRow = d.rows[size_t(py)];
  int64_t left = px;
  while (left > vx0 && region.Takes(seedRow, left - 1, py)) --left;
  const int64_t right = region.FillRun(seedRow, left, px, vx1, py);
  firstRow = lastRow = py;
  const bool whole = left == vx0 && right == vx1;
  std::vector<Span> pending{{py - 1 + (whole ? region.WholeRows(d, py, -1, firstRow, lastRow) : 0), left, right, -1}};
  Span p{py + 1 + (whole ? region.WholeRows(d, py, 1, firstRow, lastRow) : 0), left, right, 1};
  for (;;) {
    bool found = false;
    Span next{};
    if (p.y >= vy0 && p.y <= vy1) {
      uint8_t* row = d.rows[size_t(p.y)];
      for (int64_t x0 = p.left; x0 <= p.right; ++x0) {
        if (!region.Takes(row, x0, p.y)) continue;
        int64_t a = x0;
        if (a == p.left) {
          while (a > vx0 && region.Takes(row, a - 1, p.y)) --a;
        }
        const int64_t b = region.FillRun(row, a, x0, vx1, p.y);
        firstRow = std::min(firstRow, p.y);
        lastRow = std::max(lastRow, p.y);
        if (found) pending.push_back(next);
        next = {p.y + p.dir, a, b, p.dir};
        if (a == vx0 && b == vx1) next.y += region.WholeRows(d, p.y, p.dir, firstRow, lastRow);
        found = true;
        if (a < p.left - 1) pending.push_back({p.y - p.dir, a, p.left - 2, -p.dir});
        if (b > p.right + 1) pending.push_back({p.y - p.dir, p.right + 2, b, -p.dir});
        x0 = b + 1;
      }
    }
    if (found) {
      p = next;
    } else if (pending.empty()) {
      return;
    } else {
      p = pending.back();
      pending.pop_back();
    }
  }
}

// Fills with the form for the target's pixel size; false when there is nothing to fill.
template <int Bpp>
bool Fill(const DrawContext& d, int64_t px, int64_t py, uint32_t fill, uint32_t border, int64_t& first,
          int64_t& last) {
  const GraphicsView& v = d.view;
  const uint32_t seed = ReadPixel(d.rows[size_t(py)], px, Bpp);
  fill = FitColour(fill, Bpp);
  if (border == kNoColour) {
    if (seed == fill) return false;
    Region<Bpp, false> region{seed, 0, fill, v.x, v.y, v.width, {}};
    FillRegion(region, d, px, py, first, last);
  } else {
    border = FitColour(border, Bpp);
    if (seed == border) return false;
    Region<Bpp, true> region{seed, border, fill, v.x, v.y, v.width, {}};
    region.done.assign((size_t(v.width) * size_t(v.height) + 63) / 64, 0);
    FillRegion(region, d, px, py, first, last);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The calls
// ---------------------------------------------------------------------------

void DrawCircle(ImageBuffer* target, float x, float y, float radius, uint32_t colour, float aspect,
                float start, float end, int32_t filled) {
  if (!SelectTarget(target)) return;
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  d.lastX = x;
  d.lastY = y;
  int64_t cx, cy;
  Arc arc;
  if (!ToPixel(d, x, y, cx, cy) || !(radius >= 0) || !std::isfinite(aspect) || !MakeArc(start, end, arc)) return;
  const GraphicsView& v = d.view;
  const int64_t vx0 = v.x, vy0 = v.y, vx1 = int64_t(v.x) + v.width - 1, vy1 = int64_t(v.y) + v.height - 1;
  // Radii past the largest page are the same picture as a radius a little past it.
  const double rx = std::min<double>(radius, 1e7), ry = std::min<double>(rx * std::fabs(aspect), 1e7);
  Ellipse e{rx * rx + rx, ry * ry + ry, 0};
  e.rows = int64_t(std::floor(std::sqrt(e.b2) + 1e-9));
  arc.sx = std::sqrt(e.b2) > 0 ? std::sqrt(e.b2) : 1;
  arc.sy = std::sqrt(e.a2) > 0 ? std::sqrt(e.a2) : 1;
  const int64_t top = std::max(vy0, cy - e.rows), bottom = std::min(vy1, cy + e.rows);
  if (top > bottom) return;
  colour = FitColour(colour, d.bytesPerPixel);

  PixelAccess access(s, TargetIsVisible(d, s));
  int64_t above = e.HalfWidth(top - cy - 1), here = e.HalfWidth(top - cy);
  for (int64_t py = top; py <= bottom; ++py) {
    const int64_t below = e.HalfWidth(py - cy + 1);
    // Outline: the pixels with a 4-neighbour outside, two runs -w..-m-1 and
    // m+1..w, so the ring has no gap and no pixel twice.
    const int64_t inner = filled ? here : std::min({here - 1, above, below});
    auto run = [&](int64_t a, int64_t b) {
      a = std::max(a, vx0), b = std::min(b, vx1);
      if (a <= b) PutRun(d, py, a, b, cx, cy, arc, colour);
    };
    if (inner < 0 || filled) {
      run(cx - here, cx + here);
    } else {
      run(cx - here, cx - inner - 1);
      run(cx + inner + 1, cx + here);
    }
    above = here, here = below;
  }
  access.Changed(int32_t(top), int32_t(bottom));
}

void FloodFill(ImageBuffer* target, float x, float y, uint32_t fill, uint32_t border) {
  if (!SelectTarget(target)) return;
  DrawContext& d = gLayer.draw;
  Screen& s = *gLayer.screen;
  d.lastX = x;
  d.lastY = y;
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py) || !InsideView(d.view, px, py)) return;
  PixelAccess access(s, TargetIsVisible(d, s));
  int64_t firstRow = 0, lastRow = 0;
  const bool filled = d.bytesPerPixel == 1   ? Fill<1>(d, px, py, fill, border, firstRow, lastRow)
                      : d.bytesPerPixel == 2 ? Fill<2>(d, px, py, fill, border, firstRow, lastRow)
                                             : Fill<4>(d, px, py, fill, border, firstRow, lastRow);
  if (filled) access.Changed(int32_t(firstRow), int32_t(lastRow));
}

}  // namespace scr
