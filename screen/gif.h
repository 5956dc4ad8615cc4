// gif.h - an animated GIF written a frame at a time, for recordings.
//
// The file decodes after every frame: each frame is followed by the trailer,
// which the next frame overwrites, and the frame's delay is patched in place
// once the next picture's time is known. A program that is killed leaves a
// GIF of everything written so far.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace scr {

class GifWriter {
 public:
  GifWriter() = default;
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;
  ~GifWriter() { Close(-1); }

  // Creates `path` for pictures of width x height pixels, each a byte that
  // indexes a table of `colours` (a power of two, 2 to 256). 0, or 2 when the
  // file cannot be created (or the sizes are none of these).
  int32_t Open(const char* path, int32_t width, int32_t height, int32_t colours);
  bool IsOpen() const { return file_ != nullptr; }
  // Adds the picture shown from `centiseconds` on (counted from any origin,
  // never going back) with its table of 0xRRGGBB colours. A picture equal to
  // the last one only lengthens it; otherwise the rectangle that changed is
  // stored. 0, or 3 when writing fails (the file then stays as it was).
  int32_t Add(const uint8_t* pixels, const uint32_t* palette, int64_t centiseconds);
  // Gives the last picture the time up to `centiseconds` (ignored when
  // negative) and closes the file.
  int32_t Close(int64_t centiseconds);

 private:
  bool WriteFrame(const uint8_t* pixels, const uint32_t* palette, bool newPalette);
  bool PatchDelay(int64_t centiseconds);
  int32_t UnusedIndex(const uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const;

  std::FILE* file_ = nullptr;
  int32_t width_ = 0, height_ = 0, colours_ = 0, tableBits_ = 1;
  std::vector<uint8_t> last_;             // the last picture written
  std::vector<uint32_t> global_, shown_;  // the file's table; the last picture's
  int64_t lastTime_ = 0;                  // when the last picture began
  long delayAt_ = -1;                     // file offset of its delay
  bool failed_ = false;
};

// The colour index of 0xRRGGBB in DeepPalette: a 6 x 7 x 6 cube.
uint8_t DeepColourIndex(uint32_t rgb);
// The 252 colours of that cube, then black up to 256.
const uint32_t* DeepPalette();

}  // namespace scr
