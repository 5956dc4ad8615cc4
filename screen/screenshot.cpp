// screenshot.cpp - SCRSHOT: the visible page written as a PNG file when the
// Screen closes, through the colours it is shown in, at the Screen's size.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "screenshot.h"
#include "pixels.h"
#include "state.h"

namespace scr {

namespace {

// 0xRRGGBB of pixel x of a page row, as the window shows it.
uint32_t ShownRgb(const Screen& s, const uint8_t* row, int32_t x) {
  switch (s.bytesPerPixel) {
    case 1: {
      uint32_t c = s.shownColours[row[x]];  // red + green * 256 + blue * 65536
      return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
    case 2:
      return Widen565(ReadU16(row + 2 * x));
    default:
      return (uint32_t(row[4 * x + 2]) << 16) | (uint32_t(row[4 * x + 1]) << 8) | row[4 * x];
  }
}

}  // namespace

bool WritePagePng(const Screen& s, const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  std::vector<uint8_t> line(size_t(s.width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(s.width), png_uint_32(s.height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.visible + size_t(y) * size_t(s.pitch);
    for (int32_t x = 0; x < s.width; ++x) {
      uint32_t rgb = ShownRgb(s, row, x);
      line[3 * size_t(x)] = uint8_t(rgb >> 16);
      line[3 * size_t(x) + 1] = uint8_t(rgb >> 8);
      line[3 * size_t(x) + 2] = uint8_t(rgb);
    }
    png_write_row(png, line.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

void WriteScreenshotIfAsked(const Screen& s) {
  const char* path = std::getenv("SCRSHOT");
  if (path && *path && s.visible) WritePagePng(s, path);
}

}  // namespace scr
