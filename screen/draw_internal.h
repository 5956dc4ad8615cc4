// draw_internal.h - what draw.cpp, image.cpp and blit.cpp share: coordinate
// conversion, colour fitting, target checks, image header parsing, the
// registry of ImageCreate blocks and the blit tables.
//
// Internal header: the screen layer's sources and its tests include it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "backend/backend.h"
#include "state.h"

namespace draw_detail {

// Coordinates beyond this magnitude are clamped before rounding, so every
// converted value (plus a view origin) fits comfortably in 64 bits.
inline constexpr double kCoordLimit = 2147483648.0;  // 2^31

// Largest image side and pitch accepted from a header; anything larger is
// refused so that height * pitch can never overflow.
inline constexpr int64_t kMaxImageSide = int64_t(1) << 28;
inline constexpr int64_t kMaxImagePitch = int64_t(1) << 30;
// Largest block ImageCreate asks the allocator for.
inline constexpr uint64_t kMaxImageBlock = uint64_t(1) << 40;

inline constexpr int32_t kFullHeaderSize = 32;
inline constexpr int32_t kPackedHeaderSize = 4;
inline constexpr uint32_t kFullHeaderType = 7;

// Truncates toward zero when the value lies in the 32-bit range, else gives
// INT32_MIN (NaN too).
inline int32_t TruncToInt32(float v) {
#if defined(__SSE__) || defined(__x86_64__)
  return _mm_cvtt_ss2si(_mm_set_ss(v));  // the processor's own out-of-range value is INT32_MIN
#else
  return (v > -2147483904.0f && v < 2147483648.0f) ? int32_t(v) : INT32_MIN;
#endif
}

// Rounds half away from zero; false for NaN. Infinite and out-of-range values
// are clamped to +-2^31 first. Whole numbers (what programs mostly pass) are
// taken as they are; otherwise adding +-0.5 to the value widened to double is
// exact in this range, and truncation then rounds half away from zero (zero
// of either sign gives 0).
inline bool RoundCoord(float v, int64_t& out) {
  const int32_t whole = TruncToInt32(v);
  if (float(whole) == v) [[likely]] {
    out = whole;
    return true;
  }
  double d = v;
  if (d != d) return false;
  d = d < -kCoordLimit ? -kCoordLimit : d;
  d = d > kCoordLimit ? kCoordLimit : d;
  out = static_cast<int64_t>(d + std::copysign(0.5, d));
  return true;
}

// Converts a point of the current target to pixels: the optional world
// window, rounding, the GraphicsView origin. False when a coordinate is NaN.
inline bool ToPixel(const DrawContext& d, float x, float y, int64_t& px, int64_t& py) {
  if (d.flags & DrawFlags::WorldWindow) [[unlikely]] {
    x = float(d.view.width - 1) * (x - d.worldX) / d.worldW;
    y = float(d.view.height - 1) * (y - d.worldY) / d.worldH;
  }
  if (!RoundCoord(x, px) || !RoundCoord(y, py)) return false;
  if ((d.flags & (DrawFlags::WorldWindow | DrawFlags::WorldKeepsOrientation)) ==
      DrawFlags::WorldWindow) [[unlikely]] {
    py = int64_t(d.view.height - 1) - py;
  }
  if (!(d.flags & DrawFlags::AbsoluteView)) {
    px += d.view.x;
    py += d.view.y;
  }
  return true;
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

inline bool InsideView(const GraphicsView& v, int64_t x, int64_t y) {
  return x >= v.x && x < int64_t(v.x) + v.width && y >= v.y && y < int64_t(v.y) + v.height;
}

// Fits a colour number to a pixel size: low byte, 5-6-5, or unchanged.
inline uint32_t FitColour(uint32_t c, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return c & 0xFFu;
    case 2: return ((c >> 8) & 0xF800u) | ((c >> 5) & 0x07E0u) | ((c & 0xFFu) >> 3);
    default: return c;
  }
}

// Widens a 5-6-5 value to 24-bit red-green-blue, repeating each field's top bits.
inline uint32_t Widen565(uint32_t v) {
  uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
  r = (r << 3) | (r >> 2);
  g = (g << 2) | (g >> 4);
  b = (b << 3) | (b >> 2);
  return (r << 16) | (g << 8) | b;
}

inline uint32_t ReadU32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint16_t ReadU16(const void* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void WriteU32(void* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void WriteU16(void* p, uint16_t v) { std::memcpy(p, &v, 2); }

// What an image header says, after checking.
struct ImageShape {
  int32_t bytesPerPixel = 0;
  int32_t width = 0, height = 0;
  int64_t pitch = 0;
  int32_t headerSize = 0;
  bool full = false;
};


// The put, get and fill routines for 1, 2 or 4 bytes per pixel.
PixelRoutines RoutinesFor(int32_t bytesPerPixel);

// Registry of live ImageCreate blocks: header address -> writable bytes from
// the header to the end of the block; 0 when the address is not registered.
// The count of registered blocks is kept beside it, so that with none (the
// usual case for images the program keeps in its own arrays) a header check
// costs no lookup.
extern size_t gRegisteredImageCount;
size_t LookUpImageBytes(const void* header);
inline size_t RegisteredImageBytes(const void* header) {
  return gRegisteredImageCount ? LookUpImageBytes(header) : 0;
}
void RegisterImage(const void* header, size_t bytes);
void UnregisterImage(const void* header);

inline bool KnownPixelSize(int64_t bpp) { return bpp == 1 || bpp == 2 || bpp == 4; }

// Reads an image header. A packed header's pixel size 0 means `defaultBpp`.
// False (refused) for negative or huge sizes, a pitch shorter than a row, a
// pixel size other than 1, 2, 4, or an ImageCreate block too small for what
// the header claims. Inline: every PutImage reads one.
inline bool ReadImageShape(const void* image, int32_t defaultBpp, ImageShape& out) {
  if (!image) return false;
  const uint8_t* p = static_cast<const uint8_t*>(image);
  ImageShape s;
  if (ReadU32(p) == kFullHeaderType) [[unlikely]] {
    const int64_t bpp = int32_t(ReadU32(p + 4));
    const int64_t width = int32_t(ReadU32(p + 8));
    const int64_t height = int32_t(ReadU32(p + 12));
    const int64_t pitch = int32_t(ReadU32(p + 16));
    if (!KnownPixelSize(bpp) || width < 0 || height < 0 || width > kMaxImageSide ||
        height > kMaxImageSide || pitch < width * bpp || pitch > kMaxImagePitch) {
      return false;
    }
    s.bytesPerPixel = int32_t(bpp);
    s.width = int32_t(width);
    s.height = int32_t(height);
    s.pitch = pitch;
    s.headerSize = kFullHeaderSize;
    s.full = true;
  } else {
    const uint32_t packed = ReadU16(p);
    int32_t bpp = int32_t(packed & 7);
    if (bpp == 0) bpp = defaultBpp;
    if (!KnownPixelSize(bpp)) return false;
    s.bytesPerPixel = bpp;
    s.width = int32_t(packed >> 3);
    s.height = ReadU16(p + 2);
    s.pitch = int64_t(s.width) * bpp;
    s.headerSize = kPackedHeaderSize;
  }
  if (s.width > 0 && s.height > 0) {
    if (const size_t room = RegisteredImageBytes(image)) {
      const uint64_t need = uint64_t(s.headerSize) + uint64_t(s.height - 1) * uint64_t(s.pitch) +
                            uint64_t(s.width) * uint64_t(s.bytesPerPixel);
      if (need > room) return false;
    }
  }
  out = s;
  return true;
}

// Selects the target like SelectTarget and reports whether drawing into it is
// possible (a Screen is open and an image target's header is acceptable).
bool SelectTargetChecked(const void* target);

// Makes sure the DrawContext belongs to the open Screen; false with no Screen.
inline bool ReadyContext() {
  Screen* s = gLayer.screen;
  if (!s) [[unlikely]] return false;
  if (gLayer.draw.screenId != s->id) [[unlikely]] return EnsureDrawContext();
  return true;
}

// The counted screen lock around one drawing call's pixel access, inlined:
// the same as LockScreen() and UnlockScreen(1, 0) (which flags no rows) on the
// open Screen `s`. The back-end's platform lock is taken and given back at the
// outermost level only. LockForDrawing returns the depth it found; when the
// nesting in between is balanced (always, unless a blend routine locks on its
// own), UnlockForDrawing stores that depth back instead of counting down, so
// back-to-back calls do not wait on each other's counter updates.
inline int32_t LockForDrawing(Screen& s) {
  const int32_t depth = s.lockCount;
  if (depth == 0) [[likely]] {
    s.backend->lock();
    s.lockCount = 1;
  } else {
    s.lockCount = depth + 1;
  }
  return depth;
}
inline void UnlockForDrawing(Screen& s, int32_t depth) {
  if (s.lockCount != depth + 1) [[unlikely]] {
    UnlockScreen(1, 0);
    return;
  }
  s.lockCount = depth;
  if (depth == 0) s.backend->unlock();
}

// Selects the target with the work page fast path inlined.
inline bool Select(const void* target) {
  DrawContext& d = gLayer.draw;
  if (!target && !(d.flags & (DrawFlags::Fresh | DrawFlags::ImageTarget))) [[likely]] {
    return true;
  }
  return SelectTargetChecked(target);
}

// True when the current target's first row is the visible page's first row.
inline bool TargetIsVisible(const DrawContext& d, const Screen& s) {
  return !d.rows.empty() && d.rows[0] == s.visible;
}

// Blit tables: one per raster mode 0..9, in 4-byte and 8-byte unit sets.
// Modes without routines have all entries null.
const BlitTable* PlainBlitTable(int32_t mode);
const BlitTable* WideBlitTable(int32_t mode);
// Whether the processor offers 8-byte units (read once from its feature flags).
bool HaveWideUnits();

}  // namespace draw_detail
