// imageheader.cpp - reading and writing the two image header forms.
#include "imageheader.h"

#include "pixels.h"

namespace scr {

namespace {
bool KnownPixelSize(int64_t bpp) { return bpp == 1 || bpp == 2 || bpp == 4; }
}  // namespace

size_t RegisteredImageBytes(const void* header) {
  if (gLayer.images.empty()) return 0;
  const auto it = gLayer.images.find(header);
  return it == gLayer.images.end() ? 0 : it->second;
}

bool ReadImageShape(const void* image, int32_t defaultBpp, ImageShape& out) {
  if (!image) return false;
  const uint8_t* p = static_cast<const uint8_t*>(image);
  ImageShape s;
  if (ReadU32(p) == kFullHeaderType) {
    const int64_t bpp = int32_t(ReadU32(p + 4));
    const int64_t width = int32_t(ReadU32(p + 8));
    const int64_t height = int32_t(ReadU32(p + 12));
    const int64_t pitch = int32_t(ReadU32(p + 16));
    if (!KnownPixelSize(bpp) || width < 0 || height < 0 || width > kMaxImageSide ||
        height > kMaxImageSide || pitch < 0 || pitch > kMaxImagePitch) {
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

void WriteImageHeader(void* at, bool full, int32_t bpp, int64_t width, int64_t height, int64_t pitch) {
  uint8_t* out = static_cast<uint8_t*>(at);
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
}

}  // namespace scr
