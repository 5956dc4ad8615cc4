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
// settings) on close, at exit and on SIGINT, SIGTERM and SIGHUP.
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/backend.h"
#include "backend/presenter.h"
#include "backend/term_picture.h"
#include "state.h"
#include "termkeys.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kEnterBytes[] = "\x1b[?1049h\x1b[?25l\x1b[0m\x1b[2J";
constexpr char kLeaveBytes[] = "\x1b[0m\x1b[2J\x1b[?25h\x1b[?1049l";
// What the exit and signal restore writes while the picture is up.
constexpr char kRestoreBytes[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
constexpr auto kPassPeriod = std::chrono::milliseconds(10);
constexpr auto kPicturePeriod = std::chrono::milliseconds(33);

std::atomic<bool> gResized{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handler needs a lock-free flag");

void OnWinch(int) { gResized.store(true, std::memory_order_relaxed); }

struct TermState {
  std::mutex lock;  // the platform lock
  std::thread presenter;
  std::atomic<bool> running{false};
  bool open = false;
  // Shared under the lock.
  UploadTable upload;
  bool programLocked = false;  // the program has taken the lock since open (Screen set up)
  // Set at open, read by the Presenter.
  int32_t refresh = 0;
  bool trueColour = false;
  bool rawByUs = false;
  struct sigaction oldWinch {};
  std::string title;
};

TermState& State() {
  static TermState* s = new TermState;  // never destroyed: exit may run while it is in use
  return *s;
}

bool TrueColourAnnounced() {
  const char* v = std::getenv("COLORTERM");
  return v && (strcasecmp(v, "truecolor") == 0 || strcasecmp(v, "24bit") == 0);
}

// Whether the terminal shifts cells and rows as the picture encoder expects
// (delete/insert character, scroll region, scroll up/down). The Linux console
// and the oldest kinds are left to plain rewriting.
bool TerminalShifts() {
  const char* v = std::getenv("TERM");
  if (!v || !*v) return false;
  for (const char* old : {"dumb", "linux", "vt100", "vt52", "cons25"})
    if (strncasecmp(v, old, std::strlen(old)) == 0) return false;
  return true;
}

void TerminalSize(int32_t& columns, int32_t& rows) {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    columns = ws.ws_col;
    rows = ws.ws_row;
  } else {
    columns = 80;
    rows = 24;
  }
}

// Writes all of `data` to standard output; false when the terminal is gone.
bool WriteAll(const char* data, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(STDOUT_FILENO, data, n);
    if (w > 0) {
      data += w;
      n -= size_t(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

void PresenterMain() {
  TermState& st = State();
  termpic::Encoder encoder;
  encoder.SetScrolling(TerminalShifts());
  Frame frame;
  std::vector<uint32_t> rgb;  // the window as 0xRRGGBB, kept up to date from the Frame
  std::vector<KeyCode> keys;
  std::string out;
  int32_t pendFirst = -1, pendLast = -1;  // changed window rows not yet written
  bool bound = false;                     // the Screen is set up and may be read
  bool terminalOk = WriteAll(kEnterBytes, sizeof kEnterBytes - 1);
  int32_t columns = 80, rows = 24;
  TerminalSize(columns, rows);
  auto lastPicture = Clock::now() - kPicturePeriod;
  TermKeyReader& reader = StdinKeys();

  while (st.running.load(std::memory_order_acquire)) {
    // Sleep for the pass, waking early when a key arrives.
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (reader.Ended() || ::poll(&in, 1, int(kPassPeriod.count())) < 0)
      std::this_thread::sleep_for(kPassPeriod);
    if (!st.running.load(std::memory_order_acquire)) break;
    reader.Poll();
    for (KeyCode code; reader.Take(code);) keys.push_back(code);
    // The terminal is gone: end as the console keyboard does on a hang-up,
    // rather than run on with nothing to show on and nothing to read.
    if (reader.HungUp()) TermHangUp();

    bool changed = false;
    {
      std::lock_guard<std::mutex> g(st.lock);
      if (!bound && st.programLocked) bound = true;
      if (bound && gLayer.screen) {
        changed = TakeChanges(*gLayer.screen, st.upload, frame);
        for (KeyCode code : keys) PostKey(gLayer.windowKeys, code);
        keys.clear();
      }
    }

    if (changed) {
      const size_t need = size_t(frame.width) * size_t(frame.height);
      bool all = frame.paletteChanged;
      if (rgb.size() != need || encoder.width() != frame.width ||
          encoder.height() != frame.height) {
        rgb.assign(need, 0);
        encoder.Configure(frame.width, frame.height, columns, rows, st.trueColour);
        all = true;
      }
      int32_t first = all ? 0 : frame.firstDirty, last = all ? frame.height - 1 : frame.lastDirty;
      if (first >= 0 && last >= first) {
        for (int32_t y = first; y <= last; ++y)
          FrameRowToRgb(frame, y, rgb.data() + size_t(y) * size_t(frame.width));
        pendFirst = pendFirst < 0 ? first : std::min(pendFirst, first);
        pendLast = std::max(pendLast, last);
      }
    }
    if (gResized.exchange(false, std::memory_order_relaxed)) {
      TerminalSize(columns, rows);
      if (encoder.configured()) {
        encoder.Configure(frame.width, frame.height, columns, rows, st.trueColour);
        pendFirst = 0;
        pendLast = frame.height - 1;
      }
    }

    const auto now = Clock::now();
    if (pendFirst >= 0 && encoder.configured() && now - lastPicture >= kPicturePeriod) {
      out.clear();
      encoder.Encode(rgb.data(), pendFirst, pendLast, out);
      pendFirst = pendLast = -1;
      lastPicture = now;
      if (terminalOk && !out.empty()) terminalOk = WriteAll(out.data(), out.size());
    }
  }
  if (terminalOk) WriteAll(kLeaveBytes, sizeof kLeaveBytes - 1);
}

int Open(const BackendOpenArgs& args) {
  TermState& st = State();
  if (st.open) return -1;
  // A picture needs a terminal on standard output, chosen by SCRBK or not.
  if (!::isatty(STDOUT_FILENO)) return -1;
  if (args.width <= 0 || args.windowHeight <= 0) return -1;

  st.refresh = args.refresh;
  st.trueColour = TrueColourAnnounced();
  st.title = args.title ? args.title : "";
  st.upload = UploadTable{};
  st.programLocked = false;

  st.rawByUs = false;
  // Keys one by one, without echo; a background job leaves the settings alone.
  if (::isatty(STDIN_FILENO) && !TermIsRaw() && tcgetpgrp(STDIN_FILENO) == getpgrp())
    st.rawByUs = TermEnterRaw(STDIN_FILENO);
  TermSetRestoreBytes(kRestoreBytes);

  gResized.store(false);
  struct sigaction sa {};
  sa.sa_handler = OnWinch;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &sa, &st.oldWinch);

  st.running.store(true, std::memory_order_release);
  try {
    st.presenter = std::thread(PresenterMain);
  } catch (...) {
    st.running.store(false);
    sigaction(SIGWINCH, &st.oldWinch, nullptr);
    TermSetRestoreBytes(nullptr);
    if (st.rawByUs) TermLeaveRaw();
    return -1;
  }
  st.open = true;
  return 0;
}

void Close() {
  TermState& st = State();
  if (!st.open) return;
  st.running.store(false, std::memory_order_release);
  if (st.presenter.joinable()) st.presenter.join();
  sigaction(SIGWINCH, &st.oldWinch, nullptr);
  TermSetRestoreBytes(nullptr);
  if (st.rawByUs) TermLeaveRaw();
  st.rawByUs = false;
  st.open = false;
}

void Lock() {
  TermState& st = State();
  st.lock.lock();
  st.programLocked = true;
}

void Unlock() { State().lock.unlock(); }

// Called under the platform lock (the program holds the screen lock).
void SetPaletteEntry(int32_t index, uint8_t r, uint8_t g, uint8_t b) {
  if (index < 0 || index > 255) return;
  UploadTable& u = State().upload;
  u.rgb[index] = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
  u.changed = true;
}

void WaitRetrace() {
  const int32_t refresh = State().refresh;
  std::this_thread::sleep_for(std::chrono::milliseconds(refresh > 0 ? 1000 / refresh : 16));
}

// The terminal's title is left alone; the name is only kept.
void SetTitle(const char* title) { State().title = title ? title : ""; }

}  // namespace

extern const Backend kTermBackend = {"Term", Open, Close, Lock, Unlock, SetPaletteEntry,
                                     WaitRetrace, SetTitle};
