// textview.h - SetTextView's rule, shared by the Screen's text grid and the console.
#pragma once

#include <cstdint>

namespace scr {

// On a grid of `rows`, the view top..bottom (0-based, -1 = not set) becomes
// first..last (from 1; 0 = the edge, negative = keep). Returns last * 65536 +
// first, or 0 when refused; `changed` tells whether it was set (both
// arguments negative only report).
inline int32_t ResolveTextView(int32_t rows, int32_t& top, int32_t& bottom, int32_t first,
                               int32_t last, bool& changed) {
  changed = false;
  const int32_t curFirst = (top < 0 ? 0 : top) + 1;
  const int32_t curLast = (bottom < 0 ? rows - 1 : bottom) + 1;
  if (first < 0 && last < 0) return curLast * 65536 + curFirst;
  if (first == 0) first = 1;
  if (last == 0) last = rows;
  if (first < 0) first = curFirst;
  if (last < 0) last = curLast;
  if (first > last || first > rows || last > rows) return 0;
  top = first - 1;
  bottom = last - 1;
  changed = true;
  return last * 65536 + first;
}

}  // namespace scr
