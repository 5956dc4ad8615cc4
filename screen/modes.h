// modes.h - the ModeTable and the four default palettes.
#pragma once

#include <cstdint>

namespace scr {

struct PaletteColour {
  uint8_t r, g, b;
};

// One of the four fixed default palettes (2, 16, 64 or 256 entries).
struct DefaultPalette {
  int32_t count;
  const PaletteColour* colours;
};
const DefaultPalette& Palette2();
const DefaultPalette& Palette16();
const DefaultPalette& Palette64();
const DefaultPalette& Palette256();

// A row of the ModeTable (modes 0..21; 3 to 6 and 0 are not graphics modes).
struct ModeInfo {
  bool available;
  int32_t width, height, depth, lineMultiplier, defaultPages;
  const DefaultPalette* palette;
  int32_t cellWidth, cellHeight, textColumns, textRows;
  const uint8_t* attributeMap;  // 16 entries, or null when the mode has none
};
const ModeInfo& ModeTableRow(int32_t mode);  // mode 0..21

// Packs 8-bit components as red + green * 256 + blue * 65536.
inline uint32_t PackColour(PaletteColour c) {
  return uint32_t(c.r) | (uint32_t(c.g) << 8) | (uint32_t(c.b) << 16);
}

}  // namespace scr
