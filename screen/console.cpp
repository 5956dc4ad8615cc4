// console.cpp - the text console while no Screen is open: its text view,
// colours and cursor, shown through the platform's console (a terminal, or
// the Windows console).
#include "console.h"

#include <algorithm>

#include "cp437.h"
#include "platform/platform.h"
#include "state.h"
#include "textview.h"

namespace scr {

namespace {

// The console window's size: the platform's, or the size last set when it
// reports none (output not a console).
void ConsoleSize(int32_t& columns, int32_t& rows) {
  columns = gLayer.console.columns;
  rows = gLayer.console.rows;
  platform::ConsoleSize(columns, rows);
}

int32_t ConsoleRows() {
  int32_t columns, rows;
  ConsoleSize(columns, rows);
  return rows;
}

int32_t ConsoleColumns() {
  int32_t columns, rows;
  ConsoleSize(columns, rows);
  return columns;
}

int32_t ViewTop() { return gLayer.console.textTop < 0 ? 0 : gLayer.console.textTop; }
int32_t ViewBottom() {
  return gLayer.console.textBottom < 0 ? ConsoleRows() - 1 : gLayer.console.textBottom;
}

}  // namespace

void ConsoleClear(int32_t kind) {
  ConsoleState& c = gLayer.console;
  if (kind == 1) return;
  if (kind == 2 || kind == kOmitted) {
    const int32_t top = ViewTop(), bottom = ViewBottom();
    platform::ConsoleClearRows(c.foreground, c.background, top, bottom);
    c.cursorRow = top;
  } else {
    platform::ConsoleClearAll(c.foreground, c.background);
    c.cursorRow = 0;
  }
  c.cursorColumn = 0;
}

uint32_t ConsoleSetColor(uint32_t fg, uint32_t bg, int32_t omitted) {
  ConsoleState& c = gLayer.console;
  const uint32_t result = (uint32_t(c.background) << 16) + uint32_t(c.foreground);
  if (!(omitted & 1)) c.foreground = int32_t(fg & 15);
  if (!(omitted & 2)) c.background = int32_t(bg & 15);
  platform::ConsoleSetAttribute(c.foreground, c.background);
  return result;
}

int32_t ConsoleSetTextView(int32_t first, int32_t last) {
  ConsoleState& c = gLayer.console;
  bool changed;
  const int32_t result = ResolveTextView(ConsoleRows(), c.textTop, c.textBottom, first, last, changed);
  if (changed) {
    c.cursorRow = c.textTop;
    c.cursorColumn = 0;
    platform::ConsoleMoveCursor(c.cursorRow, 0);
  }
  return result;
}

// The console's own size belongs to the user: the console records the size
// asked for and resets its text view, but does not resize the console window.
// Asked for nothing, it reports the size the console really has.
int32_t ConsoleSetWidth(int32_t columns, int32_t rows) {
  ConsoleState& c = gLayer.console;
  if (columns <= 0 && rows <= 0) {
    int32_t shownColumns, shownRows;
    ConsoleSize(shownColumns, shownRows);
    return shownRows * 65536 + shownColumns;
  }
  if (columns > 0) c.columns = columns;
  if (rows > 0) c.rows = rows;
  c.textTop = -1;
  c.textBottom = -1;
  c.cursorRow = 0;
  c.cursorColumn = 0;
  platform::ConsoleMoveCursor(0, 0);
  return 0;
}

// The text goes to the console as Unicode; the cursor is followed as the
// console moves it (wrapping at its width, scrolling at the view's bottom).
void ConsolePrint(const KeyString& text) {
  ConsoleState& c = gLayer.console;
  const int32_t columns = std::max(ConsoleColumns(), 1), bottom = ViewBottom();
  const auto nextRow = [&] {
    c.cursorColumn = 0;
    c.cursorRow = std::min(c.cursorRow + 1, bottom);
  };
  std::string out;
  out.reserve(text.size());
  for (const char byte : text) {
    const uint8_t b = uint8_t(byte);
    switch (b) {
      case '\n': nextRow(); out += '\n'; break;
      case '\r': c.cursorColumn = 0; out += '\r'; break;
      case '\t': c.cursorColumn = std::min((c.cursorColumn / 8 + 1) * 8, columns - 1); out += '\t'; break;
      case '\b': c.cursorColumn = std::max(std::min(c.cursorColumn, columns - 1) - 1, 0); out += '\b'; break;
      default:
        if (c.cursorColumn >= columns) nextRow();
        ++c.cursorColumn;
        AppendUtf8(out, b == 0 ? ' ' : Cp437ToUnicode(b));
    }
  }
  platform::ConsoleWrite(out);
}

int32_t ConsoleCursorColumn() {
  return std::max(std::min(gLayer.console.cursorColumn, ConsoleColumns() - 1), 0) + 1;
}

int32_t ConsoleLocate(int32_t row, int32_t column) {
  ConsoleState& c = gLayer.console;
  const bool rowOk = row == kOmitted || (int64_t(row) - 1 >= ViewTop() && int64_t(row) - 1 <= ViewBottom());
  const bool columnOk = column == kOmitted || (column >= 1 && column <= ConsoleColumns());
  if (!rowOk)
    return Fail(1, {"Locate: row ", row, " is outside the text view (", ViewTop() + 1, " to ", ViewBottom() + 1, ")"});
  if (!columnOk) return Fail(1, {"Locate: column ", column, " is outside 1 to ", ConsoleColumns()});
  if (row != kOmitted) c.cursorRow = row - 1;
  if (column != kOmitted) c.cursorColumn = column - 1;
  platform::ConsoleMoveCursor(c.cursorRow, c.cursorColumn);
  return SetError(0);
}

}  // namespace scr
