// frame.h (bench) - one frame of the walker's shape, drawn flat out by the
// window benchmarks: page copy from the map store (page 2), 105 pixel reads,
// a filled box, 15 x 7 tiles of 16 x 16 in Xor with some outlines, the frame
// number in eight marker pixels at (600..607, 0), the copy onto the visible
// page, InKey.
#pragma once

#include "screen.h"

namespace bench {

// Drawing calls of one frame, each taking the screen lock once.
inline constexpr int kLocksPerFrame = 2 + 105 + 1 + 105 + 35 + 1 + 8;

inline void WalkerFrame(scr::ImageBuffer* tile, int step) {
  using namespace scr;
  PageCopy(2, 1);
  int32_t cells = 0;
  for (int cy = 0; cy < 7; ++cy)
    for (int cx = 0; cx < 15; ++cx) cells += GetPixel(nullptr, float((cx + step) % 64), float(cy));
  DrawLine(nullptr, 0, 40, 239, 151, 0, LineShape::FilledBox);
  for (int cy = 0; cy < 7; ++cy)
    for (int cx = 0; cx < 15; ++cx) {
      const float x = float(cx * 16), y = float(40 + cy * 16);
      PutImage(nullptr, x, y, tile, kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Xor);
      if ((cells + cx + cy) % 3 == 0) DrawLine(nullptr, x, y, x + 15, y + 15, 4, LineShape::Box);
    }
  DrawLine(nullptr, 0, 40, 239, 151, 14, LineShape::Box);
  for (int k = 0; k < 8; ++k) PutPixel(nullptr, float(600 + k), 0, uint32_t(step >> (4 * k)) & 15);
  PageCopy(1, 0);
  InKey();
}

}  // namespace bench
