// keys.h - the keyboard's internals shared by the key modules and the back-ends:
// the US layout and console key records.
#pragma once

#include <cstdint>

#include "screen.h"

namespace scr {

// ---------------------------------------------------------------------------
// US keyboard layout and console key records
// ---------------------------------------------------------------------------

// Either Alt key, and either Ctrl key, in a modifier state.
constexpr uint32_t kAltBits = ControlKeyState::LeftAlt | ControlKeyState::RightAlt;
constexpr uint32_t kCtrlBits = ControlKeyState::LeftCtrl | ControlKeyState::RightCtrl;

// The character the US layout gives virtual key vk without modifiers (0 none).
int32_t UsLayoutChar(int32_t vk);
// The US-layout key typing byte c (1..127): scan, virtual key and the
// modifier bits it needs (Shift, left Ctrl). False for bytes with no key.
bool UsKeyForByte(uint8_t c, int32_t& scan, int32_t& vk, uint32_t& state);

// One console key record (press or release) as a console delivers it.
struct ConsoleKeyRecord {
  bool down = true;
  int32_t ch = 0;
  int32_t scan = 0;
  int32_t vk = 0;
  uint32_t state = 0;
  int32_t repeat = 1;  // presses are handled this many times (0: not at all)
};
// Handles a console key record into the console ring, with the Alt-numpad
// rule: Alt alone held and keypad digits typed give the character of their
// number when a key is released without Alt alone held.
void HandleConsoleKeyRecord(const ConsoleKeyRecord& record);

}  // namespace scr
