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

// Publishes `s` to the Presenter (null: takes it away), under the platform lock.
void ShowToPresenter(Screen* s);

}  // namespace scr
