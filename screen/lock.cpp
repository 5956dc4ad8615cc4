// lock.cpp - the counted screen lock, DirtyRows, and the core's side of the
// back-end interface: what a Presenter may take from and give to the Screen.
#include "lock.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "backend/backend.h"
#include "pixels.h"
#include "record.h"

namespace scr {

void MarkDirtyRows(Screen& s, int32_t first, int32_t last) {
  first = std::max(first, 0);
  last = std::min(last, s.height - 1);
  if (first > last) return;
  const int32_t m = s.lineMultiplier;
  std::memset(s.dirtyRows.data() + size_t(first) * m, 1, size_t(last - first + 1) * m);
}

void MarkAllDirty(Screen& s) {
  if (!s.dirtyRows.empty()) std::memset(s.dirtyRows.data(), 1, s.dirtyRows.size());
}

void LockScreen() {
  Screen* s = gLayer.screen;
  if (!s) return;
  if (s->lockCount == 0) s->backend->lock();
  ++s->lockCount;
}

void UnlockScreen(int32_t first, int32_t last) {
  Screen* s = gLayer.screen;
  if (!s || s->lockCount == 0) return;
  if (first < 0) first = 0;
  if (last < 0) last = s->height - 1;
  if (gLayer.draw.workPage == s->visiblePage && first <= last && last < s->height)
    MarkDirtyRows(*s, first, last);
  if (--s->lockCount == 0) s->backend->unlock();
}

void ShowToPresenter(Screen* s) {
  Screen* owner = s ? s : gLayer.shown;
  if (!owner) return;
  owner->backend->lock();
  gLayer.shown = s;
  owner->backend->unlock();
}

// ---------------------------------------------------------------------------
// For the back-ends, under the platform lock
// ---------------------------------------------------------------------------

bool TakeChanges(Frame& frame) {
  Screen* shown = gLayer.shown;
  if (!shown) return false;
  const Screen& s = *shown;
  const bool resized = frame.width != s.width || frame.height != s.windowHeight ||
                       frame.bytesPerPixel != s.bytesPerPixel;
  if (resized) {
    frame.width = s.width;
    frame.height = s.windowHeight;
    frame.bytesPerPixel = s.bytesPerPixel;
    frame.pixels.assign(size_t(s.pitch) * size_t(s.windowHeight), 0);
  }
  frame.titleChanged = shown->titleChanged;
  if (shown->titleChanged) frame.title = s.title;
  shown->titleChanged = false;
  frame.pointerMove = shown->pointerMove;
  frame.pointerX = s.moveX;
  frame.pointerRow = s.moveRow;
  frame.pointerShown = s.pointerShown;
  shown->pointerMove = false;
  shown->pointerShown = -1;
  frame.paletteChanged = shown->coloursChanged;
  if (shown->coloursChanged) {
    for (int32_t i = 0; i < 256; ++i) {  // red + green * 256 + blue * 65536 -> 0xRRGGBB
      const uint32_t c = s.shownColours[i];
      frame.colours[i] = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    }
    shown->coloursChanged = false;
  }
  int32_t first = resized ? 0 : -1, last = resized ? s.windowHeight - 1 : -1;
  for (int32_t y = 0; !resized && y < s.windowHeight; ++y) {
    if (!s.dirtyRows[size_t(y)]) continue;
    if (first < 0) first = y;
    last = y;
  }
  frame.firstDirty = first;
  frame.lastDirty = last;
  const size_t pitch = size_t(s.pitch);
  for (int32_t y = first; first >= 0 && y <= last; ++y)
    std::memcpy(frame.pixels.data() + size_t(y) * pitch,
                s.visible + size_t(y / s.lineMultiplier) * pitch, pitch);
  std::fill(shown->dirtyRows.begin(), shown->dirtyRows.end(), 0);
  const bool changed = first >= 0 || frame.paletteChanged;
  RecordShownPicture(s, changed);
  return changed;
}

void PostWindowKey(KeyCode code) {
  gLayer.windowKeys.Post(code);
  gLayer.windowKeysWaiting.n.store(gLayer.windowKeys.Size(), std::memory_order_release);
}

void MarkAllRowsDirty() {
  if (gLayer.shown) MarkAllDirty(*gLayer.shown);
}

void SetKeyStates(const uint8_t held[128]) {
  Screen* s = gLayer.shown;
  if (!s) return;
  for (int i = 0; i < 128; ++i)
    if (s->keyState[i] != held[i]) s->keyEdges[i] |= held[i] ? 1 : 2;
  std::memcpy(s->keyState, held, 128);
}

void PostKeyEdge(int32_t scan, bool down) {
  if (gLayer.shown && scan >= 0 && scan < 128) gLayer.shown->keyEdges[scan] |= down ? 1 : 2;
}

void SetPointer(int32_t x, int32_t row, int32_t buttons, int32_t wheelSteps) {
  Screen* s = gLayer.shown;
  if (!s) return;
  const bool inside = x >= 0 && x < s->width && row >= 0 && row < s->windowHeight;
  s->pointerX = inside ? x : -1;
  s->pointerRow = inside ? row : -1;
  s->buttons = buttons;
  s->wheel += wheelSteps;
}

void FrameRowToRgb(const Frame& f, int32_t y, uint32_t* out) {
  const uint8_t* row = f.pixels.data() + size_t(y) * size_t(f.width) * size_t(f.bytesPerPixel);
  if (f.bytesPerPixel == 1) {
    for (int32_t x = 0; x < f.width; ++x) out[x] = f.colours[row[x]];
    return;
  }
  for (int32_t x = 0; x < f.width; ++x)
    out[x] = f.bytesPerPixel == 2 ? Widen565(ReadU16(row + 2 * x)) : ReadU32(row + 4 * x) & 0xFFFFFF;
}

}  // namespace scr
