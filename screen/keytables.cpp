// keytables.cpp - TranslateKey, its two key tables and the US keyboard layout.
//
// TranslateKey turns one key event (the layout's character, the scan code,
// the virtual key and the modifier state) into a KeyCode. Enhanced keys
// without a character (grey cursor block, keypad Enter and /) are looked up
// in kEnhancedKeyTable; other keys take their extended code from
// kScanCodeTable when the character typed is the key's own (the one the
// current layout gives it without modifiers, platform::LayoutChar);
// everything else that has a character gives the character.
#include <cstdint>

#include "screen.h"
#include "keys.h"
#include "platform/platform.h"

namespace scr {

namespace {

// Extended code with second key-string byte c: byte 255 then c.
constexpr KeyCode X(int c) { return (c << 8) + 255; }

enum Column { kNormal = 0, kShift = 1, kCtrl = 2, kAlt = 3 };

// Extended entries by scan code (set 1) and column; 0 = none.
constexpr KeyCode kScanCodeTable[89][4] = {
    {     0,      0,      0,      0},  //  0
    {     0,      0,      0,   X(1)},  //  1 Esc
    {     0,      0,      0, X(120)},  //  2 1
    {     0,      0,   X(3), X(121)},  //  3 2
    {     0,      0,      0, X(122)},  //  4 3
    {     0,      0,      0, X(123)},  //  5 4
    {     0,      0,      0, X(124)},  //  6 5
    {     0,      0,      0, X(125)},  //  7 6
    {     0,      0,      0, X(126)},  //  8 7
    {     0,      0,      0, X(127)},  //  9 8
    {     0,      0,      0, X(128)},  // 10 9
    {     0,      0,      0, X(129)},  // 11 0
    {     0,      0,      0, X(130)},  // 12 -
    {     0,      0,      0, X(131)},  // 13 =
    {     0,      0,      0, X(224)},  // 14 Backspace
    {     0,  X(15), X(148),  X(15)},  // 15 Tab
    {     0,      0,      0,  X(16)},  // 16 Q
    {     0,      0,      0,  X(17)},  // 17 W
    {     0,      0,      0,  X(18)},  // 18 E
    {     0,      0,      0,  X(19)},  // 19 R
    {     0,      0,      0,  X(20)},  // 20 T
    {     0,      0,      0,  X(21)},  // 21 Y
    {     0,      0,      0,  X(22)},  // 22 U
    {     0,      0,      0,  X(23)},  // 23 I
    {     0,      0,      0,  X(24)},  // 24 O
    {     0,      0,      0,  X(25)},  // 25 P
    {     0,      0,      0,  X(26)},  // 26 [
    {     0,      0,      0,  X(27)},  // 27 ]
    {     0,      0,      0,  X(28)},  // 28 Enter
    {     0,      0,      0,      0},  // 29 Ctrl
    {     0,      0,      0,  X(30)},  // 30 A
    {     0,      0,      0,  X(31)},  // 31 S
    {     0,      0,      0,  X(32)},  // 32 D
    {     0,      0,      0,  X(33)},  // 33 F
    {     0,      0,      0,  X(34)},  // 34 G
    {     0,      0,      0,  X(35)},  // 35 H
    {     0,      0,      0,  X(36)},  // 36 J
    {     0,      0,      0,  X(37)},  // 37 K
    {     0,      0,      0,  X(38)},  // 38 L
    {     0,      0,      0,  X(39)},  // 39 ;
    {     0,      0,      0,  X(40)},  // 40 '
    {     0,      0,      0,  X(41)},  // 41 `
    {     0,      0,      0,      0},  // 42 left Shift
    {     0,      0,      0,      0},  // 43 backslash
    {     0,      0,      0,  X(44)},  // 44 Z
    {     0,      0,      0,  X(45)},  // 45 X
    {     0,      0,      0,  X(46)},  // 46 C
    {     0,      0,      0,  X(47)},  // 47 V
    {     0,      0,      0,  X(48)},  // 48 B
    {     0,      0,      0,  X(49)},  // 49 N
    {     0,      0,      0,  X(50)},  // 50 M
    {     0,      0,      0,  X(51)},  // 51 ,
    {     0,      0,      0,  X(52)},  // 52 .
    {     0,      0,      0,  X(53)},  // 53 /
    {     0,      0,      0,      0},  // 54 right Shift
    {     0,      0,      0,      0},  // 55 keypad *
    {     0,      0,      0,      0},  // 56 Alt
    {     0,      0,      0,      0},  // 57 Space
    {     0,      0,      0,      0},  // 58 Caps Lock
    { X(59),  X(84),  X(94), X(104)},  // 59 F1
    { X(60),  X(85),  X(95), X(105)},  // 60 F2
    { X(61),  X(86),  X(96), X(106)},  // 61 F3
    { X(62),  X(87),  X(97), X(107)},  // 62 F4
    { X(63),  X(88),  X(98), X(108)},  // 63 F5
    { X(64),  X(89),  X(99), X(109)},  // 64 F6
    { X(65),  X(90), X(100), X(110)},  // 65 F7
    { X(66),  X(91), X(101), X(111)},  // 66 F8
    { X(67),  X(92), X(102), X(112)},  // 67 F9
    { X(68),  X(93), X(103), X(113)},  // 68 F10
    {     0,      0,      0,      0},  // 69 Num Lock
    {     0,      0,      0,      0},  // 70 Scroll Lock
    { X(71),      0, X(119),      0},  // 71 keypad 7 / Home
    { X(72),      0, X(141),      0},  // 72 keypad 8 / Up
    { X(73),      0, X(132),      0},  // 73 keypad 9 / PgUp
    {     0,      0,      0,      0},  // 74 keypad -
    { X(75),      0, X(115),      0},  // 75 keypad 4 / Left
    { X(76),      0, X(143),  X(76)},  // 76 keypad 5
    { X(77),      0, X(116),      0},  // 77 keypad 6 / Right
    {     0,      0,      0,      0},  // 78 keypad +
    { X(79),      0, X(117),      0},  // 79 keypad 1 / End
    { X(80),      0, X(145),      0},  // 80 keypad 2 / Down
    { X(81),      0, X(118),      0},  // 81 keypad 3 / PgDn
    { X(82),      0, X(146),      0},  // 82 keypad 0 / Ins
    { X(83),      0, X(147),      0},  // 83 keypad . / Del
    {     0,      0,      0,      0},  // 84
    {     0,      0,      0,      0},  // 85
    {     0,      0,      0,      0},  // 86
    {X(133), X(135), X(137), X(139)},  // 87 F11
    {X(134), X(136), X(138), X(140)},  // 88 F12
};

struct EnhancedRow {
  int32_t scan;
  KeyCode entry[4];  // Normal, Shift, Ctrl, Alt: a character (< 256) or an extended code
};

// Searched in this order by scan code.
constexpr EnhancedRow kEnhancedKeyTable[12] = {
    {28, {13, 13, 10, X(166)}},                 // keypad Enter
    {53, {47, 63, X(149), X(164)}},             // keypad /
    {71, {X(71), X(71), X(119), X(151)}},       // Home
    {72, {X(72), X(72), X(141), X(152)}},       // Up
    {73, {X(73), X(73), X(132), X(153)}},       // PgUp
    {75, {X(75), X(75), X(115), X(155)}},       // Left
    {77, {X(77), X(77), X(116), X(157)}},       // Right
    {79, {X(79), X(79), X(117), X(159)}},       // End
    {80, {X(80), X(80), X(145), X(160)}},       // Down
    {81, {X(81), X(81), X(118), X(161)}},       // PgDn
    {82, {X(82), X(82), X(146), X(162)}},       // Ins
    {83, {X(83), X(83), X(147), X(163)}},       // Del
};

Column PickColumn(uint32_t state) {
  if (state & kAltBits) return kAlt;
  if (state & kCtrlBits) return kCtrl;
  if (state & ControlKeyState::Shift) return kShift;
  return kNormal;
}

// One key of the US layout: scan code, virtual key, character without and with Shift.
struct UsKey {
  uint8_t scan;
  uint8_t vk;
  uint8_t normal;
  uint8_t shifted;
};

namespace VK = VirtualKey;

constexpr UsKey kUsKeys[] = {
    {1, VK::Escape, 27, 27},
    {2, '1', '1', '!'}, {3, '2', '2', '@'}, {4, '3', '3', '#'}, {5, '4', '4', '$'},
    {6, '5', '5', '%'}, {7, '6', '6', '^'}, {8, '7', '7', '&'}, {9, '8', '8', '*'},
    {10, '9', '9', '('}, {11, '0', '0', ')'}, {12, VK::OemMinus, '-', '_'},
    {13, VK::OemPlus, '=', '+'}, {14, VK::Back, 8, 8}, {15, VK::Tab, 9, 9},
    {16, 'Q', 'q', 'Q'}, {17, 'W', 'w', 'W'}, {18, 'E', 'e', 'E'}, {19, 'R', 'r', 'R'},
    {20, 'T', 't', 'T'}, {21, 'Y', 'y', 'Y'}, {22, 'U', 'u', 'U'}, {23, 'I', 'i', 'I'},
    {24, 'O', 'o', 'O'}, {25, 'P', 'p', 'P'}, {26, VK::Oem4, '[', '{'},
    {27, VK::Oem6, ']', '}'}, {28, VK::Return, 13, 13},
    {30, 'A', 'a', 'A'}, {31, 'S', 's', 'S'}, {32, 'D', 'd', 'D'}, {33, 'F', 'f', 'F'},
    {34, 'G', 'g', 'G'}, {35, 'H', 'h', 'H'}, {36, 'J', 'j', 'J'}, {37, 'K', 'k', 'K'},
    {38, 'L', 'l', 'L'}, {39, VK::Oem1, ';', ':'}, {40, VK::Oem7, '\'', '"'},
    {41, VK::Oem3, '`', '~'}, {43, VK::Oem5, '\\', '|'},
    {44, 'Z', 'z', 'Z'}, {45, 'X', 'x', 'X'}, {46, 'C', 'c', 'C'}, {47, 'V', 'v', 'V'},
    {48, 'B', 'b', 'B'}, {49, 'N', 'n', 'N'}, {50, 'M', 'm', 'M'},
    {51, VK::OemComma, ',', '<'}, {52, VK::OemPeriod, '.', '>'}, {53, VK::Oem2, '/', '?'},
    {55, VK::Multiply, '*', '*'}, {57, VK::Space, ' ', ' '}, {74, VK::Subtract, '-', '-'},
    {78, VK::Add, '+', '+'},
    {71, VK::Numpad0 + 7, '7', '7'}, {72, VK::Numpad0 + 8, '8', '8'},
    {73, VK::Numpad0 + 9, '9', '9'}, {75, VK::Numpad0 + 4, '4', '4'},
    {76, VK::Numpad0 + 5, '5', '5'}, {77, VK::Numpad0 + 6, '6', '6'},
    {79, VK::Numpad0 + 1, '1', '1'}, {80, VK::Numpad0 + 2, '2', '2'},
    {81, VK::Numpad0 + 3, '3', '3'}, {82, VK::Numpad0 + 0, '0', '0'},
    {83, VK::Decimal, '.', '.'}, {53, VK::Divide, '/', '/'},
};

// Character of each virtual key without modifiers.
struct VkChars {
  uint8_t ch[256] = {};
  constexpr VkChars() {
    for (const UsKey& k : kUsKeys) ch[k.vk] = k.normal;
  }
};
constexpr VkChars kVkChars;

// The main-block key for each byte 1..127 (the keypad is never chosen), and
// the modifiers it needs: 1 = Shift, 2 = Ctrl. scan 0 = none.
struct ByteKeys {
  uint8_t scan[128] = {};
  uint8_t vk[128] = {};
  uint8_t mods[128] = {};
  constexpr void Set(int c, uint8_t scanCode, uint8_t vkCode, uint8_t m) {
    if (scan[c] != 0) return;  // first (main-block) key wins
    scan[c] = scanCode;
    vk[c] = vkCode;
    mods[c] = m;
  }
  constexpr ByteKeys() {
    for (const UsKey& k : kUsKeys) {
      if (k.scan >= 71 && k.scan <= 83) continue;  // keypad: typed bytes come from the main block
      if (k.scan == 55) continue;
      Set(k.normal, k.scan, k.vk, 0);
      Set(k.shifted, k.scan, k.vk, 1);
    }
    // Control bytes: Ctrl with the letter keys and a few others. 8, 9, 13 and
    // 27 are taken above by Backspace, Tab, Enter and Esc.
    for (int c = 1; c <= 26; ++c) {
      const int letter = 'A' + c - 1;
      for (const UsKey& k : kUsKeys)
        if (k.vk == letter) Set(c, k.scan, k.vk, 2);
    }
    Set(0, 3, '2', 2);            // Ctrl+2
    Set(28, 43, VK::Oem5, 2);     // Ctrl+backslash
    Set(29, 27, VK::Oem6, 2);     // Ctrl+]
    Set(30, 7, '6', 3);           // Ctrl+^
    Set(31, 12, VK::OemMinus, 3); // Ctrl+_
  }
};
constexpr ByteKeys kByteKeys;

}  // namespace

KeyCode TranslateKey(int32_t ch, int32_t scan, int32_t vk, uint32_t state, int32_t enhancedOnly) {
  ch &= 0xFF;  // the layout's character as an unsigned byte
  const Column column = PickColumn(state);

  if ((state & ControlKeyState::Enhanced) && ch == 0) {
    for (const EnhancedRow& row : kEnhancedKeyTable) {
      if (row.scan != scan) continue;
      const KeyCode entry = row.entry[column];
      if (entry == 0) return -1;
      if (entry < 256) return entry;
      return (entry & ~0xFF) | 0xFF;
    }
    return -1;
  }

  if (scan >= 0 && scan < 89) {
    const int32_t m = platform::LayoutChar(vk);
    int32_t m2 = m;
    if (m >= 'a' && m <= 'z') m2 = m - 32;
    else if (m >= 'A' && m <= 'Z') m2 = m + 32;
    KeyCode v;
    if (column != kNormal) v = kScanCodeTable[scan][column];
    else v = (ch == 0) ? kScanCodeTable[scan][kNormal] : m;
    if (v > 255 && (ch == m || ch == m2)) return (v & ~0xFF) | 0xFF;
  }

  if (enhancedOnly) return -1;
  if (ch != 0) return ch;
  return -1;
}

int32_t UsLayoutChar(int32_t vk) {
  if (vk < 0 || vk > 255) return 0;
  return kVkChars.ch[vk];
}

bool UsKeyForByte(uint8_t c, int32_t& scan, int32_t& vk, uint32_t& state) {
  if (c > 127 || kByteKeys.scan[c] == 0) return false;
  scan = kByteKeys.scan[c];
  vk = kByteKeys.vk[c];
  state = 0;
  if (kByteKeys.mods[c] & 1) state |= ControlKeyState::Shift;
  if (kByteKeys.mods[c] & 2) state |= ControlKeyState::LeftCtrl;
  return true;
}

}  // namespace scr
