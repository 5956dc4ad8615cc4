// walker_frames.h - asset files made by a test, and the frame the walker
// rules give for them: the reference the end-to-end suites compare with.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Tile = std::array<int32_t, 256>;

inline Tile Pattern(int32_t seed) {
  Tile t{};
  for (int32_t i = 0; i < 16; ++i)
    for (int32_t j = 0; j < 16; ++j) {
      const int32_t h = i * 29 + j * 11 + seed * 5 + (i ^ j);
      t[size_t(i * 16 + j)] = (h % 3 == 0) ? 0 : 1 + (h + seed) % 15;
    }
  return t;
}

struct Assets {
  Tile brick = Pattern(1), flameA = Pattern(2), flameB = Pattern(3), skull = Pattern(4),
       sprite = Pattern(5);
  std::vector<int32_t> map = std::vector<int32_t>(64 * 32, 0);

  static void Write(const std::filesystem::path& dir, const std::string& name,
                    const int32_t* values, size_t count, int32_t w) {
    std::ofstream out(dir / name, std::ios::binary);
    for (size_t i = 0; i < count; ++i) out << values[i] << ((i + 1) % size_t(w) == 0 ? "\n" : " ");
  }
  void WriteAll(const std::filesystem::path& dir) const {
    Write(dir, "brick03.mem", brick.data(), 256, 16);
    Write(dir, "flame01.mem", flameA.data(), 256, 16);
    Write(dir, "flame02.mem", flameB.data(), 256, 16);
    Write(dir, "skull01.mem", skull.data(), 256, 16);
    Write(dir, "wayfar1.mem", sprite.data(), 256, 16);
    Write(dir, "map002.mem", map.data(), map.size(), 64);
  }
};

// The expected page 0 (w x h pixel values) for a player at page pixel (x, y).
inline std::vector<uint8_t> ExpectedPage(const Assets& a, int32_t w, int32_t h, int32_t offset, int32_t x,
                                  int32_t y, int32_t phase) {
  std::vector<uint8_t> f(size_t(w * h), 0);
  auto at = [&](int32_t px, int32_t py) -> uint8_t& { return f[size_t(py * w + px)]; };
  auto cell = [&](int32_t px, int32_t py) -> int32_t {
    if (px < 0 || py < 0 || px >= w || py >= h) return -1;
    const int32_t i = px - offset, j = py - offset;
    if (i < 0 || j < 0 || i >= 64 || j >= 32) return 0;
    return a.map[size_t(j * 64 + i)] & 0xFF;
  };
  auto box = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    for (int32_t px = x1; px <= x2; ++px) at(px, y1) = at(px, y2) = 15;
    for (int32_t py = y1; py <= y2; ++py) at(x1, py) = at(x2, py) = 15;
  };
  auto blit = [&](const Tile& t, int32_t left, int32_t top, bool useOr) {
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
      if (v == 1) blit(a.brick, c * 16 - 16, r * 16 - 16, false);
      else if (v == 2 || v == 3) blit(phase == 0 ? a.flameA : a.flameB, c * 16 - 16, r * 16 - 16, false);
      else if (v == 4) blit(a.skull, c * 16 - 16, r * 16 - 16, false);
      else if (v >= 5) box(c * 16 - 16, r * 16 - 16, c * 16, r * 16);
    }
  box(0, 0, 240, 112);
  blit(a.sprite, 112, 48, true);
  return f;
}
