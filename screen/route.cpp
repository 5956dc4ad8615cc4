// route.cpp - the operations shared by the Screen and the text console: each
// goes to the Screen while one is open, to the console otherwise.
#include <algorithm>

#include "console.h"
#include "pages.h"
#include "state.h"
#include "testing.h"
#include "text.h"

namespace scr {

int32_t ScreenMode(int32_t mode, int32_t depth, int32_t pages, int32_t flags, int32_t refresh) {
  if (mode < 0 || mode > 21 || (mode >= 3 && mode <= 6))
    return Fail(1, {"ScreenMode: mode ", mode, " does not exist (0, 1, 2 and 7 to 21 do)"});
  if (mode > 0) return OpenMode(mode, depth, pages, flags, refresh);
  // Mode 0: back to the text console, 80 x 25, cleared.
  CloseScreen();
  ConsoleSetWidth(80, 25);
  ConsoleClear(0);
  gLayer.console.textTop = -1;
  gLayer.console.textBottom = -1;
  return SetError(0);
}

int32_t PageCopy(int32_t source, int32_t destination) {
  if (gLayer.screen) return GraphicsPageCopy(source, destination);
  // The console's text pages 0..3: the terminal keeps one, so copies change nothing.
  if (source > 3 || destination > 3)
    return Fail(1, {"PageCopy: text page ", source > 3 ? source : destination, " does not exist (0 to 3 do)"});
  return SetError(0);
}

void ClearScreen(int32_t kind) {
  if (gLayer.screen) return PageClear(kind);
  ConsoleClear(kind);
}

uint32_t SetColor(uint32_t foreground, uint32_t background, int32_t omitted) {
  if (gLayer.screen) return PageSetColor(foreground, background, omitted);
  return ConsoleSetColor(foreground, background, omitted);
}

int32_t SetTextView(int32_t first, int32_t last) {
  if (gLayer.screen) return PageSetTextView(first, last);
  return ConsoleSetTextView(first, last);
}

int32_t SetWidth(int32_t columns, int32_t rows) {
  if (gLayer.screen) return PageSetWidth(columns, rows);
  return ConsoleSetWidth(columns, rows);
}

void Print(const KeyString& text) {
  if (gLayer.screen) return PagePrint(text);
  ConsolePrint(text);
}

int32_t Locate(int32_t row, int32_t column) {
  if (gLayer.screen) return PageLocate(row, column);
  return ConsoleLocate(row, column);
}

int32_t CursorRow() { return (gLayer.screen ? gLayer.screen->cursorRow : gLayer.console.cursorRow) + 1; }

// After the last column's character the cursor waits there for the wrap.
int32_t CursorColumn() {
  const Screen* s = gLayer.screen;
  if (!s) return ConsoleCursorColumn();
  return std::max(std::min(s->cursorColumn, s->textColumns - 1), 0) + 1;
}

void ResetLayerForTests() {
  CloseScreen();
  CloseAllFiles();
  const bool endHook = gLayer.endHookRegistered;
  gLayer = LayerState{};
  gLayer.endHookRegistered = endHook;
}

}  // namespace scr
