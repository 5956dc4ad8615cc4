// screenshot.h - SCRSHOT: the visible page as a PNG file.
#pragma once

#include <cstdint>

namespace scr {

struct Screen;

// Writes the visible page as an RGB PNG through the shown colours: 0, or 2
// when the file cannot be opened for writing, 3 when writing it fails.
int32_t WritePagePng(const Screen& s, const char* path);
// Does so to the file named by SCRSHOT, when it is set; called as a Screen closes.
void WriteScreenshotIfAsked(const Screen& s);

}  // namespace scr
