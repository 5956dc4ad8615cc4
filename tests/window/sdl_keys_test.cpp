// Key translation of the SDL back-end: SDL scancodes, keycodes and modifier
// bits in, the window ring's codes out. Runs without a display.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "backend/sdl.h"
#include "screen.h"

namespace {

constexpr KeyCode Ext(int c) { return (c << 8) + 255; }

std::vector<KeyCode> Down(SDL_Scancode sc, SDL_Keycode sym, uint16_t mod = KMOD_NONE,
                          bool numLock = false) {
  KeyCode out[2];
  const int n = SdlKeyDownCodes(sc, sym, mod, numLock, out);
  return std::vector<KeyCode>(out, out + n);
}

std::vector<KeyCode> Text(const char* utf8) {
  KeyCode out[32];
  const int n = SdlTextCodes(utf8, out, 32);
  return std::vector<KeyCode>(out, out + n);
}

using Codes = std::vector<KeyCode>;

// ---------------------------------------------------------------------------
// Key-down path

TEST(SdlKeyDown, CharacterKeysPostNothingFromTheKeyPath) {
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(Down(SDL_Scancode(SDL_SCANCODE_1 + i), SDLK_1 + i), Codes{}) << i;
  EXPECT_EQ(Down(SDL_SCANCODE_A, SDLK_a), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_SPACE, SDLK_SPACE), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_A, SDLK_a, KMOD_LSHIFT), Codes{});
}

TEST(SdlKeyDown, ControlCharactersComeFromTheKeyDown) {
  EXPECT_EQ(Down(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE), Codes{27});
  EXPECT_EQ(Down(SDL_SCANCODE_RETURN, SDLK_RETURN), Codes{13});
  EXPECT_EQ(Down(SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER), Codes{13});
  EXPECT_EQ(Down(SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE), Codes{8});
  EXPECT_EQ(Down(SDL_SCANCODE_TAB, SDLK_TAB), Codes{9});
  EXPECT_EQ(Down(SDL_SCANCODE_A, SDLK_a, KMOD_LCTRL), Codes{1});
  EXPECT_EQ(Down(SDL_SCANCODE_Z, SDLK_z, KMOD_RCTRL), Codes{26});
}

TEST(SdlKeyDown, ShiftTabGivesTabAndItsExtendedCode) {
  EXPECT_EQ(Down(SDL_SCANCODE_TAB, SDLK_TAB, KMOD_LSHIFT), (Codes{9, Ext(15)}));
}

TEST(SdlKeyDown, GreyNavigationKeysAreEnhanced) {
  EXPECT_EQ(Down(SDL_SCANCODE_UP, SDLK_UP), Codes{Ext('H')});
  EXPECT_EQ(Down(SDL_SCANCODE_DOWN, SDLK_DOWN), Codes{Ext('P')});
  EXPECT_EQ(Down(SDL_SCANCODE_LEFT, SDLK_LEFT), Codes{Ext('K')});
  EXPECT_EQ(Down(SDL_SCANCODE_RIGHT, SDLK_RIGHT), Codes{Ext('M')});
  EXPECT_EQ(Down(SDL_SCANCODE_HOME, SDLK_HOME), Codes{Ext('G')});
  EXPECT_EQ(Down(SDL_SCANCODE_DELETE, SDLK_DELETE), Codes{Ext('S')});
  EXPECT_EQ(Down(SDL_SCANCODE_UP, SDLK_UP, KMOD_LCTRL), Codes{Ext(141)});
}

TEST(SdlKeyDown, KeypadFollowsNumLock) {
  const char nav[] = "OPQKLMGHI";  // keypad 1..9 without Num Lock
  for (int i = 0; i < 9; ++i) {
    const SDL_Scancode sc = SDL_Scancode(SDL_SCANCODE_KP_1 + i);
    const SDL_Keycode sym = SDLK_KP_1 + i;
    EXPECT_EQ(Down(sc, sym, KMOD_NONE, false), Codes{Ext(nav[i])}) << i;
    EXPECT_EQ(Down(sc, sym, KMOD_NUM, true), Codes{}) << i;  // the digit comes as text
  }
  EXPECT_EQ(Down(SDL_SCANCODE_KP_0, SDLK_KP_0), Codes{Ext('R')});
  EXPECT_EQ(Down(SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD), Codes{Ext('S')});
}

TEST(SdlKeyDown, FunctionKeys) {
  EXPECT_EQ(Down(SDL_SCANCODE_F1, SDLK_F1), Codes{Ext(59)});
  EXPECT_EQ(Down(SDL_SCANCODE_F1, SDLK_F1, KMOD_LSHIFT), Codes{Ext(84)});
  EXPECT_EQ(Down(SDL_SCANCODE_F9, SDLK_F9, KMOD_LCTRL), Codes{Ext(102)});
  EXPECT_EQ(Down(SDL_SCANCODE_F11, SDLK_F11), Codes{Ext(133)});
  EXPECT_EQ(Down(SDL_SCANCODE_F12, SDLK_F12), Codes{Ext(134)});
}

TEST(SdlKeyDown, AltF10AndAltF4PostNothing) {
  EXPECT_EQ(Down(SDL_SCANCODE_F10, SDLK_F10), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_Q, SDLK_q, KMOD_LALT), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, KMOD_RALT), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT), Codes{});
  EXPECT_TRUE(SdlIsSystemKey(SDL_SCANCODE_F10, KMOD_NONE));
  EXPECT_FALSE(SdlIsSystemKey(SDL_SCANCODE_F9, KMOD_NONE));
  EXPECT_FALSE(SdlIsSystemKey(SDL_SCANCODE_Q, KMOD_LALT | KMOD_LCTRL));  // AltGr
}

TEST(SdlKeyDown, UnknownKeysPostNothing) {
  EXPECT_EQ(Down(SDL_SCANCODE_VOLUMEUP, SDLK_VOLUMEUP), Codes{});
  EXPECT_EQ(Down(SDL_SCANCODE_UNKNOWN, SDLK_UNKNOWN), Codes{});
}

// ---------------------------------------------------------------------------
// The keyboard model of single keys

TEST(SdlKeyInfo, ScanCodesVirtualKeysAndExtendedFlag) {
  SdlKeyInfo k = SdlKeyInfoOf(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, false);
  EXPECT_EQ(k.scan, 1);
  EXPECT_EQ(k.vk, VirtualKey::Escape);
  EXPECT_FALSE(k.extended);
  k = SdlKeyInfoOf(SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, false);
  EXPECT_EQ(k.scan, 28);
  EXPECT_TRUE(k.extended);
  k = SdlKeyInfoOf(SDL_SCANCODE_KP_7, SDLK_KP_7, false);
  EXPECT_EQ(k.scan, 71);
  EXPECT_EQ(k.vk, VirtualKey::Home);
  EXPECT_FALSE(k.extended);
  k = SdlKeyInfoOf(SDL_SCANCODE_KP_7, SDLK_KP_7, true);
  EXPECT_EQ(k.vk, VirtualKey::Numpad0 + 7);
  k = SdlKeyInfoOf(SDL_SCANCODE_HOME, SDLK_HOME, false);
  EXPECT_EQ(k.scan, 71);
  EXPECT_TRUE(k.extended);
}

TEST(SdlKeyInfo, LettersFollowTheLayout) {
  // The key in the Q position typing 'a' (AZERTY) is the virtual key A, scan 16.
  const SdlKeyInfo k = SdlKeyInfoOf(SDL_SCANCODE_Q, SDLK_a, false);
  EXPECT_EQ(k.scan, 16);
  EXPECT_EQ(k.vk, 'A');
}

TEST(SdlKeyInfo, ControlState) {
  EXPECT_EQ(SdlControlState(KMOD_LSHIFT), ControlKeyState::Shift);
  EXPECT_EQ(SdlControlState(KMOD_RSHIFT), ControlKeyState::Shift);
  EXPECT_EQ(SdlControlState(KMOD_LCTRL | KMOD_RALT),
            ControlKeyState::LeftCtrl | ControlKeyState::RightAlt);
  EXPECT_EQ(SdlControlState(KMOD_RCTRL | KMOD_LALT),
            ControlKeyState::RightCtrl | ControlKeyState::LeftAlt);
  EXPECT_EQ(SdlControlState(KMOD_NUM | KMOD_CAPS), 0u);
}

TEST(SdlKeyInfo, KeyCharacters) {
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_1, SDLK_1, KMOD_LSHIFT, false), '!');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_A, SDLK_a, KMOD_CAPS, false), 'A');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_A, SDLK_a, KMOD_CAPS | KMOD_LSHIFT, false), 'a');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_KP_3, SDLK_KP_3, KMOD_NONE, true), '3');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_KP_3, SDLK_KP_3, KMOD_NONE, false), 0);
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_F1, SDLK_F1, KMOD_NONE, false), 0);
}

// ---------------------------------------------------------------------------
// Text path

TEST(SdlText, AsciiAndCodePage437) {
  EXPECT_EQ(Text("1"), Codes{'1'});
  EXPECT_EQ(Text("a9"), (Codes{'a', '9'}));
  // e acute is byte 130 of code page 437, stored as the signed byte.
  EXPECT_EQ(Text("\xC3\xA9"), Codes{int8_t(130)});
  EXPECT_EQ(KeyStringOf(Text("\xC3\xA9")[0]), "\x82");
}

TEST(SdlText, CharactersWithoutACodePage437ByteGiveNothing) {
  EXPECT_EQ(Text("\xE2\x82\xAC"), Codes{});  // euro sign
  EXPECT_EQ(Text("\xF0\x9F\x98\x80"), Codes{});  // emoji
}

TEST(SdlText, BrokenUtf8NeverReadsPastTheEnd) {
  EXPECT_EQ(Text("\xC3"), Codes{});
  EXPECT_EQ(Text("\xE2\x82"), Codes{});
  EXPECT_EQ(Text("\xFFx"), Codes{'x'});
  EXPECT_EQ(Text("\xC3x"), Codes{'x'});
  EXPECT_EQ(Text(""), Codes{});
  EXPECT_EQ(SdlTextCodes(nullptr, nullptr, 0), 0);
}

TEST(SdlText, StopsAtTheOutputLimit) {
  KeyCode out[2] = {0, 0};
  EXPECT_EQ(SdlTextCodes("abcdef", out, 2), 2);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 'b');
}

// ---------------------------------------------------------------------------
// Key-state table

TEST(SdlKeyState, HeldKeysByScanCode) {
  std::vector<uint8_t> sdl(SDL_NUM_SCANCODES, 0);
  uint8_t table[128];
  auto refresh = [&] { SdlRefreshKeyState(sdl.data(), int32_t(sdl.size()), table); };
  auto held = [&] {
    std::vector<int> scans;
    for (int i = 0; i < 128; ++i)
      if (table[i]) scans.push_back(i);
    return scans;
  };
  refresh();
  EXPECT_TRUE(held().empty());
  sdl[SDL_SCANCODE_A] = 1;
  refresh();
  EXPECT_EQ(held(), std::vector<int>{30});
  sdl[SDL_SCANCODE_A] = 0;
  sdl[SDL_SCANCODE_KP_7] = 1;  // keypad 7 and Home share scan 71
  refresh();
  EXPECT_EQ(held(), std::vector<int>{71});
  sdl[SDL_SCANCODE_KP_7] = 0;
  sdl[SDL_SCANCODE_HOME] = 1;
  refresh();
  EXPECT_EQ(held(), std::vector<int>{71});
  sdl[SDL_SCANCODE_HOME] = 0;
  sdl[SDL_SCANCODE_RSHIFT] = 1;  // either Shift sets both entries
  refresh();
  EXPECT_EQ(held(), (std::vector<int>{42, 54}));
  sdl[SDL_SCANCODE_RSHIFT] = 0;
  sdl[SDL_SCANCODE_KP_MINUS] = 1;  // keypad minus is 12; 74 stays 0
  sdl[SDL_SCANCODE_KP_5] = 1;      // 76 is not in the table
  refresh();
  EXPECT_EQ(held(), std::vector<int>{12});
  sdl[SDL_SCANCODE_KP_MINUS] = 0;
  sdl[SDL_SCANCODE_KP_5] = 0;
  sdl[SDL_SCANCODE_RCTRL] = 1;
  sdl[SDL_SCANCODE_LGUI] = 1;
  sdl[SDL_SCANCODE_APPLICATION] = 1;
  refresh();
  EXPECT_EQ(held(), (std::vector<int>{29, 91, 93}));
}

TEST(SdlKeyState, ShortOrMissingStateClearsTheTable) {
  uint8_t table[128];
  std::memset(table, 1, sizeof table);
  SdlRefreshKeyState(nullptr, 0, table);
  for (uint8_t v : table) EXPECT_EQ(v, 0);
  std::vector<uint8_t> sdl(10, 1);  // only scancodes 0..9 known: A..F held
  SdlRefreshKeyState(sdl.data(), int32_t(sdl.size()), table);
  EXPECT_EQ(table[30], 1);  // A
  EXPECT_EQ(table[71], 0);
}

}  // namespace
