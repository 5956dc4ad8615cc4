// colours.h - the 16 colours every screen of the walkers shows, as a person sees them: the one
// table the window, terminal, PNG and browser checks compare against (the browser test reads it
// from this file).
#pragma once

#include <array>
#include <cstdint>

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

inline constexpr std::array<Rgb, 16> kShownColours = {{
    {0, 0, 0}, {0, 0, 170}, {0, 170, 0}, {0, 170, 170},
    {170, 0, 0}, {170, 0, 170}, {170, 85, 0}, {170, 170, 170},
    {85, 85, 85}, {85, 85, 255}, {85, 255, 85}, {85, 255, 255},
    {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255},
}};

// Value v (0..15) as 0xRRGGBB.
inline uint32_t ShownRgb(uint32_t v) {
  const Rgb c = kShownColours[v];
  return uint32_t(c.r) << 16 | c.g << 8 | c.b;
}
