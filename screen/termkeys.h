// termkeys.h - keys from a terminal or a pipe, and the keyboard internals
// that the back-ends and the tests share.
//
// Three users read keys from bytes:
// - the console path (InKey with no Screen open) polls standard input
//   through StdinKeys() and posts into the console ring;
// - the Null back-end takes StdinKeys() one key at a time into the window ring;
// - the Term back-end feeds its own TermKeyDecoder from its Presenter thread.
//
// Every key goes through TranslateKey as a key-down with (ch, scan, vk,
// state) of the US-layout key that produces it: a code above 255 is posted
// from that key path; the key's character (code page 437, as a signed byte
// when >= 128) is posted from the character path, unless Alt is held.
// So a terminal gives the same codes as a window for the same keys.
//
// Decoding, with a lone ESC completed by Flush (end of input) or after a
// short wait (FlushStale):
//   bytes 1..127       characters; 13 Enter, 9 Tab, 127 Backspace (8),
//                      1..26 Ctrl+letter, 0 gives no key (Ctrl+2 has no key
//                      string on a window either)
//   UTF-8 sequences    their code page 437 character, no key when none
//   ESC x              Alt+x (TranslateKey decides: Alt+letter/digit/Enter
//                      give extended codes, Alt+punctuation gives no key)
//   ESC ESC            a lone ESC, then the second ESC starts afresh;
//                      ESC ESC [ ... / ESC ESC O ... is Alt + that key
//   ESC [ A..D, ESC O A..D            arrows (grey keys, enhanced)
//   ESC [ H / F, ESC O H / F, ESC [ 1~ 4~ 7~ 8~   Home / End
//   ESC [ 2~ 3~ 5~ 6~                 Ins Del PgUp PgDn
//   ESC [ E, ESC [ G, ESC O E         keypad 5 with Num Lock off
//   ESC O P..S, ESC [ 11~..15~, 17~..21~, 23~, 24~, ESC [ [ A..E   F1..F12
//   ESC [ Z                            Shift+Tab
//   ESC [ 1;<m>X, ESC [ n;<m>~, ESC O <m>X   modifiers: m-1 bit 0 Shift,
//                      bit 1 Alt, bit 2 Ctrl (bit 3 Meta counts as Alt)
//   ESC O p..y, ESC O j k l m n o, ESC O M, ESC O X   application keypad:
//                      taken as the keypad with Num Lock on, so the digit
//                      keys give "0".."9" (the walker moves with them),
//                      * + , - . / Enter and = their characters
// Other complete CSI / SS3 sequences (focus, mouse, reports) give no key.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "screen.h"

// ---------------------------------------------------------------------------
// Decoder: bytes in, KeyCodes out
// ---------------------------------------------------------------------------

class TermKeyDecoder {
 public:
  // How long a held ESC (or an unfinished sequence) waits for more bytes.
  static constexpr double kEscWait = 0.05;

  // Decodes `n` bytes, appending complete keys to `out`. `now` (seconds, any
  // monotonic origin) stamps the start of a sequence left unfinished.
  void Feed(const uint8_t* data, size_t n, std::vector<KeyCode>& out, double now = 0);
  // True while bytes of an unfinished sequence (a lone ESC, say) are held.
  bool Pending() const { return count_ > 0; }
  // When the held bytes started arriving (`now` of the Feed that left them).
  double PendingSince() const { return since_; }
  // No more bytes are coming now: completes what is held (a lone ESC is ESC,
  // "ESC [" is Alt+[, a cut-off sequence gives no key).
  void Flush(std::vector<KeyCode>& out);
  // Flushes when bytes have been held for `wait` seconds or more at `now`.
  void FlushStale(double now, std::vector<KeyCode>& out, double wait = kEscWait);
  // Forgets held bytes.
  void Reset() { count_ = 0; }

 private:
  static constexpr size_t kMaxHeld = 64;  // longer unfinished sequences are dropped
  void Decode(bool final, std::vector<KeyCode>& out);
  uint8_t held_[kMaxHeld] = {};
  size_t count_ = 0;
  double since_ = 0;
};

// One key as a window would see it; Emit posts what a window would post.
struct TermKey {
  int32_t ch = 0;         // the layout's character with the modifiers (0 none)
  int32_t scan = 0;       // PC set-1 scan code
  int32_t vk = 0;         // VirtualKey
  uint32_t state = 0;     // ControlKeyState bits
  int32_t character = 0;  // what the character path gives (0 none; 1..255)
};
// Appends the key path's code (when above 255) and then the character (when
// there is one and Alt is not held) to `out`.
void EmitTermKey(const TermKey& key, std::vector<KeyCode>& out);

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
  // Number of keys queued.
  size_t Queued();
  // End of input seen (pipe or file exhausted, descriptor closed or hung up).
  bool Ended();
  // The terminal hung up (not set for the end of a pipe or file).
  bool HungUp();
  // Points the reader at another descriptor; held bytes and keys are dropped.
  void Reset(int fd, bool rawIfTerminal);
  int fd() const { return fd_; }

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
// (once) and arranges their restoring at exit and on SIGINT, SIGTERM and
// SIGHUP. Returns false when fd is not a terminal or cannot be changed.
bool TermEnterRaw(int fd);
// Restores the saved settings now and forgets them (raw mode may be entered
// again later). The restore bytes are not written.
void TermLeaveRaw();
// Restores the saved settings and writes the restore bytes; async-signal-safe,
// keeps the saved settings. Runs at exit and in the signal handlers.
void TermRestore();
// Bytes written to standard output on restore (e.g. leave the alternate
// screen, show the cursor); null or "" for none. At most 255 bytes are kept.
void TermSetRestoreBytes(const char* s);
// Whether raw mode is in force.
bool TermIsRaw();
// The terminal hung up: restores, then ends the process as SIGHUP does
// (going on would leave a program polling a terminal that is gone).
[[noreturn]] void TermHangUp();

// Console input: the descriptor InKey reads while no Screen is open
// (standard input unless changed; tests point it at a pipe).
void TermSetConsoleInput(int fd, bool rawIfTerminal = true);

// ---------------------------------------------------------------------------
// US keyboard layout and console key records
// ---------------------------------------------------------------------------

// The character the US layout gives virtual key vk without modifiers (0 none).
int32_t UsLayoutChar(int32_t vk);
// The US-layout key typing byte c (1..127): scan, virtual key and the
// modifier bits it needs (Shift, left Ctrl). False for bytes with no key.
bool UsKeyForByte(uint8_t c, int32_t& scan, int32_t& vk, uint32_t& state);

// One console key record (press or release) as a console delivers it.
struct ConsoleKeyRecord {
  bool down = true;
  int32_t ch = 0;
  int32_t scan = 0;
  int32_t vk = 0;
  uint32_t state = 0;
  int32_t repeat = 1;  // presses are handled this many times (0: not at all)
};
// Handles a console key record into the console ring, with the Alt-numpad
// rule: Alt alone held and keypad digits typed give the character of their
// number when a key is released without Alt alone held.
void HandleConsoleKeyRecord(const ConsoleKeyRecord& record);

// The tick source of Timer: milliseconds as an unsigned 32-bit count, in
// seconds (wraps after 2^32 ms). Timer uses it when the monotonic counter fails.
double TickSeconds();
