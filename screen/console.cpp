// console.cpp - the text console while no Screen is open: the terminal.
//
// Colours keep their 16-colour meaning (1 blue, 4 red, 15 bright white) and
// become ANSI SGR codes; clears and the cursor become CSI sequences. Nothing
// is written unless standard output is a terminal, so piped or redirected
// output stays clean.
#include "console.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "backend/posix.h"
#include "state.h"
#include "textview.h"

namespace scr {

namespace {

void Emit(const std::string& s) {
  if (!StdoutIsTerminal()) return;
  std::fflush(stdout);
  WriteAll(STDOUT_FILENO, s.data(), s.size());
}

// The console window's size: the terminal's, or the size last set when it
// reports none (output not a terminal).
void ConsoleSize(int32_t& columns, int32_t& rows) {
  columns = gLayer.console.columns;
  rows = gLayer.console.rows;
  TerminalSize(columns, rows);
}

int32_t ConsoleRows() {
  int32_t columns, rows;
  ConsoleSize(columns, rows);
  return rows;
}

// SGR for the current 16-colour attribute. Colour order differs between the
// two worlds: here 1 is blue and 4 red, in ANSI 1 is red and 4 blue.
std::string Attribute() {
  static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  const ConsoleState& c = gLayer.console;
  const int fg = c.foreground & 15, bg = c.background & 15;
  const int fgCode = fg < 8 ? 30 + kAnsi[fg] : 90 + kAnsi[fg - 8];
  const int bgCode = bg < 8 ? 40 + kAnsi[bg] : 100 + kAnsi[bg - 8];
  return "\x1b[0;" + std::to_string(fgCode) + ";" + std::to_string(bgCode) + "m";
}

std::string MoveTo(int32_t row, int32_t column) {  // 0-based
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
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
    std::string out = Attribute();
    for (int32_t r = top; r <= bottom; ++r) out += MoveTo(r, 0) + "\x1b[2K";
    out += MoveTo(top, 0);
    Emit(out);
    c.cursorRow = top;
  } else {
    // Erasing takes the current background, so the whole window turns that colour.
    Emit(Attribute() + "\x1b[2J\x1b[3J\x1b[H");
    c.cursorRow = 0;
  }
  c.cursorColumn = 0;
}

uint32_t ConsoleSetColor(uint32_t fg, uint32_t bg, int32_t omitted) {
  ConsoleState& c = gLayer.console;
  const uint32_t result = (uint32_t(c.background) << 16) + uint32_t(c.foreground);
  if (!(omitted & 1)) c.foreground = int32_t(fg & 15);
  if (!(omitted & 2)) c.background = int32_t(bg & 15);
  Emit(Attribute());
  return result;
}

int32_t ConsoleSetTextView(int32_t first, int32_t last) {
  ConsoleState& c = gLayer.console;
  bool changed;
  const int32_t result = ResolveTextView(ConsoleRows(), c.textTop, c.textBottom, first, last, changed);
  if (changed) {
    c.cursorRow = c.textTop;
    c.cursorColumn = 0;
    Emit(MoveTo(c.cursorRow, 0));
  }
  return result;
}

// The terminal's own size belongs to the user: the console records the size
// asked for and resets its text view, but does not resize the terminal window.
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
  Emit(MoveTo(0, 0));
  return 0;
}

}  // namespace scr
