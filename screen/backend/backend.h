// backend.h - the interface between the core and its presentation back-ends.
//
// A back-end shows the Screen's visible page somewhere (a window, the
// terminal, nowhere), usually through a Presenter thread, and owns the
// platform lock that guards what the Presenter shares with the program's
// thread. The core calls a back-end only through its Backend record; a
// back-end reaches the core only through the functions at the end of this
// header, always while it holds its platform lock. Besides this header a
// back-end may include presenter.h (the Presenter's thread and pace) and the
// platform's services; nothing else of the core.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "screen.h"

namespace scr {

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
  // 0 = shown and Presenter running; -1 = cannot (the next back-end is tried),
  // with a short reason in `reason`, e.g. "standard output is not a terminal".
  int (*open)(const BackendOpenArgs& args, std::string& reason);
  // Stops the Presenter and takes the picture away. The screen lock is already released.
  void (*close)();
  void (*lock)();
  void (*unlock)();
  // Optional: called by InKey, under the platform lock, when the window ring
  // is empty. For back-ends without a Presenter that posts keys (Null).
  void (*pollKeys)();
  // Whether it follows a pointer (SetPointer) and carries out SetMouse's requests.
  bool pointer;
};

// Picks and opens a back-end for a Screen: flags -1 or SCRBK "null" give the
// windowless one; otherwise SCRBK's named back-end first, then the table in
// order (requested refresh, then 0), then again with flags bit 0 inverted.
// Returns the open back-end, or null when none could open: `reasons` then
// says why, each back-end's reason once ("SDL: ...; Term: ..."), after
// "SCRBK names no back-end: <value>" when SCRBK names none.
const Backend* StartBackend(const BackendOpenArgs& args, std::string& reasons);

// SCRSCALE's whole number (1 to 16), or 0 when it is unset or not a whole
// number of at least 1: the window's scale, in whole window pixels a page pixel.
int32_t ScaleFromEnvironment();

// The wait for retrace: sleeps until `due`, then moves it one refresh period
// on (1000 / refresh ms, or 16 ms for refresh 0). A first call, or one made
// after `due` has passed, returns at once and counts the period from now.
// In a browser page it returns at once: the page's animation frames pace it.
void WaitRetrace(int32_t refresh, std::chrono::steady_clock::time_point& due);

// ---------------------------------------------------------------------------
// What a back-end may ask of the core, with its platform lock held
// ---------------------------------------------------------------------------

// The Presenter's private copy of what it shows.
struct Frame {
  int32_t width = 0;
  int32_t height = 0;         // window rows (page rows * LineMultiplier)
  int32_t bytesPerPixel = 1;  // of the page rows copied into `pixels`
  std::vector<uint8_t> pixels;  // height rows of width * bytesPerPixel bytes
  uint32_t colours[256] = {};   // 0xRRGGBB per pixel value (one-byte pages)
  int32_t firstDirty = -1;      // window rows changed by the last TakeChanges
  int32_t lastDirty = -1;
  bool paletteChanged = false;
  std::string title;          // the window's title (UTF-8), when titleChanged
  bool titleChanged = false;  // set by the last TakeChanges
  // SetMouse's requests taken by the last TakeChanges: a move to column
  // pointerX, window row pointerRow (when pointerMove), and the pointer shown
  // (1) or hidden (0), -1 for no change.
  bool pointerMove = false;
  int32_t pointerX = 0, pointerRow = 0, pointerShown = -1;
};

// Takes the shown colours when they changed, the title when it changed and the
// span of dirty rows of the shown Screen's visible page into `frame`, then
// clears DirtyRows. True when any pixel or colour changed; false also when no
// Screen is shown yet (or any more).
bool TakeChanges(Frame& frame);
// Posts a key into the window ring (the oldest is dropped when it is full).
void PostWindowKey(KeyCode code);
// Flags every row of the shown Screen, so the next pass shows it all.
void MarkAllRowsDirty();
// Replaces the key-state table (128 entries by scan code, 1 = held); a key
// that changed counts as pressed or released for KeyPressed / KeyReleased.
void SetKeyStates(const uint8_t held[128]);
// A key seen going down (not an auto-repeat) or up by its event, so that a
// tap shorter than a pass, which no table shows, is still counted.
void PostKeyEdge(int32_t scan, bool down);
// The pointer: x and row in the picture's pixels (page columns, window rows;
// anywhere outside it when it is off the picture), the buttons held (1 left,
// 2 right, 4 middle) and the wheel steps since the last call (up positive).
void SetPointer(int32_t x, int32_t row, int32_t buttons, int32_t wheelSteps);

// Converts window row y of the frame to 0xRRGGBB pixels (width of them).
// Needs no lock: it reads only the Presenter's own frame.
void FrameRowToRgb(const Frame& frame, int32_t y, uint32_t* out);

}  // namespace scr
