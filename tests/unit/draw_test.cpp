// draw_test.cpp - pixel primitives: coordinate rounding and clipping, colour
// fitting, target selection, rectangles with their style walk, segments,
// coordinate forms and change marking.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "draw_internal.h"
#include "screen.h"
#include "state.h"

namespace {

constexpr int32_t kWindowless = -1;  // flags -1: the windowless back-end

class DrawTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (gLayer.screen) CloseScreen(false);
  }

  // Opens a Screen by size; drawing goes to page `work`, page 0 is shown.
  void Open(int32_t w, int32_t h, int32_t depth = 8, int32_t pages = 2, int32_t work = 1) {
    ASSERT_EQ(ScreenRes(w, h, depth, pages, kWindowless, 0), 0);
    SetPages(work, 0);
  }
  Screen& S() { return *gLayer.screen; }
  uint8_t* Page(int32_t n) { return S().pages[size_t(n)]; }
  uint8_t At(int32_t page, int32_t x, int32_t y) {
    return Page(page)[size_t(y) * S().pitch + size_t(x)];
  }
  std::vector<uint8_t> Copy(int32_t page) {
    return std::vector<uint8_t>(Page(page), Page(page) + size_t(S().pitch) * S().height);
  }
  void ClearDirty() { std::fill(S().dirtyRows.begin(), S().dirtyRows.end(), 0); }
  std::vector<int> DirtyList() {
    std::vector<int> rows;
    for (size_t i = 0; i < S().dirtyRows.size(); ++i)
      if (S().dirtyRows[i]) rows.push_back(int(i));
    return rows;
  }
  int CountNonZero(int32_t page) {
    int n = 0;
    for (uint8_t b : Copy(page)) n += b != 0;
    return n;
  }
};

// Independent model of the outline walk: every position of the four edges
// over their full length, one style bit each, drawn when inside the view.
std::vector<uint8_t> ModelBox(int w, int h, int x1, int y1, int x2, int y2, uint32_t style,
                              uint8_t colour) {
  std::vector<uint8_t> page(size_t(w) * h, 0);
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  long k = 0;
  auto plot = [&](int x, int y) {
    bool on = (style >> (15 - (k % 16))) & 1;
    ++k;
    if (on && x >= 0 && x < w && y >= 0 && y < h) page[size_t(y) * w + x] = colour;
  };
  for (int x = x1; x <= x2; ++x) plot(x, y2);
  for (int x = x1; x <= x2; ++x) plot(x, y1);
  for (int y = y1; y <= y2; ++y) plot(x2, y);
  for (int y = y1; y <= y2; ++y) plot(x1, y);
  return page;
}

// Independent model of a segment: position i rounds i * minor / major half up.
std::vector<uint8_t> ModelLine(int w, int h, long x1, long y1, long x2, long y2, uint32_t style,
                               uint8_t colour) {
  std::vector<uint8_t> page(size_t(w) * h, 0);
  long dx = x2 - x1, dy = y2 - y1;
  long n = std::max(std::labs(dx), std::labs(dy));
  for (long i = 0; i <= n; ++i) {
    long x, y;
    if (n == 0) {
      x = x1, y = y1;
    } else if (std::labs(dx) >= std::labs(dy)) {
      x = x1 + (dx < 0 ? -i : i);
      long off = (2 * i * std::labs(dy) + n) / (2 * n);
      y = y1 + (dy < 0 ? -off : off);
    } else {
      y = y1 + (dy < 0 ? -i : i);
      long off = (2 * i * std::labs(dx) + n) / (2 * n);
      x = x1 + (dx < 0 ? -off : off);
    }
    bool on = (style >> (15 - (i % 16))) & 1;
    if (on && x >= 0 && x < w && y >= 0 && y < h) page[size_t(y) * w + x] = colour;
  }
  return page;
}

// ---------------------------------------------------------------------------
// Coordinates: rounding half away from zero and the view edges
// ---------------------------------------------------------------------------

TEST_F(DrawTest, RoundsHalfAwayFromZero) {
  Open(16, 4);
  PutPixel(nullptr, 2.5f, 0, 1);
  PutPixel(nullptr, 2.49f, 1, 2);
  PutPixel(nullptr, -0.4f, 2, 3);
  PutPixel(nullptr, 5.5f, 2.5f, 4);   // row 3
  PutPixel(nullptr, 7.0f, 0.49f, 5);  // row 0
  EXPECT_EQ(At(1, 3, 0), 1);
  EXPECT_EQ(At(1, 2, 0), 0);
  EXPECT_EQ(At(1, 2, 1), 2);
  EXPECT_EQ(At(1, 0, 2), 3);
  EXPECT_EQ(At(1, 6, 3), 4);
  EXPECT_EQ(At(1, 7, 0), 5);
  EXPECT_EQ(CountNonZero(1), 5);
}

TEST_F(DrawTest, MinusHalfIsColumnMinusOneAndNotDrawn) {
  Open(8, 8);
  PutPixel(nullptr, -0.5f, 3, 9);
  PutPixel(nullptr, 3, -0.5f, 9);
  EXPECT_EQ(CountNonZero(1), 0);
  PutPixel(nullptr, -0.49f, -0.49f, 9);
  EXPECT_EQ(At(1, 0, 0), 9);
}

TEST_F(DrawTest, EveryEdgeOfThePage) {
  Open(320, 200);
  SetError(3);
  PutPixel(nullptr, 319, 199, 7);
  PutPixel(nullptr, 320, 0, 7);
  PutPixel(nullptr, 0, 200, 7);
  PutPixel(nullptr, -1, 0, 7);
  PutPixel(nullptr, 0, -1, 7);
  PutPixel(nullptr, 0, 0, 8);
  EXPECT_EQ(At(1, 319, 199), 7);
  EXPECT_EQ(At(1, 0, 0), 8);
  EXPECT_EQ(CountNonZero(1), 2);
  EXPECT_EQ(ErrorNumber(), 3) << "pixel primitives never touch the error number";
  EXPECT_EQ(GetPixel(nullptr, 319, 199), 7);
  EXPECT_EQ(GetPixel(nullptr, -1, 0), -1);
  EXPECT_EQ(GetPixel(nullptr, 320, 0), -1);
  EXPECT_EQ(GetPixel(nullptr, 0, 200), -1);
  EXPECT_EQ(GetPixel(nullptr, 0, -1), -1);
  EXPECT_EQ(GetPixel(nullptr, 319.4f, 199.4f), 7);
  EXPECT_EQ(GetPixel(nullptr, 319.5f, 199), -1);
}

TEST_F(DrawTest, NonFiniteAndHugeCoordinatesDrawNothing) {
  Open(32, 32);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float bad[] = {nan, inf, -inf, 3e9f, -3e9f, 1e30f, -1e30f, 2147483648.0f};
  for (float v : bad) {
    PutPixel(nullptr, v, 5, 1);
    PutPixel(nullptr, 5, v, 1);
    EXPECT_EQ(GetPixel(nullptr, v, 0), -1);
    EXPECT_EQ(GetPixel(nullptr, 0, v), -1);
    DrawLine(nullptr, v, v, v, v, 1, LineShape::Box);
    DrawLine(nullptr, v, 0, v, 10, 1, LineShape::Line);
    DrawLine(nullptr, 0, v, 10, v, 1, LineShape::FilledBox);
  }
  EXPECT_EQ(CountNonZero(1), 0);
  EXPECT_EQ(S().lockCount, 0);
}

TEST_F(DrawTest, HugeCornersAreClampedIntoAClippedBox) {
  Open(32, 32);
  DrawLine(nullptr, -1e20f, -1e20f, 1e20f, 1e20f, 5, LineShape::FilledBox);
  EXPECT_EQ(CountNonZero(1), 32 * 32);
  std::vector<uint8_t> before = Copy(1);
  DrawLine(nullptr, -1e20f, 3, 1e20f, 3, 6, LineShape::Line);  // a row across the page
  for (int x = 0; x < 32; ++x) EXPECT_EQ(At(1, x, 3), 6);
}

TEST_F(DrawTest, NoScreenMeansNothingAndMinusOne) {
  ASSERT_EQ(gLayer.screen, nullptr);
  SetError(2);
  PutPixel(nullptr, 1, 1, 1);
  DrawLine(nullptr, 0, 0, 5, 5, 1, LineShape::FilledBox);
  EXPECT_EQ(GetPixel(nullptr, 1, 1), -1);
  EXPECT_EQ(ErrorNumber(), 2);
}

// ---------------------------------------------------------------------------
// Colours fitted to the pixel size
// ---------------------------------------------------------------------------

TEST_F(DrawTest, OneBytePagesKeepTheLowByte) {
  Open(8, 8, 4);
  PutPixel(nullptr, 1, 1, 0x10F);
  EXPECT_EQ(At(1, 1, 1), 0x0F);
  EXPECT_EQ(GetPixel(nullptr, 1, 1), 15);
  PutPixel(nullptr, 2, 1, 0xFFFFFFFFu);
  EXPECT_EQ(GetPixel(nullptr, 2, 1), 255);
}

TEST_F(DrawTest, SixteenBitPixelsArePacked565AndWidenedBack) {
  Open(8, 8, 16);
  const uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0x123456, 0xFFFFFF};
  for (uint32_t c : colours) {
    PutPixel(nullptr, 3, 3, c);
    uint16_t stored;
    std::memcpy(&stored, Page(1) + 3 * S().pitch + 6, 2);
    uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    EXPECT_EQ(stored, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    uint32_t r5 = r >> 3, g6 = g >> 2, b5 = b >> 3;
    uint32_t wide = (((r5 << 3) | (r5 >> 2)) << 16) | (((g6 << 2) | (g6 >> 4)) << 8) |
                    ((b5 << 3) | (b5 >> 2));
    EXPECT_EQ(uint32_t(GetPixel(nullptr, 3, 3)), wide) << std::hex << c;
  }
  EXPECT_EQ(GetPixel(nullptr, 3, 4), 0);
}

TEST_F(DrawTest, ThirtyTwoBitPixelsAreStoredUnchanged) {
  Open(8, 8, 32);
  PutPixel(nullptr, 7, 7, 0xDEADBEEF);
  uint32_t stored;
  std::memcpy(&stored, Page(1) + 7 * S().pitch + 28, 4);
  EXPECT_EQ(stored, 0xDEADBEEFu);
  EXPECT_EQ(uint32_t(GetPixel(nullptr, 7, 7)), 0xDEADBEEFu);
}

TEST_F(DrawTest, NegativeFormUsesTheContextColours) {
  Open(8, 8, 8);
  SetColor(9, 4);
  PutPixel(nullptr, 1, 1, 200, -1, 0);
  PutPixel(nullptr, 2, 1, 200, -1, 1);
  DrawLine(nullptr, 0, 5, 7, 5, 200, LineShape::FilledBox, 0xFFFF, -8);
  EXPECT_EQ(At(1, 1, 1), 9);
  EXPECT_EQ(At(1, 2, 1), 4);
  EXPECT_EQ(At(1, 4, 5), 9);
}

TEST_F(DrawTest, ContextColoursFollowTheDepth) {
  struct Case {
    int32_t depth;
    uint32_t fg, bg;
  } cases[] = {{1, 1, 0}, {4, 15, 0}, {8, 15, 0}, {16, 0xFFFF, 0}, {32, 0xFFFFFFFF, 0xFF000000}};
  for (const Case& c : cases) {
    ASSERT_EQ(ScreenRes(8, 8, c.depth, 1, kWindowless, 0), 0);
    EXPECT_EQ(gLayer.draw.foreground, c.fg) << c.depth;
    EXPECT_EQ(gLayer.draw.background, c.bg) << c.depth;
    EXPECT_EQ(gLayer.draw.screenId, gLayer.screen->id);
    EXPECT_EQ(gLayer.draw.workPage, 0);
  }
}

// ---------------------------------------------------------------------------
// Rectangles
// ---------------------------------------------------------------------------

TEST_F(DrawTest, BoxCornersInEitherOrderGiveTheSameFrame) {
  Open(40, 40);
  DrawLine(nullptr, 16, 16, 0, 0, 3, LineShape::Box);
  std::vector<uint8_t> a = Copy(1);
  std::memset(Page(1), 0, a.size());
  DrawLine(nullptr, 0, 0, 16, 16, 3, LineShape::Box);
  EXPECT_EQ(Copy(1), a);
  int count = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      bool edge = (x <= 16 && y <= 16) && (x == 0 || x == 16 || y == 0 || y == 16);
      EXPECT_EQ(At(1, x, y), edge ? 3 : 0) << x << "," << y;
      count += edge;
    }
  EXPECT_EQ(count, 64);
}

TEST_F(DrawTest, FilledBoxFillsExactlyItsRectangle) {
  Open(640, 480, 4);
  DrawLine(nullptr, 0, 0, 319, 199, 12, LineShape::FilledBox);
  for (int y = 0; y < 480; y += 1)
    for (int x = 0; x < 640; x += 1) ASSERT_EQ(At(1, x, y), (x < 320 && y < 200) ? 12 : 0);
}

TEST_F(DrawTest, FilledBoxOverTheWholePageAndClipped) {
  Open(20, 10);
  DrawLine(nullptr, 0, 0, 19, 9, 2, LineShape::FilledBox);
  EXPECT_EQ(CountNonZero(1), 200);
  std::memset(Page(1), 0, 200);
  DrawLine(nullptr, -5, 8, 3, 40, 2, LineShape::FilledBox);
  EXPECT_EQ(CountNonZero(1), 8);  // columns 0..3, rows 8..9
  EXPECT_EQ(At(1, 3, 9), 2);
}

TEST_F(DrawTest, ClippedBoxLosesItsLeftEdge) {
  Open(40, 40);
  DrawLine(nullptr, -10, 5, 20, 30, 1, LineShape::Box);
  EXPECT_EQ(Copy(1), ModelBox(40, 40, -10, 5, 20, 30, 0xFFFF, 1));
  for (int y = 6; y < 30; ++y) EXPECT_EQ(At(1, 0, y), 0);
  for (int x = 0; x <= 20; ++x) {
    EXPECT_EQ(At(1, x, 5), 1);
    EXPECT_EQ(At(1, x, 30), 1);
  }
  for (int y = 5; y <= 30; ++y) EXPECT_EQ(At(1, 20, y), 1);
}

TEST_F(DrawTest, StyleBitsRunOnFromEdgeToEdge) {
  Open(8, 8);
  DrawLine(nullptr, 0, 0, 3, 3, 5, LineShape::Box, 0xF0F0);
  // Bottom row: bits 15..12 on; top: 11..8 off; right: 7..4 on; left: 3..0 off.
  for (int x = 0; x < 4; ++x) EXPECT_EQ(At(1, x, 3), 5);
  EXPECT_EQ(At(1, 1, 0), 0);
  EXPECT_EQ(At(1, 2, 0), 0);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(At(1, 3, y), 5);
  EXPECT_EQ(At(1, 0, 1), 0);
  EXPECT_EQ(At(1, 0, 2), 0);
  EXPECT_EQ(At(1, 0, 0), 0);
  EXPECT_EQ(Copy(1), ModelBox(8, 8, 0, 0, 3, 3, 0xF0F0, 5));
}

TEST_F(DrawTest, OnlyTheLow16StyleBitsCount) {
  Open(30, 30);
  DrawLine(nullptr, 2, 2, 20, 25, 5, LineShape::Box, 0xFFFF0000u | 0xA5C3u);
  EXPECT_EQ(Copy(1), ModelBox(30, 30, 2, 2, 20, 25, 0xA5C3, 5));
}

TEST_F(DrawTest, StyledBoxesMatchTheWalkModelAtEveryClipPosition) {
  Open(24, 18);
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> coord(-30, 50);
  for (int round = 0; round < 2000; ++round) {
    int x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
    uint32_t style = (round % 4 == 0) ? 0xFFFF : rng() & 0xFFFF;
    int32_t shape = (round % 7 == 0) ? 3 : LineShape::Box;  // other non-zero shapes: outline
    std::memset(Page(1), 0, size_t(24) * 18);
    DrawLine(nullptr, float(x1), float(y1), float(x2), float(y2), 7, shape, style);
    ASSERT_EQ(Copy(1), ModelBox(24, 18, x1, y1, x2, y2, style, 7))
        << x1 << "," << y1 << " " << x2 << "," << y2 << " style " << std::hex << style;
  }
  EXPECT_EQ(S().lockCount, 0);
}

// Every run length and start column, so each fill path and its tail is used.
TEST_F(DrawTest, FilledBoxesMatchAModelAtEveryWidth) {
  Open(300, 12);
  std::mt19937 rng(4242);
  for (int round = 0; round < 600; ++round) {
    const int x1 = int(rng() % 320) - 10, x2 = int(rng() % 320) - 10;
    const int y1 = int(rng() % 16) - 2, y2 = int(rng() % 16) - 2;
    const uint8_t c = uint8_t(1 + rng() % 255);
    std::vector<uint8_t> model = Copy(1);
    for (int y = std::max(std::min(y1, y2), 0); y <= std::min(std::max(y1, y2), 11); ++y)
      for (int x = std::max(std::min(x1, x2), 0); x <= std::min(std::max(x1, x2), 299); ++x)
        model[size_t(y) * 300 + x] = c;
    DrawLine(nullptr, float(x1), float(y1), float(x2), float(y2), c, LineShape::FilledBox);
    ASSERT_EQ(Copy(1), model) << x1 << "," << y1 << " " << x2 << "," << y2;
  }
}

TEST_F(DrawTest, WidePixelFillsMatchAModel) {
  for (int depth : {16, 32}) {
    Open(40, 6, depth);
    const int bpp = S().bytesPerPixel;
    for (int x1 = 0; x1 < 40; x1 += 3) {
      for (int x2 = x1; x2 < 40; x2 += 5) {
        std::memset(Page(1), 0, size_t(S().pitch) * 6);
        DrawLine(nullptr, float(x1), 1, float(x2), 4, 0xFFFFFF, LineShape::FilledBox);
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 40; ++x) {
            uint32_t v = 0;
            std::memcpy(&v, Page(1) + size_t(y) * S().pitch + size_t(x) * bpp, size_t(bpp));
            const bool in = y >= 1 && y <= 4 && x >= x1 && x <= x2;
            ASSERT_EQ(v, in ? (bpp == 2 ? 0xFFFFu : 0xFFFFFFu) : 0u) << depth << " " << x;
          }
      }
    }
  }
}

TEST_F(DrawTest, FilledBoxesIgnoreTheStyle) {
  Open(16, 16);
  DrawLine(nullptr, 1, 1, 4, 4, 3, LineShape::FilledBox, 0x0000);
  EXPECT_EQ(CountNonZero(1), 16);
}

// ---------------------------------------------------------------------------
// Segments
// ---------------------------------------------------------------------------

TEST_F(DrawTest, SegmentsMatchTheExactModel) {
  Open(40, 30);
  std::mt19937 rng(777);
  std::uniform_int_distribution<int> coord(-60, 90);
  for (int round = 0; round < 3000; ++round) {
    int x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
    uint32_t style = (round % 3 == 0) ? 0xFFFF : rng() & 0xFFFF;
    std::memset(Page(1), 0, size_t(40) * 30);
    DrawLine(nullptr, float(x1), float(y1), float(x2), float(y2), 9, LineShape::Line, style);
    ASSERT_EQ(Copy(1), ModelLine(40, 30, x1, y1, x2, y2, style, 9))
        << x1 << "," << y1 << " " << x2 << "," << y2 << " style " << std::hex << style;
  }
}

TEST_F(DrawTest, FarAwayEndpointsAreClippedExactly) {
  Open(40, 30);
  const long far[][4] = {{-1000000, 3, 1000000, 20},   {-500000, -400000, 600000, 700000},
                         {20, -3000000, 21, 3000000},  {1000000, 10, -1000000, 12},
                         {-70000, 70000, 70000, -70000}, {5, 5, 5, 5}};
  for (const auto& l : far) {
    std::memset(Page(1), 0, size_t(40) * 30);
    DrawLine(nullptr, float(l[0]), float(l[1]), float(l[2]), float(l[3]), 4, LineShape::Line,
             0xF3F1);
    ASSERT_EQ(Copy(1), ModelLine(40, 30, l[0], l[1], l[2], l[3], 0xF3F1, 4))
        << l[0] << "," << l[1] << " " << l[2] << "," << l[3];
  }
}

TEST_F(DrawTest, SegmentEndpointsAreBothDrawn) {
  Open(64, 64);
  DrawLine(nullptr, 3, 50, 60, 7, 1, LineShape::Line);
  EXPECT_EQ(At(1, 3, 50), 1);
  EXPECT_EQ(At(1, 60, 7), 1);
  EXPECT_EQ(CountNonZero(1), 58);
}

// ---------------------------------------------------------------------------
// Coordinate forms and LastPoint
// ---------------------------------------------------------------------------

TEST_F(DrawTest, PointFormsAndLastPoint) {
  Open(32, 32);
  PutPixel(nullptr, 10, 10, 1, CoordForm::Point);
  EXPECT_EQ(gLayer.draw.lastX, 10);
  EXPECT_EQ(gLayer.draw.lastY, 10);
  PutPixel(nullptr, 1.25f, 2, 2, CoordForm::FromLastPoint);  // (11.25, 12)
  EXPECT_EQ(At(1, 11, 12), 2);
  EXPECT_FLOAT_EQ(gLayer.draw.lastX, 11.25f);
  PutPixel(nullptr, 1, 1, 3, 5);  // 5 is relative as well
  EXPECT_EQ(At(1, 12, 13), 3);
  PutPixel(nullptr, 4, 4, 4, 6);  // 6 is absolute
  EXPECT_EQ(At(1, 4, 4), 4);
  GetPixel(nullptr, 20, 20);  // reading leaves LastPoint alone
  EXPECT_EQ(gLayer.draw.lastX, 4);
}

TEST_F(DrawTest, TwoCornerForms) {
  Open(32, 32);
  DrawLine(nullptr, 2, 3, 4, 5, 1, LineShape::FilledBox, 0xFFFF, CoordForm::SecondRelative);
  EXPECT_EQ(CountNonZero(1), 5 * 6);  // (2,3)-(6,8)
  EXPECT_EQ(At(1, 6, 8), 1);
  EXPECT_EQ(gLayer.draw.lastX, 6);
  EXPECT_EQ(gLayer.draw.lastY, 8);
  std::memset(Page(1), 0, 32 * 32);
  DrawLine(nullptr, 1, 1, 2, 2, 1, LineShape::FilledBox, 0xFFFF, CoordForm::FromLastPoint);
  EXPECT_EQ(CountNonZero(1), 6 * 8);  // first corner (7,9), second (2,2) absolute
  EXPECT_EQ(At(1, 7, 9), 1);
  EXPECT_EQ(At(1, 2, 2), 1);
  std::memset(Page(1), 0, 32 * 32);
  gLayer.draw.lastX = 10, gLayer.draw.lastY = 10;
  DrawLine(nullptr, 1, 1, 2, 3, 1, LineShape::FilledBox, 0xFFFF, CoordForm::BothRelative);
  EXPECT_EQ(CountNonZero(1), 3 * 4);  // (11,11)-(13,14)
  EXPECT_EQ(At(1, 13, 14), 1);
  EXPECT_EQ(gLayer.draw.lastX, 13);
  EXPECT_EQ(gLayer.draw.lastY, 14);
}

// ---------------------------------------------------------------------------
// Targets and pages
// ---------------------------------------------------------------------------

TEST_F(DrawTest, DrawingGoesToTheWorkPage) {
  Open(16, 16, 8, 4, 2);
  PutPixel(nullptr, 1, 1, 5);
  EXPECT_EQ(At(2, 1, 1), 5);
  EXPECT_EQ(At(0, 1, 1), 0);
  SetPages(3, 0);
  PutPixel(nullptr, 2, 2, 6);
  EXPECT_EQ(At(3, 2, 2), 6);
  EXPECT_EQ(GetPixel(nullptr, 1, 1), 0);
  SetPages(2, -1);
  EXPECT_EQ(GetPixel(nullptr, 1, 1), 5);
}

TEST_F(DrawTest, AnImageTargetHasItsOwnViewAndTheWorkPageGetsItsBack) {
  Open(40, 30);
  ImageBuffer* img = ImageCreate(6, 5, 0, 0, kNoColour);
  ASSERT_NE(img, nullptr);
  PutPixel(img, 5, 4, 9);
  PutPixel(img, 6, 0, 9);  // outside the 6 x 5 image
  EXPECT_EQ(GetPixel(img, 5, 4), 9);
  EXPECT_EQ(GetPixel(img, 6, 0), -1);
  EXPECT_EQ(GetPixel(img, 0, 5), -1);
  const uint8_t* pixels = reinterpret_cast<const uint8_t*>(img) + 32;
  EXPECT_EQ(pixels[4 * 16 + 5], 9);
  EXPECT_EQ(CountNonZero(1), 0);
  PutPixel(nullptr, 39, 29, 3);  // the work page's whole view is back
  EXPECT_EQ(At(1, 39, 29), 3);
  EXPECT_EQ(gLayer.draw.view.width, 40);
  EXPECT_EQ(gLayer.draw.view.height, 30);
  DrawLine(img, -1, -1, 10, 10, 2, LineShape::FilledBox);
  EXPECT_EQ(GetPixel(img, 0, 0), 2);
  EXPECT_EQ(GetPixel(nullptr, 0, 0), 0);
  ImageDestroy(img);
}

TEST_F(DrawTest, APackedImageTarget) {
  Open(20, 20);
  std::vector<uint8_t> buf(4 + 3 * 2, 0);
  buf[0] = (3 << 3) | 1;
  buf[2] = 2;
  PutPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 2, 1, 8);
  EXPECT_EQ(buf[4 + 3 + 2], 8);
  EXPECT_EQ(GetPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 2, 1), 8);
  EXPECT_EQ(GetPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 3, 1), -1);
}

TEST_F(DrawTest, AChangedHeaderAtTheSameAddressIsReread) {
  Open(20, 20);
  std::vector<uint8_t> buf(4 + 64, 0);
  buf[0] = (4 << 3) | 1, buf[2] = 4;  // 4 x 4
  auto* img = reinterpret_cast<ImageBuffer*>(buf.data());
  EXPECT_EQ(GetPixel(img, 5, 0), -1);
  buf[0] = (8 << 3) | 1, buf[2] = 2;  // now 8 x 2
  PutPixel(img, 5, 1, 3);
  EXPECT_EQ(buf[4 + 8 + 5], 3);
}

TEST_F(DrawTest, ABadImageTargetDrawsNothing) {
  Open(20, 20);
  std::vector<uint8_t> buf(64, 0);
  uint32_t hdr[5] = {7, 3, 4, 4, 16};  // 3 bytes per pixel does not exist
  std::memcpy(buf.data(), hdr, sizeof hdr);
  PutPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 0, 0, 1);
  EXPECT_EQ(GetPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 0, 0), -1);
  uint32_t huge[5] = {7, 1, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
  std::memcpy(buf.data(), huge, sizeof huge);
  PutPixel(reinterpret_cast<ImageBuffer*>(buf.data()), 0, 0, 1);
  DrawLine(reinterpret_cast<ImageBuffer*>(buf.data()), 0, 0, 9, 9, 1, LineShape::FilledBox);
  for (size_t i = 20; i < buf.size(); ++i) EXPECT_EQ(buf[i], 0);
  PutPixel(nullptr, 0, 0, 1);  // the work page is still drawable
  EXPECT_EQ(At(1, 0, 0), 1);
}

TEST_F(DrawTest, TheContextIsRebuiltForANewScreen) {
  Open(16, 16, 8, 4, 3);
  gLayer.draw.lastX = 5;
  ASSERT_EQ(ScreenRes(24, 12, 8, 2, kWindowless, 0), 0);
  EXPECT_EQ(gLayer.draw.workPage, 0);
  EXPECT_EQ(gLayer.draw.lastX, 0);
  EXPECT_EQ(gLayer.draw.view.width, 24);
  EXPECT_EQ(gLayer.draw.view.height, 12);
  for (const BlitTable* t : gLayer.draw.blitCache) EXPECT_EQ(t, nullptr);
  PutPixel(nullptr, 23, 11, 4);
  EXPECT_EQ(At(0, 23, 11), 4);
}

TEST_F(DrawTest, OptionalWorldWindowMapsIntoTheView) {
  Open(11, 11);
  DrawContext& d = gLayer.draw;
  d.flags |= DrawFlags::WorldWindow;
  d.worldX = -1, d.worldY = -1, d.worldW = 2, d.worldH = 2;
  PutPixel(nullptr, 1, 1, 5);  // maps to (10, 10), then flipped to row 0
  EXPECT_EQ(At(1, 10, 0), 5);
  d.flags |= DrawFlags::WorldKeepsOrientation;
  PutPixel(nullptr, 0, 1, 6);  // (5, 10)
  EXPECT_EQ(At(1, 5, 10), 6);
  d.flags &= ~(DrawFlags::WorldWindow | DrawFlags::WorldKeepsOrientation);
}

// ---------------------------------------------------------------------------
// Change marking and the lock
// ---------------------------------------------------------------------------

TEST_F(DrawTest, DrawingOnTheVisiblePageFlagsOnlyTouchedRows) {
  Open(32, 32, 8, 2, 0);  // work page = visible page
  ClearDirty();
  PutPixel(nullptr, 3, 7, 1);
  EXPECT_EQ(DirtyList(), std::vector<int>({7}));
  ClearDirty();
  PutPixel(nullptr, 3, 40, 1);  // outside: nothing
  EXPECT_TRUE(DirtyList().empty());
  DrawLine(nullptr, -5, 30, 10, 40, 1, LineShape::Box);
  EXPECT_EQ(DirtyList(), std::vector<int>({30, 31}));
  ClearDirty();
  DrawLine(nullptr, 2, 4, 6, 9, 1, LineShape::FilledBox);
  EXPECT_EQ(DirtyList(), std::vector<int>({4, 5, 6, 7, 8, 9}));
  ClearDirty();
  DrawLine(nullptr, 0, 12, 31, 14, 1, LineShape::Line);
  EXPECT_EQ(DirtyList(), std::vector<int>({12, 13, 14}));
  ClearDirty();
  GetPixel(nullptr, 1, 1);
  EXPECT_TRUE(DirtyList().empty());
  EXPECT_EQ(S().lockCount, 0);
}

TEST_F(DrawTest, DrawingOnAHiddenPageOrAnImageFlagsNothing) {
  Open(32, 32, 8, 2, 1);
  ClearDirty();
  PutPixel(nullptr, 3, 7, 1);
  DrawLine(nullptr, 0, 0, 31, 31, 1, LineShape::FilledBox);
  DrawLine(nullptr, 0, 0, 31, 31, 1, LineShape::Line);
  EXPECT_TRUE(DirtyList().empty());
  SetPages(0, -1);
  ClearDirty();
  ImageBuffer* img = ImageCreate(8, 8, 0, 0, kNoColour);
  DrawLine(img, 0, 0, 7, 7, 1, LineShape::FilledBox);
  PutPixel(img, 1, 1, 2);
  EXPECT_TRUE(DirtyList().empty());
  ImageDestroy(img);
}

TEST_F(DrawTest, PrimitivesRunUnderTheLockAndNest) {
  Open(16, 16, 8, 2, 0);
  LockScreen();
  PutPixel(nullptr, 1, 1, 1);
  DrawLine(nullptr, 0, 0, 4, 4, 1, LineShape::Box);
  EXPECT_EQ(GetPixel(nullptr, 1, 1), 1);
  EXPECT_EQ(S().lockCount, 1);
  UnlockScreen(1, 0);
  EXPECT_EQ(S().lockCount, 0);
}

}  // namespace
