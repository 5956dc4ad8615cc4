// Screens, pages, palette, colours, text view and the screen lock, on the
// windowless back-end.
#include <gtest/gtest.h>

#include <cstring>

#include "screen.h"
#include "state.h"

namespace {

Screen& S() { return *gLayer.screen; }

// Every test starts with no Screen open.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { CloseScreen(false); }
  void TearDown() override { CloseScreen(false); }
  static bool AnyDirty() {
    for (uint8_t d : S().dirtyRows)
      if (d) return true;
    return false;
  }
  static void ClearDirty() { std::memset(S().dirtyRows.data(), 0, S().dirtyRows.size()); }
  static uint8_t PageByte(int page, int x, int y) { return S().pages[page][y * S().pitch + x]; }
};

TEST_F(ScreenTest, ModeSevenIsThe320x200SixteenColourScreen) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(S().width, 320);
  EXPECT_EQ(S().height, 200);
  EXPECT_EQ(S().depth, 4);
  EXPECT_EQ(S().bytesPerPixel, 1);
  EXPECT_EQ(S().pitch, 320);
  EXPECT_EQ(S().pageCount, 8);
  EXPECT_EQ(S().textColumns, 40);
  EXPECT_EQ(S().textRows, 25);
  EXPECT_EQ(S().colourMask, 15u);
  for (int p = 0; p < 8; ++p) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(S().pages[p]) % 16, 0u) << "page " << p;
    for (int i = 0; i < 320 * 200; ++i) ASSERT_EQ(S().pages[p][i], 0) << "page " << p;
  }
  EXPECT_EQ(gLayer.draw.workPage, 0);
  EXPECT_EQ(S().visiblePage, 0);
}

TEST_F(ScreenTest, PageCountsFollowTheArgumentOrTheModeDefault) {
  ASSERT_EQ(ScreenMode(7, 0, 2, -1, 0), 0);
  EXPECT_EQ(S().pageCount, 2);
  ASSERT_EQ(ScreenMode(7, 0, 0, -1, 0), 0);
  EXPECT_EQ(S().pageCount, 8);
  ASSERT_EQ(ScreenMode(7, 8, 2, -1, 0), 0);  // depth counts only from mode 14 on
  EXPECT_EQ(S().depth, 4);
  EXPECT_EQ(S().pageCount, 2);
  ASSERT_EQ(ScreenMode(14, 16, 0, -1, 0), 0);
  EXPECT_EQ(S().depth, 16);
  EXPECT_EQ(S().bytesPerPixel, 2);
  EXPECT_EQ(S().pageCount, 1);
  ASSERT_EQ(ScreenMode(13, 32, 0, -1, 0), 0);  // mode 13 is below 14: table depth
  EXPECT_EQ(S().depth, 8);
}

TEST_F(ScreenTest, BadModesLeaveTheOpenScreenAlone) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  const uint32_t id = S().id;
  for (int mode : {-1, 3, 4, 5, 6, 22, 1000}) {
    EXPECT_EQ(ScreenMode(mode, 0, 0, -1, 0), 1) << mode;
    EXPECT_EQ(ErrorNumber(), 1);
    ASSERT_NE(gLayer.screen, nullptr);
    EXPECT_EQ(S().id, id);
  }
}

TEST_F(ScreenTest, ScreenResChecksSizeAndDepth) {
  EXPECT_EQ(ScreenRes(640, 480, 3, 8, -1, 0), 1);
  EXPECT_EQ(gLayer.screen, nullptr);
  EXPECT_EQ(ScreenRes(0, 480, 4, 8, -1, 0), 1);
  EXPECT_EQ(ScreenRes(640, -1, 4, 8, -1, 0), 1);
  ASSERT_EQ(ScreenRes(640, 480, 4, 0, -1, 0), 0);
  EXPECT_EQ(S().pageCount, 1);
  EXPECT_EQ(S().textColumns, 80);
  EXPECT_EQ(S().textRows, 60);
  EXPECT_EQ(S().mode, -1);
  ASSERT_EQ(ScreenRes(100, 50, 24, 1, -1, 0), 0);
  EXPECT_EQ(S().depth, 32);
  EXPECT_EQ(S().bytesPerPixel, 4);
  EXPECT_EQ(S().pitch, 400);
  ASSERT_EQ(ScreenRes(100, 50, 15, 1, -1, 0), 0);
  EXPECT_EQ(S().depth, 16);
}

TEST_F(ScreenTest, AScreenTooLargeToHoldIsRefusedWithoutCrashing) {
  EXPECT_EQ(ScreenRes(100000, 100000, 32, 8, -1, 0), 4);
  EXPECT_EQ(gLayer.screen, nullptr);
  EXPECT_EQ(ScreenRes(2147483647, 2147483647, 32, 2147483647, -1, 0), 4);
  EXPECT_EQ(gLayer.screen, nullptr);
}

TEST_F(ScreenTest, OpeningASecondScreenReplacesTheFirst) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  const uint32_t first = S().id;
  SetPages(3, 2);
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  EXPECT_GT(S().id, first);
  EXPECT_EQ(gLayer.draw.workPage, 0);
  EXPECT_EQ(S().visiblePage, 0);
  EXPECT_EQ(S().width, 640);
}

TEST_F(ScreenTest, ModeZeroReturnsToTheConsole) {
  EXPECT_EQ(ScreenMode(0, 0, 0, 0, 0), 0);  // with nothing open
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(ScreenMode(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(gLayer.screen, nullptr);
  EXPECT_EQ(SetPages(1, 0), -1);
  EXPECT_EQ(GraphicsPageCopy(1, 0), 1);
}

// --- pages -----------------------------------------------------------------

TEST_F(ScreenTest, SetPagesReportsThePreviousPairAndIgnoresPagesOutOfRange) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(SetPages(1, 0), 0);
  EXPECT_EQ(SetPages(8, 0), 1);  // 8 is beyond the last page: work page stays 1
  EXPECT_EQ(gLayer.draw.workPage, 1);
  EXPECT_EQ(SetPages(5, 3), 1);
  EXPECT_EQ(SetPages(-1, -1), 3 * 256 + 5);
  EXPECT_EQ(gLayer.draw.workPage, 0);
  EXPECT_EQ(S().visiblePage, 0);
  SetError(7);
  SetPages(2, 2);
  EXPECT_EQ(ErrorNumber(), 7) << "SetPages leaves the error number alone";
}

TEST_F(ScreenTest, ChangingTheVisiblePageFlagsAllRows) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  ClearDirty();
  SetPages(0, 0);
  EXPECT_FALSE(AnyDirty()) << "the same visible page changes nothing";
  SetPages(0, 2);
  EXPECT_EQ(S().visible, S().pages[2]);
  for (uint8_t d : S().dirtyRows) ASSERT_EQ(d, 1);
}

TEST_F(ScreenTest, PageCopyChecksPagesAndCopiesPixelsAndTextCells) {
  ASSERT_EQ(ScreenMode(7, 0, 2, -1, 0), 0);
  S().pages[1][5 * 320 + 7] = 9;
  S().textCells[1][3] = TextCell{65, 14, 1};
  EXPECT_EQ(PageCopy(1, 2), 1);
  EXPECT_EQ(PageCopy(2, 1), 1);
  EXPECT_EQ(PageByte(0, 7, 5), 0) << "nothing copied on error";
  EXPECT_EQ(PageCopy(1, 1), 0);
  EXPECT_EQ(PageCopy(1, 0), 0);
  EXPECT_EQ(PageByte(0, 7, 5), 9);
  EXPECT_EQ(S().textCells[0][3].character, 65u);
  EXPECT_EQ(S().textCells[0][3].foreground, 14u);
}

TEST_F(ScreenTest, PageCopyNegativePagesMeanWorkAndVisible) {
  ASSERT_EQ(ScreenMode(7, 0, 4, -1, 0), 0);
  SetPages(2, 1);
  S().pages[2][0] = 4;
  EXPECT_EQ(PageCopy(-1, -1), 0);
  EXPECT_EQ(S().pages[1][0], 4);
}

TEST_F(ScreenTest, OnlyCopiesOntoTheVisiblePageFlagRows) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  SetPages(1, 0);
  ClearDirty();
  S().pages[2][100] = 3;
  PageCopy(2, 1);
  EXPECT_FALSE(AnyDirty());
  PageCopy(1, 0);
  for (uint8_t d : S().dirtyRows) ASSERT_EQ(d, 1);
  EXPECT_EQ(S().lockCount, 0);
}

TEST_F(ScreenTest, PageCopyWithNoScreenIsRoutedToTheConsolePages) {
  EXPECT_EQ(GraphicsPageCopy(1, 0), 1);
  EXPECT_EQ(PageCopy(1, 0), 0);
  EXPECT_EQ(PageCopy(3, 0), 0);
  EXPECT_EQ(PageCopy(4, 0), 1);
}

// --- clearing ----------------------------------------------------------------

TEST_F(ScreenTest, ClearWithTheWholeTextViewClearsThe320x200Page) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  SetPages(1, 0);
  SetTextView(1, 25);
  std::memset(S().pages[1], 7, 320 * 200);
  ClearScreen();
  for (int i = 0; i < 320 * 200; ++i) ASSERT_EQ(S().pages[1][i], 0) << i;
  EXPECT_EQ(gLayer.draw.lastX, 160.0f);
  EXPECT_EQ(gLayer.draw.lastY, 100.0f);
  EXPECT_EQ(S().textCells[1][0].character, 32u);
}

TEST_F(ScreenTest, ClearWithAPartialTextViewClearsOnlyItsRows) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  SetPages(1, 0);
  SetTextView(1, 25);
  std::memset(S().pages[1], 7, 640 * 480);
  gLayer.draw.lastX = 3;
  ClearScreen();
  for (int y = 0; y < 480; ++y)
    ASSERT_EQ(PageByte(1, 639, y), y < 200 ? 0 : 7) << "row " << y;
  EXPECT_EQ(gLayer.draw.lastX, 3.0f) << "the text-view clear keeps LastPoint";
  ClearScreen(0);
  EXPECT_EQ(PageByte(1, 0, 479), 0);
  EXPECT_EQ(gLayer.draw.lastX, 320.0f);
  EXPECT_EQ(gLayer.draw.lastY, 240.0f);
}

TEST_F(ScreenTest, ClearingTheVisiblePageFlagsItsRowsOnly) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 2, -1, 0), 0);
  SetTextView(1, 25);
  ClearDirty();
  ClearScreen();
  for (int y = 0; y < 480; ++y) ASSERT_EQ(S().dirtyRows[y], y < 200 ? 1 : 0) << y;
  SetPages(1, 0);
  ClearDirty();
  ClearScreen(0);
  EXPECT_FALSE(AnyDirty());
}

// --- colours -------------------------------------------------------------------

TEST_F(ScreenTest, TheSixteenColoursAreShownAndEverythingAboveIsBlack) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(S().shownColours[0], 0u);
  EXPECT_EQ(S().shownColours[1], 170u << 16);  // blue
  EXPECT_EQ(S().shownColours[4], 170u);        // red
  EXPECT_EQ(S().shownColours[6], 170u | (85u << 8));
  EXPECT_EQ(S().shownColours[15], 0xFFFFFFu);
  for (int i = 16; i < 256; ++i) ASSERT_EQ(S().shownColours[i], 0u) << i;
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  EXPECT_EQ(S().shownColours[9], 85u | (85u << 8) | (255u << 16));
  EXPECT_EQ(S().shownColours[16], 0u);
}

TEST_F(ScreenTest, SetColorInModeSevenMapsTheBackgroundThroughThePalette) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(SetColor(15, 0, 0), 15u);  // previous: background 0, foreground 15
  EXPECT_EQ(gLayer.draw.foreground, 15u);
  SetColor(15, 4, 0);
  EXPECT_EQ(gLayer.draw.background, 0u);
  EXPECT_EQ(S().shownColours[0], 170u) << "value 0 now shows red";
  SetColor(0x1F, 4, 1);  // foreground omitted
  EXPECT_EQ(gLayer.draw.foreground, 15u);
  SetColor(0x1E, 0, 2);
  EXPECT_EQ(gLayer.draw.foreground, 14u) << "ANDed with 15";
  EXPECT_EQ(S().shownColours[0], 170u) << "background omitted: palette unchanged";
}

TEST_F(ScreenTest, SetColorOnAFourBitScreenResKeepsTheLowByte) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  SetColor(200, 0x1FF, 0);
  EXPECT_EQ(SetColor(15, 0, 0), (255u << 16) + 200u);
}

TEST_F(ScreenTest, ModeNineMapsThroughTheSixtyFourColourPalette) {
  ASSERT_EQ(ScreenMode(9, 0, 0, -1, 0), 0);
  // value 6 shows palette entry 20: red 170 (bit 2) + green 85 (bit 4).
  EXPECT_EQ(S().shownColours[6], 170u | (85u << 8));
  EXPECT_EQ(S().shownColours[8], 85u | (85u << 8) | (85u << 16));  // entry 56
  SetPaletteEntry(1, 63);
  EXPECT_EQ(S().shownColours[1], 0xFFFFFFu);
  EXPECT_EQ(S().attributeMap[1], 63);
}

TEST_F(ScreenTest, TheTwoColourAndFourColourModesUseTheirAttributeMaps) {
  ASSERT_EQ(ScreenMode(2, 0, 0, -1, 0), 0);
  EXPECT_EQ(S().lineMultiplier, 2);
  EXPECT_EQ(S().windowHeight, 400);
  EXPECT_EQ(S().shownColours[1], 0xFFFFFFu);
  EXPECT_EQ(S().shownColours[2], 0u);
  ASSERT_EQ(ScreenMode(1, 0, 0, -1, 0), 0);
  EXPECT_EQ(S().shownColours[1], 85u | (255u << 8) | (255u << 16));  // 11
  EXPECT_EQ(S().shownColours[3], 0xFFFFFFu);
}

TEST_F(ScreenTest, TheDefaultPalettesHaveTheirDocumentedEntries) {
  const DefaultPalette& p64 = Palette64();
  ASSERT_EQ(p64.count, 64);
  EXPECT_EQ(p64.colours[63].r, 255);
  EXPECT_EQ(p64.colours[20].g, 85);
  const DefaultPalette& p256 = Palette256();
  ASSERT_EQ(p256.count, 256);
  EXPECT_EQ(p256.colours[12].r, 255);
  EXPECT_EQ(p256.colours[23].r, 97);
  const uint8_t firstRunRed[5] = {0, 64, 125, 190, 255};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(p256.colours[32 + i].r, firstRunRed[i]) << i;
    EXPECT_EQ(p256.colours[32 + i].b, 255) << i;
  }
  for (int i = 248; i < 256; ++i) EXPECT_EQ(PackColour(p256.colours[i]), 0u) << i;
}

// --- text view and width ------------------------------------------------------

TEST_F(ScreenTest, SetTextViewAcceptsRangesWithinTheGridOnly) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 8, -1, 0), 0);
  EXPECT_EQ(SetTextView(1, 25), 25 * 65536 + 1);
  EXPECT_EQ(SetTextView(1, 61), 0);
  EXPECT_EQ(SetTextView(5, 3), 0);
  EXPECT_EQ(SetTextView(-1, -1), 25 * 65536 + 1) << "both negative only reports";
  EXPECT_EQ(SetTextView(0, 0), 60 * 65536 + 1);
  EXPECT_EQ(SetTextView(10, -1), 60 * 65536 + 10);
  EXPECT_EQ(S().cursorRow, 9);
}

TEST_F(ScreenTest, SetWidthWithAScreenOpenChangesNothing) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  EXPECT_EQ(SetWidth(-1, -1), 25 * 65536 + 40);
  EXPECT_EQ(SetWidth(80, -1), 0);
  EXPECT_EQ(S().textColumns, 40);
}

TEST_F(ScreenTest, TheConsoleKeepsItsOwnColoursAndSize) {
  gLayer.console = ConsoleState{};
  EXPECT_EQ(SetColor(15, 1, 0), 7u);  // console starts 7 on 0
  EXPECT_EQ(SetColor(0x1E, 0x12, 1), (1u << 16) + 15u);
  EXPECT_EQ(gLayer.console.foreground, 15) << "omitted foreground kept";
  EXPECT_EQ(gLayer.console.background, 2);
  EXPECT_EQ(SetWidth(80, -1), 0);
  EXPECT_EQ(SetWidth(0, 0), 25 * 65536 + 80);
}

// --- the screen lock and DirtyRows ---------------------------------------------

TEST_F(ScreenTest, TheLockIsCountedAndUnlockFlagsOnlyTheVisibleWorkPage) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  ClearDirty();
  LockScreen();
  LockScreen();
  EXPECT_EQ(S().lockCount, 2);
  UnlockScreen(10, 12);  // work page 0 is visible
  EXPECT_EQ(S().dirtyRows[9], 0);
  EXPECT_EQ(S().dirtyRows[10], 1);
  EXPECT_EQ(S().dirtyRows[12], 1);
  EXPECT_EQ(S().dirtyRows[13], 0);
  UnlockScreen(1, 0);
  EXPECT_EQ(S().lockCount, 0);
  UnlockScreen(0, 5);  // unbalanced: ignored
  EXPECT_EQ(S().lockCount, 0);
  SetPages(1, 0);
  ClearDirty();
  LockScreen();
  UnlockScreen(-1, -1);
  EXPECT_FALSE(AnyDirty()) << "the work page is not visible";
}

TEST_F(ScreenTest, RowsOfALineMultipliedModeFlagBothWindowRows) {
  ASSERT_EQ(ScreenMode(8, 0, 0, -1, 0), 0);
  ClearDirty();
  LockScreen();
  UnlockScreen(3, 3);
  EXPECT_EQ(S().dirtyRows[5], 0);
  EXPECT_EQ(S().dirtyRows[6], 1);
  EXPECT_EQ(S().dirtyRows[7], 1);
  EXPECT_EQ(S().dirtyRows[8], 0);
}

TEST_F(ScreenTest, ClosingWhileHoldingTheLockEndsCleanly) {
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  LockScreen();
  LockScreen();
  EXPECT_EQ(ScreenMode(0), 0);
  EXPECT_EQ(gLayer.screen, nullptr);
  ASSERT_EQ(ScreenMode(7, 0, 8, -1, 0), 0);
  LockScreen();  // the platform lock was given back: this must not deadlock
  UnlockScreen(1, 0);
}

}  // namespace
