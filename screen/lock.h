// lock.h - the bottom of the layer: the counted screen lock and the dirty rows.
//
// Everything the Presenter reads (the visible page, DirtyRows, the key ring)
// is touched under the back-end's platform lock; LockScreen takes it at the
// outermost level only.
#pragma once

#include "state.h"

namespace scr {

// Flags window rows for page rows first..last (clamped to the page). Caller holds the lock.
void MarkDirtyRows(Screen& s, int32_t first, int32_t last);
// Flags every window row. Caller holds the lock.
void MarkAllDirty(Screen& s);

// One drawing call's pixel access. The Presenter reads only the visible page,
// so the screen lock is taken only when the target is that page (drawing on
// hidden pages and images, the usual case, costs no lock at all).
class PixelAccess {
 public:
  PixelAccess(Screen& s, bool visible) : s_(s), visible_(visible) {
    if (visible_) LockScreen();
  }
  ~PixelAccess() {
    if (visible_) UnlockScreen(1, 0);
  }
  // Flags changed page rows first..last for the Presenter.
  void Changed(int32_t first, int32_t last) {
    if (visible_) MarkDirtyRows(s_, first, last);
  }

 private:
  Screen& s_;
  const bool visible_;
};

// Publishes `s` to the Presenter (null: takes it away), under the platform lock.
void ShowToPresenter(Screen* s);

}  // namespace scr
