// backend.h - the interface every presentation back-end implements, and the
// table they are tried from.
//
// A back-end shows the Screen's visible page somewhere (a window, the
// terminal, nowhere) through its Presenter thread, and owns the platform lock
// that guards what the Presenter shares with the program's thread: the
// visible page, DirtyRows, the colour upload table, the window KeyRing and
// the key-state table.
#pragma once

#include <cstdint>

struct BackendOpenArgs {
  const char* title;
  int32_t width;
  int32_t windowHeight;  // page height * LineMultiplier
  int32_t depth;
  int32_t refresh;
  int32_t flags;
};

struct Backend {
  const char* name;
  // 0 = shown and Presenter running; -1 = cannot (the next back-end is tried).
  int (*open)(const BackendOpenArgs& args);
  // Stops the Presenter and takes the picture away. The screen lock is already released.
  void (*close)();
  void (*lock)();
  void (*unlock)();
  // Records one colour for the next upload and marks the palette changed.
  void (*setPaletteEntry)(int32_t index, uint8_t r, uint8_t g, uint8_t b);
  // Sleeps one refresh period (16 ms when refresh is 0).
  void (*waitRetrace)();
  void (*setTitle)(const char* title);
  // Optional: called by InKey, under the platform lock, when the window ring
  // is empty. For back-ends without a Presenter that posts keys (Null).
  void (*pollKeys)() = nullptr;
};

// Back-ends tried in order when a Screen opens ("SDL", then "Term"); null-terminated.
extern const Backend* const kBackendTable[];
// The windowless back-end: flags -1 or SCRBK=null. Always opens.
extern const Backend kNullBackend;

// Picks and opens a back-end for a Screen: flags -1 or SCRBK "null" give the
// windowless one; otherwise SCRBK's named back-end first, then the table in
// order (requested refresh, then 0), then again with flags bit 0 inverted.
// Returns the open back-end, or null when none could open.
const Backend* StartBackend(const BackendOpenArgs& args);
