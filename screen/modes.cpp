// modes.cpp - the ModeTable and the four default palettes.
//
// The palettes are kept unpacked. The 256-colour palette's hue runs (entries
// 32 to 247) are computed once from their 6-bit levels.
#include <array>

#include "modes.h"

namespace scr {

namespace {

const PaletteColour kColours2[2] = {{0, 0, 0}, {255, 255, 255}};

const PaletteColour kColours16[16] = {
    {0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
    {170, 0, 0},   {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
    {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255},
};

std::array<PaletteColour, 64> MakeColours64() {
  std::array<PaletteColour, 64> p{};
  for (int i = 0; i < 64; ++i) {
    auto bit = [i](int k) { return (i >> k) & 1; };
    p[i] = {uint8_t(170 * bit(2) + 85 * bit(5)), uint8_t(170 * bit(1) + 85 * bit(4)),
            uint8_t(170 * bit(0) + 85 * bit(3))};
  }
  return p;
}

// Nine hue runs of 24: three brightnesses x three saturations, each given by
// five 6-bit levels from the run's floor to its ceiling.
std::array<PaletteColour, 256> MakeColours256() {
  static const uint8_t kGreys[16] = {0, 20, 32, 44, 56, 68, 80, 97, 113, 129, 145, 161, 182, 202, 226, 255};
  static const uint8_t kLevels[9][5] = {
      {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
      {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
      {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
  };
  // Which level each of red, green and blue takes along a run of 24 hues.
  static const uint8_t kRun[24][3] = {
      {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
      {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
      {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
  };
  std::array<PaletteColour, 256> p{};
  for (int i = 0; i < 16; ++i) p[i] = kColours16[i];
  for (int i = 0; i < 16; ++i) p[16 + i] = {kGreys[i], kGreys[i], kGreys[i]};
  auto to8 = [](int v6) { return uint8_t(v6 * 255 / 63); };
  for (int run = 0; run < 9; ++run)
    for (int h = 0; h < 24; ++h)
      p[32 + run * 24 + h] = {to8(kLevels[run][kRun[h][0]]), to8(kLevels[run][kRun[h][1]]),
                              to8(kLevels[run][kRun[h][2]])};
  // 248..255 stay black.
  return p;
}

const std::array<PaletteColour, 64> kColours64 = MakeColours64();
const std::array<PaletteColour, 256> kColours256 = MakeColours256();

const DefaultPalette kPalette2 = {2, kColours2};
const DefaultPalette kPalette16 = {16, kColours16};
const DefaultPalette kPalette64 = {64, kColours64.data()};
const DefaultPalette kPalette256 = {256, kColours256.data()};

const uint8_t kMapIdentity[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const uint8_t kMapMode9[16] = {0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63};
const uint8_t kMapMode2[16] = {0, 15};
const uint8_t kMapMode1[16] = {0, 11, 13, 15};

// clang-format off
const ModeInfo kModeTable[22] = {
    //  ok     w     h    d  lm pg  palette       cell    text grid  map
    {false,    0,    0, 0, 1, 0, nullptr,      8,  8,   80, 25, nullptr},       // 0: text console
    {true,   320,  200, 2, 1, 8, &kPalette16,  8,  8,   40, 25, kMapMode1},
    {true,   640,  200, 1, 2, 1, &kPalette16,  8,  8,   80, 25, kMapMode2},
    {false,    0,    0, 0, 1, 0, nullptr,      8,  8,    0,  0, nullptr},       // 3..6: not available
    {false,    0,    0, 0, 1, 0, nullptr,      8,  8,    0,  0, nullptr},
    {false,    0,    0, 0, 1, 0, nullptr,      8,  8,    0,  0, nullptr},
    {false,    0,    0, 0, 1, 0, nullptr,      8,  8,    0,  0, nullptr},
    {true,   320,  200, 4, 1, 8, &kPalette16,  8,  8,   40, 25, kMapIdentity},
    {true,   640,  200, 4, 2, 4, &kPalette16,  8,  8,   80, 25, kMapIdentity},
    {true,   640,  350, 4, 1, 2, &kPalette64,  8, 14,   80, 25, kMapMode9},
    {true,   640,  350, 1, 1, 2, &kPalette2,   8, 14,   80, 25, nullptr},
    {true,   640,  480, 1, 1, 1, &kPalette2,   8, 16,   80, 30, nullptr},
    {true,   640,  480, 4, 1, 1, &kPalette256, 8, 16,   80, 30, nullptr},
    {true,   320,  200, 8, 1, 1, &kPalette256, 8,  8,   40, 25, nullptr},
    {true,   320,  240, 8, 1, 1, &kPalette256, 8,  8,   40, 30, nullptr},
    {true,   400,  300, 8, 1, 1, &kPalette256, 8,  8,   50, 37, nullptr},
    {true,   512,  384, 8, 1, 1, &kPalette256, 8, 16,   64, 24, nullptr},
    {true,   640,  400, 8, 1, 1, &kPalette256, 8, 16,   80, 25, nullptr},
    {true,   640,  480, 8, 1, 1, &kPalette256, 8, 16,   80, 30, nullptr},
    {true,   800,  600, 8, 1, 1, &kPalette256, 8, 16,  100, 37, nullptr},
    {true,  1024,  768, 8, 1, 1, &kPalette256, 8, 16,  128, 48, nullptr},
    {true,  1280, 1024, 8, 1, 1, &kPalette256, 8, 16,  160, 64, nullptr},
};
// clang-format on

}  // namespace

const DefaultPalette& Palette2() { return kPalette2; }
const DefaultPalette& Palette16() { return kPalette16; }
const DefaultPalette& Palette64() { return kPalette64; }
const DefaultPalette& Palette256() { return kPalette256; }

const ModeInfo& ModeTableRow(int32_t mode) { return kModeTable[mode]; }

}  // namespace scr
