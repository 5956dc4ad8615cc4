// text.h - the Screen's halves of the routed text operations (Print, Locate):
// the work page's text cells and the text cursor.
#pragma once

#include <cstdint>

#include "state.h"

namespace scr {

// Print and Locate on the open Screen (see screen.h).
void PagePrint(const KeyString& text);
int32_t PageLocate(int32_t row, int32_t column);

}  // namespace scr
