// backend.cpp - the back-end table and the choice among its entries.
#include "backend/backend.h"

#include <strings.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace scr {

extern const Backend kNullBackend;
#ifdef SCREEN_HAVE_SDL
extern const Backend kSdlBackend;
#endif
#ifdef __EMSCRIPTEN__
extern const Backend kWebBackend;
#else
extern const Backend kTermBackend;
#endif

namespace {

// Tried in this order when a Screen opens; only what was built is listed.
// Add a back-end by defining its record in a file of its own and listing it here.
const Backend* const kBackendTable[] = {
#ifdef SCREEN_HAVE_SDL
    &kSdlBackend,
#endif
#ifdef __EMSCRIPTEN__
    &kWebBackend,
#else
    &kTermBackend,
#endif
};

// Asks one back-end with the requested refresh, then with refresh 0.
bool TryOpen(const Backend* b, const BackendOpenArgs& args) {
  if (b->open(args) == 0) return true;
  if (args.refresh == 0) return false;
  BackendOpenArgs retry = args;
  retry.refresh = 0;
  return b->open(retry) == 0;
}

// One round: the named back-end alone first (when SCRBK names one), then all in order.
const Backend* TryRound(const BackendOpenArgs& args, const char* wanted) {
  if (wanted && *wanted) {
    for (const Backend* b : kBackendTable)
      if (strcasecmp(b->name, wanted) == 0 && TryOpen(b, args)) return b;
  }
  for (const Backend* b : kBackendTable)
    if (TryOpen(b, args)) return b;
  return nullptr;
}

}  // namespace

const Backend* StartBackend(const BackendOpenArgs& args) {
  const char* wanted = std::getenv("SCRBK");
  if (args.flags == -1 || (wanted && strcasecmp(wanted, "null") == 0)) {
    kNullBackend.open(args);
    return &kNullBackend;
  }
  if (const Backend* b = TryRound(args, wanted)) return b;
  BackendOpenArgs flipped = args;
  flipped.flags ^= ScreenFlag::FullScreen;  // full screen <-> windowed
  return TryRound(flipped, wanted);
}

void WaitRetrace(int32_t refresh) {
  std::this_thread::sleep_for(std::chrono::milliseconds(refresh > 0 ? 1000 / refresh : 16));
}

}  // namespace scr
