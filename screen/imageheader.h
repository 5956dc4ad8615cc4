// imageheader.h - image headers read and written, and the registry of the
// blocks ImageCreate made. Below drawing (an image can be a drawing target)
// and images alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixels.h"
#include "state.h"

namespace scr {

// Largest image side and pitch accepted from a header; anything larger is
// refused so that height * pitch can never overflow.
inline constexpr int64_t kMaxImageSide = int64_t(1) << 28;
inline constexpr int64_t kMaxImagePitch = int64_t(1) << 30;

inline constexpr int32_t kFullHeaderSize = 32;
inline constexpr int32_t kPackedHeaderSize = 4;
inline constexpr uint32_t kFullHeaderType = 7;

// Bytes from an ImageCreate header to the end of its block; 0 for any other address.
size_t RegisteredImageBytes(const void* header);

// Reads an image header. A packed header's pixel size 0 means `defaultBpp`.
// False (refused) for negative or huge sizes or pitch, a pixel size other
// than 1, 2, 4, or an ImageCreate block too small for what the header claims.
// A pitch shorter than a row is taken as it is: rows that many bytes apart
// (0 repeats the first row). Inline: every PutImage reads one (the walker's
// 25 tiles: 616 -> 555 ns).
inline bool ReadImageShape(const void* image, int32_t defaultBpp, ImageShape& out) {
  const auto knownPixelSize = [](int64_t bpp) { return bpp == 1 || bpp == 2 || bpp == 4; };
  if (!image) return false;
  const uint8_t* p = static_cast<const uint8_t*>(image);
  ImageShape s;
  if (ReadU32(p) == kFullHeaderType) {
    const int64_t bpp = int32_t(ReadU32(p + 4));
    const int64_t width = int32_t(ReadU32(p + 8));
    const int64_t height = int32_t(ReadU32(p + 12));
    const int64_t pitch = int32_t(ReadU32(p + 16));
    if (!knownPixelSize(bpp) || width < 0 || height < 0 || width > kMaxImageSide ||
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
    if (!knownPixelSize(bpp)) return false;
    s.bytesPerPixel = bpp;
    s.width = int32_t(packed >> 3);
    s.height = ReadU16(p + 2);
    s.pitch = int64_t(s.width) * bpp;
    s.headerSize = kPackedHeaderSize;
  }
  if (s.width > 0 && s.height > 0 && !gLayer.images.empty()) {
    if (const size_t room = RegisteredImageBytes(image)) {
      const uint64_t need = uint64_t(s.headerSize) + uint64_t(s.height - 1) * uint64_t(s.pitch) +
                            uint64_t(s.width) * uint64_t(s.bytesPerPixel);
      if (need > room) return false;
    }
  }
  out = s;
  return true;
}

// Writes the header of a width x height image of `bpp`-byte pixels whose rows
// are `pitch` bytes apart (the packed form has no pitch: rows are unpadded).
void WriteImageHeader(void* at, bool full, int32_t bpp, int64_t width, int64_t height, int64_t pitch);

}  // namespace scr
