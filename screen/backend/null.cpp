// null.cpp - the windowless back-end: shows nothing, always opens.
//
// Its platform lock is a plain flag: nothing runs beside the program's
// thread on this back-end (there is no Presenter; keys are read on the
// program's thread, in InKey), so there is nobody to exclude, and drawing,
// which takes the lock once per call, pays no atomic operation for it. The
// flag still catches the platform lock being taken twice.
// Keys come from standard input, so scripted runs work headless:
// `printf '66\033' | SCRBK=null ./mapwalk1`. A key is handed to the window
// ring only when the ring is empty, so every key is seen by one frame.
#include <cassert>

#include "backend/backend.h"
#include "platform/platform.h"

namespace scr {

namespace {

bool gLocked = false;

// While a Screen is open, keys follow a window's rules.
int Open(const BackendOpenArgs&, std::string&) {
  platform::SetInputWindowRules(true);
  return 0;
}
void Close() { platform::SetInputWindowRules(false); }
void Lock() {
  assert(!gLocked && "the platform lock is taken at the outermost level only");
  gLocked = true;
}
void Unlock() { gLocked = false; }

// A console's key records count as a window's key-downs would: their
// translated code when there is one.
void PollKeys() {
  platform::PollInput();
  KeyCode code;
  ConsoleKeyRecord r;
  while (platform::TakeInputRecord(r)) {
    if (!r.down || r.repeat < 1) continue;
    code = TranslateKey(r.ch, r.scan, r.vk, r.state, 0);
    if (code != -1) return PostWindowKey(code);
  }
  if (platform::TakeInputKey(code)) PostWindowKey(code);
}

}  // namespace

extern const Backend kNullBackend = {"Null", Open, Close, Lock, Unlock, PollKeys, false};

}  // namespace scr
