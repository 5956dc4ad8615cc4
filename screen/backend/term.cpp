// term.cpp - the "Term" back-end: shows the visible page in the terminal that
// standard output is, and reads keys from standard input.
//
// The Presenter thread owns the terminal while the Screen is open: it enters
// the alternate screen with the cursor hidden, and every ~10 ms takes the
// changed rows and palette under the platform lock (TakeChanges), posts the
// keys read since the last pass, and at most ~30 times a second writes the
// cells that changed (term_picture.h). All terminal writes happen on the
// Presenter thread, outside the lock, so the program's thread never waits
// for the terminal. The terminal is given back (normal screen, cursor,
// settings) on close, at exit, on the signals that end the process and on
// an uncaught exception (terminal.h), each time after the Presenter's write
// under way; on Ctrl+Z before stopping, and once continued in the foreground
// the Presenter draws the whole picture again. The mouse reports button
// presses, drags and the wheel (xterm's modes 1000, 1002 and 1006) while the
// picture is up; a report's cell counts as the page pixel at its centre.
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "platform/terminal.h"
#include "backend/presenter.h"
#include "backend/term_picture.h"

namespace scr {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kEnterBytes[] = "\x1b[?1049h\x1b[?25l\x1b[0m\x1b[2J\x1b[?1000h\x1b[?1002h\x1b[?1006h";
constexpr char kLeaveBytes[] = "\x1b[?1006l\x1b[?1002l\x1b[?1000l\x1b[0m\x1b[2J\x1b[?25h\x1b[?1049l";
// What the exit and signal restore writes while the picture is up.
constexpr char kRestoreBytes[] = "\x1b[?1006l\x1b[?1002l\x1b[?1000l\x1b[0m\x1b[?25h\x1b[?1049l";
constexpr auto kPicturePeriod = std::chrono::milliseconds(33);

// What the Presenter keeps between passes (its thread's own).
struct Picture {
  termpic::Encoder encoder;
  Frame frame;
  std::vector<uint32_t> rgb;  // the window as 0xRRGGBB, kept up to date from the Frame
  std::vector<KeyCode> keys;
  std::string out;
  int32_t pendFirst = -1, pendLast = -1;  // changed window rows not yet written
  int32_t columns = 80, rows = 24;
  Clock::time_point lastWrite;
  bool terminalOk = true;
};

struct TermState {
  std::mutex lock;  // the platform lock
  PresenterThread presenter;
  bool open = false;
  // Set at open, read by the Presenter.
  bool trueColour = false;
  bool rawByUs = false;
  Picture picture;
};

TermState& State() {
  static TermState* s = new TermState;  // never destroyed: exit may run while it is in use
  return *s;
}

bool TrueColourAnnounced() {
  const char* v = std::getenv("COLORTERM");
  return v && (strcasecmp(v, "truecolor") == 0 || strcasecmp(v, "24bit") == 0);
}

// Nothing is written while the terminal is given back (stopped, or ending).
void Write(Picture& p, const char* data, size_t n) {
  if (!p.terminalOk || !TermBeginWrite()) return;
  p.terminalOk = WriteAll(STDOUT_FILENO, data, n);
  TermEndWrite();
}

bool StartPicture() {
  Picture& p = State().picture;
  p = Picture{};
  TermLeaveJobSignalsToOthers();
  TerminalSize(p.columns, p.rows);
  p.lastWrite = Clock::now() - kPicturePeriod;
  Write(p, kEnterBytes, sizeof kEnterBytes - 1);
  return true;
}

void Pass() {
  TermState& st = State();
  Picture& p = st.picture;
  TermKeyReader& reader = StdinKeys();
  reader.Poll();
  for (KeyCode code; reader.Take(code);) p.keys.push_back(code);
  TermPointer mouse;
  const bool moved = p.encoder.configured() && reader.TakePointer(mouse);  // kept until the picture is placed
  // The page pixel at the centre of the cell: a cell is factor columns wide and two blocks of factor rows high.
  const termpic::Layout& at = p.encoder.layout();
  const int32_t x = (mouse.column - 1 - at.left) * at.factor + at.factor / 2;
  const int32_t row = (mouse.row - 1 - at.top) * 2 * at.factor + at.factor;
  // The terminal is gone: end as the console keyboard does on a hang-up,
  // rather than run on with nothing to show on and nothing to read.
  if (reader.HungUp()) TermHangUp();

  bool changed;
  {
    std::lock_guard<std::mutex> g(st.lock);
    changed = TakeChanges(p.frame);
    for (KeyCode code : p.keys) PostWindowKey(code);
    if (moved) SetPointer(x, row, mouse.buttons, mouse.wheel);
    p.keys.clear();
  }

  const Frame& f = p.frame;
  if (changed) {
    bool all = f.paletteChanged;
    if (p.rgb.size() != size_t(f.width) * size_t(f.height) || p.encoder.width() != f.width ||
        p.encoder.height() != f.height) {
      p.rgb.assign(size_t(f.width) * size_t(f.height), 0);
      p.encoder.Configure(f.width, f.height, p.columns, p.rows, st.trueColour);
      all = true;
    }
    const int32_t first = all ? 0 : f.firstDirty, last = all ? f.height - 1 : f.lastDirty;
    if (first >= 0 && last >= first) {
      for (int32_t y = first; y <= last; ++y) FrameRowToRgb(f, y, p.rgb.data() + size_t(y) * size_t(f.width));
      p.pendFirst = p.pendFirst < 0 ? first : std::min(p.pendFirst, first);
      p.pendLast = std::max(p.pendLast, last);
    }
  }
  const bool again = TermTakenAgain();  // back from a stop: the terminal shows the shell's screen
  if (again) Write(p, kEnterBytes, sizeof kEnterBytes - 1);
  if (TerminalResized() || again) {
    TerminalSize(p.columns, p.rows);
    if (p.encoder.configured()) {
      p.encoder.Configure(f.width, f.height, p.columns, p.rows, st.trueColour);
      p.pendFirst = 0;
      p.pendLast = f.height - 1;
    }
  }
  const auto now = Clock::now();
  if (p.pendFirst >= 0 && p.encoder.configured() && !TermGivenBack() && now - p.lastWrite >= kPicturePeriod) {
    p.out.clear();
    p.encoder.Encode(p.rgb.data(), p.pendFirst, p.pendLast, p.out);
    p.pendFirst = p.pendLast = -1;
    p.lastWrite = now;
    Write(p, p.out.data(), p.out.size());
  }
}

void FinishPicture() {
  Picture& p = State().picture;
  Write(p, kLeaveBytes, sizeof kLeaveBytes - 1);
  p = Picture{};  // nothing of a closed Screen stays held
}

void Close() {
  TermState& st = State();
  if (!st.open) return;
  st.presenter.Stop();
  StdinKeys().SetWindowRules(false);
  WatchTerminalResize(false);
  TermSetRestoreBytes(nullptr);
  if (st.rawByUs) TermLeaveRaw();
  st.rawByUs = false;
  st.open = false;
}

int Open(const BackendOpenArgs& args, std::string& reason) {
  TermState& st = State();
  // A picture needs a terminal on standard output, chosen by SCRBK or not.
  if (!StdoutIsTerminal()) {
    reason = "standard output is not a terminal";
    return -1;
  }
  if (st.open || args.width <= 0 || args.windowHeight <= 0) {
    reason = st.open ? "the terminal shows a Screen already" : "the picture has no size";
    return -1;
  }
  st.trueColour = TrueColourAnnounced();
  // Keys one by one, without echo; a background job leaves the settings alone.
  st.rawByUs = EnterRawIfForeground(STDIN_FILENO);
  StdinKeys().SetWindowRules(true);  // while a Screen is open, keys follow a window's rules
  TermSetRestoreBytes(kRestoreBytes);
  TermTakenAgain();  // drawn whole at the start anyway
  WatchTerminalResize(true);
  st.open = true;
  if (st.presenter.Start(StartPicture, Pass, FinishPicture)) return 0;
  Close();
  reason = "the Presenter thread cannot start";
  return -1;
}

void Lock() { State().lock.lock(); }
void Unlock() { State().lock.unlock(); }

}  // namespace

extern const Backend kTermBackend = {"Term", Open, Close, Lock, Unlock, nullptr, true};

}  // namespace scr
