// walker_frames.h - asset files made by a test and the frame the walker rules
// give for them, built pixel by pixel: the reference every walker suite uses.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>

#include "colours.h"


using Pixels = std::vector<uint8_t>;  // one value per pixel, row by row
using Tile = std::array<int32_t, 256>;

inline Tile Pattern(int32_t seed) {  // a 16-colour tile of its own for each seed, some of it 0
  Tile t{};
  for (int32_t i = 0; i < 256; ++i) t[size_t(i)] = (i * (seed + 4) + i / 16 * seed * 3) % 19 % 16;
  return t;
}

struct Assets {
  Tile brick = Pattern(1), flameA = Pattern(2), flameB = Pattern(3), skull = Pattern(4), sprite = Pattern(5);
  std::vector<int32_t> map = std::vector<int32_t>(64 * 32, 0);
  int32_t offset = 0;  // page pixel of the map's first cell

  void Put(std::initializer_list<std::array<int32_t, 3>> cells) {  // page x, y, code
    for (auto [x, y, code] : cells) map[size_t((y - offset) * 64 + x - offset)] = code;
  }
  // A brick in the map's corner and below-right of the start (2, 2); a skull, two outlines (the first outline
  // code and a later one), both flames.
  void Scenery() { Put({{offset, offset, 1}, {3, 3, 1}, {4, 1, 4}, {5, 2, 7}, {8, 2, 5}, {6, 4, 2}, {7, 4, 3}}); }
  static void Write(const std::filesystem::path& file, const int32_t* v, size_t n, size_t w) {
    std::ofstream out(file, std::ios::binary);
    for (size_t i = 0; i < n; ++i) out << v[i] << ((i + 1) % w == 0 ? "\n" : i % 3 ? " " : ", ");
  }
  void WriteAll(const std::filesystem::path& dir) const {
    for (auto [name, t] : {std::pair{"brick03.mem", &brick}, {"flame01.mem", &flameA}, {"flame02.mem", &flameB},
                           {"skull01.mem", &skull}, {"wayfar1.mem", &sprite}})
      Write(dir / name, t->data(), 256, 16);
    Write(dir / "map002.mem", map.data(), map.size(), 64);
  }
};

// The top-left w x h pixels of the frame for a player at page pixel (x, y):
// black, each of the 15 x 7 window cells by its code (tiles XOR-ed, codes
// from 5 up a colour-15 outline; nothing outside the map), and when
// `finished` the frame outline and the sprite OR-ed at (112, 48).
inline Pixels ReferenceFrame(const Assets& a, int32_t x, int32_t y, int32_t phase, bool finished, int32_t w,
                             int32_t h) {
  Pixels f(size_t(w * h), 0);
  auto at = [&](int32_t px, int32_t py) -> uint8_t& { return f[size_t(py * w + px)]; };
  auto box = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    for (int32_t px = x1; px <= x2; ++px) at(px, y1) = at(px, y2) = 15;
    for (int32_t py = y1; py <= y2; ++py) at(x1, py) = at(x2, py) = 15;
  };
  auto blit = [&](const Tile& t, int32_t left, int32_t top, bool useOr) {
    for (int32_t i = 0; i < 256; ++i) {
      uint8_t& d = at(left + i % 16, top + i / 16);
      d = uint8_t(useOr ? d | t[size_t(i)] : d ^ t[size_t(i)]);
    }
  };
  for (int32_t r = 1; r <= 7; ++r)
    for (int32_t c = 1; c <= 15; ++c) {
      const int32_t i = x + c - 8 - a.offset, j = y + r - 4 - a.offset, left = c * 16 - 16, top = r * 16 - 16;
      const int32_t v = i < 0 || j < 0 || i >= 64 || j >= 32 ? 0 : a.map[size_t(j * 64 + i)] & 0xFF;
      if (v == 1 || v == 4) blit(v == 1 ? a.brick : a.skull, left, top, false);
      else if (v == 2 || v == 3) blit(phase == 0 ? a.flameA : a.flameB, left, top, false);
      else if (v >= 5) box(left, top, c * 16, r * 16);
    }
  if (finished) {
    box(0, 0, 240, 112);
    blit(a.sprite, 112, 48, true);
  }
  return f;
}

// The frame as a person sees it: 0xRRGGBB per pixel through the 16 shown colours (values
// from 16 up are black on the walkers' 16-colour screens).
inline std::vector<uint32_t> Shown(const Pixels& frame) {
  std::vector<uint32_t> rgb(frame.size());
  for (size_t i = 0; i < frame.size(); ++i) rgb[i] = frame[i] < 16 ? ShownRgb(frame[i]) : 0;
  return rgb;
}

// Compares a frame with what was seen, value by value.
template <typename Want>
::testing::AssertionResult SameFrame(const std::vector<Want>& want, const std::vector<uint32_t>& got) {
  size_t bad = want.size() == got.size() ? 0 : want.size(), first = 0;
  for (size_t i = 0; i < want.size() && i < got.size(); ++i)
    if (want[i] != got[i] && !bad++) first = i;
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " of " << got.size() << " pixels differ, the first at index " << first;
}
