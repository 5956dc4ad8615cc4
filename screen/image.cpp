// image.cpp - image buffers: ImageCreate, ImageDestroy, GetImage, PutImage,
// header reading, and the registry of blocks that ImageCreate made.
//
// The registry lets GetImage use an ImageCreate block as its own extent when
// the caller gives none, and lets headers that claim more than their block
// holds be refused instead of read or written past the end.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "draw_internal.h"

using namespace draw_detail;

namespace {

// ---------------------------------------------------------------------------
// Registry: open addressing with linear probing, keyed by header address.
// ---------------------------------------------------------------------------

class ImageRegistry {
 public:
  size_t Find(const void* key) const {
    if (count_ == 0) return 0;
    for (size_t i = Slot(key);; i = (i + 1) & mask_) {
      if (slots_[i].key == key) return slots_[i].bytes;
      if (!slots_[i].key) return 0;
    }
  }

  void Insert(const void* key, size_t bytes) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    size_t i = Slot(key);
    while (slots_[i].key && slots_[i].key != key) i = (i + 1) & mask_;
    if (!slots_[i].key) ++count_;
    slots_[i] = Entry{key, bytes};
  }

  size_t Count() const { return count_; }

  void Erase(const void* key) {
    if (count_ == 0) return;
    size_t i = Slot(key);
    while (slots_[i].key != key) {
      if (!slots_[i].key) return;
      i = (i + 1) & mask_;
    }
    // Backward-shift deletion keeps every probe chain unbroken.
    size_t hole = i;
    for (size_t j = (i + 1) & mask_; slots_[j].key; j = (j + 1) & mask_) {
      const size_t home = Slot(slots_[j].key);
      const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
      if (movable) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = Entry{};
    --count_;
  }

 private:
  struct Entry {
    const void* key = nullptr;
    size_t bytes = 0;
  };

  size_t Slot(const void* key) const {
    const uint64_t h = (uint64_t(reinterpret_cast<uintptr_t>(key)) >> 4) * 0x9E3779B97F4A7C15ull;
    return size_t(h >> 32) & mask_;
  }

  void Grow() {
    std::vector<Entry> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Entry{});
    mask_ = slots_.size() - 1;
    count_ = 0;
    for (const Entry& e : old) {
      if (e.key) Insert(e.key, e.bytes);
    }
  }

  std::vector<Entry> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
};

ImageRegistry& Registry() {
  static ImageRegistry* registry = new ImageRegistry;  // lives to process end
  return *registry;
}

}  // namespace

namespace draw_detail {

size_t gRegisteredImageCount = 0;

size_t LookUpImageBytes(const void* header) { return Registry().Find(header); }
void RegisterImage(const void* header, size_t bytes) {
  Registry().Insert(header, bytes);
  gRegisteredImageCount = Registry().Count();
}
void UnregisterImage(const void* header) {
  Registry().Erase(header);
  gRegisteredImageCount = Registry().Count();
}

}  // namespace draw_detail

// ---------------------------------------------------------------------------
// ImageCreate / ImageDestroy
// ---------------------------------------------------------------------------

static_assert(alignof(std::max_align_t) >= 16, "blocks must start 16-byte aligned");

ImageBuffer* ImageCreate(int32_t width, int32_t height, uint32_t colour, int32_t depth,
                         uint32_t flags, HeaderForm form) {
  if (!ReadyContext() || width <= 0 || height <= 0) {
    SetError(1);
    return nullptr;
  }
  const int64_t bpp = depth <= 0 ? gLayer.screen->bytesPerPixel : (int64_t(depth) + 7) / 8;
  if (!KnownPixelSize(bpp)) {
    SetError(1);
    return nullptr;
  }
  uint32_t fill;
  if (flags & 0x80000000u) {
    fill = bpp == 1 ? 0u : bpp == 2 ? 0xF81Fu : 0xFFFF00FFu;
  } else {
    fill = FitColour(colour, int32_t(bpp));
  }

  const bool full = form == HeaderForm::Full;
  int64_t pitch;
  uint64_t size;
  if (full) {
    pitch = (int64_t(width) * bpp + 15) & ~int64_t(15);
    if (pitch > kMaxImagePitch || height > kMaxImageSide) {
      SetError(1);
      return nullptr;
    }
    size = uint64_t(height) * uint64_t(pitch) + 50;
  } else {
    if (width > 8191 || height > 0xFFFF) {  // what the packed header can hold
      SetError(1);
      return nullptr;
    }
    pitch = int64_t(width) * bpp;
    size = uint64_t(height) * uint64_t(pitch) + 22;
  }
  if (size > kMaxImageBlock) {
    SetError(4);
    return nullptr;
  }
  uint8_t* block = static_cast<uint8_t*>(std::malloc(size_t(size)));
  if (!block) {
    SetError(4);
    return nullptr;
  }
  // Header at block + 18 rounded down to 16; the block start sits just before it.
  uint8_t* header = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + 18) &
                                               ~uintptr_t(15));
  std::memcpy(header - sizeof(void*), &block, sizeof(void*));
  if (full) {
    WriteU32(header, kFullHeaderType);
    WriteU32(header + 4, uint32_t(bpp));
    WriteU32(header + 8, uint32_t(width));
    WriteU32(header + 12, uint32_t(height));
    WriteU32(header + 16, uint32_t(pitch));
    std::memset(header + 24, 0, 8);
  } else {
    WriteU16(header + 2, uint16_t(height));
    WriteU16(header, uint16_t((uint32_t(width) << 3) | uint32_t(bpp)));
  }
  RegisterImage(header, size_t(block + size - header));

  // The fill runs with the new image as the target, padding included.
  SelectTargetChecked(header);
  const PixelRoutines routines = RoutinesFor(int32_t(bpp));
  uint8_t* row = header + (full ? kFullHeaderSize : kPackedHeaderSize);
  const int32_t perRow = int32_t(pitch / bpp);
  for (int32_t y = 0; y < height; ++y, row += pitch) routines.fill(row, perRow, fill);

  SetError(0);
  return reinterpret_cast<ImageBuffer*>(header);
}

void ImageDestroy(ImageBuffer* image) {
  if (!image || !RegisteredImageBytes(image)) return;  // only blocks ImageCreate made
  uint8_t* block;
  std::memcpy(&block, reinterpret_cast<uint8_t*>(image) - sizeof(void*), sizeof(void*));
  UnregisterImage(image);
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
  if (!ReadyContext() || !SelectTargetChecked(target)) return SetError(1);
  DrawContext& d = gLayer.draw;
  ApplyCornerForm(d, form, x1, y1, x2, y2);
  int64_t ax, ay, bx, by;
  if (!ToPixel(d, x1, y1, ax, ay) || !ToPixel(d, x2, y2, bx, by)) return SetError(1);
  if (ax > bx) std::swap(ax, bx);
  if (ay > by) std::swap(ay, by);
  const GraphicsView& v = d.view;
  if (ax < v.x || ay < v.y || bx >= int64_t(v.x) + v.width || by >= int64_t(v.y) + v.height) {
    return SetError(1);
  }
  if (!destination) return SetError(1);

  const int64_t width = bx - ax + 1, height = by - ay + 1;
  const int32_t bpp = d.bytesPerPixel;
  const bool full = header == HeaderForm::Full;
  int64_t pitch;
  int32_t headerSize;
  if (full) {
    pitch = (width * bpp + 15) & ~int64_t(15);
    headerSize = kFullHeaderSize;
  } else {
    if (width > 8191 || height > 0xFFFF) return SetError(1);  // not expressible
    pitch = width * bpp;
    headerSize = kPackedHeaderSize;
  }
  const uint64_t need = uint64_t(headerSize) + uint64_t(height) * uint64_t(pitch);
  const uintptr_t dest = reinterpret_cast<uintptr_t>(destination);
  if (extent && extent->size) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(extent->start);
    if (dest < start || dest - start > extent->size || need > extent->size - (dest - start)) {
      return SetError(1);
    }
  } else if (const size_t room = RegisteredImageBytes(destination)) {
    if (need > room) return SetError(1);
  }

  uint8_t* out = static_cast<uint8_t*>(destination);
  if (full) {
    WriteU32(out, kFullHeaderType);
    WriteU32(out + 4, uint32_t(bpp));
    WriteU32(out + 8, uint32_t(width));
    WriteU32(out + 12, uint32_t(height));
    WriteU32(out + 16, uint32_t(pitch));
  } else {
    WriteU16(out + 2, uint16_t(height));
    WriteU16(out, uint16_t((uint32_t(width) << 3) | uint32_t(bpp)));
  }
  out += headerSize;
  const size_t rowBytes = size_t(width) * bpp;
  const size_t offset = size_t(ax) * bpp;
  Screen& s = *gLayer.screen;
  const int32_t lockDepth = LockForDrawing(s);
  for (int64_t y = ay; y <= by; ++y, out += pitch) {
    std::memmove(out, d.rows[size_t(y)] + offset, rowBytes);
  }
  UnlockForDrawing(s, lockDepth);
  return SetError(0);
}

// ---------------------------------------------------------------------------
// PutImage
// ---------------------------------------------------------------------------

// Any PutImage: every form, header, raster mode, source rectangle and clip.
[[gnu::noinline]] static int32_t PutImageGeneral(ImageBuffer* target, float x, float y,
                                                 const void* image, int32_t sx1, int32_t sy1,
                                                 int32_t sx2, int32_t sy2, int32_t form,
                                                 int32_t mode, int32_t alpha, BlendRoutine blend,
                                                 void* blendParam) {
  if (!ReadyContext() || !image) return SetError(1);
  if (!Select(target)) return SetError(1);
  DrawContext& d = gLayer.draw;
  if (form < 0 || form > 3) return SetError(1);
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
  if (!ToPixel(d, x, y, px, py)) return SetError(1);

  ImageShape img;
  if (!ReadImageShape(image, d.bytesPerPixel, img)) return SetError(1);
  if (mode < 0 || mode > 9) return SetError(1);
  if (img.bytesPerPixel != d.bytesPerPixel) {
    if (!(mode == RasterMode::AlphaByte && img.bytesPerPixel == 1 && d.bytesPerPixel == 4)) {
      return SetError(1);
    }
  } else if (mode == RasterMode::AlphaByte) {
    return SetError(1);  // the alpha-byte routine only joins 1-byte images to 4-byte targets
  }
  const BlitTable* table = d.blitCache[mode];
  if (!table) {
    table = HaveWideUnits() ? WideBlitTable(mode) : PlainBlitTable(mode);
    d.blitCache[mode] = table;
  }
  const BlitRoutine routine = table->byPixelSize[d.bytesPerPixel];
  if (!routine) return SetError(1);

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

  const GraphicsView& v = d.view;
  const int64_t vx0 = v.x, vy0 = v.y;
  const int64_t vx1 = int64_t(v.x) + v.width, vy1 = int64_t(v.y) + v.height;  // exclusive
  if (px + w <= vx0 || px >= vx1 || py + h <= vy0 || py >= vy1) return SetError(0);
  if (py < vy0) {
    srcY += vy0 - py;
    h -= vy0 - py;
    py = vy0;
  }
  if (py + h > vy1) h = vy1 - py;
  if (px < vx0) {
    srcX += vx0 - px;
    w -= vx0 - px;
    px = vx0;
  }
  if (px + w > vx1) w = vx1 - px;

  const uint8_t* src = static_cast<const uint8_t*>(image) + img.headerSize +
                       size_t(srcY) * size_t(img.pitch) + size_t(srcX) * img.bytesPerPixel;
  Screen& s = *gLayer.screen;
  const int32_t lockDepth = LockForDrawing(s);
  uint8_t* dst = d.rows[size_t(py)] + size_t(px) * d.bytesPerPixel;
  routine(src, dst, int32_t(w), int32_t(h), int32_t(img.pitch), d.pitch, alpha, blend,
          blendParam);
  if (TargetIsVisible(d, s)) MarkDirtyRows(s, int32_t(py), int32_t(py + h - 1));
  UnlockForDrawing(s, lockDepth);
  return SetError(0);
}

int32_t PutImage(ImageBuffer* target, float x, float y, const void* image, int32_t sx1,
                 int32_t sy1, int32_t sx2, int32_t sy2, int32_t form, int32_t mode, int32_t alpha,
                 BlendRoutine blend, void* blendParam) {
  // The usual call, taken straight through: a whole image with a packed header
  // (not an ImageCreate block) in Or or Xor mode, at whole-number coordinates
  // on the open Screen's work page (already selected, plain view coordinates),
  // lying wholly inside the view. Anything else goes through PutImageGeneral,
  // with the same result.
  Screen* const s = gLayer.screen;
  DrawContext& d = gLayer.draw;
  if (s && !target && image && d.flags == 0 && form == 0 && sx1 == kOmitted &&
      (mode == RasterMode::Or || mode == RasterMode::Xor) && d.screenId == s->id &&
      gRegisteredImageCount == 0) [[likely]] {
    const uint32_t head = ReadU32(image);
    const int32_t wx = TruncToInt32(x), wy = TruncToInt32(y);
    const int32_t bpp = d.bytesPerPixel;
    const int32_t width = int32_t((head & 0xFFFFu) >> 3), height = int32_t(head >> 16);
    const uint32_t bppField = head & 7;
    const BlitTable* table = d.blitCache[mode];
    if (head != kFullHeaderType && (bppField == 0 || int32_t(bppField) == bpp) && table &&
        float(wx) == x && float(wy) == y && width > 0 && height > 0 && wx >= 0 && wy >= 0 &&
        int64_t(wx) + width <= d.view.width && int64_t(wy) + height <= d.view.height) [[likely]] {
      const BlitRoutine routine = table->byPixelSize[bpp];
      d.lastX = x;
      d.lastY = y;
      const int64_t px = int64_t(wx) + d.view.x, py = int64_t(wy) + d.view.y;
      const uint8_t* src = static_cast<const uint8_t*>(image) + kPackedHeaderSize;
      const int32_t lockDepth = LockForDrawing(*s);
      uint8_t* dst = d.rows[size_t(py)] + size_t(px) * size_t(bpp);
      routine(src, dst, width, height, width * bpp, d.pitch, alpha, blend, blendParam);
      if (TargetIsVisible(d, *s)) MarkDirtyRows(*s, int32_t(py), int32_t(py + height - 1));
      UnlockForDrawing(*s, lockDepth);
      return SetError(0);
    }
  }
  return PutImageGeneral(target, x, y, image, sx1, sy1, sx2, sy2, form, mode, alpha, blend,
                         blendParam);
}
