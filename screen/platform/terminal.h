// terminal.h - the POSIX terminal, for the platform layer (posix.cpp) and the
// terminal back-end: standard input read as keys, the terminal's raw mode and
// its restoring, its size, and writing to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "backend/keydecoder.h"

namespace scr {

// ---------------------------------------------------------------------------
// Reader: a file descriptor (terminal, pipe or file) with its decoder
// ---------------------------------------------------------------------------

class TermKeyReader {
 public:
  // rawIfTerminal: put a terminal into raw mode on the first Poll.
  explicit TermKeyReader(int fd, bool rawIfTerminal = true);
  // Reads every byte ready on the descriptor without waiting and decodes it.
  // A held ESC completes after kEscWait, or at once at end of input.
  void Poll();
  // The next decoded key; false when none is queued.
  bool Take(KeyCode& code);
  // The terminal hung up (not set for the end of a pipe or file).
  bool HungUp();
  // Points the reader at another descriptor; held bytes and keys are dropped.
  void Reset(int fd, bool rawIfTerminal);
  // Keys decoded from now on follow a window's rules (see TermKeyDecoder).
  void SetWindowRules(bool on);
  // The pointer after the mouse reports read since the last call (false: none came).
  bool TakePointer(TermPointer& pointer);

 private:
  void PollLocked();
  void UpdateIdle();
  std::mutex mutex_;
  // Input ended and nothing left: Poll and Take return at once without the mutex.
  std::atomic<bool> idle_{false};
  int fd_;
  bool rawIfTerminal_;
  bool checked_ = false;   // terminal / foreground checks done
  bool terminal_ = false;
  std::atomic<bool> ended_{false};
  std::atomic<bool> hungUp_{false};
  TermKeyDecoder decoder_;
  std::vector<KeyCode> queue_;
  size_t front_ = 0;
};

// The process's standard input reader (created on first use, never destroyed).
TermKeyReader& StdinKeys();

// ---------------------------------------------------------------------------
// Terminal settings: raw mode and its restoring
// ---------------------------------------------------------------------------

// Puts terminal `fd` into non-canonical, non-echoing input with reads that
// never wait (output processing and Ctrl+C stay). Saves the settings first
// (once) and arranges for the terminal to be given back: at exit, on an
// uncaught exception, on SIGINT, SIGTERM, SIGHUP, SIGQUIT and the faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT), each then ending the process as
// it would have anyway, and on Ctrl+Z (SIGTSTP) before stopping, taken again
// once continued in the foreground. Returns false when fd is not a terminal
// or cannot be changed.
bool TermEnterRaw(int fd);
// Restores the saved settings now and forgets them (raw mode may be entered
// again later). The restore bytes are not written.
void TermLeaveRaw();
// Gives the terminal back: restores the saved settings and writes the restore
// bytes, once until it is taken again; async-signal-safe, keeps the saved
// settings. Runs at exit and in the signal handlers.
void TermRestore();
// From now on SIGINT, SIGTERM and SIGHUP, where they would end the process,
// first wake a thread of their own that calls `last` (which may take locks
// and write files, as no signal handler may), then give the terminal back and
// end the process by the same signal. A second signal meanwhile ends it at
// once. Only the first call counts.
void TermCallBeforeEndingSignals(void (*last)());
// Bytes written to standard output on restore (e.g. leave the alternate
// screen, show the cursor); null or "" for none. At most 255 bytes are kept.
void TermSetRestoreBytes(const char* s);
// Whether raw mode is held (also while given back on Ctrl+Z).
bool TermIsRaw();
// Given back (on Ctrl+Z, or for good as the process ends) and not taken
// again: nothing is to be written.
bool TermGivenBack();
// Takes the terminal given back on Ctrl+Z again when this process is its
// foreground job (continued with `bg`, then brought back with `fg`, it gets
// no signal); false while it is in the background.
bool TermTakeAgainIfForeground();
// Whether the terminal was taken again since the last call: whatever it
// showed is gone, the picture is to be drawn anew (the restore bytes undone).
bool TermTakenAgain();
// Around each write of a picture: false (and nothing to end) when the
// terminal is given back. Giving back waits for a write under way to end.
bool TermBeginWrite();
void TermEndWrite();
// The calling thread (a Presenter) leaves the signals of the keyboard and of
// kill (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT) to the program's
// thread, so that their handlers never cut one of its writes.
void TermLeaveJobSignalsToOthers();
// Enters raw mode on `fd` when it is a terminal whose foreground this process
// is (a background job leaves the settings alone) and raw mode is not on yet.
// True when this call entered it.
bool EnterRawIfForeground(int fd);
// The terminal hung up: restores, then ends the process as SIGHUP does
// (going on would leave a program polling a terminal that is gone).
[[noreturn]] void TermHangUp();

// Console input: the descriptor InKey reads while no Screen is open
// (standard input unless changed; tests point it at a pipe).
void TermSetConsoleInput(int fd, bool rawIfTerminal = true);

// Watches for the terminal's size changing (SIGWINCH) while on; the handler
// in force before is put back when off.
void WatchTerminalResize(bool on);
// Whether the size changed since the last call.
bool TerminalResized();

// ---------------------------------------------------------------------------
// Output and size
// ---------------------------------------------------------------------------

// Whether standard output is a terminal.
bool StdoutIsTerminal();
// Writes all `n` bytes to `fd`, going on after interruptions and waiting
// while it is full; false when it is gone.
bool WriteAll(int fd, const char* data, size_t n);
// The size in cells of the terminal standard output is; false when it reports none.
bool TerminalSize(int32_t& columns, int32_t& rows);

}  // namespace scr
