// terminal.cpp - the POSIX terminal: standard input read as keys, the
// terminal's raw mode and its restoring at exit, on signals and on a hang-up,
// its size, and writing to it.
#include "platform/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

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
  // Given back on Ctrl+Z and continued in the background: reading would stop
  // the process again, so wait until it is the foreground job.
  if (terminal_ && !TermTakeAgainIfForeground()) return;
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

bool TermKeyReader::TakePointer(TermPointer& pointer) {
  std::lock_guard<std::mutex> guard(mutex_);
  return decoder_.TakePointer(pointer);
}

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
termios gSaved;  // the settings found, given back
termios gRaw;    // raw mode, taken again after a stop
volatile sig_atomic_t gHaveSaved = 0;
volatile sig_atomic_t gSavedFd = -1;
char gRestoreBytes[256];
volatile sig_atomic_t gRestoreLen = 0;
// The terminal has been given back (settings and restore bytes): kStopped on
// Ctrl+Z, until it is taken again; kEnding when the process ends.
enum : int { kHeld = 0, kStopped = 1, kEnding = 2 };
std::atomic<int> gGivenBack{kHeld};
// A picture write is under way (TermBeginWrite); giving back waits for its end.
std::atomic<bool> gWriting{false};
std::atomic<bool> gTakenAgain{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "signal handlers need lock-free flags");
std::mutex gHookMutex;
bool gHooksInstalled = false;
std::terminate_handler gOldTerminate = nullptr;

bool Holding() { return gHaveSaved || gRestoreLen > 0; }

// Restores the saved settings and writes the restore bytes, unless given back
// already; from kEnding on nothing takes the terminal again. A picture write
// under way on another thread ends first (for at most 0.2 s), so that no part
// of it lands after the restore. Async-signal-safe.
void GiveBack(int how) {
  if (!Holding()) return;
  int was = gGivenBack.load();
  while (was < how && !gGivenBack.compare_exchange_weak(was, how)) {
  }
  if (was != kHeld) return;
  for (int i = 0; i < 200 && gWriting.load(); ++i) {
    const timespec ms{0, 1000000};
    nanosleep(&ms, nullptr);
  }
  // The shell may have taken the terminal already (it saw another process of
  // the job stop): SIGTTOU blocked, the settings and bytes still go through.
  sigset_t ttou, old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  sigprocmask(SIG_BLOCK, &ttou, &old);
  if (gHaveSaved) tcsetattr(gSavedFd, TCSANOW, &gSaved);
  WriteAll(STDOUT_FILENO, gRestoreBytes, size_t(gRestoreLen));  // poll and write are signal-safe
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Takes the terminal again (raw mode) once this process is its foreground
// job; the picture is then drawn anew. Async-signal-safe.
bool TakeAgainIfForeground() {
  if (!Holding()) return true;  // nothing to take
  if (gGivenBack == kEnding) return false;
  if (tcgetpgrp(gHaveSaved ? int(gSavedFd) : STDOUT_FILENO) != getpgrp()) return false;
  if (gHaveSaved) tcsetattr(gSavedFd, TCSANOW, &gRaw);
  gGivenBack = kHeld;
  gTakenAgain.store(true);
  return true;
}

// Ctrl+Z: gives the terminal back, stops as the signal's default does, and
// once continued takes the terminal again. Async-signal-safe.
void StopNow() {
  const int savedErrno = errno;
  GiveBack(kStopped);
  struct sigaction dfl {}, own{};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGTSTP, &dfl, &own);
  sigset_t stop, old;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, &old);  // blocked while its handler runs
  raise(SIGTSTP);                         // stopped here until continued
  sigprocmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGTSTP, &own, nullptr);
  if (gGivenBack == kStopped) TakeAgainIfForeground();
  errno = savedErrno;
}

void OnStop(int) { StopNow(); }

// Continued after any stop (also one not asked by Ctrl+Z, e.g. SIGSTOP, after
// which the shell may have changed the settings): raw mode again and a new picture.
void OnContinue(int) {
  const int savedErrno = errno;
  if (Holding() && gGivenBack != kEnding && tcgetpgrp(gHaveSaved ? int(gSavedFd) : STDOUT_FILENO) == getpgrp()) {
    gGivenBack.store(kStopped);
    TakeAgainIfForeground();
  }
  errno = savedErrno;
}

// The last words before SIGINT, SIGTERM or SIGHUP ends the process
// (TermCallBeforeEndingSignals): the handler only wakes their thread. The
// same signal again within a second is the same ending (`timeout` sends its
// signal to the program and then to its process group); a later one ends the
// process at once.
void (*gLastWords)() = nullptr;
int gEndingPipe[2] = {-1, -1};
volatile sig_atomic_t gEndingSignal = 0;
volatile sig_atomic_t gEndingSince = 0;  // CLOCK_MONOTONIC seconds

bool IsEndingSignal(int sig) { return sig == SIGINT || sig == SIGTERM || sig == SIGHUP; }

void OnFatalSignal(int sig) {
  const int savedErrno = errno;
  if (IsEndingSignal(sig) && gEndingPipe[1] >= 0) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
    const unsigned char byte = 1;
    bool handled = true;  // by the thread of the last words
    if (!gEndingSignal) {
      gEndingSignal = sig;
      gEndingSince = sig_atomic_t(now.tv_sec);
      handled = write(gEndingPipe[1], &byte, 1) == 1;
    } else {
      handled = now.tv_sec - gEndingSince <= 1;
    }
    if (handled) {
      errno = savedErrno;
      return;
    }
  }
  TermRestore();
  errno = savedErrno;
  // The default action (SA_RESETHAND has put it back, except for the ending
  // signals above): raised again, the signal ends the process once this
  // handler returns, with the usual exit status (and core dump). A fault
  // raised by an instruction would also recur.
  signal(sig, SIG_DFL);
  raise(sig);
}

// An uncaught exception: the terminal first, so that the message that
// follows is seen on the normal screen.
void OnTerminate() {
  TermRestore();
  if (gOldTerminate) gOldTerminate();
  std::abort();
}

void RestoreAtExit() { TermRestore(); }

// Puts `handler` on `sig` unless someone else's handler is there (or the
// signal is ignored, as under nohup).
void Hook(int sig, void (*handler)(int), int flags) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) != 0) return;
  if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) return;
  struct sigaction act {};
  act.sa_handler = handler;
  sigemptyset(&act.sa_mask);
  act.sa_flags = flags;
  sigaction(sig, &act, nullptr);
}

void InstallHooks() {
  std::lock_guard<std::mutex> guard(gHookMutex);
  if (gHooksInstalled) return;
  gHooksInstalled = true;
  std::atexit(RestoreAtExit);
  gOldTerminate = std::set_terminate(OnTerminate);
#ifndef __EMSCRIPTEN__  // the browser has no signal stacks (nor terminal)
  // A stack overflow leaves no stack for the handler: this thread (the
  // program's, which opens the Screen) gets a second one, unless it has one.
  static char altStack[64 * 1024];
  stack_t old{};
  if (sigaltstack(nullptr, &old) == 0 && (old.ss_flags & SS_DISABLE)) {
    stack_t alt{};
    alt.ss_sp = altStack;
    alt.ss_size = sizeof altStack;
    sigaltstack(&alt, nullptr);
  }
#endif
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    Hook(sig, OnFatalSignal, SA_RESETHAND | SA_ONSTACK);
  Hook(SIGTSTP, OnStop, SA_RESTART);
  Hook(SIGCONT, OnContinue, SA_RESTART);
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
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  gRaw = t;
  gSavedFd = fd;
  gGivenBack = kHeld;
  gHaveSaved = 1;
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    gHaveSaved = 0;
    return false;
  }
  return true;
}

void TermLeaveRaw() {
  if (!gHaveSaved) return;
  if (gGivenBack == kHeld) tcsetattr(gSavedFd, TCSANOW, &gSaved);
  gHaveSaved = 0;
}

void TermRestore() { GiveBack(kEnding); }

void TermCallBeforeEndingSignals(void (*last)()) {
#ifndef __EMSCRIPTEN__  // a page gets no signals (and may have no threads)
  {
    std::lock_guard<std::mutex> guard(gHookMutex);
    if (gLastWords || pipe(gEndingPipe) != 0) return;
    fcntl(gEndingPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(gEndingPipe[1], F_SETFD, FD_CLOEXEC);
    gLastWords = last;
    try {
      std::thread([] {
        unsigned char byte = 0;
        while (read(gEndingPipe[0], &byte, 1) < 0 && errno == EINTR) {
        }
        const int sig = gEndingSignal;
        gLastWords();
        TermRestore();
        signal(sig, SIG_DFL);  // raised here, the signal ends the process
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, sig);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(sig);
        _exit(128 + sig);
      }).detach();
    } catch (...) {  // no thread: the signals end the process as before
      const int write = gEndingPipe[1];
      gEndingPipe[1] = -1;
      close(write);
      close(gEndingPipe[0]);
      return;
    }
  }
  InstallHooks();
  // Kept for a repeat of the signal while the last words are said.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) != 0 || now.sa_handler != OnFatalSignal) continue;
    now.sa_flags = SA_ONSTACK;
    sigaction(sig, &now, nullptr);
  }
#else
  (void)last;
#endif
}

void TermSetRestoreBytes(const char* s) {
  gRestoreLen = 0;
  if (s == nullptr || *s == '\0') return;
  InstallHooks();
  size_t n = std::strlen(s);
  if (n > sizeof gRestoreBytes - 1) n = sizeof gRestoreBytes - 1;
  std::memcpy(gRestoreBytes, s, n);
  gGivenBack = kHeld;
  gRestoreLen = static_cast<sig_atomic_t>(n);
}

bool TermIsRaw() { return gHaveSaved != 0; }

bool TermGivenBack() { return gGivenBack != kHeld && Holding(); }

bool TermTakeAgainIfForeground() { return !TermGivenBack() || TakeAgainIfForeground(); }

bool TermTakenAgain() { return gTakenAgain.exchange(false); }

bool TermBeginWrite() {
  gWriting.store(true);
  if (!TermGivenBack()) return true;
  gWriting.store(false);
  return false;
}

void TermEndWrite() { gWriting.store(false); }

void TermLeaveJobSignalsToOthers() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT}) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

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
  sigset_t hup;
  sigemptyset(&hup);
  sigaddset(&hup, SIGHUP);
  pthread_sigmask(SIG_UNBLOCK, &hup, nullptr);  // the Presenter's thread blocks it
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
