// keydecoder.h - terminal and pipe bytes turned into KeyCodes.
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
//   ESC [ < b ; column ; row M / m     a mouse report (xterm's SGR form:
//                      b's low bits 0 left, 1 middle, 2 right, 3 none, +32
//                      motion, 64 / 65 wheel up / down; M press, m release):
//                      no key, it updates the pointer (TakePointer)
// Other complete CSI / SS3 sequences (focus, other mouse forms, reports) give no key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "screen.h"

namespace scr {

// ---------------------------------------------------------------------------
// Decoder: bytes in, KeyCodes out
// ---------------------------------------------------------------------------

// The pointer as mouse reports leave it: its 1-based terminal cell, the
// buttons held (1 left, 2 right, 4 middle) and wheel steps (up positive).
struct TermPointer {
  int32_t column = 0, row = 0, buttons = 0, wheel = 0;
  bool operator==(const TermPointer&) const = default;
};

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
  // While on, keys follow a window's rules: keys pressed with Alt (and not
  // Ctrl) and F10 give nothing; otherwise the console's.
  void SetWindowRules(bool on) { windowRules_ = on; }
  // The pointer after the reports decoded since the last call, false when
  // none came; the wheel steps are counted from that call.
  bool TakePointer(TermPointer& pointer);

 private:
  static constexpr size_t kMaxHeld = 64;  // longer unfinished sequences are dropped
  void Decode(bool final, std::vector<KeyCode>& out);
  uint8_t held_[kMaxHeld] = {};
  size_t count_ = 0;
  double since_ = 0;
  bool windowRules_ = false;
  TermPointer pointer_;
  bool pointerSeen_ = false;
};

}  // namespace scr
