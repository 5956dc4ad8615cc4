// draw.h - what the drawing module gives the image module: coordinate
// conversion, colour fitting and the choice of the drawing target.
#pragma once

#include <cmath>
#include <cstdint>

#include "state.h"

namespace scr {

// Coordinates beyond this magnitude are clamped before rounding, so every
// converted value (plus a view origin) fits comfortably in 64 bits.
inline constexpr double kCoordLimit = 2147483648.0;  // 2^31

// Rounds half away from zero; false for NaN. Infinite and out-of-range values
// are clamped to +-2^31 first. Adding +-0.5 to the value widened to double is
// exact in this range, and truncation then rounds half away from zero.
inline bool RoundCoord(float v, int64_t& out) {
  double d = v;
  if (d != d) return false;
  d = d < -kCoordLimit ? -kCoordLimit : d > kCoordLimit ? kCoordLimit : d;
  out = static_cast<int64_t>(d + std::copysign(0.5, d));
  return true;
}

// Converts a point of the current target to pixels: rounding, then the
// GraphicsView origin. False when a coordinate is NaN.
inline bool ToPixel(const DrawContext& d, float x, float y, int64_t& px, int64_t& py) {
  if (!RoundCoord(x, px) || !RoundCoord(y, py)) return false;
  px += d.view.x;
  py += d.view.y;
  return true;
}

inline bool InsideView(const GraphicsView& v, int64_t x, int64_t y) {
  return x >= v.x && x < int64_t(v.x) + v.width && y >= v.y && y < int64_t(v.y) + v.height;
}

// Applies a two-corner CoordForm (low 3 bits) to the corners and stores the
// second corner as LastPoint; additions are made on the floats.
inline void ApplyCornerForm(DrawContext& d, int32_t form, float& x1, float& y1, float& x2, float& y2) {
  const int32_t how = form & 7;
  if (how == 2 || how == 3 || how == 5) {
    x1 += d.lastX;
    y1 += d.lastY;
  }
  if (how == 1 || how == 3) {
    x2 += x1;
    y2 += y1;
  }
  d.lastX = x2;
  d.lastY = y2;
}

// Fits a colour number to a pixel size: low byte, 5-6-5, or unchanged.
inline uint32_t FitColour(uint32_t c, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return c & 0xFFu;
    case 2: return ((c >> 8) & 0xF800u) | ((c >> 5) & 0x07E0u) | ((c & 0xFFu) >> 3);
    default: return c;
  }
}

// Makes `target` (null: the work page) the drawing target, rebuilding the
// row table when it changed. False with no Screen open, or when an image
// target's header is refused.
bool SelectNewTarget(const void* target);
// The usual call (the work page, already selected) is checked inline: every
// pixel and image call starts here.
inline bool SelectTarget(const void* target) {
  if (!target && gLayer.screen && !(gLayer.draw.flags & (DrawFlags::RowsStale | DrawFlags::ImageTarget)))
    return true;
  return SelectNewTarget(target);
}

// Error 1 for a target SelectTarget refused: the detail names `call` and
// says why (no Screen, or the image's header).
int32_t RefuseTarget(const char* call);

// The put and fill routines for 1, 2 or 4 bytes per pixel.
PixelRoutines RoutinesFor(int32_t bytesPerPixel);

// True when the current target is the visible page (its rows must be flagged).
inline bool TargetIsVisible(const DrawContext& d, const Screen& s) {
  return !d.rows.empty() && d.rows[0] == s.visible;
}

}  // namespace scr
