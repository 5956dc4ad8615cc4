// null.cpp - the windowless back-end: shows nothing, always opens.
//
// Its platform lock is a flag taken with one atomic exchange: no Presenter
// thread contends for it, and drawing takes it once per call, so the
// uncontended path must cost next to nothing. A thread that does find it
// held yields until it is given back.
// Keys come from standard input, so scripted runs work headless:
// `printf '66\033' | SCRBK=null ./mapwalk1`. A key is handed to the window
// ring only when the ring is empty, so every key is seen by one frame.
#include <atomic>
#include <chrono>
#include <thread>

#include "backend/backend.h"
#include "state.h"
#include "termkeys.h"

namespace {

std::atomic<bool> gLocked{false};
int32_t gRefresh = 0;

int Open(const BackendOpenArgs& args) {
  gRefresh = args.refresh;
  return 0;
}
void Close() {}
void Lock() {
  while (gLocked.exchange(true, std::memory_order_acquire)) {
    while (gLocked.load(std::memory_order_relaxed)) std::this_thread::yield();
  }
}
void Unlock() { gLocked.store(false, std::memory_order_release); }
void SetPaletteEntry(int32_t, uint8_t, uint8_t, uint8_t) {}
void WaitRetrace() {
  std::this_thread::sleep_for(std::chrono::milliseconds(gRefresh > 0 ? 1000 / gRefresh : 16));
}
void SetTitle(const char*) {}

void PollKeys() {
  TermKeyReader& in = StdinKeys();
  in.Poll();
  KeyCode code;
  if (in.Take(code)) PostKey(gLayer.windowKeys, code);
}

}  // namespace

extern const Backend kNullBackend = {"Null", Open, Close, Lock, Unlock, SetPaletteEntry, WaitRetrace,
                                     SetTitle, PollKeys};
