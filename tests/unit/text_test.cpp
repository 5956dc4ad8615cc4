// text_test.cpp - text cells, the cursor, glyphs anywhere and the console's text, through the public calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "backend/backend.h"  // TakeChanges: the rows the Presenter is given
#include "fonts.h"
#include "screen.h"
#include "testing.h"

using namespace scr;

namespace {

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLayerForTests(); }
  void TearDown() override { ResetLayerForTests(); }
};

// Whether glyph row y of character ch has ink at column x: the half blocks and blanks by their
// shape alone, every other character by the built-in table of its cell height.
bool Ink(int height, uint8_t ch, int x, int y) {
  switch (ch) {
    case 0: case 32: return false;
    case 219: return true;
    case 220: return y >= height / 2;
    case 223: return y < height / 2;
    case 221: return x < 4;
    case 222: return x >= 4;
  }
  GlyphSet f;
  BuiltinFont(height, f);
  return (f.rows[ch * height + y] >> (7 - x)) & 1;
}
// The page rows the Presenter is given at its next pass (and they are taken); {-1, -1} for none.
std::pair<int, int> Dirty() {
  static Frame frame;
  return TakeChanges(frame) ? std::pair{frame.firstDirty, frame.lastDirty} : std::pair{-1, -1};
}
bool IsControl(int c) { return c == '\n' || c == '\r' || c == '\t' || c == '\b'; }

// Every character of the three cells, each at its own place in the current colours.
TEST_F(TextTest, EveryCharacterInEveryCell) {
  // mode (-1: ScreenRes 64 x 64 at 32 bits), cell height, columns, foreground, background as stored
  const struct { int mode, height, columns; uint32_t fg, bg; } kCases[] = {
      {7, 8, 40, 14, 0}, {9, 14, 80, 12, 0}, {12, 16, 80, 14, 1}, {13, 8, 40, 200, 17}, {-1, 8, 8, 0x123456, 0xABCDEF},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    ASSERT_EQ(c.mode < 0 ? ScreenRes(64, 64, 32, 1, -1) : ScreenMode(c.mode, 0, 1, -1), 0);
    SetColor(c.fg, c.bg + (c.mode == 7 || c.mode == 9 ? 1 : 0));  // modes 7 and 9: the background is palette 0's
    const int per = c.mode < 0 ? 64 : 256;  // characters on one Screen
    for (int first = 0; first < 256; first += per) {
      ClearScreen(0);
      for (int i = 0; i < per;) {  // runs of characters, broken at the row's end and at the controls
        int end = i;
        while (end < per && !IsControl(first + end) && (end == i || end % c.columns)) ++end;
        ASSERT_EQ(Locate(1 + i / c.columns, 1 + i % c.columns), 0);
        KeyString run;
        for (int k = i; k < end; ++k) run += char(first + k);
        Print(run);
        i = std::max(end, i + 1);
      }
      for (int i = 0; i < per; ++i) {
        const int ch = first + i, row = i / c.columns, column = i % c.columns;
        if (IsControl(ch)) continue;
        ASSERT_EQ(CharAt(row + 1, column + 1), ch);
        ASSERT_EQ(uint32_t(CharAt(row + 1, column + 1, 1)), c.fg);
        ASSERT_EQ(uint32_t(CharAt(row + 1, column + 1, 2)), c.bg);
        for (int y = 0; y < c.height; ++y)
          for (int x = 0; x < 8; ++x)
            ASSERT_EQ(uint32_t(GetPixel(nullptr, float(column * 8 + x), float(row * c.height + y))),
                      Ink(c.height, uint8_t(ch), x, y) ? c.fg : c.bg)
                << "character " << ch << " at " << x << ", " << y;
      }
    }
  }
}

TEST_F(TextTest, ControlCharactersWrapAndTheCursor) {
  ASSERT_EQ(ScreenMode(7, 0, 3, -1), 0);  // 40 x 25 cells
  // start row, column, text -> row, column of the cursor; the last character printed and where it went
  const KeyString k40(40, 'x');
  const struct { int row, column; KeyString text; int wantRow, wantColumn, lastRow, lastColumn; } kCases[] = {
      {1, 1, "abc", 1, 4, 1, 3}, {3, 5, "\n", 4, 1, 0, 0}, {3, 5, "abcdefg\rz", 3, 2, 3, 1}, {1, 1, "\t", 1, 9, 0, 0},
      {1, 8, "\t", 1, 9, 0, 0}, {1, 9, "\t", 1, 17, 0, 0}, {1, 39, "\t", 1, 40, 0, 0}, {1, 5, "\b", 1, 4, 0, 0},
      {1, 1, "\b", 1, 1, 0, 0}, {1, 1, k40, 1, 40, 1, 40}, {1, 1, k40 + "y", 2, 2, 2, 1}, {1, 40, "ay", 2, 2, 2, 1},
      {1, 1, k40 + "\n", 2, 1, 1, 40}, {1, 40, "a\by", 1, 40, 1, 39}, {1, 40, "a\ty", 2, 2, 2, 1},
      {2, 3, KeyString("\0\x1b", 2), 2, 5, 2, 4},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " from " + std::to_string(c.column));
    ClearScreen(0);
    ASSERT_EQ(Locate(c.row, c.column), 0);
    Print(c.text);
    EXPECT_EQ(std::pair(CursorRow(), CursorColumn()), std::pair(c.wantRow, c.wantColumn));
    if (c.lastRow) {
      EXPECT_EQ(CharAt(c.lastRow, c.lastColumn), uint8_t(c.text[c.text.find_last_not_of("\n\t\b")]));
    }
  }
  // Locate inside the text view only; a refusal keeps the cursor; kOmitted keeps a coordinate.
  SetTextView(5, 10);
  const struct { int row, column, error, wantRow, wantColumn; } kLocate[] = {
      {5, 1, 0, 5, 1}, {10, 40, 0, 10, 40}, {4, 1, 1, 10, 40}, {11, 1, 1, 10, 40}, {6, 0, 1, 10, 40},
      {6, 41, 1, 10, 40}, {6, kOmitted, 0, 6, 40}, {kOmitted, 2, 0, 6, 2}, {INT32_MIN, 2, 1, 6, 2},
  };
  for (const auto& c : kLocate) {
    EXPECT_EQ(Locate(c.row, c.column), c.error) << c.row << ", " << c.column;
    EXPECT_EQ(ErrorNumber(), c.error);
    EXPECT_EQ(std::pair(CursorRow(), CursorColumn()), std::pair(c.wantRow, c.wantColumn));
  }
  // The cells go with PageCopy; a clear blanks them and puts the cursor at the view's top.
  Print("hi");
  EXPECT_EQ(PageCopy(0, 2), 0);
  SetPages(2, -1);
  EXPECT_TRUE(CharAt(6, 2) == 'h' && CharAt(6, 3) == 'i');
  ClearScreen(0);
  EXPECT_TRUE(CharAt(6, 2) == 32 && CursorRow() == 5 && CursorColumn() == 1);
  for (int bad : {0, 26}) EXPECT_EQ(CharAt(bad, 1), -1);
  EXPECT_TRUE(CharAt(1, 41) == -1 && CharAt(1, 1, 3) == -1);
}

// A new row below the text view scrolls it by exactly one cell height; only the changed rows are flagged.
TEST_F(TextTest, TheTextViewScrollsAndFlagsItsRows) {
  ASSERT_EQ(ScreenMode(12, 0, 1, -1), 0);  // 640 x 480, 8 x 16 cells, the work page visible
  SetColor(15, 3);
  Dirty();
  Locate(2, 5);
  Print("A");
  EXPECT_EQ(Dirty(), std::pair(16, 31));
  SetTextView(3, 5);
  Print("row 3\nrow 4\nrow 5");
  std::vector<int32_t> before(640 * 480), after(640 * 480);
  for (int i = 0; i < 640 * 480; ++i) before[size_t(i)] = GetPixel(nullptr, float(i % 640), float(i / 640));
  Dirty();
  Print("\n");
  EXPECT_EQ(Dirty(), std::pair(32, 79));
  for (int i = 0; i < 640 * 480; ++i) after[size_t(i)] = GetPixel(nullptr, float(i % 640), float(i / 640));
  for (int y = 0; y < 480; ++y) {
    const int from = y >= 32 && y < 64 ? y + 16 : y;  // the view's rows 4 and 5 moved up to 3 and 4
    for (int x = 0; x < 640; ++x)
      ASSERT_EQ(after[size_t(y * 640 + x)], y >= 64 && y < 80 ? 3 : before[size_t(from * 640 + x)]) << x << ", " << y;
  }
  EXPECT_TRUE(CharAt(3, 5) == '4' && CharAt(4, 5) == '5' && CharAt(5, 1) == 32 && CharAt(5, 1, 2) == 3);
  EXPECT_TRUE(CharAt(2, 5) == 'A' && CursorRow() == 5 && CursorColumn() == 1);
}

// DrawText against a model that sets each glyph pixel's block wherever it falls on the page.
TEST_F(TextTest, DrawTextClipsScalesAndKeepsTheBackground) {
  std::mt19937 rng(7);
  for (int depth : {8, 32}) {
    constexpr int kW = 61, kH = 47;
    ASSERT_EQ(ScreenRes(kW, kH, depth, 1, -1), 0);
    std::vector<uint32_t> model(kW * kH);
    const uint32_t mask = depth == 8 ? 255 : ~0u;
    for (int i = 0; i < kW * kH; ++i) PutPixel(nullptr, float(i % kW), float(i / kW), model[size_t(i)] = rng() & mask);
    for (int round = 0; round < 300; ++round) {
      const int x = int(rng() % 90) - 20, y = int(rng() % 80) - 20, scale = 1 + int(rng() % 3);
      const int font = std::vector{0, 8, 14, 16}[rng() % 4], height = font ? font : 8;
      const uint32_t colour = rng() & mask;
      KeyString text(1 + rng() % 6, ' ');
      for (char& ch : text) ch = rng() % 5 ? char(rng()) : '\n';
      ASSERT_EQ(DrawText(nullptr, float(x), float(y), text, colour, scale, font), 0);
      int penX = x, lineY = y;
      for (const char ch : text) {
        if (ch == '\n') {
          penX = x;
          lineY += height * scale;
          continue;
        }
        for (int gy = 0; gy < height * scale; ++gy)
          for (int gx = 0; gx < 8 * scale; ++gx) {
            const int px = penX + gx, py = lineY + gy;
            if (px >= 0 && px < kW && py >= 0 && py < kH && Ink(height, uint8_t(ch), gx / scale, gy / scale))
              model[size_t(py * kW + px)] = colour;
          }
        penX += 8 * scale;
      }
      for (int i = 0; i < kW * kH; ++i)
        ASSERT_EQ(uint32_t(GetPixel(nullptr, float(i % kW), float(i / kW))), model[size_t(i)])
            << testing::PrintToString(text) << " at " << x << ", " << y << " scale " << scale << " font " << font;
    }
  }
  EXPECT_TRUE(TextWidth("abc", 2) == 48 && TextWidth("ab\nabcd") == 32 && TextWidth("", 3) == 0);
  // Refused: a scale below 1, an unknown font, a NaN coordinate; with no Screen nothing is drawn either.
  for (int32_t error : {DrawText(nullptr, 0, 0, "a", 1, 0), DrawText(nullptr, 0, 0, "a", 1, 1, 7),
                        DrawText(nullptr, NAN, 0, "a", 1), TextWidth("a", 0), TextWidth("a", 1, 15),
                        TextWidth("a", 1, 100)})
    EXPECT_TRUE(error == 1 || error == -1);
  ScreenMode(0);
  EXPECT_EQ(DrawText(nullptr, 0, 0, "a", 1), 1);
  EXPECT_TRUE(CharAt(1, 1) == -1 && TextWidth("ab") == 16);
}

// A font from a 16 x 16 grid of 5 x 3 cells: glyph g has one ink pixel, at (g % 5, g / 5 % 3) of its cell.
TEST_F(TextTest, FontsFromImages) {
  ASSERT_EQ(ScreenRes(320, 200, 8, 1, -1), 0);
  ImageBuffer* grid = ImageCreate(80, 48, 0, 0, 0);
  for (int g = 0; g < 256; ++g) PutPixel(grid, float(g % 16 * 5 + g % 5), float(g / 16 * 3 + g / 5 % 3), 9);
  const int32_t font = FontFromImage(grid, 5, 3);
  ASSERT_GE(font, 100);
  KeyString all;
  for (int g = 0; g < 256; ++g) all += g == '\n' ? ' ' : char(g);
  EXPECT_EQ(TextWidth(all, 1, font), 5 * 256);
  DrawText(nullptr, 0, 10, all.substr(0, 64), 14, 1, font);
  for (int x = 0; x < 320; ++x)
    for (int y = 9; y < 14; ++y) {
      const int g = uint8_t(all[size_t(x / 5)]), ink = x % 5 == g % 5 && y - 10 == g / 5 % 3;
      ASSERT_EQ(GetPixel(nullptr, float(x), float(y)), ink ? 14 : 0) << x << ", " << y;
    }
  // Refused: no image, sides outside 1..32, an image smaller than the grid.
  ImageBuffer* small = ImageCreate(95, 48, 0, 0, 0);
  for (auto [image, w, h] : {std::tuple{(ImageBuffer*)nullptr, 5, 3}, {grid, 0, 3}, {grid, 5, 33}, {grid, 6, 3},
                             {small, 6, 3}}) {
    SetError(0);
    EXPECT_TRUE(FontFromImage(image, w, h) == -1 && ErrorNumber() == 1) << w << " x " << h;
  }
  ImageDestroy(grid);
  ImageDestroy(small);
}

TEST_F(TextTest, Utf8ToCodePage437) {
  const std::pair<std::string, KeyString> kCases[] = {
      {"Score \u2665 3", "Score \x03 3"}, {"caf\u00e9 \u00bd", "caf\x82 \xab"}, {"\u2554\u2550\u2557", "\xc9\xcd\xbb"},
      {"a\nb", "a\nb"}, {"\u20ac\U0001F600", "??"}, {"\xc3", "?"}, {"\xe2\x82", "??"}, {"\xe0\x80\xaf", "???"},
      {"\xed\xa0\x80", "???"}, {"\xf8\x88\x80\x80\x80", "?????"}, {std::string("\0", 1), KeyString("\0", 1)},
  };
  for (const auto& [utf8, want] : kCases) EXPECT_EQ(FromUtf8(utf8), want) << testing::PrintToString(utf8);
}

// With no Screen, text goes to the console (here a file: plain UTF-8, no escapes) and the cursor follows it.
TEST_F(TextTest, WithNoScreenTextGoesToTheConsole) {
  const std::string path = testing::TempDir() + "text_test_" + std::to_string(getpid());
  fflush(stdout);
  const int saved = dup(1);
  FILE* file = fopen(path.c_str(), "w+");
  ASSERT_TRUE(file && saved >= 0 && dup2(fileno(file), 1) == 1);
  const int32_t located = Locate(3, 5);
  Print(KeyString("\x82\x01\0 x\n", 6));
  const int row = CursorRow(), column = CursorColumn();
  Print("ab");
  const int32_t refused = Locate(0, 1) + Locate(1, 81);
  dup2(saved, 1);
  close(saved);
  std::string written(64, '\0');
  rewind(file);
  written.resize(fread(written.data(), 1, written.size(), file));
  fclose(file);
  unlink(path.c_str());
  EXPECT_EQ(written, "\u00e9\u263a  x\nab");
  EXPECT_EQ(located, 0);
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(std::pair(row, column), std::pair(4, 1));
  EXPECT_EQ(std::pair(CursorRow(), CursorColumn()), std::pair(4, 3));
}

}  // namespace
