// presenter.cpp - the part of a Presenter pass that every back-end shares.
#include "backend/presenter.h"

#include <cstring>

#include "state.h"

bool TakeChanges(Screen& s, UploadTable& upload, Frame& frame) {
  bool resized = frame.width != s.width || frame.height != s.windowHeight ||
                 frame.bytesPerPixel != s.bytesPerPixel;
  if (resized) {
    frame.width = s.width;
    frame.height = s.windowHeight;
    frame.bytesPerPixel = s.bytesPerPixel;
    frame.pixels.assign(size_t(s.pitch) * size_t(s.windowHeight), 0);
  }
  frame.paletteChanged = false;
  if (upload.changed) {
    std::memcpy(frame.colours, upload.rgb, sizeof frame.colours);
    upload.changed = false;
    frame.paletteChanged = true;
  }

  int32_t first = -1, last = -1;
  if (resized) {
    first = 0;
    last = s.windowHeight - 1;
  } else {
    const uint8_t* d = s.dirtyRows.data();
    for (int32_t y = 0; y < s.windowHeight; ++y)
      if (d[y]) { first = y; break; }
    if (first >= 0)
      for (int32_t y = s.windowHeight - 1; y >= first; --y)
        if (d[y]) { last = y; break; }
  }
  frame.firstDirty = first;
  frame.lastDirty = last;
  if (first >= 0 && s.visible) {
    const size_t pitch = size_t(s.pitch);
    if (s.lineMultiplier == 1) {
      std::memcpy(frame.pixels.data() + size_t(first) * pitch, s.visible + size_t(first) * pitch,
                  size_t(last - first + 1) * pitch);
    } else {
      for (int32_t y = first; y <= last; ++y)
        std::memcpy(frame.pixels.data() + size_t(y) * pitch,
                    s.visible + size_t(y / s.lineMultiplier) * pitch, pitch);
    }
  }
  if (!s.dirtyRows.empty()) std::memset(s.dirtyRows.data(), 0, s.dirtyRows.size());
  return first >= 0 || frame.paletteChanged;
}

void FrameRowToRgb(const Frame& f, int32_t y, uint32_t* out) {
  const uint8_t* row = f.pixels.data() + size_t(y) * size_t(f.width) * size_t(f.bytesPerPixel);
  switch (f.bytesPerPixel) {
    case 1:
      for (int32_t x = 0; x < f.width; ++x) out[x] = f.colours[row[x]];
      break;
    case 2:
      for (int32_t x = 0; x < f.width; ++x) {
        uint32_t v = uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
        uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
        r = (r << 3) | (r >> 2);
        g = (g << 2) | (g >> 4);
        b = (b << 3) | (b >> 2);
        out[x] = (r << 16) | (g << 8) | b;
      }
      break;
    default:
      for (int32_t x = 0; x < f.width; ++x) {
        uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        out[x] = v & 0xFFFFFF;
      }
      break;
  }
}
