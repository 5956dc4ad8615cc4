// console.h - the text console while no Screen is open: the terminal.
#pragma once

#include <cstdint>

namespace scr {

// The routed operations' console halves (see ClearScreen, SetColor,
// SetTextView, SetWidth in screen.h).
void ConsoleClear(int32_t kind);
uint32_t ConsoleSetColor(uint32_t fg, uint32_t bg, int32_t omitted);
int32_t ConsoleSetTextView(int32_t first, int32_t last);
int32_t ConsoleSetWidth(int32_t columns, int32_t rows);

}  // namespace scr
