// console.h - the text console while no Screen is open: the terminal.
#pragma once

#include <cstdint>

#include "state.h"

namespace scr {

// The routed operations' console halves (see ClearScreen, SetColor,
// SetTextView, SetWidth in screen.h).
void ConsoleClear(int32_t kind);
uint32_t ConsoleSetColor(uint32_t fg, uint32_t bg, int32_t omitted);
int32_t ConsoleSetTextView(int32_t first, int32_t last);
int32_t ConsoleSetWidth(int32_t columns, int32_t rows);
// Print and Locate on the console.
void ConsolePrint(const KeyString& text);
int32_t ConsoleLocate(int32_t row, int32_t column);
// The console cursor's column (from 1), at the last one while a wrap waits.
int32_t ConsoleCursorColumn();

}  // namespace scr
