// reference_frame.h - the frame the walker rules give, built pixel by pixel
// from a test's own tiles and map: the reference every walker suite compares
// the programs' frames with.
#pragma once

#include <cstdint>
#include <vector>

// The frame for a player at page pixel (x, y) on a pageW x pageH page whose map
// picture starts at (offset, offset): black, each window cell drawn by its
// code (tiles XOR-ed, outlines in 15, in row order), and when `finished` the
// frame outline and the sprite OR-ed at (112, 48). The result is the top-left
// frameW x frameH pixels (the whole page when 0). `Assets` holds the five
// tiles (256 values each) and the 64 x 32 map values.
template <class Assets>
std::vector<uint8_t> ReferenceFrame(const Assets& a, int32_t pageW, int32_t pageH, int32_t offset,
                                    int32_t x, int32_t y, int32_t phase, bool finished = true,
                                    int32_t frameW = 0, int32_t frameH = 0) {
  if (frameW == 0) frameW = pageW;
  if (frameH == 0) frameH = pageH;
  std::vector<uint8_t> f(size_t(frameW) * size_t(frameH), 0);
  auto at = [&](int32_t px, int32_t py) -> uint8_t& { return f[size_t(py * frameW + px)]; };
  auto cell = [&](int32_t px, int32_t py) -> int32_t {
    if (px < 0 || py < 0 || px >= pageW || py >= pageH) return -1;
    const int32_t i = px - offset, j = py - offset;
    if (i < 0 || j < 0 || i >= 64 || j >= 32) return 0;
    return a.map[size_t(j * 64 + i)] & 0xFF;
  };
  auto box = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    for (int32_t px = x1; px <= x2; ++px) at(px, y1) = at(px, y2) = 15;
    for (int32_t py = y1; py <= y2; ++py) at(x1, py) = at(x2, py) = 15;
  };
  auto blit = [&](const auto& t, int32_t left, int32_t top, bool useOr) {
    for (int32_t i = 0; i < 16; ++i)
      for (int32_t j = 0; j < 16; ++j) {
        const uint8_t s = uint8_t(t[size_t(i * 16 + j)]);
        uint8_t& d = at(left + j, top + i);
        d = useOr ? uint8_t(d | s) : uint8_t(d ^ s);
      }
  };
  for (int32_t r = 1; r <= 7; ++r)
    for (int32_t c = 1; c <= 15; ++c) {
      const int32_t v = cell(x + c - 8, y + r - 4);
      const int32_t left = c * 16 - 16, top = r * 16 - 16;
      if (v == 1) blit(a.brick, left, top, false);
      else if (v == 2 || v == 3) blit(phase == 0 ? a.flameA : a.flameB, left, top, false);
      else if (v == 4) blit(a.skull, left, top, false);
      else if (v >= 5) box(left, top, c * 16, r * 16);
    }
  if (finished) {
    box(0, 0, 240, 112);
    blit(a.sprite, 112, 48, true);
  }
  return f;
}
