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
#include "backend/posix.h"

namespace scr {

namespace {

bool gLocked = false;

// While a Screen is open, keys follow a window's rules.
int Open(const BackendOpenArgs&) {
  StdinKeys().SetWindowRules(true);
  return 0;
}
void Close() { StdinKeys().SetWindowRules(false); }
void Lock() {
  assert(!gLocked && "the platform lock is taken at the outermost level only");
  gLocked = true;
}
void Unlock() { gLocked = false; }

void PollKeys() {
  TermKeyReader& in = StdinKeys();
  in.Poll();
  KeyCode code;
  if (in.Take(code)) PostWindowKey(code);
}

}  // namespace

extern const Backend kNullBackend = {"Null", Open, Close, Lock, Unlock, PollKeys};

}  // namespace scr
