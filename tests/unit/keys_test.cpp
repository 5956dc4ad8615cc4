// Keys: key strings, the two key rings, InKey, TranslateKey with both key
// tables, console key records (repeat counts, Alt-numpad), code page 437
// and the clock.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <vector>

#include "screen.h"
#include "state.h"
#include "termkeys.h"

namespace {

namespace VK = VirtualKey;
namespace CKS = ControlKeyState;

constexpr KeyCode Ext(int c) { return (c << 8) + 255; }
KeyString Bytes(std::initializer_list<int> bytes) {
  KeyString s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Every test starts with no Screen, empty rings and console input from an
// empty pipe whose writing end the test may use.
class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseScreen(false);
    ASSERT_EQ(pipe(pipe_), 0);
    TermSetConsoleInput(pipe_[0], false);
    gLayer.windowKeys = WindowKeyRing{};
    gLayer.consoleKeys = ConsoleKeyRing{};
    gLayer.altNumpad = 0;
  }
  void TearDown() override {
    CloseScreen(false);
    TermSetConsoleInput(-1, false);
    CloseWriter();
    close(pipe_[0]);
  }
  void Type(const KeyString& bytes) {
    ASSERT_EQ(write(pipe_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWriter() {
    if (pipe_[1] >= 0) close(pipe_[1]);
    pipe_[1] = -1;
  }
  static void OpenScreen() { ASSERT_EQ(ScreenRes(320, 200, 8, 1, -1, 0), 0); }
  static std::vector<KeyCode> ConsoleRing() {
    std::vector<KeyCode> codes;
    KeyCode c;
    ConsoleKeyRing& r = gLayer.consoleKeys;
    for (int i = r.head; i != r.tail; i = (i + 1) % ConsoleKeyRing::kSize) {
      c = r.slots[i];
      codes.push_back(c);
    }
    return codes;
  }
  int pipe_[2] = {-1, -1};
};

// ---------------------------------------------------------------------------
// Key strings
// ---------------------------------------------------------------------------

TEST(KeyStringRule, NoKeyIsTheEmptyString) {
  EXPECT_EQ(KeyStringOf(0), "");
  EXPECT_EQ(Len(KeyStringOf(0)), 0);
}

TEST(KeyStringRule, CharactersAreOneByte) {
  for (KeyCode c = 1; c <= 255; ++c) {
    const KeyString s = KeyStringOf(c);
    ASSERT_EQ(s.size(), 1u) << c;
    EXPECT_EQ(static_cast<uint8_t>(s[0]), c);
  }
  // The character path's signed bytes give the same strings as 128..255.
  for (KeyCode c = -128; c <= -1; ++c) EXPECT_EQ(KeyStringOf(c), KeyStringOf(c + 256)) << c;
}

TEST(KeyStringRule, ExtendedKeysAre255ThenTheirSecondByte) {
  for (int c = 1; c <= 255; ++c) {
    const KeyString s = KeyStringOf(Ext(c));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(static_cast<uint8_t>(s[0]), 255);
    EXPECT_EQ(static_cast<uint8_t>(s[1]), c);
  }
  EXPECT_EQ(KeyStringOf(CloseKey), Bytes({255, 'k'}));
  EXPECT_EQ(KeyStringOf(Ext(72)), Bytes({255, 'H'}));
  EXPECT_EQ(KeyStringOf(27), Bytes({27}));
}

// ---------------------------------------------------------------------------
// Rings and InKey
// ---------------------------------------------------------------------------

TEST_F(KeysTest, EmptyConsoleGivesEmptyString) {
  const KeyString k = InKey();
  EXPECT_EQ(k, "");
  EXPECT_EQ(Len(k), 0);
  EXPECT_EQ(InStr(1, "123", k), 0);
}

TEST_F(KeysTest, WindowRingKeepsFifteenOfSixteenPosted) {
  OpenScreen();
  LockScreen();
  for (int i = 1; i <= 16; ++i) PostKey(gLayer.windowKeys, 'a' + i - 1);
  UnlockScreen(1, 0);
  for (int i = 2; i <= 16; ++i) EXPECT_EQ(InKey(), KeyString(1, static_cast<char>('a' + i - 1))) << i;
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, WindowRingInKeyDoesNotFlagRows) {
  OpenScreen();
  std::fill(gLayer.screen->dirtyRows.begin(), gLayer.screen->dirtyRows.end(), 0);
  LockScreen();
  PostKey(gLayer.windowKeys, Ext(72));
  UnlockScreen(1, 0);
  EXPECT_EQ(InKey(), Bytes({255, 'H'}));
  for (uint8_t d : gLayer.screen->dirtyRows) ASSERT_EQ(d, 0);
  EXPECT_EQ(gLayer.screen->lockCount, 0);
}

TEST_F(KeysTest, WindowRingZeroIsConsumedAsEmptyString) {
  OpenScreen();
  LockScreen();
  PostKey(gLayer.windowKeys, 0);
  PostKey(gLayer.windowKeys, '5');
  UnlockScreen(1, 0);
  EXPECT_EQ(InKey(), "");
  EXPECT_EQ(InKey(), "5");
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, WindowRingOutlivesTheScreen) {
  OpenScreen();
  LockScreen();
  PostKey(gLayer.windowKeys, CloseKey);
  UnlockScreen(1, 0);
  CloseScreen(false);
  EXPECT_EQ(InKey(), "");  // no Screen: the console is read
  OpenScreen();
  EXPECT_EQ(InKey(), Bytes({255, 'k'}));
}

TEST_F(KeysTest, ConsoleRingKeeps511Of512Posted) {
  for (int i = 1; i <= 512; ++i) PostKey(gLayer.consoleKeys, Ext(i % 200 + 1));
  for (int i = 2; i <= 512; ++i) ASSERT_EQ(InKey(), KeyStringOf(Ext(i % 200 + 1))) << i;
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, ConsoleRingSixteenAreAllKept) {
  for (int i = 1; i <= 16; ++i) PostKey(gLayer.consoleKeys, '0' + i % 10);
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(InKey(), KeyString(1, static_cast<char>('0' + i % 10)));
}

TEST_F(KeysTest, ConsoleZeroIsTheByteZero) {
  PostKey(gLayer.consoleKeys, 0);
  EXPECT_EQ(InKey(), KeyString(1, '\0'));
}

TEST_F(KeysTest, PostKeyDropsOldestAcrossTheWrap) {
  WindowKeyRing ring;
  for (int i = 0; i < 40; ++i) PostKey(ring, i);
  std::vector<KeyCode> got;
  for (int i = ring.head; i != ring.tail; i = (i + 1) % 16) got.push_back(ring.slots[i]);
  std::vector<KeyCode> want;
  for (int i = 25; i < 40; ++i) want.push_back(i);
  EXPECT_EQ(got, want);
}

TEST_F(KeysTest, ConsoleReadsPipedBytes) {
  Type("66\x1b");
  CloseWriter();
  EXPECT_EQ(InKey(), "6");
  EXPECT_EQ(InKey(), "6");
  EXPECT_EQ(InKey(), "\x1b");
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, ConsoleReadsPipedSequences) {
  Type("\x1b[A\x1b[24~\x1bOq");
  EXPECT_EQ(InKey(), Bytes({255, 'H'}));
  EXPECT_EQ(InKey(), Bytes({255, 134}));
  EXPECT_EQ(InKey(), "1");
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, ConsoleLoneEscCompletesAtEndOfInput) {
  Type("\x1b");
  EXPECT_EQ(InKey(), "");  // might still be the start of a sequence
  CloseWriter();
  EXPECT_EQ(InKey(), "\x1b");
}

// ---------------------------------------------------------------------------
// TranslateKey: ScanCodeTable, every row and column
// ---------------------------------------------------------------------------

// The table's extended entries, row by row, as the second key-string byte (0: none).
int ScanEntry(int scan, int column) {  // column: 0 Normal, 1 Shift, 2 Ctrl, 3 Alt
  if (scan == 1) return column == 3 ? 1 : 0;
  if (scan >= 2 && scan <= 13) {
    if (column == 2) return scan == 3 ? 3 : 0;
    return column == 3 ? scan + 118 : 0;
  }
  if (scan == 14) return column == 3 ? 224 : 0;
  if (scan == 15) {
    static const int kTab[4] = {0, 15, 148, 15};
    return kTab[column];
  }
  if ((scan >= 16 && scan <= 28) || (scan >= 30 && scan <= 41) || (scan >= 44 && scan <= 53))
    return column == 3 ? scan : 0;
  if (scan >= 59 && scan <= 68) return scan + (column == 0 ? 0 : 15 + 10 * column);
  struct Pad {
    int scan, normal, ctrl;
  };
  static const Pad kPad[] = {{71, 71, 119}, {72, 72, 141}, {73, 73, 132}, {75, 75, 115},
                             {76, 76, 143}, {77, 77, 116}, {79, 79, 117}, {80, 80, 145},
                             {81, 81, 118}, {82, 82, 146}, {83, 83, 147}};
  for (const Pad& p : kPad) {
    if (p.scan != scan) continue;
    if (column == 0) return p.normal;
    if (column == 2) return p.ctrl;
    if (column == 3 && scan == 76) return 76;
    return 0;
  }
  if (scan == 87) return 133 + 2 * column;
  if (scan == 88) return 134 + 2 * column;
  return 0;
}

constexpr uint32_t kColumnState[4] = {0, CKS::Shift, CKS::LeftCtrl, CKS::LeftAlt};

TEST(TranslateKeyScanTable, EveryRowAndColumnWithoutCharacter) {
  // vk 0 has no layout character, so ch 0 matches it and the entry decides alone.
  for (int scan = 0; scan <= 88; ++scan) {
    for (int col = 0; col < 4; ++col) {
      const int c = ScanEntry(scan, col);
      const KeyCode want = c ? Ext(c) : -1;
      EXPECT_EQ(TranslateKey(0, scan, 0, kColumnState[col]), want) << "scan " << scan << " col " << col;
    }
  }
}

TEST(TranslateKeyScanTable, ModifierPrecedenceAltCtrlShift) {
  // F1: Alt wins over Ctrl and Shift, Ctrl over Shift; right-hand bits count too.
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, CKS::Shift | CKS::LeftCtrl | CKS::RightAlt), Ext(104));
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, CKS::Shift | CKS::RightCtrl), Ext(94));
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, CKS::Shift), Ext(84));
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, 0), Ext(59));
}

TEST(TranslateKeyScanTable, ExtendedOnlyWhenTheCharacterIsTheKeysOwn) {
  // Alt+letter: the layout's character in either case gives the extended code.
  EXPECT_EQ(TranslateKey('a', 30, 'A', CKS::LeftAlt), Ext(30));
  EXPECT_EQ(TranslateKey('A', 30, 'A', CKS::LeftAlt | CKS::Shift), Ext(30));
  EXPECT_EQ(TranslateKey('1', 2, '1', CKS::LeftAlt), Ext(120));
  // Alt+Shift+1 types '!', not the key's own character: the character stands.
  EXPECT_EQ(TranslateKey('!', 2, '1', CKS::LeftAlt | CKS::Shift), '!');
  // Shift+Tab and Alt+Backspace.
  EXPECT_EQ(TranslateKey(9, 15, VK::Tab, CKS::Shift), Ext(15));
  EXPECT_EQ(TranslateKey(8, 14, VK::Back, CKS::LeftAlt), Ext(224));
  // Without modifiers a character gives itself (v is the layout's own character).
  EXPECT_EQ(TranslateKey('1', 2, '1', 0), '1');
  EXPECT_EQ(TranslateKey('a', 30, 'A', 0), 'a');
  EXPECT_EQ(TranslateKey(27, 1, VK::Escape, 0), 27);
  EXPECT_EQ(TranslateKey(13, 28, VK::Return, 0), 13);
  // With Ctrl and a control character the Ctrl column is empty: the character.
  EXPECT_EQ(TranslateKey(1, 30, 'A', CKS::LeftCtrl), 1);
  // No character and no entry: no key.
  EXPECT_EQ(TranslateKey(0, 30, 'A', CKS::LeftCtrl), -1);
  EXPECT_EQ(TranslateKey(0, 42, VK::Shift, CKS::Shift), -1);
}

TEST(TranslateKeyScanTable, AltF4IsTheCloseKey) {
  EXPECT_EQ(TranslateKey(0, 62, VK::F1 + 3, CKS::LeftAlt), CloseKey);
}

TEST(TranslateKeyScanTable, KeypadWithNumLockOffAndOn) {
  const int scans[9] = {79, 80, 81, 75, 76, 77, 71, 72, 73};
  const int navVk[9] = {VK::End, VK::Down, VK::Next, VK::Left, 0x0C, VK::Right, VK::Home, VK::Up,
                        VK::Prior};
  const char second[] = "OPQKLMGHI";
  for (int d = 1; d <= 9; ++d) {
    const KeyCode off = TranslateKey(0, scans[d - 1], navVk[d - 1], 0);
    EXPECT_EQ(KeyStringOf(off), Bytes({255, second[d - 1]})) << d;
    const KeyCode on = TranslateKey('0' + d, scans[d - 1], VK::Numpad0 + d, 0);
    EXPECT_EQ(KeyStringOf(on), KeyString(1, static_cast<char>('0' + d))) << d;
  }
  EXPECT_EQ(TranslateKey(0, 79, VK::End, 0), 79 * 256 + 255);
}

TEST(TranslateKeyScanTable, CharacterIsTakenAsUnsignedByte) {
  EXPECT_EQ(TranslateKey(-126, 0, 0, 0), 130);
  EXPECT_EQ(TranslateKey(0x182, 0, 0, 0), 0x82);
  EXPECT_EQ(TranslateKey(0x100, 0, 0, 0), -1);
}

TEST(TranslateKeyScanTable, EnhancedOnlyFlagRefusesCharacters) {
  EXPECT_EQ(TranslateKey('a', 30, 'A', 0, 1), -1);
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, 0, 1), Ext(59));
}

TEST(TranslateKeyScanTable, ScanCodesPastTheTableGiveTheCharacter) {
  EXPECT_EQ(TranslateKey(0, 89, 0, 0), -1);
  EXPECT_EQ(TranslateKey('x', 120, 0, CKS::LeftAlt), 'x');
  EXPECT_EQ(TranslateKey('x', -5, 0, CKS::LeftAlt), 'x');
}

// ---------------------------------------------------------------------------
// TranslateKey: EnhancedKeyTable, every row and column
// ---------------------------------------------------------------------------

struct EnhancedRowWant {
  int scan;
  KeyCode normal, shift, ctrl, alt;
};
const EnhancedRowWant kEnhancedRows[12] = {
    {28, 13, 13, 10, Ext(166)},
    {53, 47, 63, Ext(149), Ext(164)},
    {71, Ext(71), Ext(71), Ext(119), Ext(151)},
    {72, Ext(72), Ext(72), Ext(141), Ext(152)},
    {73, Ext(73), Ext(73), Ext(132), Ext(153)},
    {75, Ext(75), Ext(75), Ext(115), Ext(155)},
    {77, Ext(77), Ext(77), Ext(116), Ext(157)},
    {79, Ext(79), Ext(79), Ext(117), Ext(159)},
    {80, Ext(80), Ext(80), Ext(145), Ext(160)},
    {81, Ext(81), Ext(81), Ext(118), Ext(161)},
    {82, Ext(82), Ext(82), Ext(146), Ext(162)},
    {83, Ext(83), Ext(83), Ext(147), Ext(163)},
};

TEST(TranslateKeyEnhancedTable, EveryRowAndColumn) {
  for (const EnhancedRowWant& row : kEnhancedRows) {
    const KeyCode want[4] = {row.normal, row.shift, row.ctrl, row.alt};
    for (int col = 0; col < 4; ++col) {
      EXPECT_EQ(TranslateKey(0, row.scan, 0, CKS::Enhanced | kColumnState[col]), want[col])
          << "scan " << row.scan << " col " << col;
      // Right-hand Ctrl and Alt select the same columns.
      if (col >= 2) {
        const uint32_t right = col == 2 ? CKS::RightCtrl : CKS::RightAlt;
        EXPECT_EQ(TranslateKey(0, row.scan, 0, CKS::Enhanced | right), want[col]);
      }
    }
  }
}

TEST(TranslateKeyEnhancedTable, OtherScanCodesGiveNoKey) {
  std::set<int> inTable;
  for (const EnhancedRowWant& row : kEnhancedRows) inTable.insert(row.scan);
  for (int scan = 0; scan < 128; ++scan) {
    if (inTable.count(scan)) continue;
    for (int col = 0; col < 4; ++col)
      EXPECT_EQ(TranslateKey(0, scan, VK::F1, CKS::Enhanced | kColumnState[col]), -1) << scan;
  }
}

TEST(TranslateKeyEnhancedTable, GreyArrowsAndExamples) {
  EXPECT_EQ(KeyStringOf(TranslateKey(0, 72, VK::Up, CKS::Enhanced)), Bytes({255, 'H'}));
  EXPECT_EQ(KeyStringOf(TranslateKey(0, 80, VK::Down, CKS::Enhanced)), Bytes({255, 'P'}));
  EXPECT_EQ(KeyStringOf(TranslateKey(0, 75, VK::Left, CKS::Enhanced)), Bytes({255, 'K'}));
  EXPECT_EQ(KeyStringOf(TranslateKey(0, 77, VK::Right, CKS::Enhanced)), Bytes({255, 'M'}));
  EXPECT_EQ(KeyStringOf(TranslateKey(0, 59, VK::F1, 0)), Bytes({255, ';'}));
  // An enhanced key with a character skips the table (keypad Enter types 13).
  EXPECT_EQ(TranslateKey(13, 28, VK::Return, CKS::Enhanced), 13);
}

// ---------------------------------------------------------------------------
// US layout
// ---------------------------------------------------------------------------

TEST(UsLayout, VirtualKeysGiveTheirUnshiftedCharacters) {
  EXPECT_EQ(UsLayoutChar('A'), 'a');
  EXPECT_EQ(UsLayoutChar('7'), '7');
  EXPECT_EQ(UsLayoutChar(VK::Numpad0 + 7), '7');
  EXPECT_EQ(UsLayoutChar(VK::Oem1), ';');
  EXPECT_EQ(UsLayoutChar(VK::Escape), 27);
  EXPECT_EQ(UsLayoutChar(VK::F1), 0);
  EXPECT_EQ(UsLayoutChar(VK::Up), 0);
  EXPECT_EQ(UsLayoutChar(-1), 0);
  EXPECT_EQ(UsLayoutChar(1000), 0);
}

TEST(UsLayout, EveryByteExceptZeroHasAKeyWhoseCharacterItIs) {
  for (int c = 1; c < 127; ++c) {
    int32_t scan = 0, vk = 0;
    uint32_t state = 0;
    ASSERT_TRUE(UsKeyForByte(static_cast<uint8_t>(c), scan, vk, state)) << c;
    EXPECT_GT(scan, 0);
    EXPECT_LT(scan, 89);
    if (c >= 32) {
      // Printable: the key's unshifted character, or its shifted one with Shift.
      const int m = UsLayoutChar(vk);
      if (state & CKS::Shift) {
        EXPECT_NE(m, c) << c;
      } else {
        EXPECT_EQ(m, c) << c;
      }
      EXPECT_EQ(state & CKS::LeftCtrl, 0u);
    }
  }
  int32_t scan, vk;
  uint32_t state;
  EXPECT_FALSE(UsKeyForByte(128, scan, vk, state));
}

// ---------------------------------------------------------------------------
// Console key records: repeat counts and Alt-numpad
// ---------------------------------------------------------------------------

ConsoleKeyRecord Press(int ch, int scan, int vk, uint32_t state, int repeat = 1) {
  ConsoleKeyRecord r;
  r.down = true, r.ch = ch, r.scan = scan, r.vk = vk, r.state = state, r.repeat = repeat;
  return r;
}
ConsoleKeyRecord Release(int ch, int scan, int vk, uint32_t state) {
  ConsoleKeyRecord r = Press(ch, scan, vk, state);
  r.down = false;
  return r;
}

TEST_F(KeysTest, RepeatCountPostsThatManyCodes) {
  HandleConsoleKeyRecord(Press(0, 72, VK::Up, CKS::Enhanced, 3));
  EXPECT_EQ(ConsoleRing(), (std::vector<KeyCode>{Ext(72), Ext(72), Ext(72)}));
  EXPECT_EQ(InKey(), Bytes({255, 'H'}));
  EXPECT_EQ(InKey(), Bytes({255, 'H'}));
  EXPECT_EQ(InKey(), Bytes({255, 'H'}));
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, RepeatCountZeroPostsNothing) {
  HandleConsoleKeyRecord(Press('a', 30, 'A', 0, 0));
  EXPECT_TRUE(ConsoleRing().empty());
}

TEST_F(KeysTest, ConsoleRecordsPostCharactersToo) {
  HandleConsoleKeyRecord(Press('5', 6, '5', 0));
  HandleConsoleKeyRecord(Release('5', 6, '5', 0));
  EXPECT_EQ(ConsoleRing(), std::vector<KeyCode>{'5'});
}

TEST_F(KeysTest, AltNumpadSixFiveGivesA) {
  HandleConsoleKeyRecord(Press(0, 56, VK::Menu, CKS::LeftAlt));      // Alt down
  HandleConsoleKeyRecord(Press(0, 77, VK::Numpad0 + 6, CKS::LeftAlt));
  HandleConsoleKeyRecord(Release(0, 77, VK::Numpad0 + 6, CKS::LeftAlt));
  HandleConsoleKeyRecord(Press(0, 76, VK::Numpad0 + 5, CKS::LeftAlt));
  HandleConsoleKeyRecord(Release(0, 76, VK::Numpad0 + 5, CKS::LeftAlt));
  EXPECT_TRUE(ConsoleRing().empty());
  HandleConsoleKeyRecord(Release(0, 56, VK::Menu, 0));  // Alt up
  EXPECT_EQ(ConsoleRing(), std::vector<KeyCode>{65});
  EXPECT_EQ(gLayer.altNumpad, 0);
  EXPECT_EQ(InKey(), "A");
  EXPECT_EQ(InKey(), "");
}

TEST_F(KeysTest, AltNumpadKeepsTheLowEightBits) {
  for (int d : {3, 2, 1}) HandleConsoleKeyRecord(Press(0, 0, VK::Numpad0 + d, CKS::LeftAlt));
  HandleConsoleKeyRecord(Release(0, 56, VK::Menu, 0));
  EXPECT_EQ(ConsoleRing(), std::vector<KeyCode>{321 & 0xFF});
}

TEST_F(KeysTest, AltNumpadClearedByAnotherAltKey) {
  HandleConsoleKeyRecord(Press(0, 77, VK::Numpad0 + 6, CKS::LeftAlt));
  HandleConsoleKeyRecord(Press('x', 45, 'X', CKS::LeftAlt));  // Alt+X is a key: clears
  HandleConsoleKeyRecord(Release(0, 56, VK::Menu, 0));
  EXPECT_EQ(ConsoleRing(), std::vector<KeyCode>{Ext(45)});
}

TEST_F(KeysTest, AltNumpadNotAltOnlyWithShift) {
  // Shift held too: not "Alt only", so keypad digits do not accumulate.
  HandleConsoleKeyRecord(Press(0, 77, VK::Numpad0 + 6, CKS::LeftAlt | CKS::Shift));
  HandleConsoleKeyRecord(Release(0, 56, VK::Menu, 0));
  EXPECT_TRUE(ConsoleRing().empty());
  EXPECT_EQ(gLayer.altNumpad, 0);
}

TEST_F(KeysTest, AltNumpadFlushedByPressWithoutKey) {
  HandleConsoleKeyRecord(Press(0, 80, VK::Numpad0 + 2, CKS::LeftAlt));
  // A press without Alt alone that gives no key (Shift itself) flushes the number.
  HandleConsoleKeyRecord(Press(0, 42, VK::Shift, CKS::LeftAlt | CKS::Shift));
  EXPECT_EQ(ConsoleRing(), std::vector<KeyCode>{2});
}

// ---------------------------------------------------------------------------
// Code page 437
// ---------------------------------------------------------------------------

TEST(Cp437, AsciiIsItself) {
  for (uint32_t c = 0; c < 128; ++c) EXPECT_EQ(UnicodeToCp437(c), c);
}

TEST(Cp437, KnownCharacters) {
  struct Pair {
    uint32_t unicode;
    int byte;
  };
  const Pair pairs[] = {{0x00C7, 0x80}, {0x00FC, 0x81}, {0x00E9, 0x82}, {0x00E2, 0x83},
                        {0x00C5, 0x8F}, {0x0192, 0x9F}, {0x00F1, 0xA4}, {0x00BF, 0xA8},
                        {0x2591, 0xB0}, {0x2502, 0xB3}, {0x2500, 0xC4}, {0x2588, 0xDB},
                        {0x03B1, 0xE0}, {0x00DF, 0xE1}, {0x03C0, 0xE3}, {0x00B0, 0xF8},
                        {0x00B7, 0xFA}, {0x221A, 0xFB}, {0x25A0, 0xFE}, {0x00A0, 0xFF},
                        {0x263A, 0x01}, {0x2302, 0x7F}};
  for (const Pair& p : pairs) EXPECT_EQ(UnicodeToCp437(p.unicode), p.byte) << std::hex << p.unicode;
}

TEST(Cp437, NoByteForOtherCharacters) {
  for (uint32_t u : {0x20ACu, 0x00C0u, 0x4E00u, 0x1F600u, 0x110000u, 0xFFFFFFFFu})
    EXPECT_EQ(UnicodeToCp437(u), 0) << std::hex << u;
}

TEST(Cp437, EveryHighByteHasExactlyOneCharacter) {
  int hits[256] = {};
  for (uint32_t u = 128; u < 0x10000; ++u) ++hits[UnicodeToCp437(u)];
  for (int b = 128; b < 256; ++b) EXPECT_EQ(hits[b], 1) << b;
}

// ---------------------------------------------------------------------------
// Timer
// ---------------------------------------------------------------------------

TEST(TimerClock, NeverGoesBackwards) {
  double last = Timer();
  for (int i = 0; i < 100000; ++i) {
    const double now = Timer();
    ASSERT_GE(now, last);
    last = now;
  }
}

TEST(TimerClock, CountsFromTheMonotonicClocksOrigin) {
  timespec a{}, b{};
  clock_gettime(CLOCK_MONOTONIC, &a);
  const double t = Timer();
  clock_gettime(CLOCK_MONOTONIC, &b);
  const double lo = static_cast<double>(a.tv_sec) + a.tv_nsec * 1e-9;
  const double hi = static_cast<double>(b.tv_sec) + b.tv_nsec * 1e-9;
  EXPECT_GE(t, lo - 1e-6);
  EXPECT_LE(t, hi + 1e-6);
}

TEST(TimerClock, TickSourceStepsInMilliseconds) {
  double last = TickSeconds();
  for (int i = 0; i < 1000; ++i) {
    const double now = TickSeconds();
    const double ms = now * 1000.0;
    EXPECT_NEAR(ms, std::round(ms), 1e-3);
    EXPECT_LE(now, 4294967.296);
    if (now > last) {
      EXPECT_GE(now - last, 0.001 - 1e-9);
    } else if (now < last) {
      EXPECT_GT(last - now, 4294000.0);  // only the 2^32 ms wrap goes back
    }
    last = now;
  }
}

}  // namespace
