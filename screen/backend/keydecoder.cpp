// keydecoder.cpp - keys from terminal and pipe bytes.
#include "backend/keydecoder.h"

#include <cstring>

#include "keys.h"

namespace scr {

namespace {

constexpr uint32_t kLeftAlt = ControlKeyState::LeftAlt;
constexpr uint8_t kEsc = 0x1B;

namespace VK = VirtualKey;

// One key as a window would see it.
struct TermKey {
  int32_t ch = 0;         // the layout's character with the modifiers (0 none)
  int32_t scan = 0;       // PC set-1 scan code
  int32_t vk = 0;         // VirtualKey
  uint32_t state = 0;     // ControlKeyState bits
  int32_t character = 0;  // what the character path gives (0 none; 1..255)
};

// Where decoded keys go, and whether the window's key rules apply.
struct KeySink {
  std::vector<KeyCode>& codes;
  bool windowRules;
  TermPointer& pointer;
  bool& pointerSeen;
};

// An SGR mouse report's parameters p[0..n) ("b;column;row"), pressed with M, released with m.
void DecodeMouse(const uint8_t* p, size_t n, bool press, KeySink& out) {
  int v[3] = {0, 0, 0}, count = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == ';') {
      if (++count > 2) return;
    } else if (p[i] >= '0' && p[i] <= '9' && v[count] < 100000) {
      v[count] = v[count] * 10 + (p[i] - '0');
    } else {
      return;
    }
  }
  if (count != 2) return;
  TermPointer& t = out.pointer;
  t.column = v[1], t.row = v[2];
  static constexpr int32_t kBit[4] = {1, 4, 2, 0};  // left, middle, right, none
  const int32_t bit = kBit[v[0] & 3];
  if (v[0] & 64) {
    if ((v[0] & 3) < 2) t.wheel += (v[0] & 3) == 0 ? 1 : -1;
  } else if (v[0] & 32) {
    t.buttons = bit ? t.buttons | bit : 0;  // a drag holds its button; a bare move holds none
  } else {
    t.buttons = press ? t.buttons | bit : t.buttons & ~bit;
  }
  out.pointerSeen = true;
}

// Appends the key path's code (when above 255) and then the character (when
// there is one and Alt is not held).
void EmitTermKey(const TermKey& key, KeySink& out) {
  // A window leaves keys pressed with Alt (and not Ctrl), and F10, to the system.
  const bool system = ((key.state & kAltBits) && !(key.state & kCtrlBits)) || key.vk == VK::F10;
  if (out.windowRules && system) return;
  const KeyCode code = TranslateKey(key.ch, key.scan, key.vk, key.state, 0);
  if (code > 255) out.codes.push_back(code);
  if (key.character != 0 && !(key.state & kAltBits)) {
    // The character path stores 128..255 as signed bytes.
    const int32_t c = key.character & 0xFF;
    out.codes.push_back(c >= 128 ? c - 256 : c);
  }
}

// Keys without a character, as the grey block and function keys give them.
enum class Named {
  Up, Down, Right, Left, Home, End, Insert, Delete, PageUp, PageDown, Center,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, BackTab,
};

TermKey NamedKey(Named k) {
  TermKey key;
  const uint32_t enh = ControlKeyState::Enhanced;
  switch (k) {
    case Named::Up: key.scan = 72, key.vk = VK::Up, key.state = enh; break;
    case Named::Down: key.scan = 80, key.vk = VK::Down, key.state = enh; break;
    case Named::Right: key.scan = 77, key.vk = VK::Right, key.state = enh; break;
    case Named::Left: key.scan = 75, key.vk = VK::Left, key.state = enh; break;
    case Named::Home: key.scan = 71, key.vk = VK::Home, key.state = enh; break;
    case Named::End: key.scan = 79, key.vk = VK::End, key.state = enh; break;
    case Named::Insert: key.scan = 82, key.vk = VK::Insert, key.state = enh; break;
    case Named::Delete: key.scan = 83, key.vk = VK::Delete, key.state = enh; break;
    case Named::PageUp: key.scan = 73, key.vk = VK::Prior, key.state = enh; break;
    case Named::PageDown: key.scan = 81, key.vk = VK::Next, key.state = enh; break;
    case Named::Center: key.scan = 76, key.vk = 0x0C; break;  // keypad 5, Num Lock off
    case Named::F11: key.scan = 87, key.vk = VK::F11; break;
    case Named::F12: key.scan = 88, key.vk = VK::F12; break;
    case Named::BackTab:
      key.ch = 9, key.scan = 15, key.vk = VK::Tab, key.state = ControlKeyState::Shift;
      key.character = 9;
      break;
    default: {  // F1..F10
      const int n = static_cast<int>(k) - static_cast<int>(Named::F1);
      key.scan = 59 + n;
      key.vk = VK::F1 + n;
    }
  }
  return key;
}

// ControlKeyState bits of a terminal modifier parameter (1 + Shift 1, Alt 2, Ctrl 4, Meta 8).
uint32_t ModifierState(int mod) {
  if (mod < 2) return 0;
  const int m = mod - 1;
  uint32_t state = 0;
  if (m & 1) state |= ControlKeyState::Shift;
  if (m & (2 | 8)) state |= kLeftAlt;
  if (m & 4) state |= ControlKeyState::LeftCtrl;
  return state;
}

void EmitNamed(Named k, uint32_t state, KeySink& out) {
  TermKey key = NamedKey(k);
  key.state |= state;
  EmitTermKey(key, out);
}

// A byte 0..127 as the US-layout key that types it.
void EmitByte(uint8_t c, uint32_t extra, KeySink& out) {
  TermKey key;
  if (c == 0x7F) {  // what terminals send for Backspace
    key.ch = 8, key.scan = 14, key.vk = VK::Back, key.character = 8;
  } else {
    int32_t scan = 0, vk = 0;
    uint32_t state = 0;
    if (!UsKeyForByte(c, scan, vk, state)) return;
    key.ch = c, key.scan = scan, key.vk = vk, key.state = state, key.character = c;
  }
  key.state |= extra;
  EmitTermKey(key, out);
}

// A code page 437 character that no US key types (from UTF-8).
void EmitCharacter(uint8_t byte, uint32_t extra, KeySink& out) {
  TermKey key;
  key.ch = byte, key.state = extra, key.character = byte;
  EmitTermKey(key, out);
}

// Application keypad keys (ESC O final), taken with Num Lock on.
bool KeypadKey(uint8_t final, TermKey& key) {
  if (final >= 'p' && final <= 'y') {
    static constexpr int kScan[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
    const int d = final - 'p';
    key.ch = key.character = '0' + d;
    key.scan = kScan[d];
    key.vk = VK::Numpad0 + d;
    return true;
  }
  switch (final) {
    case 'M': key = {13, 28, VK::Return, ControlKeyState::Enhanced, 13}; return true;
    case 'j': key = {'*', 55, VK::Multiply, 0, '*'}; return true;
    case 'k': key = {'+', 78, VK::Add, 0, '+'}; return true;
    case 'l': key = {',', 51, VK::OemComma, 0, ','}; return true;
    case 'm': key = {'-', 74, VK::Subtract, 0, '-'}; return true;
    case 'n': key = {'.', 83, VK::Decimal, 0, '.'}; return true;
    case 'o': key = {'/', 53, VK::Divide, ControlKeyState::Enhanced, '/'}; return true;
    case 'X': key = {'=', 13, VK::OemPlus, 0, '='}; return true;
    default: return false;
  }
}

bool FinalKey(uint8_t final, Named& k) {
  switch (final) {
    case 'A': k = Named::Up; return true;
    case 'B': k = Named::Down; return true;
    case 'C': k = Named::Right; return true;
    case 'D': k = Named::Left; return true;
    case 'H': k = Named::Home; return true;
    case 'F': k = Named::End; return true;
    case 'E': case 'G': k = Named::Center; return true;
    case 'P': k = Named::F1; return true;
    case 'Q': k = Named::F2; return true;
    case 'R': k = Named::F3; return true;
    case 'S': k = Named::F4; return true;
    default: return false;
  }
}

bool TildeKey(int n, Named& k) {
  switch (n) {
    case 1: case 7: k = Named::Home; return true;
    case 2: k = Named::Insert; return true;
    case 3: k = Named::Delete; return true;
    case 4: case 8: k = Named::End; return true;
    case 5: k = Named::PageUp; return true;
    case 6: k = Named::PageDown; return true;
    case 11: case 12: case 13: case 14: case 15:
      k = static_cast<Named>(static_cast<int>(Named::F1) + n - 11); return true;
    case 17: case 18: case 19: case 20: case 21:
      k = static_cast<Named>(static_cast<int>(Named::F6) + n - 17); return true;
    case 23: k = Named::F11; return true;
    case 24: k = Named::F12; return true;
    default: return false;
  }
}

// A complete CSI sequence: parameter bytes p[0..n), final byte.
void DecodeCsi(const uint8_t* p, size_t n, uint8_t final, uint32_t extra,
               KeySink& out) {
  int params[2] = {0, 0};
  int count = 0;
  bool any = false;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c >= '0' && c <= '9') {
      if (count < 2 && params[count] < 10000) params[count] = params[count] * 10 + (c - '0');
      any = true;
    } else if (c == ';') {
      ++count;
    } else if (c == ':') {
      continue;  // sub-parameters: the digits join the current one's tail; harmless here
    } else {
      return;  // private markers and intermediates: reports, not keys
    }
  }
  const int mod = count >= 1 ? params[1] : 1;
  if (count > 1 || mod > 16) return;  // not a key's modifier: a report of some kind
  const uint32_t state = ModifierState(mod) | extra;
  Named k;
  switch (final) {
    case '~':
      if (TildeKey(params[0], k)) EmitNamed(k, state, out);
      return;
    case '^':  // rxvt: Ctrl
      if (TildeKey(params[0], k)) EmitNamed(k, state | ControlKeyState::LeftCtrl, out);
      return;
    case '@':  // rxvt: Ctrl+Shift
      if (TildeKey(params[0], k))
        EmitNamed(k, state | ControlKeyState::LeftCtrl | ControlKeyState::Shift, out);
      return;
    case 'Z':
      EmitNamed(Named::BackTab, state, out);
      return;
    case 'a': case 'b': case 'c': case 'd':  // rxvt: Shift+arrows
      EmitNamed(static_cast<Named>(static_cast<int>(Named::Up) + (final - 'a')),
                state | ControlKeyState::Shift, out);
      return;
    default:
      // F1..F4 as CSI finals only in the modified form (CSI 1;2P): CSI R alone, or
      // with another first number, is a cursor report.
      if ((final >= 'P' && final <= 'S') && (count < 1 || (any && params[0] != 1))) return;
      if (FinalKey(final, k)) EmitNamed(k, state, out);
      return;
  }
}

void DecodeSs3(int mod, uint8_t final, uint32_t extra, KeySink& out) {
  if (mod > 16) return;
  const uint32_t state = ModifierState(mod) | extra;
  TermKey key;
  if (KeypadKey(final, key)) {
    key.state |= state;
    if (state & ControlKeyState::LeftCtrl) key.character = 0;
    EmitTermKey(key, out);
    return;
  }
  if (final >= 'a' && final <= 'd') {  // rxvt: Ctrl+arrows
    EmitNamed(static_cast<Named>(static_cast<int>(Named::Up) + (final - 'a')),
              state | ControlKeyState::LeftCtrl, out);
    return;
  }
  Named k;
  if (FinalKey(final, k)) EmitNamed(k, state, out);
}

// s[0] is '[' or 'O' (after ESC). Returns the bytes taken from s, 0 to wait for more.
size_t ParseSequence(const uint8_t* s, size_t n, bool final, uint32_t extra,
                     KeySink& out) {
  if (n == 1) {
    if (!final) return 0;
    EmitByte(s[0], extra | kLeftAlt, out);  // ESC [ / ESC O and nothing more: Alt+[ / Alt+O
    return 1;
  }
  if (s[0] == 'O') {
    size_t i = 1;
    int mod = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') mod = (mod * 10 + (s[i++] - '0')) % 1000;
    if (i == n) return final ? n : 0;
    if (s[i] < 0x20 || s[i] > 0x7E) return i;  // broken: drop what came before
    DecodeSs3(mod, s[i], extra, out);
    return i + 1;
  }
  // CSI
  if (s[1] == '[') {  // Linux console F1..F5: ESC [ [ A..E
    if (n == 2) return final ? n : 0;
    if (s[2] >= 'A' && s[2] <= 'E')
      EmitNamed(static_cast<Named>(static_cast<int>(Named::F1) + (s[2] - 'A')), extra, out);
    else if (s[2] < 0x20 || s[2] > 0x7E)
      return 2;
    return 3;
  }
  size_t i = 1;
  while (i < n && s[i] >= 0x30 && s[i] <= 0x3F) ++i;
  const size_t paramEnd = i;
  while (i < n && s[i] >= 0x20 && s[i] <= 0x2F) ++i;
  if (i == n) return final ? n : 0;
  const uint8_t fin = s[i];
  if (fin < 0x40 || fin > 0x7E) return i;  // broken: drop what came before
  if (fin == 'M' && i == 1) {  // X10 mouse report: three more bytes
    if (n < 5) return final ? n : 0;
    return 5;
  }
  if (s[1] == '<' && (fin == 'M' || fin == 'm') && paramEnd == i) {
    DecodeMouse(s + 2, paramEnd - 2, fin == 'M', out);
    return i + 1;
  }
  if (paramEnd == i) DecodeCsi(s + 1, paramEnd - 1, fin, extra, out);
  return i + 1;
}

// One character (ASCII byte or UTF-8 sequence). Returns the bytes taken, 0 to wait.
size_t ParseCharacter(const uint8_t* b, size_t n, bool final, uint32_t extra,
                      KeySink& out) {
  const uint8_t c = b[0];
  if (c < 0x80) {
    EmitByte(c, extra, out);
    return 1;
  }
  size_t len;
  uint32_t cp;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 1;  // not a UTF-8 lead byte: no key
  }
  for (size_t i = 1; i < len; ++i) {
    if (i >= n) return final ? n : 0;
    const uint8_t d = b[i];
    const uint8_t min = i == 1 ? lo : 0x80, max = i == 1 ? hi : 0xBF;
    if (d < min || d > max) return i;  // broken sequence: dropped, d read afresh
    cp = (cp << 6) | (d & 0x3F);
  }
  const uint8_t byte = UnicodeToCp437(cp);
  if (byte != 0) EmitCharacter(byte, extra, out);
  return len;
}

// One token at the start of b. Returns the bytes taken (always > 0 when final).
size_t ParseOne(const uint8_t* b, size_t n, bool final, KeySink& out) {
  if (b[0] != kEsc) return ParseCharacter(b, n, final, 0, out);
  if (n == 1) {
    if (!final) return 0;
    EmitByte(kEsc, 0, out);
    return 1;
  }
  const uint8_t d = b[1];
  if (d == '[' || d == 'O') {
    const size_t r = ParseSequence(b + 1, n - 1, final, 0, out);
    return r ? r + 1 : 0;
  }
  if (d == kEsc) {
    if (n == 2 && !final) return 0;
    if (n > 2 && (b[2] == '[' || b[2] == 'O')) {
      const size_t r = ParseSequence(b + 2, n - 2, final, kLeftAlt, out);
      return r ? r + 2 : 0;
    }
    EmitByte(kEsc, 0, out);  // ESC ESC: the first is a lone ESC
    return 1;
  }
  const size_t r = ParseCharacter(b + 1, n - 1, final, kLeftAlt, out);
  return r ? r + 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoder
// ---------------------------------------------------------------------------


void TermKeyDecoder::Decode(bool final, std::vector<KeyCode>& codes) {
  KeySink out{codes, windowRules_, pointer_, pointerSeen_};
  size_t at = 0;
  while (at < count_) {
    const size_t used = ParseOne(held_ + at, count_ - at, final, out);
    if (used == 0) break;
    at += used;
  }
  if (at > 0) {
    std::memmove(held_, held_ + at, count_ - at);
    count_ -= at;
  }
}

void TermKeyDecoder::Feed(const uint8_t* data, size_t n, std::vector<KeyCode>& out, double now) {
  for (size_t i = 0; i < n; ++i) {
    if (count_ == 0) since_ = now;
    held_[count_++] = data[i];
    Decode(false, out);
    if (count_ == kMaxHeld) Decode(true, out);  // an endless sequence: give it up
  }
}

bool TermKeyDecoder::TakePointer(TermPointer& pointer) {
  if (!pointerSeen_) return false;
  pointer = pointer_;
  pointer_.wheel = 0;
  pointerSeen_ = false;
  return true;
}

void TermKeyDecoder::Flush(std::vector<KeyCode>& out) {
  if (count_ > 0) Decode(true, out);
}

void TermKeyDecoder::FlushStale(double now, std::vector<KeyCode>& out, double wait) {
  if (count_ > 0 && now - since_ >= wait - 1e-9) Decode(true, out);
}

}  // namespace scr
