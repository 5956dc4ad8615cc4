// vkstate.cpp - the 86 scan codes of the key-state table and their virtual keys.
#include "backend/vkstate.h"

#include "screen.h"

namespace scr {

namespace {

namespace V = VirtualKey;

struct ScanKeys {
  uint8_t scan;
  uint8_t vk, vk2;  // vk2 0: none
};

// The US layout: the keypad's navigation keys also stand for its digits, 12
// for keypad minus, 53 for keypad divide; both Shift scan codes for Shift.
constexpr ScanKeys kScanKeys[] = {
    {1, V::Escape, 0}, {2, '1', 0}, {3, '2', 0}, {4, '3', 0}, {5, '4', 0}, {6, '5', 0}, {7, '6', 0},
    {8, '7', 0}, {9, '8', 0}, {10, '9', 0}, {11, '0', 0}, {12, V::OemMinus, V::Subtract},
    {13, V::OemPlus, 0}, {14, V::Back, 0}, {15, V::Tab, 0}, {16, 'Q', 0}, {17, 'W', 0}, {18, 'E', 0},
    {19, 'R', 0}, {20, 'T', 0}, {21, 'Y', 0}, {22, 'U', 0}, {23, 'I', 0}, {24, 'O', 0}, {25, 'P', 0},
    {26, V::Oem4, 0}, {27, V::Oem6, 0}, {28, V::Return, 0}, {29, V::Control, 0}, {30, 'A', 0},
    {31, 'S', 0}, {32, 'D', 0}, {33, 'F', 0}, {34, 'G', 0}, {35, 'H', 0}, {36, 'J', 0}, {37, 'K', 0},
    {38, 'L', 0}, {39, V::Oem1, 0}, {40, V::Oem7, 0}, {41, V::Oem3, 0}, {42, V::Shift, 0},
    {43, V::Oem5, 0}, {44, 'Z', 0}, {45, 'X', 0}, {46, 'C', 0}, {47, 'V', 0}, {48, 'B', 0},
    {49, 'N', 0}, {50, 'M', 0}, {51, V::OemComma, 0}, {52, V::OemPeriod, 0}, {53, V::Oem2, V::Divide},
    {54, V::Shift, 0}, {55, V::Multiply, 0}, {56, V::Menu, 0}, {57, V::Space, 0}, {58, V::Capital, 0},
    {59, V::F1, 0}, {60, V::F1 + 1, 0}, {61, V::F1 + 2, 0}, {62, V::F1 + 3, 0}, {63, V::F1 + 4, 0},
    {64, V::F1 + 5, 0}, {65, V::F1 + 6, 0}, {66, V::F1 + 7, 0}, {67, V::F1 + 8, 0}, {68, V::F10, 0},
    {69, V::NumLock, 0}, {70, V::Scroll, 0}, {71, V::Home, V::Numpad0 + 7}, {72, V::Up, V::Numpad0 + 8},
    {73, V::Prior, V::Numpad0 + 9}, {75, V::Left, V::Numpad0 + 4}, {77, V::Right, V::Numpad0 + 6},
    {78, V::Add, 0}, {79, V::End, V::Numpad0 + 1}, {80, V::Down, V::Numpad0 + 2},
    {81, V::Next, V::Numpad0 + 3}, {82, V::Insert, V::Numpad0}, {83, V::Delete, V::Decimal},
    {87, V::F11, 0}, {88, V::F12, 0}, {91, V::LWin, 0}, {92, V::RWin, 0}, {93, V::Apps, 0},
};
static_assert(sizeof kScanKeys / sizeof kScanKeys[0] == 86);

}  // namespace

void KeyStatesFromVirtualKeys(const uint8_t vkState[256], uint8_t held[128]) {
  for (int i = 0; i < 128; ++i) held[i] = 0;
  for (const ScanKeys& k : kScanKeys)
    held[k.scan] = (vkState[k.vk] & 0x80) || (k.vk2 != 0 && (vkState[k.vk2] & 0x80)) ? 1 : 0;
}

int ScansOfVirtualKey(int32_t vk, int32_t scans[2]) {
  int n = 0;
  for (const ScanKeys& k : kScanKeys)
    if (n < 2 && vk > 0 && (k.vk == vk || k.vk2 == vk)) scans[n++] = k.scan;
  return n;
}

void KeyStatesFromScanCodes(const uint8_t scanState[256], uint8_t held[128]) {
  const auto down = [&](int scan) { return (scanState[scan] & 0x80) != 0; };
  for (int i = 0; i < 128; ++i) held[i] = 0;
  // Each key or its grey twin at scan + 128; Print Screen (55 + 128) and Pause
  // (69 + 128) are keys of their own, not twins.
  for (const ScanKeys& k : kScanKeys)
    held[k.scan] = down(k.scan) || (k.scan != 55 && k.scan != 69 && down(k.scan + 128));
  // As the virtual keys have it: either Shift holds both codes, keypad minus (74) holds 12.
  if (held[42] || held[54]) held[42] = held[54] = 1;
  if (down(74)) held[12] = 1;
}

}  // namespace scr
