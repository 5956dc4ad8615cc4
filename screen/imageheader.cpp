// imageheader.cpp - reading and writing the two image header forms.
#include "imageheader.h"

namespace scr {

size_t RegisteredImageBytes(const void* header) {
  const auto it = gLayer.images.find(header);
  return it == gLayer.images.end() ? 0 : it->second;
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
