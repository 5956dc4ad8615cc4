// screenshot.cpp - SCRSHOT and Screenshot: the visible page written as a PNG
// file when the Screen closes or when asked, through the colours it is shown
// in, at the Screen's size.
//
// The writer is a small one of its own, the same on every platform: the
// rows go into the file's zlib stream as stored (uncompressed) blocks, which
// every PNG reader takes; a screenshot is a test's or a user's single file,
// so its size does not matter.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "screenshot.h"
#include "pixels.h"
#include "state.h"

namespace scr {

namespace {

// Appends by resize and copy (GCC 12's range insert warns falsely under LTO).
void Append(std::vector<uint8_t>& out, const void* data, size_t n) {
  const size_t at = out.size();
  out.resize(at + n);
  if (n > 0) std::memcpy(out.data() + at, data, n);
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  Append(out, bytes, 4);
}

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// Length, type, data and the CRC of type and data.
void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(png, uint32_t(data.size()));
  const size_t start = png.size();
  Append(png, type, 4);
  Append(png, data.data(), data.size());
  PutBe32(png, Crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each) and the Adler-32 sum.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    const uint8_t header[5] = {uint8_t(last), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
    Append(z, header, 5);
    Append(z, raw.data() + at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(z, (b << 16) | a);
  return z;
}

}  // namespace

int32_t WritePagePng(const Screen& s, const char* path) {
  // Filter byte 0 then the RGB bytes of each row.
  const size_t lineBytes = 1 + size_t(s.width) * 3;
  std::vector<uint8_t> raw(lineBytes * size_t(s.height));
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.visible + size_t(y) * size_t(s.pitch);
    uint8_t* out = raw.data() + size_t(y) * lineBytes;
    *out++ = 0;
    for (int32_t x = 0; x < s.width; ++x) {
      const uint32_t rgb = ShownRgb(s.bytesPerPixel, s.shownColours, row, x);
      *out++ = uint8_t(rgb >> 16);
      *out++ = uint8_t(rgb >> 8);
      *out++ = uint8_t(rgb);
    }
  }
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, uint32_t(s.width));
  PutBe32(ihdr, uint32_t(s.height));
  const uint8_t format[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter choice, no interlace
  Append(ihdr, format, 5);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", {});
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return 2;
  const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && written ? 0 : 3;
}

int32_t Screenshot(const std::string& path) {
  const Screen* s = gLayer.screen;
  if (!s || !s->visible) return Fail(1, {"Screenshot: no Screen is open"});
  switch (WritePagePng(*s, path.c_str())) {
    case 2: return Fail(2, {"Screenshot: \"", path, "\" cannot be opened for writing"});
    case 3: return Fail(3, {"Screenshot: writing \"", path, "\" failed"});
    default: return SetError(0);
  }
}

void WriteScreenshotIfAsked(const Screen& s) {
  const char* path = std::getenv("SCRSHOT");
  if (path && *path && s.visible) WritePagePng(s, path);
}

}  // namespace scr
