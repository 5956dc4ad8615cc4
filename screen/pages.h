// pages.h - the Screen: opening and closing, and its halves of the routed
// operations (route.cpp sends them here while a Screen is open).
#pragma once

#include <cstdint>

namespace scr {

// Opens numbered mode 1, 2 or 7..21 (checked by the caller).
int32_t OpenMode(int32_t mode, int32_t depth, int32_t pages, int32_t flags, int32_t refresh);
// Closes the open Screen, if any: the Presenter stops, the window goes, the
// pages are freed. The console is left as it is.
void CloseScreen();

void PageClear(int32_t kind);
uint32_t PageSetColor(uint32_t foreground, uint32_t background, int32_t omitted);
int32_t PageSetTextView(int32_t first, int32_t last);
int32_t PageSetWidth(int32_t columns, int32_t rows);

}  // namespace scr
