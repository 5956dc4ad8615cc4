// presenter.h - what every Presenter does the same way, whatever it shows on.
//
// One pass: under the platform lock, TakeChanges copies the changed span of
// the visible page and a changed palette into the Presenter's own Frame and
// clears DirtyRows; then, outside the lock, the back-end converts and shows
// the Frame. Nothing slow ever runs while the program's thread may be waiting
// for the lock to draw a pixel.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

struct Screen;

// The colours recorded by setPaletteEntry, waiting for the next pass.
struct UploadTable {
  uint32_t rgb[256] = {};  // 0xRRGGBB
  bool changed = false;
};

// The Presenter's private copy of what it shows.
struct Frame {
  int32_t width = 0;
  int32_t height = 0;         // window rows (page rows * LineMultiplier)
  int32_t bytesPerPixel = 1;  // of the page rows copied into `pixels`
  std::vector<uint8_t> pixels;  // height rows of width * bytesPerPixel bytes
  uint32_t colours[256] = {};   // 0xRRGGBB per pixel value (one-byte pages)
  int32_t firstDirty = -1;      // window rows changed by the last TakeChanges
  int32_t lastDirty = -1;
  bool paletteChanged = false;
};

// Under the platform lock: takes the palette when changed and the span of
// dirty rows of the visible page into `frame`, then clears DirtyRows.
// Returns true when anything changed.
bool TakeChanges(Screen& screen, UploadTable& upload, Frame& frame);

// Converts window row y of the frame to 0xRRGGBB pixels (width of them).
void FrameRowToRgb(const Frame& frame, int32_t y, uint32_t* out);
