// term_test.cpp - the terminal picture encoder: layout and scaling, majority
// colour, half-block cells, change-only output and the two colour forms.
//
// Output is checked by replaying it on a small terminal model that knows the
// sequences the encoder may write (cursor position, clear, colours, the
// half-block character, and the shifts: delete/insert character, scroll
// region, scroll up/down, acting as xterm does) and refuses anything else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/term_picture.h"
#include "screen.h"
#include "termkeys.h"

extern const Backend kTermBackend;

namespace {

using termpic::ComputeLayout;
using termpic::Encoder;
using termpic::Layout;

// A terminal of cells, each holding what was last written there.
struct TermModel {
  struct Cell {
    bool written = false;
    bool half = false;  // the upper-half-block character
    int32_t fg = -1, bg = -1;  // 0xRRGGBB (true colour) or 256-colour index; -1 default
  };
  int32_t columns, rows;
  std::vector<Cell> cells;
  int32_t row = 0, col = 0;
  int32_t fg = -1, bg = -1;
  int32_t regionTop = 0, regionBottom;  // the scroll region, rows inclusive
  int32_t cellsWritten = 0;
  int32_t colourCodes = 0;
  int32_t clears = 0;
  int32_t charShifts = 0, rowScrolls = 0;
  bool alternate = false, cursorShown = true;
  std::string error;

  TermModel(int32_t c, int32_t r)
      : columns(c), rows(r), cells(size_t(c) * size_t(r)), regionBottom(r - 1) {}

  Cell& At(int32_t r, int32_t c) { return cells[size_t(r) * size_t(columns) + size_t(c)]; }

  static std::vector<int32_t> Params(const std::string& s) {
    std::vector<int32_t> p;
    int32_t v = 0;
    bool any = false;
    for (char ch : s) {
      if (ch == ';') {
        p.push_back(any ? v : 0);
        v = 0;
        any = false;
      } else {
        v = v * 10 + (ch - '0');
        any = true;
      }
    }
    p.push_back(any ? v : 0);
    return p;
  }

  void Sgr(const std::vector<int32_t>& p) {
    ++colourCodes;
    for (size_t i = 0; i < p.size(); ++i) {
      if (p[i] == 0) {
        fg = bg = -1;
      } else if (p[i] == 39) {
        fg = -1;
      } else if (p[i] == 49) {
        bg = -1;
      } else if ((p[i] == 38 || p[i] == 48) && i + 1 < p.size()) {
        int32_t& target = p[i] == 38 ? fg : bg;
        if (p[i + 1] == 2 && i + 4 < p.size()) {
          target = (p[i + 2] << 16) | (p[i + 3] << 8) | p[i + 4];
          i += 4;
        } else if (p[i + 1] == 5 && i + 2 < p.size()) {
          target = p[i + 2];
          i += 2;
        } else {
          error = "bad colour code";
        }
      } else {
        error = "unexpected SGR " + std::to_string(p[i]);
      }
    }
  }

  // A cell erased by a shift: no character, the background in force.
  Cell Blank() const { return Cell{true, false, -1, bg}; }

  // DCH / ICH: the cells from the cursor to the right margin move left
  // (cells deleted) or right (blanks inserted at the cursor); the cursor stays.
  void ShiftChars(int32_t n, bool insert) {
    if (col >= columns) {
      error = "shift at the wrap position";
      return;
    }
    ++charShifts;
    n = std::min(std::max(n, 1), columns - col);
    Cell* line = &At(row, 0);
    if (insert) {
      for (int32_t x = columns - 1; x >= col + n; --x) line[x] = line[x - n];
      for (int32_t x = col; x < col + n; ++x) line[x] = Blank();
    } else {
      for (int32_t x = col; x < columns - n; ++x) line[x] = line[x + n];
      for (int32_t x = columns - n; x < columns; ++x) line[x] = Blank();
    }
  }

  // SU / SD: the rows of the scroll region move up (blank rows enter at its
  // bottom) or down (at its top), whole lines; the cursor stays.
  void ScrollRegion(int32_t n, bool up) {
    ++rowScrolls;
    const int32_t height = regionBottom - regionTop + 1;
    n = std::min(std::max(n, 1), height);
    auto line = [&](int32_t r) { return cells.begin() + std::ptrdiff_t(r) * columns; };
    if (up) {
      for (int32_t r = regionTop; r + n <= regionBottom; ++r) std::copy_n(line(r + n), columns, line(r));
      for (int32_t r = regionBottom - n + 1; r <= regionBottom; ++r) std::fill_n(line(r), columns, Blank());
    } else {
      for (int32_t r = regionBottom; r - n >= regionTop; --r) std::copy_n(line(r - n), columns, line(r));
      for (int32_t r = regionTop; r < regionTop + n; ++r) std::fill_n(line(r), columns, Blank());
    }
  }

  void Feed(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size() && error.empty()) {
      unsigned char b = static_cast<unsigned char>(bytes[i]);
      if (b == 0x1B) {
        if (i + 1 >= bytes.size() || bytes[i + 1] != '[') {
          error = "ESC without [";
          return;
        }
        size_t j = i + 2;
        const bool priv = j < bytes.size() && bytes[j] == '?';
        if (priv) ++j;
        while (j < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[j])) ||
                                    bytes[j] == ';'))
          ++j;
        if (j >= bytes.size()) {
          error = "unterminated sequence";
          return;
        }
        std::string params = bytes.substr(i + 2 + (priv ? 1 : 0), j - i - 2 - (priv ? 1 : 0));
        char final = bytes[j];
        auto p = Params(params);
        if (priv) {
          if (final != 'h' && final != 'l') error = "bad private mode";
          if (params == "1049") alternate = final == 'h';
          if (params == "25") cursorShown = final == 'h';
        } else if (final == 'H') {
          row = p[0] - 1;
          col = p.size() > 1 ? p[1] - 1 : 0;
          if (row < 0 || row >= rows || col < 0 || col >= columns) error = "move outside";
        } else if (final == 'J' && params == "2") {
          ++clears;
          for (auto& c : cells) c = Cell{true, false, -1, bg};
        } else if (final == 'm') {
          Sgr(p);
        } else if (final == 'P' || final == '@') {
          ShiftChars(p[0], final == '@');
        } else if (final == 'S' || final == 'T') {
          ScrollRegion(p[0], final == 'S');
        } else if (final == 'r') {
          // DECSTBM: top;bottom (1-based, defaults the whole screen); the
          // cursor goes home. A region of fewer than two rows is ignored.
          const int32_t t = p[0] > 0 ? p[0] : 1;
          const int32_t b = p.size() > 1 && p[1] > 0 ? std::min(p[1], rows) : rows;
          if (t < b) {
            regionTop = t - 1;
            regionBottom = b - 1;
            row = col = 0;
          } else {
            error = "empty scroll region";
          }
        } else {
          error = std::string("unexpected final ") + final;
        }
        i = j + 1;
      } else if (b == 0xE2 && i + 2 < bytes.size() && bytes[i + 1] == '\x96' &&
                 bytes[i + 2] == '\x80') {
        if (row >= rows || col >= columns) {
          error = "write outside";
          return;
        }
        At(row, col) = Cell{true, true, fg, bg};
        ++cellsWritten;
        ++col;
        i += 3;
      } else {
        error = "unexpected byte " + std::to_string(b);
        return;
      }
    }
  }
};

// A picture of 0xRRGGBB pixels.
struct Picture {
  int32_t width, height;
  std::vector<uint32_t> px;
  Picture(int32_t w, int32_t h, uint32_t fill = 0) : width(w), height(h), px(size_t(w) * h, fill) {}
  uint32_t& operator()(int32_t x, int32_t y) { return px[size_t(y) * size_t(width) + size_t(x)]; }
  void Fill(int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t c) {
    for (int32_t y = y0; y < y0 + h; ++y)
      for (int32_t x = x0; x < x0 + w; ++x) (*this)(x, y) = c;
  }
};

// Reference: the colour a block shows, by counting in scan order (independent of the encoder).
uint32_t ReferenceMajority(Picture& p, int32_t bx, int32_t by, int32_t f) {
  if (bx * f >= p.width || by * f >= p.height) return 0;
  if (f == 1) return p(bx, by);
  std::vector<std::pair<uint32_t, int>> counts;  // in order of first appearance
  for (int32_t y = by * f; y < std::min(p.height, (by + 1) * f); ++y)
    for (int32_t x = bx * f; x < std::min(p.width, (bx + 1) * f); ++x) {
      bool found = false;
      for (auto& c : counts)
        if (c.first == p(x, y)) {
          ++c.second;
          found = true;
        }
      if (!found) counts.push_back({p(x, y), 1});
    }
  auto best = counts.front();
  for (auto& c : counts)
    if (c.second > best.second) best = c;
  return best.first;
}

// Checks every picture cell of the model against the reference downscale.
void ExpectShows(TermModel& t, const Encoder& e, Picture& p, bool trueColour) {
  const Layout& l = e.layout();
  for (int32_t r = 0; r < l.rows; ++r)
    for (int32_t c = 0; c < l.columns; ++c) {
      uint32_t top = ReferenceMajority(p, c, 2 * r, l.factor);
      uint32_t bottom = ReferenceMajority(p, c, 2 * r + 1, l.factor);
      int32_t wantFg = trueColour ? int32_t(top) : termpic::Nearest256(top);
      int32_t wantBg = trueColour ? int32_t(bottom) : termpic::Nearest256(bottom);
      const auto& cell = t.At(l.top + r, l.left + c);
      ASSERT_TRUE(cell.half) << "cell " << c << "," << r;
      ASSERT_EQ(cell.fg, wantFg) << "cell " << c << "," << r;
      ASSERT_EQ(cell.bg, wantBg) << "cell " << c << "," << r;
    }
}

std::string EncodeAll(Encoder& e, Picture& p) {
  std::string out;
  e.Encode(p.px.data(), 0, p.height - 1, out);
  return out;
}

// ---------------------------------------------------------------------------
// Layout and scaling factor
// ---------------------------------------------------------------------------

// Brute force: the smallest factor whose block grid fits the terminal.
int32_t ReferenceFactor(int32_t w, int32_t h, int32_t cols, int32_t rows) {
  for (int32_t f = 1;; ++f) {
    int32_t bw = (w + f - 1) / f, bh = (h + f - 1) / f;
    if (bw <= cols && (bh + 1) / 2 <= rows) return f;
  }
}

TEST(TermLayout, PageThatFitsIsNotScaled) {
  Layout l = ComputeLayout(320, 200, 320, 100);
  EXPECT_EQ(l.factor, 1);
  EXPECT_EQ(l.columns, 320);
  EXPECT_EQ(l.rows, 100);
  EXPECT_EQ(l.left, 0);
  EXPECT_EQ(l.top, 0);
}

TEST(TermLayout, OneColumnTooFewDoublesTheFactor) {
  EXPECT_EQ(ComputeLayout(320, 200, 319, 100).factor, 2);
  EXPECT_EQ(ComputeLayout(320, 200, 320, 99).factor, 2);
}

TEST(TermLayout, FactorIsSmallestThatFitsForManySizes) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    int32_t w = 1 + int32_t(rng() % 1300), h = 1 + int32_t(rng() % 1100);
    int32_t cols = 1 + int32_t(rng() % 400), rows = 1 + int32_t(rng() % 150);
    Layout l = ComputeLayout(w, h, cols, rows);
    ASSERT_EQ(l.factor, ReferenceFactor(w, h, cols, rows)) << w << "x" << h << " in " << cols << "x" << rows;
    ASSERT_LE(l.columns, cols);
    ASSERT_LE(l.rows, rows);
    ASSERT_GE(l.left, 0);
    ASSERT_GE(l.top, 0);
    ASSERT_LE(l.left + l.columns, cols);
    ASSERT_LE(l.top + l.rows, rows);
  }
}

TEST(TermLayout, PictureIsCentred) {
  Layout l = ComputeLayout(320, 200, 80, 24);  // 320/4 = 80 wide but 25 rows: factor 5
  EXPECT_EQ(l.factor, 5);
  EXPECT_EQ(l.columns, 64);
  EXPECT_EQ(l.rows, 20);
  EXPECT_EQ(l.left, 8);
  EXPECT_EQ(l.top, 2);
}

TEST(TermLayout, UnknownTerminalSizeCountsAsEightyByTwentyFour) {
  Layout a = ComputeLayout(640, 480, 0, 0);
  Layout b = ComputeLayout(640, 480, 80, 24);
  EXPECT_EQ(a.factor, b.factor);
  EXPECT_EQ(a.left, b.left);
  EXPECT_EQ(a.top, b.top);
}

TEST(TermLayout, EmptyPictureHasNoCells) {
  Layout l = ComputeLayout(0, 200, 80, 24);
  EXPECT_EQ(l.columns, 0);
  EXPECT_EQ(l.rows, 0);
}

// ---------------------------------------------------------------------------
// Majority colour
// ---------------------------------------------------------------------------

TEST(TermMajority, MostFrequentColourWins) {
  std::vector<uint32_t> scratch;
  Picture p(4, 4, 0x112233);
  p(0, 0) = 0xFF0000;
  p(3, 3) = 0xFF0000;
  p(1, 2) = 0x00FF00;
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 4, 0, 0, 4, 4, scratch), 0x112233u);
  // A colour of 3 pixels beats two of 2 and one of 1 even when met last.
  Picture q(3, 2);
  q.px = {1, 2, 2, 3, 3, 3};
  EXPECT_EQ(termpic::MajorityColour(q.px.data(), 3, 0, 0, 3, 2, scratch), 3u);
}

TEST(TermMajority, TieGoesToTheColourMetFirst) {
  std::vector<uint32_t> scratch;
  Picture p(2, 2);
  p.px = {9, 4, 4, 9};
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 2, 0, 0, 2, 2, scratch), 9u);
  p.px = {4, 9, 9, 4};
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 2, 0, 0, 2, 2, scratch), 4u);
}

TEST(TermMajority, LooksOnlyInsideTheBlock) {
  std::vector<uint32_t> scratch;
  Picture p(6, 6, 7);
  p.Fill(2, 2, 2, 2, 5);
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 6, 2, 2, 2, 2, scratch), 5u);
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 6, 0, 0, 2, 2, scratch), 7u);
  EXPECT_EQ(termpic::MajorityColour(p.px.data(), 6, 0, 0, 0, 2, scratch), 0u);
}

TEST(TermMajority, AgreesWithCountingOnRandomBlocks) {
  std::mt19937 rng(11);
  std::vector<uint32_t> scratch;
  for (int i = 0; i < 500; ++i) {
    int32_t f = 2 + int32_t(rng() % 9);
    Picture p(f, f);
    for (auto& v : p.px) v = rng() % 4;
    ASSERT_EQ(termpic::MajorityColour(p.px.data(), f, 0, 0, f, f, scratch),
              ReferenceMajority(p, 0, 0, f));
  }
}

// ---------------------------------------------------------------------------
// Cells: half blocks, scaling, colours
// ---------------------------------------------------------------------------

TEST(TermCells, UpperPixelIsForegroundLowerIsBackground) {
  Encoder e;
  e.Configure(2, 2, 10, 5, true);
  Picture p(2, 2);
  p.px = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  TermModel t(10, 5);
  t.Feed(EncodeAll(e, p));
  ASSERT_EQ(t.error, "");
  const Layout& l = e.layout();
  ASSERT_EQ(l.rows, 1);
  EXPECT_EQ(t.At(l.top, l.left).fg, 0xFF0000);
  EXPECT_EQ(t.At(l.top, l.left).bg, 0x0000FF);
  EXPECT_EQ(t.At(l.top, l.left + 1).fg, 0x00FF00);
  EXPECT_EQ(t.At(l.top, l.left + 1).bg, 0xFFFFFF);
  EXPECT_TRUE(t.At(l.top, l.left).half);
}

TEST(TermCells, OddHeightShowsBlackBelowTheLastRow) {
  Encoder e;
  e.Configure(3, 3, 3, 2, true);
  Picture p(3, 3, 0xABCDEF);
  TermModel t(3, 2);
  t.Feed(EncodeAll(e, p));
  ASSERT_EQ(t.error, "");
  EXPECT_EQ(t.At(1, 0).fg, 0xABCDEF);
  EXPECT_EQ(t.At(1, 0).bg, 0);
}

TEST(TermCells, FullPictureUnscaledMatchesEveryPixel) {
  std::mt19937 rng(3);
  Picture p(64, 40);
  for (auto& v : p.px) v = rng() % 5 * 0x333333;
  Encoder e;
  e.Configure(64, 40, 64, 20, true);
  ASSERT_EQ(e.layout().factor, 1);
  TermModel t(64, 20);
  t.Feed(EncodeAll(e, p));
  ASSERT_EQ(t.error, "");
  ExpectShows(t, e, p, true);
}

TEST(TermCells, ShrunkPictureShowsBlockMajorityAndKeepsTilesCrisp) {
  // 16x16 tiles of one colour with a one-pixel outline: at factor 4 every
  // block is either all tile or mostly tile, so no block shows a mixture.
  Picture p(64, 64, 0);
  const uint32_t colours[4] = {0xAA0000, 0x00AA00, 0x0000AA, 0xAAAA00};
  for (int32_t ty = 0; ty < 4; ++ty)
    for (int32_t tx = 0; tx < 4; ++tx) {
      p.Fill(tx * 16, ty * 16, 16, 16, colours[(tx + ty) % 4]);
      p.Fill(tx * 16, ty * 16, 16, 1, 0xFFFFFF);
      p.Fill(tx * 16, ty * 16, 1, 16, 0xFFFFFF);
    }
  Encoder e;
  e.Configure(64, 64, 16, 8, true);
  ASSERT_EQ(e.layout().factor, 4);
  TermModel t(16, 8);
  t.Feed(EncodeAll(e, p));
  ASSERT_EQ(t.error, "");
  ExpectShows(t, e, p, true);
  // The first block of every tile: 7 outline pixels, 9 tile pixels -> tile colour.
  EXPECT_EQ(t.At(0, 0).fg, int32_t(colours[0]));
  EXPECT_EQ(t.At(0, 4).fg, int32_t(colours[1]));
}

TEST(TermCells, PartialEdgeBlocksCountOnlyPicturePixels) {
  std::mt19937 rng(5);
  Picture p(37, 23);
  for (auto& v : p.px) v = rng() % 3 * 0x404040;
  Encoder e;
  e.Configure(37, 23, 10, 3, true);
  ASSERT_GT(e.layout().factor, 1);
  TermModel t(10, 3);
  t.Feed(EncodeAll(e, p));
  ASSERT_EQ(t.error, "");
  ExpectShows(t, e, p, true);
}

// ---------------------------------------------------------------------------
// 256-colour form
// ---------------------------------------------------------------------------

int32_t ReferenceNearest(uint32_t rgb) {
  int32_t best = 16;
  int64_t bestDist = INT64_MAX;
  for (int32_t i = 16; i < 256; ++i) {
    uint32_t c = termpic::Palette256Rgb(i);
    int64_t dr = int64_t((rgb >> 16) & 255) - int64_t((c >> 16) & 255);
    int64_t dg = int64_t((rgb >> 8) & 255) - int64_t((c >> 8) & 255);
    int64_t db = int64_t(rgb & 255) - int64_t(c & 255);
    int64_t d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

TEST(Term256, PaletteEntriesMapToThemselves) {
  for (int32_t i = 16; i < 256; ++i) EXPECT_EQ(termpic::Nearest256(termpic::Palette256Rgb(i)), i);
}

TEST(Term256, KnownEntries) {
  EXPECT_EQ(termpic::Palette256Rgb(16), 0x000000u);
  EXPECT_EQ(termpic::Palette256Rgb(21), 0x0000FFu);
  EXPECT_EQ(termpic::Palette256Rgb(196), 0xFF0000u);
  EXPECT_EQ(termpic::Palette256Rgb(231), 0xFFFFFFu);
  EXPECT_EQ(termpic::Palette256Rgb(232), 0x080808u);
  EXPECT_EQ(termpic::Palette256Rgb(255), 0xEEEEEEu);
}

TEST(Term256, NearestAgreesWithExhaustiveSearch) {
  std::mt19937 rng(13);
  for (int i = 0; i < 20000; ++i) {
    uint32_t rgb = rng() & 0xFFFFFF;
    ASSERT_EQ(termpic::Nearest256(rgb), ReferenceNearest(rgb)) << std::hex << rgb;
  }
  // The sixteen screen colours, which the walker shows.
  const uint32_t sixteen[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
  for (uint32_t c : sixteen) EXPECT_EQ(termpic::Nearest256(c), ReferenceNearest(c));
}

TEST(Term256, EncoderWritesPaletteIndexes) {
  std::mt19937 rng(17);
  Picture p(20, 10);
  for (auto& v : p.px) v = rng() & 0xFFFFFF;
  Encoder e;
  e.Configure(20, 10, 20, 5, false);
  std::string out = EncodeAll(e, p);
  EXPECT_EQ(out.find(";2;"), std::string::npos);
  TermModel t(20, 5);
  t.Feed(out);
  ASSERT_EQ(t.error, "");
  ExpectShows(t, e, p, false);
}

// ---------------------------------------------------------------------------
// Change-only output
// ---------------------------------------------------------------------------

TEST(TermChanges, SamePictureAgainWritesNothing) {
  Picture p(40, 20, 0x123456);
  Encoder e;
  e.Configure(40, 20, 40, 10, true);
  EncodeAll(e, p);
  EXPECT_EQ(EncodeAll(e, p), "");
}

TEST(TermChanges, OneChangedPixelRewritesOneCell) {
  std::mt19937 rng(19);
  Picture p(40, 20);
  for (auto& v : p.px) v = rng() % 4 * 0x111111;
  Encoder e;
  e.Configure(40, 20, 40, 10, true);
  TermModel t(40, 10);
  t.Feed(EncodeAll(e, p));
  const int32_t before = t.cellsWritten;
  p(17, 9) = 0xFEDCBA;
  std::string out;
  e.Encode(p.px.data(), 9, 9, out);
  t.Feed(out);
  ASSERT_EQ(t.error, "");
  EXPECT_EQ(t.cellsWritten - before, 1);
  EXPECT_EQ(t.At(4, 17).bg, 0xFEDCBA);
  EXPECT_LT(out.size(), 60u);
  ExpectShows(t, e, p, true);
}

TEST(TermChanges, RandomEditsKeepTheTerminalEqualToThePicture) {
  std::mt19937 rng(23);
  for (bool tc : {true, false}) {
    Picture p(50, 30);
    for (auto& v : p.px) v = rng() % 6 * 0x2A2A2A;
    Encoder e;
    e.Configure(50, 30, 30, 10, tc);  // shrunk: factor 2
    TermModel t(30, 10);
    t.Feed(EncodeAll(e, p));
    for (int step = 0; step < 200; ++step) {
      int32_t x = int32_t(rng() % 50), y = int32_t(rng() % 30);
      int32_t w = 1 + int32_t(rng() % 8), h = 1 + int32_t(rng() % 5);
      w = std::min(w, 50 - x);
      h = std::min(h, 30 - y);
      p.Fill(x, y, w, h, rng() % 6 * 0x2A2A2A);
      std::string out;
      e.Encode(p.px.data(), y, y + h - 1, out);
      t.Feed(out);
      ASSERT_EQ(t.error, "");
    }
    ExpectShows(t, e, p, tc);
    EXPECT_EQ(t.clears, 1);
  }
}

TEST(TermChanges, RowsOutsideTheGivenSpanAreNotLookedAt) {
  Picture p(10, 10, 0);
  Encoder e;
  e.Configure(10, 10, 10, 5, true);
  EncodeAll(e, p);
  p(0, 0) = 0xFFFFFF;  // changed, but outside the span handed over
  std::string out;
  EXPECT_EQ(e.Encode(p.px.data(), 6, 9, out), 0u);
  EXPECT_GT(e.Encode(p.px.data(), 0, 0, out), 0u);
}

TEST(TermChanges, ColourCodesOnlyWhenTheColourChanges) {
  Picture p(30, 2, 0x00AA00);
  Encoder e;
  e.Configure(30, 2, 30, 1, true);
  TermModel t(30, 1);
  t.Feed(EncodeAll(e, p));
  EXPECT_EQ(t.colourCodes, 2);  // the reset before the clear, then one colour code
  // Alternating upper colours: one code per cell, each changing only the foreground.
  for (int32_t x = 0; x < 30; x += 2) p(x, 0) = 0xAA0000;
  e.Invalidate();
  std::string out = EncodeAll(e, p);
  TermModel t2(30, 1);
  t2.Feed(out);
  ASSERT_EQ(t2.error, "");
  EXPECT_EQ(t2.colourCodes, 1 + 30);
  size_t backgrounds = 0;
  for (size_t i = 0; (i = out.find("48;2", i)) != std::string::npos; ++i) ++backgrounds;
  EXPECT_EQ(backgrounds, 1u);
  // Every changed cell takes the same new colour: one code for the whole update.
  for (int32_t x = 0; x < 30; x += 2) p(x, 0) = 0x0000AA;
  std::string update;
  e.Encode(p.px.data(), 0, 1, update);
  TermModel t3(30, 1);
  t3.Feed(update);
  ASSERT_EQ(t3.error, "");
  EXPECT_EQ(t3.cellsWritten, 15);
  EXPECT_EQ(t3.colourCodes, 1);
}

TEST(TermChanges, UnchangedGapsAreBridgedOrSkipped) {
  const uint32_t a = 0x00AA00, c = 0xAA0000;
  Picture p(200, 2, 0);
  p.Fill(0, 0, 200, 1, a);
  p(10, 0) = c;
  p(12, 0) = c;
  Encoder e;
  e.Configure(200, 2, 200, 1, true);
  EncodeAll(e, p);
  // Cells 10 and 12 go back to the colours of cell 11 between them: rewriting
  // cell 11 is cheaper than a cursor move, so they share one run. Cell 150 is
  // far away and gets a run of its own.
  p(10, 0) = a;
  p(12, 0) = a;
  p(150, 0) = c;
  std::string out;
  e.Encode(p.px.data(), 0, 1, out);
  TermModel t(200, 1);
  t.Feed(out);
  ASSERT_EQ(t.error, "");
  size_t moves = 0;
  for (size_t i = 0; (i = out.find('H', i)) != std::string::npos; ++i) ++moves;
  EXPECT_EQ(moves, 2u);
  EXPECT_EQ(t.cellsWritten, 4);
}

TEST(TermChanges, ConfigureAndInvalidateRepaintEverything) {
  Picture p(20, 10, 0x445566);
  Encoder e;
  e.Configure(20, 10, 20, 5, true);
  EncodeAll(e, p);
  e.Invalidate();
  TermModel t(20, 5);
  t.Feed(EncodeAll(e, p));
  EXPECT_EQ(t.clears, 1);
  EXPECT_EQ(t.cellsWritten, 100);
  // A resize: new layout, full repaint, centred in the new size.
  e.Configure(20, 10, 7, 3, true);
  TermModel small(7, 3);
  small.Feed(EncodeAll(e, p));
  ASSERT_EQ(small.error, "");
  EXPECT_EQ(small.clears, 1);
  EXPECT_EQ(e.layout().factor, 3);
  ExpectShows(small, e, p, true);
}

TEST(TermChanges, UnconfiguredOrEmptyInputWritesNothing) {
  Encoder e;
  std::string out;
  uint32_t px = 0;
  EXPECT_EQ(e.Encode(&px, 0, 0, out), 0u);
  e.Configure(4, 4, 10, 10, true);
  EXPECT_EQ(e.Encode(nullptr, 0, 3, out), 0u);
  EXPECT_TRUE(out.empty());
}

// ---------------------------------------------------------------------------
// Shifting what the terminal shows
// ---------------------------------------------------------------------------

// The model's shifts against cases worked out by hand from xterm's rules.
TEST(TermModelShifts, CharacterAndRowShiftsActAsXtermDoes) {
  auto line = [](TermModel& t, int32_t r) {
    std::vector<int32_t> v;
    for (int32_t c = 0; c < t.columns; ++c) v.push_back(t.At(r, c).half ? t.At(r, c).fg : -100 - t.At(r, c).bg);
    return v;
  };
  TermModel t(6, 4);
  for (int32_t r = 0; r < 4; ++r)
    for (int32_t c = 0; c < 6; ++c) t.At(r, c) = {true, true, r * 10 + c, 0};
  // Delete 2 at column 2 (1-based): the rest of the line moves left, blanks
  // in the background in force (index 7 -> -107) enter at the right margin.
  t.Feed("\x1b[48;5;7m\x1b[1;2H\x1b[2P");
  EXPECT_EQ(line(t, 0), (std::vector<int32_t>{0, 3, 4, 5, -107, -107}));
  EXPECT_EQ(t.col, 1);
  // Insert 3 at column 5: blanks at the cursor, cells pushed past the margin are lost.
  t.Feed("\x1b[49m\x1b[2;5H\x1b[3@");
  EXPECT_EQ(line(t, 1), (std::vector<int32_t>{10, 11, 12, 13, -99, -99}));
  // A count past the margin stops there.
  t.Feed("\x1b[3;5H\x1b[9P");
  EXPECT_EQ(line(t, 2), (std::vector<int32_t>{20, 21, 22, 23, -99, -99}));
  // Region rows 2..3 (1-based): the cursor goes home, scroll up acts inside it only.
  t.Feed("\x1b[4;4H\x1b[2;3r");
  EXPECT_EQ(t.row, 0);
  EXPECT_EQ(t.col, 0);
  t.Feed("\x1b[1S");
  EXPECT_EQ(line(t, 0), (std::vector<int32_t>{0, 3, 4, 5, -107, -107}));
  EXPECT_EQ(line(t, 1), (std::vector<int32_t>{20, 21, 22, 23, -99, -99}));
  EXPECT_EQ(line(t, 2), (std::vector<int32_t>(6, -99)));
  EXPECT_EQ(line(t, 3), (std::vector<int32_t>{30, 31, 32, 33, 34, 35}));
  t.Feed("\x1b[1T");
  EXPECT_EQ(line(t, 1), (std::vector<int32_t>(6, -99)));
  EXPECT_EQ(line(t, 2), (std::vector<int32_t>{20, 21, 22, 23, -99, -99}));
  // Reset to the whole screen: home again, scrolling reaches every row.
  t.Feed("\x1b[r\x1b[1S");
  EXPECT_EQ(t.row, 0);
  EXPECT_EQ(line(t, 0), (std::vector<int32_t>(6, -99)));
  EXPECT_EQ(line(t, 2), (std::vector<int32_t>{30, 31, 32, 33, 34, 35}));
  ASSERT_EQ(t.error, "");
}

// Every cell outside the picture still shows what the first clear left there.
void ExpectOutsideUntouched(TermModel& t, const Layout& l) {
  for (int32_t r = 0; r < t.rows; ++r)
    for (int32_t c = 0; c < t.columns; ++c) {
      if (r >= l.top && r < l.top + l.rows && c >= l.left && c < l.left + l.columns) continue;
      const auto& cell = t.At(r, c);
      ASSERT_TRUE(cell.written && !cell.half && cell.bg == -1) << "outside cell " << c << "," << r;
    }
}

// A world of 16 x 16 tiles with a pattern each, and frames showing a
// 240 x 112 view of it at a pixel offset, framed, with a sprite fixed in the
// middle, on a black 320 x 200 page: the walker's picture.
struct TileWorld {
  std::vector<Picture> tiles;
  std::vector<int32_t> map;  // 64 x 32 tile numbers
  explicit TileWorld(uint32_t seed) {
    std::mt19937 rng(seed);
    const uint32_t colours[6] = {0xAA0000, 0x00AA00, 0xFFFF55, 0x5555FF, 0xAA5500, 0xAAAAAA};
    for (int i = 0; i < 5; ++i) {
      Picture t(16, 16, 0);
      if (i > 0)
        for (auto& v : t.px) v = rng() % 3 == 0 ? 0 : colours[rng() % 6];
      tiles.push_back(t);
    }
    for (int i = 0; i < 64 * 32; ++i) map.push_back(rng() % 3 == 0 ? int32_t(1 + rng() % 4) : 0);
  }
  Picture Frame(int32_t ox, int32_t oy) const {
    Picture p(320, 200, 0);
    for (int32_t y = 0; y < 112; ++y)
      for (int32_t x = 0; x < 240; ++x) {
        const int32_t wx = ox + x, wy = oy + y;
        const int32_t tile = map[size_t((wy / 16) % 32) * 64 + size_t((wx / 16) % 64)];
        p(x, y) = tiles[size_t(tile)].px[size_t(wy % 16) * 16 + size_t(wx % 16)];
      }
    p.Fill(0, 0, 241, 1, 0xFFFFFF);
    p.Fill(0, 112, 241, 1, 0xFFFFFF);
    p.Fill(0, 0, 1, 113, 0xFFFFFF);
    p.Fill(240, 0, 1, 113, 0xFFFFFF);
    for (int32_t y = 48; y < 64; ++y)
      for (int32_t x = 112; x < 128; ++x)
        if ((x + y) % 3 != 0) p(x, y) = 0x55FF55;
    return p;
  }
};

// Encodes `next` after `p` on both a shifting and a plain encoder, replays
// the shifting one's output on `t`, and checks the terminal; returns
// {bytes with shifts, bytes without}.
std::pair<size_t, size_t> Step(Encoder& e, Encoder& plain, TermModel& t, Picture& next, bool tc) {
  std::string out, flat;
  e.Encode(next.px.data(), 0, next.height - 1, out);
  plain.Encode(next.px.data(), 0, next.height - 1, flat);
  t.Feed(out);
  EXPECT_EQ(t.error, "");
  ExpectShows(t, e, next, tc);
  ExpectOutsideUntouched(t, e.layout());
  return {out.size(), flat.size()};
}

TEST(TermScroll, WalkerStepsShiftTheViewAndStayExact) {
  const TileWorld world(31);
  // Unscaled with no room to spare, unscaled with margins all round, shrunk by 2.
  const int32_t sizes[3][2] = {{320, 100}, {331, 107}, {160, 50}};
  for (bool tc : {true, false})
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + (tc ? " tc" : " 256"));
      Encoder e, plain;
      e.Configure(320, 200, size[0], size[1], tc);
      plain.Configure(320, 200, size[0], size[1], tc);
      plain.SetScrolling(false);
      TermModel t(size[0], size[1]);
      int32_t x = 16 * 20, y = 16 * 10;
      Picture p = world.Frame(x, y);
      t.Feed(EncodeAll(e, p));
      EncodeAll(plain, p);
      // Right, down, left, up and the four diagonals, twice.
      const int32_t dx[8] = {1, 0, -1, 0, 1, -1, 1, -1}, dy[8] = {0, 1, 0, -1, 1, 1, -1, -1};
      size_t bytes = 0, flatBytes = 0;
      for (int i = 0; i < 16; ++i) {
        x += 16 * dx[i % 8];
        y += 16 * dy[i % 8];
        Picture next = world.Frame(x, y);
        auto [b, f] = Step(e, plain, t, next, tc);
        if (HasFatalFailure()) return;
        bytes += b;
        flatBytes += f;
      }
      EXPECT_GT(t.charShifts, 0);
      EXPECT_GT(t.rowScrolls, 0);
      EXPECT_EQ(t.clears, 1);
      // Most of the view comes from the terminal's own shifting.
      EXPECT_LT(bytes * 3, flatBytes) << bytes << " vs " << flatBytes;
    }
}

TEST(TermScroll, EachDirectionUsesItsOwnShift) {
  const TileWorld world(37);
  struct Case {
    int32_t dx, dy;
    bool chars, rows;
  } cases[] = {{16, 0, true, false}, {-16, 0, true, false}, {3, 0, true, false},
               {-40, 0, true, false}, {0, 16, false, true}, {0, -16, false, true},
               {0, 2, false, true}, {16, 16, true, true}, {-16, 16, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + "," + std::to_string(c.dy));
    Encoder e, plain;
    e.Configure(320, 200, 325, 101, true);
    plain.Configure(320, 200, 325, 101, true);
    plain.SetScrolling(false);
    TermModel t(325, 101);
    Picture p = world.Frame(400, 200);
    t.Feed(EncodeAll(e, p));
    EncodeAll(plain, p);
    const int32_t shifts = t.charShifts, scrolls = t.rowScrolls;
    Picture next = world.Frame(400 + c.dx, 200 + c.dy);
    auto [b, f] = Step(e, plain, t, next, true);
    if (HasFatalFailure()) return;
    // Sideways moves shift cells and never rows; up and down moves scroll rows.
    if (c.chars) {
      EXPECT_GT(t.charShifts, shifts);
    }
    EXPECT_EQ(t.rowScrolls > scrolls, c.rows);
    EXPECT_LT(b * 2, f) << b << " vs " << f;
  }
}

TEST(TermScroll, RandomPicturesMovedAndEditedStayExact) {
  std::mt19937 rng(41);
  for (int round = 0; round < 24; ++round) {
    const bool tc = round % 2 == 0;
    const int32_t w = 20 + int32_t(rng() % 100), h = 10 + int32_t(rng() % 60);
    const int32_t cols = w / (1 + round % 3) + int32_t(rng() % 4), rows = h / 2 / (1 + round % 3) + int32_t(rng() % 3);
    SCOPED_TRACE("round " + std::to_string(round));
    Picture p(w, h);
    for (auto& v : p.px) v = rng() % 5 * 0x334455;
    Encoder e;
    e.Configure(w, h, cols, rows, tc);
    TermModel t(cols, rows);
    t.Feed(EncodeAll(e, p));
    for (int step = 0; step < 30; ++step) {
      // A rectangle of the picture moved by up to 50 x 20 pixels, new pixels
      // where it uncovers, and a few random edits.
      const int32_t rx = int32_t(rng() % uint32_t(w)), ry = int32_t(rng() % uint32_t(h));
      const int32_t rw = 1 + int32_t(rng() % uint32_t(w - rx)), rh = 1 + int32_t(rng() % uint32_t(h - ry));
      const int32_t mx = int32_t(rng() % 101) - 50, my = int32_t(rng() % 41) - 20;
      Picture q = p;
      for (int32_t y = ry; y < ry + rh; ++y)
        for (int32_t x = rx; x < rx + rw; ++x) {
          const int32_t sx = x + mx, sy = y + my;
          q(x, y) = sx >= 0 && sy >= 0 && sx < w && sy < h ? p(sx, sy) : rng() % 5 * 0x334455;
        }
      for (int i = 0; i < int(rng() % 6); ++i) q(int32_t(rng() % uint32_t(w)), int32_t(rng() % uint32_t(h))) = 0xFFFFFF;
      p = q;
      std::string out = EncodeAll(e, p);
      t.Feed(out);
      ASSERT_EQ(t.error, "");
      ExpectShows(t, e, p, tc);
      ExpectOutsideUntouched(t, e.layout());
    }
    EXPECT_EQ(t.clears, 1);
  }
}

TEST(TermScroll, RowsOutsideTheGivenSpanStayAsTheyWere) {
  const TileWorld world(43);
  Encoder e;
  e.Configure(320, 200, 320, 100, true);
  TermModel t(320, 100);
  Picture p = world.Frame(320, 320);
  t.Feed(EncodeAll(e, p));
  // The whole view moves, but only pixel rows 40..79 are handed over.
  Picture next = world.Frame(336, 336);
  std::string out;
  e.Encode(next.px.data(), 40, 79, out);
  TermModel prior = t;
  t.Feed(out);
  ASSERT_EQ(t.error, "");
  EXPECT_GT(t.charShifts + t.rowScrolls, prior.charShifts + prior.rowScrolls);
  for (int32_t r = 0; r < 100; ++r)
    for (int32_t c = 0; c < 320; ++c) {
      const auto& now = t.At(r, c);
      if (r >= 20 && r < 40) {
        ASSERT_TRUE(now.half);
        ASSERT_EQ(now.fg, int32_t(next(c, 2 * r)));
        ASSERT_EQ(now.bg, int32_t(next(c, 2 * r + 1)));
      } else {
        const auto& was = prior.At(r, c);
        ASSERT_TRUE(now.half == was.half && now.fg == was.fg && now.bg == was.bg) << c << "," << r;
      }
    }
}

TEST(TermScroll, TurnedOffWritesNoShifts) {
  const TileWorld world(47);
  Encoder e;
  e.Configure(320, 200, 320, 100, true);
  e.SetScrolling(false);
  EXPECT_FALSE(e.scrolling());
  TermModel t(320, 100);
  Picture p = world.Frame(160, 160);
  t.Feed(EncodeAll(e, p));
  Picture next = world.Frame(176, 176);
  t.Feed(EncodeAll(e, next));
  ASSERT_EQ(t.error, "");
  EXPECT_EQ(t.charShifts, 0);
  EXPECT_EQ(t.rowScrolls, 0);
  ExpectShows(t, e, next, true);
}

// ---------------------------------------------------------------------------
// The back-end in a pseudo-terminal
// ---------------------------------------------------------------------------

// Points standard output at another descriptor for the object's lifetime.
class StdoutTo {
 public:
  explicit StdoutTo(int fd) : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    dup2(fd, STDOUT_FILENO);
  }
  ~StdoutTo() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

TEST(TermBackend, RefusesWhenStandardOutputIsNotATerminal) {
  int devnull = open("/dev/null", O_WRONLY);
  ASSERT_GE(devnull, 0);
  setenv("SCRBK", "term", 1);
  int result;
  {
    StdoutTo redirect(devnull);
    BackendOpenArgs args{"t", 320, 200, 4, 0, 0};
    result = kTermBackend.open(args);
  }
  setenv("SCRBK", "null", 1);
  close(devnull);
  EXPECT_EQ(result, -1);
}

// Reads everything the terminal side receives, on a thread of its own so the
// Presenter never blocks on a full pseudo-terminal.
class PtyDrain {
 public:
  explicit PtyDrain(int master) : master_(master), thread_([this] { Run(); }) {}
  ~PtyDrain() {
    stop_ = true;
    thread_.join();
  }
  std::string Bytes() {
    std::lock_guard<std::mutex> g(mutex_);
    return bytes_;
  }

 private:
  void Run() {
    char buf[65536];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        std::lock_guard<std::mutex> g(mutex_);
        bytes_.append(buf, size_t(n));
      }
    }
  }
  int master_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string bytes_;
  std::thread thread_;
};

template <typename F>
bool WaitFor(F cond, double seconds = 3.0) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return cond();
}

TEST(TermBackend, ShowsThePageTakesKeysAndGivesTheTerminalBack) {
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_col = 320;  // room for 320 x 200 unscaled
  ws.ws_row = 100;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);

  setenv("SCRBK", "term", 1);
  setenv("COLORTERM", "truecolor", 1);
  int32_t opened = -1;
  bool keyArrived = false, redArrived = false, sawMove = false;
  std::string bytes;
  {
    PtyDrain drain(master);
    TermSetConsoleInput(slave, false);
    {
      StdoutTo redirect(slave);
      opened = ScreenMode(7, 0, 2, 0, 0);
      if (opened == 0) {
        // The visible page is the work page: drawing flags its rows.
        DrawLine(nullptr, 10, 10, 49, 29, 4, LineShape::FilledBox);
        redArrived = WaitFor([&] {
          TermModel m(320, 100);
          m.Feed(drain.Bytes());
          return m.error.empty() && m.At(5, 10).fg == 0xAA0000 && m.At(14, 49).bg == 0xAA0000 &&
                 m.At(14, 50).bg == 0 && m.alternate && !m.cursorShown;
        });
        // A key typed on the terminal reaches InKey through the window ring.
        ssize_t w = write(master, "6", 1);
        (void)w;
        keyArrived = WaitFor([&] { return InKey() == "6"; });
        // A one-pixel change writes a few bytes, not the page.
        const size_t mark = drain.Bytes().size();
        PutPixel(nullptr, 200, 150, 14);
        sawMove = WaitFor([&] {
          std::string b = drain.Bytes();
          if (b.size() <= mark) return false;
          TermModel m(320, 100);
          m.Feed(b);
          return m.At(75, 200).fg == 0xFFFF55 && b.size() - mark < 200;
        });
        // Closing while the program holds the screen lock still ends cleanly.
        LockScreen();
        ScreenMode(0);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    bytes = drain.Bytes();
  }
  TermSetConsoleInput(STDIN_FILENO, true);
  setenv("SCRBK", "null", 1);
  close(slave);
  close(master);

  ASSERT_EQ(opened, 0);
  EXPECT_TRUE(redArrived);
  EXPECT_TRUE(keyArrived);
  EXPECT_TRUE(sawMove);
  // Given back: the alternate screen left and the cursor shown after the last picture.
  const size_t enter = bytes.rfind("\x1b[?1049h");
  const size_t leave = bytes.rfind("\x1b[?1049l");
  const size_t shown = bytes.rfind("\x1b[?25h");
  ASSERT_NE(enter, std::string::npos);
  ASSERT_NE(leave, std::string::npos);
  ASSERT_NE(shown, std::string::npos);
  EXPECT_GT(leave, enter);
  EXPECT_GT(shown, enter);
  EXPECT_FALSE(TermIsRaw());
}

}  // namespace
