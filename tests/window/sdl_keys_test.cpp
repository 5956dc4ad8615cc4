// Key translation of the SDL back-end: SDL keys and modifiers in, the window ring's codes out; no display.
#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "backend/sdl.h"
#include "screen.h"

using namespace scr;

using Codes = std::vector<KeyCode>;
constexpr KeyCode Ext(int c) { return (c << 8) + 255; }

TEST(SdlKeys, KeyDownCodes) {
  const struct { SDL_Scancode sc; SDL_Keycode sym; uint16_t mod; Codes want; } cases[] = {
      // Characters come as text; extended keys, then control characters, from the key-down.
      {SDL_SCANCODE_SPACE, SDLK_SPACE, 0, {}}, {SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, 0, {13}},
      {SDL_SCANCODE_Z, SDLK_z, KMOD_RCTRL, {26}}, {SDL_SCANCODE_UP, SDLK_UP, KMOD_LCTRL, {Ext(141)}},
      {SDL_SCANCODE_F1, SDLK_F1, KMOD_LSHIFT, {Ext(84)}}, {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, 0, {Ext('S')}},
      {SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, KMOD_NUM, {}},
      // Right Alt with a key gives nothing; AltGr (Ctrl+Alt) is no system key. The window test presses the
      // rest (Backspace, Shift+Tab, F10, Alt, Alt+F4) through a real window.
      {SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, KMOD_RALT, {}}, {SDL_SCANCODE_Q, SDLK_q, KMOD_LALT | KMOD_LCTRL, {17}}};
  for (const auto& c : cases) {
    KeyCode out[2];
    const int n = SdlKeyDownCodes(c.sc, c.sym, c.mod, (c.mod & KMOD_NUM) != 0, out);
    EXPECT_EQ(Codes(out, out + n), c.want) << SDL_GetScancodeName(c.sc) << " " << c.mod;
  }
  // The layout decides letters, Num Lock keypad digits; Shift and Caps Lock the character; each Ctrl and Alt
  // has its bit.
  EXPECT_EQ(SdlKeyInfoOf(SDL_SCANCODE_Q, SDLK_a, false).vk, 'A');
  EXPECT_EQ(SdlKeyInfoOf(SDL_SCANCODE_KP_7, SDLK_KP_7, true).vk, VirtualKey::Numpad0 + 7);
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_1, SDLK_1, KMOD_LSHIFT, false), '!');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_A, SDLK_a, KMOD_CAPS, false), 'A');
  EXPECT_EQ(SdlKeyChar(SDL_SCANCODE_A, SDLK_a, KMOD_CAPS | KMOD_RSHIFT, false), 'a');
  namespace CKS = ControlKeyState;
  EXPECT_EQ(SdlControlState(KMOD_RCTRL | KMOD_LALT | KMOD_NUM), CKS::RightCtrl | CKS::LeftAlt);
  EXPECT_EQ(SdlControlState(KMOD_LCTRL | KMOD_RALT | KMOD_RSHIFT), CKS::LeftCtrl | CKS::RightAlt | CKS::Shift);
}

TEST(SdlKeys, TextCodesAndTheKeyStateTable) {
  const std::pair<const char*, Codes> texts[] = {
      // e acute; the euro sign and an emoji, which code page 437 lacks; then broken UTF-8
      {"a9", {'a', '9'}}, {"\xC3\xA9", {int8_t(130)}}, {"\xE2\x82\xAC", {}}, {"\xF0\x9F\x98\x80", {}},
      {"\xC3", {}}, {"\xE2\x82", {}}, {"\xFFx", {'x'}}, {"\xC3x", {'x'}}};
  for (const auto& [text, want] : texts) {
    KeyCode out[8];
    EXPECT_EQ(Codes(out, out + SdlTextCodes(text, out, 8)), want) << text;
  }
  // The key-state table, by scan code: either Shift sets both, keypad minus also 12, keypad 5 none.
  std::vector<uint8_t> sdl(SDL_NUM_SCANCODES, 0), table(128, 1);
  for (SDL_Scancode sc : {SDL_SCANCODE_A, SDL_SCANCODE_RSHIFT, SDL_SCANCODE_KP_7, SDL_SCANCODE_KP_MINUS,
                          SDL_SCANCODE_KP_5, SDL_SCANCODE_APPLICATION})
    sdl[sc] = 1;
  SdlRefreshKeyState(sdl.data(), int32_t(sdl.size()), table.data());
  std::vector<int> held;
  for (int i = 0; i < 128; ++i)
    if (table[size_t(i)]) held.push_back(i);
  EXPECT_EQ(held, std::vector<int>({12, 30, 42, 54, 71, 93}));
}
