// programs.h - the three walker programs as the end-to-end suites run them
// (native and under Wine): their screens, a shell command's output, a SCRSHOT
// PNG and a window's xwd dump read back, and whether a picture is the
// reference frame.
#pragma once

#include <png.h>

#include <cstdio>

#include "walker_frames.h"

struct ProgramInfo { const char* name; int32_t width, height, offset; };
inline void PrintTo(const ProgramInfo& p, std::ostream* os) { *os << p.name; }
inline const ProgramInfo kPrograms[] = {
    {"mapwalk1", 320, 200, 0}, {"mapwalk2", 640, 480, 1}, {"mapwalk3", 640, 480, 0}};

inline std::string Shell(const std::string& command) {  // its standard output, empty when it fails
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += char(c);
  return pipe && pclose(pipe) == 0 ? out : "";
}

inline std::vector<uint32_t> ReadPng(const std::filesystem::path& path) {  // 0xRRGGBB per pixel
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return {};
  std::vector<uint32_t> px(bytes.size() / 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = bytes[3 * i] << 16 | bytes[3 * i + 1] << 8 | bytes[3 * i + 2];
  return px;
}

// 0xRRGGBB as a 5-6-5 display shows it: each field's top bits, repeated into its low ones.
inline uint32_t FiveSixFive(uint32_t rgb) {
  const uint32_t r = rgb >> 19 & 31, g = rgb >> 10 & 63, b = rgb >> 3 & 31;
  return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

// The width x height client area of a window's xwd dump as 0xRRGGBB, 2 (5-6-5), 3 or 4 bytes a pixel (a
// window with an OpenGL visual gives 3), least significant first (empty when it does not fit): a frame drawn
// by the program itself, as under Wine, is as wide on the left, right and bottom, with the caption on top.

inline std::vector<uint32_t> XwdArea(const std::string& d, int32_t width, int32_t height) {
  auto be32 = [&d](size_t at) {
    return uint32_t(uint8_t(d[at])) << 24 | uint8_t(d[at + 1]) << 16 | uint8_t(d[at + 2]) << 8 | uint8_t(d[at + 3]);
  };
  std::vector<uint32_t> image;
  if (d.size() < 100) return image;
  const int32_t w = int32_t(be32(16)), h = int32_t(be32(20)), border = (w - width) / 2, top = h - height - border;
  const size_t line = be32(48), start = be32(0) + be32(76) * 12, bytes = be32(44) / 8;
  if (border < 0 || top < 0 || bytes < 2 || line < size_t(w) * bytes || d.size() < start + line * size_t(h))
    return image;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const size_t at = start + size_t(top + y) * line + size_t(border + x) * bytes;
      const uint32_t v = uint8_t(d[at + 1]) << 8 | uint8_t(d[at]);  // 2 bytes: 5-6-5, widened as FiveSixFive does
      image.push_back(bytes == 2 ? FiveSixFive((v << 8 & 0xF80000) | (v << 5 & 0xFC00) | (v << 3 & 0xF8))
                                 : uint8_t(d[at + 2]) << 16 | v);
    }
  return image;
}

// The finished frame for a player at page pixel (x, y) on the program's screen with the flames in
// `phase` (0 or 1). They flip on the program's own clock: phase -1 takes either.
inline ::testing::AssertionResult Shows(const Assets& a, const ProgramInfo& p, int32_t x, int32_t y,
                                        const std::vector<uint32_t>& got, int32_t phase = -1) {
  if (phase >= 0) return SameFrame(Shown(ReferenceFrame(a, x, y, phase, true, p.width, p.height)), got);
  ::testing::AssertionResult same = Shows(a, p, x, y, got, 0);
  return same ? same : Shows(a, p, x, y, got, 1);
}
