// backend.cpp - the back-end table and the choice among its entries.
#include "backend/backend.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>

namespace scr {

int32_t ScaleFromEnvironment() {
  const char* text = std::getenv("SCRSCALE");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1) return 0;
  return int32_t(std::min(v, 16L));
}

extern const Backend kNullBackend;
#ifdef SCREEN_HAVE_SDL
extern const Backend kSdlBackend;
#endif
#if defined(__EMSCRIPTEN__)
extern const Backend kWebBackend;
#elif defined(_WIN32)
extern const Backend kDirectXBackend, kGdiBackend, kOpenGlBackend;
#else
extern const Backend kTermBackend;
#endif

namespace {

// Names compare ignoring letter case.
bool SameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// Tried in this order when a Screen opens; only what was built is listed.
// Add a back-end by defining its record in a file of its own and listing it here.
const Backend* const kBackendTable[] = {
#ifdef SCREEN_HAVE_SDL
    &kSdlBackend,
#endif
#if defined(__EMSCRIPTEN__)
    &kWebBackend,
#elif defined(_WIN32)
    &kDirectXBackend,
    &kGdiBackend,
    &kOpenGlBackend,
#else
    &kTermBackend,
#endif
};

// Adds "<what>: <why>" to the reasons unless it is there already (the
// rounds ask a back-end up to four times, mostly failing the same way).
void NoteReason(std::string& reasons, const char* what, const std::string& why) {
  const std::string entry = std::string(what) + ": " + (why.empty() ? "cannot open" : why);
  if (reasons.find(entry) != std::string::npos) return;
  if (!reasons.empty()) reasons += "; ";
  reasons += entry;
}

// Asks one back-end with the requested refresh, then with refresh 0.
bool TryOpen(const Backend* b, const BackendOpenArgs& args, std::string& reasons) {
  std::string why;
  if (b->open(args, why) == 0) return true;
  NoteReason(reasons, b->name, why);
  if (args.refresh == 0) return false;
  BackendOpenArgs retry = args;
  retry.refresh = 0;
  why.clear();
  if (b->open(retry, why) == 0) return true;
  NoteReason(reasons, b->name, why);
  return false;
}

// One round: the named back-end alone first (when SCRBK names one), then all in order.
const Backend* TryRound(const BackendOpenArgs& args, const char* wanted, std::string& reasons) {
  if (wanted && *wanted) {
    const auto named = std::find_if(std::begin(kBackendTable), std::end(kBackendTable),
                                    [wanted](const Backend* b) { return SameName(b->name, wanted); });
    if (named == std::end(kBackendTable)) NoteReason(reasons, "SCRBK names no back-end", wanted);
    else if (TryOpen(*named, args, reasons)) return *named;
  }
  for (const Backend* b : kBackendTable)
    if (TryOpen(b, args, reasons)) return b;
  return nullptr;
}

}  // namespace

const Backend* StartBackend(const BackendOpenArgs& args, std::string& reasons) {
  const char* wanted = std::getenv("SCRBK");
  if (args.flags == -1 || (wanted && SameName(wanted, "null"))) {
    kNullBackend.open(args, reasons);  // never fails
    return &kNullBackend;
  }
  if (const Backend* b = TryRound(args, wanted, reasons)) return b;
  BackendOpenArgs flipped = args;
  flipped.flags ^= ScreenFlag::FullScreen;  // full screen <-> windowed
  return TryRound(flipped, wanted, reasons);
}

void WaitRetrace(int32_t refresh, std::chrono::steady_clock::time_point& due) {
#ifndef __EMSCRIPTEN__
  const auto now = std::chrono::steady_clock::now();
  if (due.time_since_epoch().count() == 0 || now >= due) due = now;
  else std::this_thread::sleep_until(due);
  due += std::chrono::microseconds(refresh > 0 ? 1000000 / refresh : 16000);
#else
  (void)refresh, (void)due;
#endif
}

}  // namespace scr
