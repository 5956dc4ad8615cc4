// term_picture.h - turns a picture into terminal output bytes.
//
// Each character cell shows two pixels stacked: the upper-half-block
// character with the upper pixel's colour as foreground and the lower one's
// as background. A picture larger than the terminal is shrunk by the smallest
// whole factor that fits, each factor x factor block showing its most
// frequent colour. The encoder remembers what it last wrote, so an update
// writes only the cells that changed, in runs, with colour codes only where
// the colour differs from the one in force.
//
// Pure code over plain memory: no terminal, no screen state, no threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scr {

namespace termpic {

// Where the picture lies in the terminal.
struct Layout {
  int32_t factor = 1;             // pixels per block side
  int32_t columns = 0, rows = 0;  // cells the picture covers
  int32_t left = 0, top = 0;      // 0-based terminal cell of its top-left corner
};

// The smallest whole factor f >= 1 with ceil(width / f) <= termColumns and
// ceil(ceil(height / f) / 2) <= termRows, and the picture centred with it.
// A terminal size <= 0 counts as 80 x 24.
Layout ComputeLayout(int32_t width, int32_t height, int32_t termColumns, int32_t termRows);

// The most frequent 0xRRGGBB value of the w x h block at (x0, y0) of an image
// with `stride` pixels per row; between equally frequent values the one met
// first (row by row) wins. `scratch` is reused to avoid allocation.
uint32_t MajorityColour(const uint32_t* image, int32_t stride, int32_t x0, int32_t y0, int32_t w,
                        int32_t h, std::vector<uint32_t>& scratch);

// 0xRRGGBB of entry 16..255 of the common 256-colour terminal palette.
uint32_t Palette256Rgb(int32_t index);
// The entry 16..255 of that palette nearest to `rgb` (squared distance; the
// first sixteen entries differ between terminals and are never chosen).
uint8_t Nearest256(uint32_t rgb);

class Encoder {
 public:
  // Sets picture and terminal size and the colour form; the next Encode
  // repaints everything (clearing the terminal first).
  void Configure(int32_t width, int32_t height, int32_t termColumns, int32_t termRows,
                 bool trueColour);
  // Forgets what is on the terminal: the next Encode repaints everything.
  void Invalidate();
  // Appends to `out` the bytes that bring the terminal from the last picture
  // written to `image` (width x height 0xRRGGBB pixels, row-major), looking
  // only at pixel rows firstRow..lastRow (clamped; a repaint looks at all).
  // Returns the number of bytes appended.
  size_t Encode(const uint32_t* image, int32_t firstRow, int32_t lastRow, std::string& out);

  const Layout& layout() const { return layout_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  bool trueColour() const { return trueColour_; }
  bool configured() const { return width_ > 0 && height_ > 0; }

 private:
  struct Cell {
    uint32_t fg, bg;  // terminal colour codes: 0xRRGGBB or 256-colour index
    bool operator==(const Cell& o) const { return fg == o.fg && bg == o.bg; }
  };
  uint32_t TerminalColour(uint32_t rgb);
  uint32_t BlockColour(const uint32_t* image, int32_t bx, int32_t by);
  void AppendColour(std::string& out, const Cell& cell);
  void AppendMove(std::string& out, int32_t row, int32_t column);

  int32_t width_ = 0, height_ = 0;
  int32_t termColumns_ = 0;
  bool trueColour_ = true;
  Layout layout_;
  bool repaint_ = true;
  std::vector<Cell> shown_;  // what the terminal shows, per picture cell
  std::vector<Cell> next_;   // the wanted cells of the rows looked at
  uint32_t curFg_ = kUnknown, curBg_ = kUnknown;  // colours in force on the terminal
  std::vector<uint32_t> scratch_;
  uint32_t cacheKey_[64] = {};
  uint8_t cacheValue_[64] = {};
  bool cacheUsed_[64] = {};
  uint32_t lastRgb_ = kUnknown;  // the colour looked up last, and its index
  uint32_t lastIndex_ = 0;
  static constexpr uint32_t kUnknown = 0xFFFFFFFFu;
  static constexpr uint32_t kDefault = 0xFFFFFFFEu;  // the terminal's default colour
  static constexpr uint32_t kBlank = 0xFFFFFFFDu;    // fg of a blank cell (no character)
};

}  // namespace termpic

}  // namespace scr
