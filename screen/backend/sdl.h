// sdl.h - the SDL window back-end's key translation: pure functions over
// SDL's scancodes, keycodes and modifier bits, so they run without a display.
//
// Only built when SDL2 is found (SCREEN_HAVE_SDL).
#pragma once

#include <cstdint>

#include "screen.h"

namespace scr {

// How one SDL key maps onto the keyboard model TranslateKey expects.
struct SdlKeyInfo {
  int32_t scan = 0;       // PC set-1 scan code, 0 when the key has none
  int32_t vk = 0;         // virtual key (VirtualKey numbering), 0 when none
  bool extended = false;  // the key is an enhanced key (ControlKeyState::Enhanced)
};

// Scan code, virtual key and extended flag of an SDL key. `keycode` (the
// layout's key) decides the virtual key of letters and digits; keypad keys
// give digits with `numLock` and navigation keys without.
SdlKeyInfo SdlKeyInfoOf(int32_t scancode, int32_t keycode, bool numLock);

// ControlKeyState bits of SDL modifier bits (without the Enhanced bit).
uint32_t SdlControlState(uint32_t mod);

// The character a key-down gives with the modifiers held (0 for none), in
// code page 437 for the keys this layer knows (ASCII and control characters).
int32_t SdlKeyChar(int32_t scancode, int32_t keycode, uint32_t mod, bool numLock);

// True for key-downs that go to the system path (Alt held without Ctrl, F10,
// Alt itself): they post nothing and their characters are dropped.
bool SdlIsSystemKey(int32_t scancode, uint32_t mod);

// The codes one key-down event posts into the window ring (at most 2):
// TranslateKey's code when it is above 255, then the control character SDL's
// text input never delivers (ESC, Enter, Backspace, Tab, Ctrl+letter).
// Returns how many were written to `out`.
int SdlKeyDownCodes(int32_t scancode, int32_t keycode, uint32_t mod, bool numLock, KeyCode out[2]);

// The codes of one text-input event (UTF-8): each code point that has a code
// page 437 byte, as the signed byte the character path stores. Returns the
// count written (at most `max`).
int SdlTextCodes(const char* utf8, KeyCode* out, int max);

// Refreshes the 128-entry key-state table (indexed by scan code) from SDL's
// keyboard state array (indexed by SDL scancode, `count` entries).
void SdlRefreshKeyState(const uint8_t* sdlState, int32_t count, uint8_t keyState[128]);
// The key-state table's scan codes of an SDL key: none, one, or two (Shift).
int SdlTableScans(SDL_Scancode sdl, int32_t scans[2]);

}  // namespace scr
