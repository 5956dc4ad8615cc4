// win32_window.h - what the three Windows back-ends ("DirectX", "GDI",
// "OpenGL") share: the window, its Presenter thread, its messages (close
// button, focus, repaint, Alt+Enter, keys) and the platform lock. Each
// back-end adds a Surface: how the picture reaches the window.
//
// A pass: pump the window's messages (the window procedure only records what
// they ask for); under the platform lock post their keys, refresh the
// key-state table and take the changed palette and rows; outside the lock
// hand the changed rows to the surface and, when anything changed or the
// window asked for it, let it present.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "backend/backend.h"

namespace scr {

struct Surface {
  // On the Presenter thread, once the window exists, for a page of `depth`
  // bits: false when the surface cannot work there (the next back-end is
  // tried), with the reason, naming the call that failed, in `failure`.
  bool (*start)(HWND window, int32_t width, int32_t height, int32_t depth, std::string& failure);
  // Rows first..last of the frame changed (the colours too when the palette did).
  void (*update)(const Frame& frame, int32_t first, int32_t last);
  // Shows the picture at `picture` within the client area, rows first..last
  // at least when the surface can show only those; with `whole` (the window
  // was switched, uncovered or first shown) it paints the black bars around
  // it too, which otherwise stay as they are.
  void (*present)(HWND window, const RECT& picture, const RECT& client, int32_t first, int32_t last, bool whole);
  // On the Presenter thread, before the window goes.
  void (*finish)();
  // Optional: the key-state table from the surface's own keyboard device;
  // false leaves the window's keyboard state in force.
  bool (*keyStates)(uint8_t held[128]);
  // Optional, for a palettised display: realises the surface's palette in
  // the window's DC, as a background palette with `background`; true when
  // that changed the colours on the screen (the picture is shown anew).
  bool (*realize)(HWND window, bool background);
};

// Opens the window with `surface` (one window at a time); 0 or -1 and the
// reason as Backend::open.
int OpenWindowBackend(const Surface& surface, const BackendOpenArgs& args, std::string& reason);
// The rest of a Windows back-end's record.
void CloseWindowBackend();
void LockWindowBackend();
void UnlockWindowBackend();

// Passes made since the window opened (the benchmarks' measure).
uint64_t WindowPasses();

}  // namespace scr
