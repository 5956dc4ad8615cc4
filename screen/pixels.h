// pixels.h - pixel values in memory, shared by every module that touches pages:
// unaligned reads and writes, runs of one value, 5-6-5 widening.
#pragma once

#include <cstdint>
#include <cstring>

namespace scr {

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

// Pixel x of a row of 1, 2 or 4-byte pixels.
inline uint32_t ReadPixel(const uint8_t* row, int64_t x, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 2: return ReadU16(row + size_t(x) * 2);
    case 4: return ReadU32(row + size_t(x) * 4);
    default: return row[x];
  }
}

// Eight bytes of pixels of `bytesPerPixel` (1, 2 or 4) bytes, each the low bytes of `colour`.
inline uint64_t PixelPattern(uint32_t colour, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return uint64_t(uint8_t(colour)) * 0x0101010101010101ull;
    case 2: return uint64_t(uint16_t(colour)) * 0x0001000100010001ull;
    default: return uint64_t(colour) * 0x0000000100000001ull;
  }
}

// Fills `count` pixels of `bytesPerPixel` (1, 2 or 4) bytes with the low bytes
// of `colour`. Wider pixels repeat into an 8-byte pattern stored in whole units.
inline void FillPixels(uint8_t* at, int64_t count, int32_t bytesPerPixel, uint32_t colour) {
  if (count <= 0) return;
  if (bytesPerPixel == 1) {
    std::memset(at, int(colour & 0xFF), size_t(count));
    return;
  }
  const uint64_t pattern = PixelPattern(colour, bytesPerPixel);
  size_t bytes = size_t(count) * size_t(bytesPerPixel);
  for (; bytes >= 8; bytes -= 8, at += 8) std::memcpy(at, &pattern, 8);
  if (bytes) std::memcpy(at, &pattern, bytes);  // the pattern repeats every pixel
}

// Widens a 5-6-5 value to 0xRRGGBB, repeating each field's top bits.
inline uint32_t Widen565(uint32_t v) {
  uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
  r = (r << 3) | (r >> 2);
  g = (g << 2) | (g >> 4);
  b = (b << 3) | (b >> 2);
  return (r << 16) | (g << 8) | b;
}

// 0xRRGGBB of pixel x of a page row as it is shown: one-byte pixels through
// `shown` (red + green * 256 + blue * 65536 per value), 5-6-5 or 32-bit ones
// as they are.
inline uint32_t ShownRgb(int32_t bytesPerPixel, const uint32_t* shown, const uint8_t* row, int32_t x) {
  switch (bytesPerPixel) {
    case 1: {
      const uint32_t c = shown[row[x]];
      return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
    case 2:
      return Widen565(ReadU16(row + 2 * x));
    default:
      return (uint32_t(row[4 * x + 2]) << 16) | (uint32_t(row[4 * x + 1]) << 8) | row[4 * x];
  }
}

}  // namespace scr
