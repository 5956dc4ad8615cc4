// image.cpp - image buffers: ImageCreate, ImageDestroy, GetImage, PutImage.
//
// ImageCreate's blocks are registered (gLayer.images), so that GetImage can
// use such a block as its own extent when the caller gives none, and headers
// that claim more than their block holds are refused instead of read or
// written past the end.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "blit.h"
#include "draw.h"
#include "imageheader.h"
#include "lock.h"
#include "pixels.h"

namespace scr {

// ---------------------------------------------------------------------------
// ImageCreate / ImageDestroy
// ---------------------------------------------------------------------------

// Blocks start at least 8-byte aligned (16 on 64-bit desktops, 8 in wasm32), so
// the header lands 10 or 16 bytes in: room for the block's address before it.
static_assert(alignof(std::max_align_t) >= 8, "blocks must start 8-byte aligned");

ImageBuffer* ImageCreate(int32_t width, int32_t height, uint32_t colour, int32_t depth,
                         uint32_t flags, HeaderForm form) {
  // A side over what any header accepts would make an image no call can use.
  if (!gLayer.screen) {
    Fail(1, {"ImageCreate: no Screen is open"});
    return nullptr;
  }
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
    Fail(1, {"ImageCreate: the size ", width, " x ", height, " is outside 1 to ", kMaxImageSide});
    return nullptr;
  }
  const int64_t bpp = depth <= 0 ? gLayer.screen->bytesPerPixel : (int64_t(depth) + 7) / 8;
  if (bpp != 1 && bpp != 2 && bpp != 4) {
    Fail(1, {"ImageCreate: depth ", depth, " gives ", bpp, "-byte pixels (1, 2 or 4 bytes only)"});
    return nullptr;
  }
  uint32_t fill;
  if (flags & kNoColour) {
    fill = bpp == 1 ? 0u : bpp == 2 ? 0xF81Fu : 0xFFFF00FFu;
  } else {
    fill = FitColour(colour, int32_t(bpp));
  }

  const bool full = form == HeaderForm::Full;
  int64_t pitch;
  uint64_t size;
  if (full) {
    pitch = (int64_t(width) * bpp + 15) & ~int64_t(15);
    if (pitch > kMaxImagePitch) {
      Fail(1, {"ImageCreate: rows of ", pitch, " bytes are longer than ", kMaxImagePitch});
      return nullptr;
    }
    size = uint64_t(height) * uint64_t(pitch) + 50;
  } else {
    if (width > 8191 || height > 0xFFFF) {  // what the packed header can hold
      Fail(1, {"ImageCreate: ", width, " x ", height, " does not fit a packed header (8191 x 65535 at most)"});
      return nullptr;
    }
    pitch = int64_t(width) * bpp;
    size = uint64_t(height) * uint64_t(pitch) + 22;
  }
  uint8_t* block = size > uint64_t(1) << 40 ? nullptr : static_cast<uint8_t*>(std::malloc(size_t(size)));
  if (!block) {  // more than 2^40 bytes is more than any allocator gives
    Fail(4, {"ImageCreate: no memory for ", int64_t(size), " bytes (", width, " x ", height, ")"});
    return nullptr;
  }
  // Header at block + 18 rounded down to 16; the block start sits just before it.
  uint8_t* header = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + 18) &
                                               ~uintptr_t(15));
  std::memcpy(header - sizeof(void*), &block, sizeof(void*));
  WriteImageHeader(header, full, int32_t(bpp), width, height, pitch);
  if (full) std::memset(header + 24, 0, 8);
  gLayer.images[header] = size_t(block + size - header);

  // The fill runs with the new image as the target, padding included.
  SelectTarget(header);
  FillPixels(header + (full ? kFullHeaderSize : kPackedHeaderSize), height * pitch / bpp, int32_t(bpp), fill);

  SetError(0);
  return reinterpret_cast<ImageBuffer*>(header);
}

void ImageDestroy(ImageBuffer* image) {
  if (!image || !RegisteredImageBytes(image)) return;  // only blocks ImageCreate made
  uint8_t* block;
  std::memcpy(&block, reinterpret_cast<uint8_t*>(image) - sizeof(void*), sizeof(void*));
  gLayer.images.erase(image);
  DrawContext& d = gLayer.draw;
  // Forget it as the target; the image-target flag stays, so the next
  // selection starts afresh.
  if (d.target == image) d.target = nullptr;
  std::free(block);
}

// ---------------------------------------------------------------------------
// GetImage
// ---------------------------------------------------------------------------

int32_t GetImage(ImageBuffer* target, float x1, float y1, float x2, float y2, void* destination,
                 int32_t form, const BufferExtent* extent, HeaderForm header) {
  if (!SelectTarget(target)) return RefuseTarget("GetImage");
  DrawContext& d = gLayer.draw;
  ApplyCornerForm(d, form, x1, y1, x2, y2);
  int64_t ax, ay, bx, by;
  if (!ToPixel(d, x1, y1, ax, ay) || !ToPixel(d, x2, y2, bx, by)) return Fail(1, {"GetImage: a coordinate is NaN"});
  if (ax > bx) std::swap(ax, bx);
  if (ay > by) std::swap(ay, by);
  const GraphicsView& v = d.view;
  if (ax < v.x || ay < v.y || bx >= int64_t(v.x) + v.width || by >= int64_t(v.y) + v.height)
    return Fail(1, {"GetImage: the rectangle (", ax, ", ", ay, ")-(", bx, ", ", by, ") is not inside the view (",
                    v.x, ", ", v.y, ")-(", v.x + v.width - 1, ", ", v.y + v.height - 1, ")"});
  if (!destination) return Fail(1, {"GetImage: no destination"});

  const int64_t width = bx - ax + 1, height = by - ay + 1;
  const int32_t bpp = d.bytesPerPixel;
  const bool full = header == HeaderForm::Full;
  int64_t pitch;
  int32_t headerSize;
  if (full) {
    pitch = (width * bpp + 15) & ~int64_t(15);
    headerSize = kFullHeaderSize;
  } else {
    if (width > 8191 || height > 0xFFFF)  // not expressible
      return Fail(1, {"GetImage: ", width, " x ", height, " does not fit a packed header (8191 x 65535 at most)"});
    pitch = width * bpp;
    headerSize = kPackedHeaderSize;
  }
  const uint64_t need = uint64_t(headerSize) + uint64_t(height) * uint64_t(pitch);
  const uintptr_t dest = reinterpret_cast<uintptr_t>(destination);
  if (extent && extent->size) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(extent->start);
    if (dest < start || dest - start > extent->size || need > extent->size - (dest - start))
      return Fail(1, {"GetImage: the image's ", int64_t(need), " bytes do not fit in the destination's extent"});
  } else if (const size_t room = RegisteredImageBytes(destination)) {
    if (need > room)
      return Fail(1, {"GetImage: the image's ", int64_t(need), " bytes do not fit in the destination's ",
                      int64_t(room)});
  }

  WriteImageHeader(destination, full, bpp, width, height, pitch);
  uint8_t* out = static_cast<uint8_t*>(destination) + headerSize;
  const size_t rowBytes = size_t(width) * bpp;
  const size_t offset = size_t(ax) * bpp;
  PixelAccess access(*gLayer.screen, TargetIsVisible(d, *gLayer.screen));
  for (int64_t y = ay; y <= by; ++y, out += pitch) {
    std::memmove(out, d.rows[size_t(y)] + offset, rowBytes);
  }
  return SetError(0);
}

// ---------------------------------------------------------------------------
// PutImage
// ---------------------------------------------------------------------------

int32_t PutImage(ImageBuffer* target, float x, float y, const void* image, int32_t sx1,
                 int32_t sy1, int32_t sx2, int32_t sy2, int32_t form, int32_t mode, int32_t alpha,
                 BlendRoutine, void*) {
  if (!gLayer.screen || !image || !SelectTarget(target))
    return gLayer.screen && !image ? Fail(1, {"PutImage: no image"}) : RefuseTarget("PutImage");
  DrawContext& d = gLayer.draw;
  if (form < 0 || form > 3) return Fail(1, {"PutImage: coordinate form ", form, " is outside 0 to 3"});
  if (form >= 2) {
    x += d.lastX;
    y += d.lastY;
  }
  d.lastX = x;
  d.lastY = y;
  int64_t ex2 = sx2, ey2 = sy2;
  if (form & 1) {
    ex2 += sx1;
    ey2 += sy1;
  }
  int64_t px, py;
  if (!ToPixel(d, x, y, px, py)) return Fail(1, {"PutImage: a coordinate is NaN"});

  ImageShape img;
  if (!ReadImageShape(image, d.bytesPerPixel, img)) return Fail(1, {"PutImage: the image's header is refused"});
  if (mode < 0 || mode > 9) return Fail(1, {"PutImage: raster mode ", mode, " is outside 0 to 9"});
  // The alpha-byte routine only joins 1-byte images to 4-byte targets; the others need equal pixel sizes.
  if (mode == RasterMode::AlphaByte ? img.bytesPerPixel != 1 || d.bytesPerPixel != 4
                                    : img.bytesPerPixel != d.bytesPerPixel)
    return Fail(1, {"PutImage: raster mode ", mode, " cannot put ", img.bytesPerPixel, "-byte pixels on ",
                    d.bytesPerPixel, "-byte ones"});
  const BlitTable* table = kWideUnits ? WideBlitTable(mode) : PlainBlitTable(mode);
  const BlitRoutine routine = table->byPixelSize[d.bytesPerPixel];
  if (!routine)
    return Fail(1, {"PutImage: raster mode ", mode, " has no routine for ", d.bytesPerPixel, "-byte pixels"});

  if (img.width == 0 || img.height == 0) return SetError(0);
  int64_t srcX = 0, srcY = 0, w = img.width, h = img.height;
  if (sx1 != kOmitted) {
    int64_t ax = sx1, ay = sy1, bx = ex2, by = ey2;
    if (ax > bx) std::swap(ax, bx);
    if (ay > by) std::swap(ay, by);
    ax = std::clamp<int64_t>(ax, 0, img.width - 1);
    bx = std::clamp<int64_t>(bx, 0, img.width - 1);
    ay = std::clamp<int64_t>(ay, 0, img.height - 1);
    by = std::clamp<int64_t>(by, 0, img.height - 1);
    srcX = ax, srcY = ay;
    w = bx - ax + 1, h = by - ay + 1;
  }

  // Clipped to the view: pixels x0..x1-1, y0..y1-1 of the target.
  const GraphicsView& v = d.view;
  const int64_t x0 = std::max<int64_t>(px, v.x), x1 = std::min<int64_t>(px + w, int64_t(v.x) + v.width);
  const int64_t y0 = std::max<int64_t>(py, v.y), y1 = std::min<int64_t>(py + h, int64_t(v.y) + v.height);
  if (x0 >= x1 || y0 >= y1) return SetError(0);

  const uint8_t* src = static_cast<const uint8_t*>(image) + img.headerSize +
                       size_t(srcY + y0 - py) * size_t(img.pitch) + size_t(srcX + x0 - px) * img.bytesPerPixel;
  Screen& s = *gLayer.screen;
  PixelAccess access(s, TargetIsVisible(d, s));
  uint8_t* dst = d.rows[size_t(y0)] + size_t(x0) * d.bytesPerPixel;
  // Transparent's key colour; Invert's colour bits (the top byte of 4-byte pixels is not colour).
  uint32_t value = 0;
  if (mode == RasterMode::Transparent && alpha != -1) value = FitColour(uint32_t(alpha), d.bytesPerPixel);
  if (mode == RasterMode::Invert) value = s.depth <= 16 ? (1u << s.depth) - 1 : 0xFFFFFFu;
  routine(src, dst, int32_t(x1 - x0), int32_t(y1 - y0), int32_t(img.pitch), d.pitch,
          PixelPattern(value, d.bytesPerPixel));
  access.Changed(int32_t(y0), int32_t(y1 - 1));
  return SetError(0);
}

}  // namespace scr
