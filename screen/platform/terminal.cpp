// terminal.cpp - the POSIX terminal: standard input read as keys, the
// terminal's raw mode and its restoring at exit, on signals and on a hang-up,
// its size, and writing to it.
#include "platform/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace scr {

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

TermKeyReader::TermKeyReader(int fd, bool rawIfTerminal) : fd_(fd), rawIfTerminal_(rawIfTerminal) {}

void TermKeyReader::Reset(int fd, bool rawIfTerminal) {
  std::lock_guard<std::mutex> guard(mutex_);
  fd_ = fd;
  rawIfTerminal_ = rawIfTerminal;
  idle_.store(false);
  checked_ = terminal_ = false;
  ended_.store(false);
  hungUp_.store(false);
  decoder_.Reset();
  queue_.clear();
  front_ = 0;
  idle_.store(false, std::memory_order_release);
}

void TermKeyReader::SetWindowRules(bool on) {
  std::lock_guard<std::mutex> guard(mutex_);
  decoder_.SetWindowRules(on);
}

void TermKeyReader::UpdateIdle() {
  idle_.store(ended_ && !decoder_.Pending() && front_ >= queue_.size(), std::memory_order_release);
}

void TermKeyReader::Poll() {
  if (idle_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(mutex_);
  PollLocked();
  UpdateIdle();
}

void TermKeyReader::PollLocked() {
  if (ended_ || fd_ < 0) {
    ended_ = true;
    decoder_.Flush(queue_);
    return;
  }
  if (!checked_) {
    terminal_ = isatty(fd_) != 0;
    if (!terminal_ && errno == EIO) {  // a terminal that has already hung up
      terminal_ = checked_ = true;
      ended_.store(true);
      hungUp_.store(true);
      decoder_.Flush(queue_);
      return;
    }
    if (terminal_) {
      // A background job must not touch the terminal (it would be stopped); try again later.
      const pid_t group = tcgetpgrp(fd_);
      if (group != -1 && group != getpgrp()) return;
      if (rawIfTerminal_) TermEnterRaw(fd_);
    }
    checked_ = true;
  } else if (terminal_ && rawIfTerminal_ && !TermIsRaw()) {
    TermEnterRaw(fd_);  // raw mode was left meanwhile (a back-end that had it closed)
  }
  bool haveNow = false;
  double now = 0;
  uint8_t buffer[512];
  // Bounded, so that an endless writer cannot hold the caller here.
  for (int round = 0; round < 8; ++round) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) break;
    if (p.revents & POLLNVAL) {
      ended_ = true;
      break;
    }
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) {
      if (!haveNow) now = Timer(), haveNow = true;
      decoder_.Feed(buffer, static_cast<size_t>(got), queue_, now);
      continue;
    }
    if (got == 0) {
      ended_ = true;
      if (terminal_ && (p.revents & (POLLHUP | POLLERR))) hungUp_ = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    ended_ = true;
    if (terminal_ && (errno == EIO || (p.revents & POLLHUP))) hungUp_ = true;
    break;
  }
  if (ended_) {
    decoder_.Flush(queue_);
  } else if (decoder_.Pending()) {
    if (!haveNow) now = Timer();
    decoder_.FlushStale(now, queue_);
  }
}

bool TermKeyReader::Take(KeyCode& code) {
  if (idle_.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  if (front_ >= queue_.size()) return false;
  code = queue_[front_++];
  if (front_ == queue_.size()) {
    queue_.clear();
    front_ = 0;
    UpdateIdle();
  }
  return true;
}

bool TermKeyReader::HungUp() { return hungUp_.load(); }

namespace {
// Whether standard input was open when the program started: if it was closed,
// descriptor 0 may later belong to some file the program opened, whose bytes
// must not be taken for keys.
const bool gStdinOpenAtStart = fcntl(STDIN_FILENO, F_GETFD) != -1;
}  // namespace

TermKeyReader& StdinKeys() {
  static TermKeyReader* reader = new TermKeyReader(gStdinOpenAtStart ? STDIN_FILENO : -1, true);
  return *reader;
}

void TermSetConsoleInput(int fd, bool rawIfTerminal) { StdinKeys().Reset(fd, rawIfTerminal); }

// ---------------------------------------------------------------------------
// Raw mode and restoring
// ---------------------------------------------------------------------------

namespace {

// Read by the signal handlers: written only before gHaveSaved / gRestoreLen say so.
termios gSaved;
volatile sig_atomic_t gHaveSaved = 0;
volatile sig_atomic_t gSavedFd = -1;
char gRestoreBytes[256];
volatile sig_atomic_t gRestoreLen = 0;
std::mutex gHookMutex;
bool gHooksInstalled = false;

void OnFatalSignal(int sig) {
  const int savedErrno = errno;
  TermRestore();
  errno = savedErrno;
  // SA_RESETHAND has put back the default action: raised again, the signal
  // ends the process once this handler returns, with the usual exit status.
  raise(sig);
}

void RestoreAtExit() { TermRestore(); }

void InstallHooks() {
  std::lock_guard<std::mutex> guard(gHookMutex);
  if (gHooksInstalled) return;
  gHooksInstalled = true;
  std::atexit(RestoreAtExit);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old{};
    if (sigaction(sig, nullptr, &old) != 0) continue;
    if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) continue;  // someone else's
    struct sigaction act{};
    act.sa_handler = OnFatalSignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESETHAND;
    sigaction(sig, &act, nullptr);
  }
}

}  // namespace

bool TermEnterRaw(int fd) {
  if (fd < 0 || !isatty(fd)) return false;
  if (gHaveSaved && gSavedFd == fd) return true;
  if (gHaveSaved) TermLeaveRaw();
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  InstallHooks();
  gSaved = t;
  gSavedFd = fd;
  gHaveSaved = 1;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    gHaveSaved = 0;
    return false;
  }
  return true;
}

void TermLeaveRaw() {
  if (!gHaveSaved) return;
  tcsetattr(gSavedFd, TCSANOW, &gSaved);
  gHaveSaved = 0;
}

void TermRestore() {
  if (gHaveSaved) tcsetattr(gSavedFd, TCSANOW, &gSaved);
  WriteAll(STDOUT_FILENO, gRestoreBytes, size_t(gRestoreLen));  // poll and write are signal-safe
}

void TermSetRestoreBytes(const char* s) {
  gRestoreLen = 0;
  if (s == nullptr || *s == '\0') return;
  InstallHooks();
  size_t n = std::strlen(s);
  if (n > sizeof gRestoreBytes - 1) n = sizeof gRestoreBytes - 1;
  std::memcpy(gRestoreBytes, s, n);
  gRestoreLen = static_cast<sig_atomic_t>(n);
}

bool TermIsRaw() { return gHaveSaved != 0; }

bool EnterRawIfForeground(int fd) {
  return isatty(fd) && !TermIsRaw() && tcgetpgrp(fd) == getpgrp() && TermEnterRaw(fd);
}

namespace {
std::atomic<bool> gResized{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handler needs a lock-free flag");
struct sigaction gOldWinch {};
void OnWinch(int) { gResized.store(true, std::memory_order_relaxed); }
}  // namespace

void WatchTerminalResize(bool on) {
  if (!on) {
    sigaction(SIGWINCH, &gOldWinch, nullptr);
    return;
  }
  gResized.store(false);
  struct sigaction sa {};
  sa.sa_handler = OnWinch;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &sa, &gOldWinch);
}

bool TerminalResized() { return gResized.exchange(false, std::memory_order_relaxed); }

void TermHangUp() {
  TermRestore();
  signal(SIGHUP, SIG_DFL);
  raise(SIGHUP);
  _exit(128 + SIGHUP);
}

// ---------------------------------------------------------------------------
// Output and size
// ---------------------------------------------------------------------------

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool WriteAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w > 0) {
      data += w;
      n -= size_t(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      return false;
    }
  }
  return true;
}

bool TerminalSize(int32_t& columns, int32_t& rows) {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  columns = ws.ws_col;
  rows = ws.ws_row;
  return true;
}

}  // namespace scr
