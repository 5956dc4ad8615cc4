// programs.h - the three walker programs as the end-to-end suites run them
// (native and under Wine): their screens, a shell command's output, a SCRSHOT
// PNG read back, and whether a picture is the reference frame.
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

// The finished frame for a player at page pixel (x, y) on the program's screen. The flames flip
// on the program's own clock: either phase will do.
inline ::testing::AssertionResult Shows(const Assets& a, const ProgramInfo& p, int32_t x, int32_t y,
                                        const std::vector<uint32_t>& got) {
  ::testing::AssertionResult same = SameFrame(Shown(ReferenceFrame(a, x, y, 0, true, p.width, p.height)), got);
  return same ? same : SameFrame(Shown(ReferenceFrame(a, x, y, 1, true, p.width, p.height)), got);
}
