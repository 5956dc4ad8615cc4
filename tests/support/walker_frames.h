// walker_frames.h - asset files made by a test, and the frame the walker
// rules give for them: the reference the end-to-end suites compare with.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reference_frame.h"

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
