// keyboard.cpp - the key rings, InKey, key strings, the console keyboard and the pointer.
//
// While a Screen is open its Presenter posts into the window ring (under the
// platform lock) and InKey pops from it under LockScreen. Otherwise InKey
// reads the console itself: standard input, a terminal in raw mode, a pipe or
// a file decoded into keys, or a console's key records.
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "backend/backend.h"
#include "keys.h"
#include "lock.h"
#include "platform/platform.h"
#include "record.h"

namespace scr {

namespace {

constexpr uint32_t kOtherBits = ControlKeyState::Shift | kCtrlBits;

// The Alt-numpad accumulator's character, if any, ends the number.
void FlushAltNumpad() {
  if (gLayer.altNumpad != 0) {
    gLayer.consoleKeys.Post(gLayer.altNumpad & 0xFF);
    gLayer.altNumpad = 0;
  }
}

void HandleOnce(const ConsoleKeyRecord& r) {
  const bool altOnly = (r.state & kAltBits) != 0 && (r.state & kOtherBits) == 0;
  if (!r.down) {
    if (!altOnly) FlushAltNumpad();  // letting go of Alt ends the number
    return;
  }
  const KeyCode code = TranslateKey(r.ch, r.scan, r.vk, r.state, 0);
  if (!altOnly) {
    if (code != -1) {
      gLayer.altNumpad = 0;
      gLayer.consoleKeys.Post(code);
    } else {
      FlushAltNumpad();
    }
    return;
  }
  if (r.vk >= VirtualKey::Numpad0 && r.vk <= VirtualKey::Numpad0 + 9) {
    gLayer.altNumpad = gLayer.altNumpad * 10 + (r.vk - VirtualKey::Numpad0);
    if (code != -1) gLayer.consoleKeys.Post(code);
  } else if (code != -1) {
    gLayer.altNumpad = 0;
    gLayer.consoleKeys.Post(code);
  }
}

}  // namespace

KeyString KeyStringOf(KeyCode code) {
  if (code == 0) return KeyString();
  if (code > 255) {
    const char bytes[2] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF)};
    return KeyString(bytes, 2);
  }
  return KeyString(1, static_cast<char>(code & 0xFF));
}

void HandleConsoleKeyRecord(const ConsoleKeyRecord& record) {
  if (!record.down) {
    HandleOnce(record);
    return;
  }
  for (int32_t i = 0; i < record.repeat; ++i) HandleOnce(record);
}

namespace {

// Standard input's pending keys into the console ring: a console's key
// records through the Alt-numpad rule, decoded bytes as they are.
void ConsolePollKeys() {
  platform::PollInput();
  ConsoleKeyRecord record;
  while (platform::TakeInputRecord(record)) HandleConsoleKeyRecord(record);
  KeyCode code;
  while (platform::TakeInputKey(code)) gLayer.consoleKeys.Post(code);
  // A terminal that hung up ends the program once its last keys have been read.
  if (gLayer.consoleKeys.Empty()) platform::EndIfHungUp();
}

}  // namespace

KeyString InKey() {
  if (gLayer.screen != nullptr) {
    // A back-end without a key-posting Presenter (Null) fills the ring on
    // demand; with one, an empty ring is seen without the lock.
    const Backend* backend = gLayer.screen->backend;
    const bool polls = backend != nullptr && backend->pollKeys != nullptr;
    StopHereIfEnding();
    if (!polls && gLayer.windowKeysWaiting.n.load(std::memory_order_acquire) == 0) return KeyString();
    LockScreen();
    KeyCode code = 0;
    if (gLayer.windowKeys.Empty() && polls) backend->pollKeys();
    RecordOnKeyboardRead(*gLayer.screen, !gLayer.windowKeys.Empty());
    gLayer.windowKeys.Pop(code);
    gLayer.windowKeysWaiting.n.store(gLayer.windowKeys.Size(), std::memory_order_release);
    UnlockScreen(1, 0);  // nothing drawn: no row flagged
    return KeyStringOf(code);
  }
  ConsolePollKeys();
  KeyCode code;
  if (!gLayer.consoleKeys.Pop(code)) return KeyString();
  ConsolePollKeys();
  if (code == 0) return KeyString(1, '\0');
  return KeyStringOf(code);
}

int32_t KeyHeld(int32_t scan) {
  Screen* s = gLayer.screen;
  if (!s || scan < 0 || scan > 127) return 0;
  StopHereIfEnding();
  LockScreen();  // the Presenter writes the table under the platform lock
  RecordOnKeyboardRead(*s, false);
  const int32_t held = s->keyState[scan];
  UnlockScreen(1, 0);
  return held;
}

namespace {

// Whether `bit` of the scan code's edges is set, clearing it.
int32_t TakeKeyEdge(int32_t scan, uint8_t bit) {
  Screen* s = gLayer.screen;
  if (!s || scan < 0 || scan > 127) return 0;
  StopHereIfEnding();
  LockScreen();
  RecordOnKeyboardRead(*s, false);
  const int32_t seen = (s->keyEdges[scan] & bit) != 0;
  s->keyEdges[scan] &= uint8_t(~bit);
  UnlockScreen(1, 0);
  return seen;
}

}  // namespace

int32_t KeyPressed(int32_t scan) { return TakeKeyEdge(scan, 1); }
int32_t KeyReleased(int32_t scan) { return TakeKeyEdge(scan, 2); }

int32_t GetMouse(int32_t& x, int32_t& y, int32_t& wheel, int32_t& buttons) {
  x = y = -1;
  wheel = buttons = 0;
  Screen* s = gLayer.screen;
  if (!s || !s->backend->pointer) return -1;
  LockScreen();  // the Presenter writes the pointer under the platform lock
  if (s->pointerX >= 0) {
    x = s->pointerX;
    y = s->pointerRow / s->lineMultiplier;
  }
  wheel = s->wheel;
  buttons = s->buttons;
  UnlockScreen(1, 0);
  return 0;
}

int32_t SetMouse(int32_t x, int32_t y, int32_t visible) {
  Screen* s = gLayer.screen;
  if (!s || !s->backend->pointer) return -1;
  LockScreen();
  // An omitted coordinate stays where the pointer is (the page's edge when it is off the page).
  if (x != kOmitted || y != kOmitted) {
    const int32_t m = s->lineMultiplier;
    if (x == kOmitted) x = s->pointerX < 0 ? 0 : s->pointerX;
    if (y == kOmitted) y = s->pointerRow < 0 ? 0 : s->pointerRow / m;
    s->moveX = std::clamp(x, 0, s->width - 1);
    s->moveRow = std::clamp(y, 0, s->height - 1) * m;
    s->pointerMove = true;
  }
  if (visible != kOmitted) s->pointerShown = visible != 0;
  UnlockScreen(1, 0);
  return 0;
}

}  // namespace scr
