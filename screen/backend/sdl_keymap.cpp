// sdl_keymap.cpp - SDL keys in the keyboard model of the key tables: PC
// set-1 scan codes, virtual keys, the extended flag, the character of a
// key-down, and the codes a key-down or a text-input event posts.
#ifdef SCREEN_HAVE_SDL

#include <SDL.h>

#include "backend/sdl.h"

namespace scr {

namespace {

namespace Vk = VirtualKey;

constexpr int32_t kVkClear = 0x0C;    // keypad 5 without Num Lock
constexpr int32_t kVkOem102 = 0xE2;   // the extra key left of Z on ISO keyboards
constexpr int32_t kVkNumpad1 = Vk::Numpad0 + 1;

struct KeyRow {
  SDL_Scancode sdl;
  int32_t scan;
  int32_t vk;
  bool extended;
};

// Every key of a PC keyboard with a set-1 scan code. Keypad digits and the
// keypad period are listed with their Num Lock off (navigation) meaning.
constexpr KeyRow kKeys[] = {
    {SDL_SCANCODE_ESCAPE, 1, Vk::Escape, false},
    {SDL_SCANCODE_1, 2, '1', false},
    {SDL_SCANCODE_2, 3, '2', false},
    {SDL_SCANCODE_3, 4, '3', false},
    {SDL_SCANCODE_4, 5, '4', false},
    {SDL_SCANCODE_5, 6, '5', false},
    {SDL_SCANCODE_6, 7, '6', false},
    {SDL_SCANCODE_7, 8, '7', false},
    {SDL_SCANCODE_8, 9, '8', false},
    {SDL_SCANCODE_9, 10, '9', false},
    {SDL_SCANCODE_0, 11, '0', false},
    {SDL_SCANCODE_MINUS, 12, Vk::OemMinus, false},
    {SDL_SCANCODE_EQUALS, 13, Vk::OemPlus, false},
    {SDL_SCANCODE_BACKSPACE, 14, Vk::Back, false},
    {SDL_SCANCODE_TAB, 15, Vk::Tab, false},
    {SDL_SCANCODE_Q, 16, 'Q', false},
    {SDL_SCANCODE_W, 17, 'W', false},
    {SDL_SCANCODE_E, 18, 'E', false},
    {SDL_SCANCODE_R, 19, 'R', false},
    {SDL_SCANCODE_T, 20, 'T', false},
    {SDL_SCANCODE_Y, 21, 'Y', false},
    {SDL_SCANCODE_U, 22, 'U', false},
    {SDL_SCANCODE_I, 23, 'I', false},
    {SDL_SCANCODE_O, 24, 'O', false},
    {SDL_SCANCODE_P, 25, 'P', false},
    {SDL_SCANCODE_LEFTBRACKET, 26, Vk::Oem4, false},
    {SDL_SCANCODE_RIGHTBRACKET, 27, Vk::Oem6, false},
    {SDL_SCANCODE_RETURN, 28, Vk::Return, false},
    {SDL_SCANCODE_LCTRL, 29, Vk::Control, false},
    {SDL_SCANCODE_A, 30, 'A', false},
    {SDL_SCANCODE_S, 31, 'S', false},
    {SDL_SCANCODE_D, 32, 'D', false},
    {SDL_SCANCODE_F, 33, 'F', false},
    {SDL_SCANCODE_G, 34, 'G', false},
    {SDL_SCANCODE_H, 35, 'H', false},
    {SDL_SCANCODE_J, 36, 'J', false},
    {SDL_SCANCODE_K, 37, 'K', false},
    {SDL_SCANCODE_L, 38, 'L', false},
    {SDL_SCANCODE_SEMICOLON, 39, Vk::Oem1, false},
    {SDL_SCANCODE_APOSTROPHE, 40, Vk::Oem7, false},
    {SDL_SCANCODE_GRAVE, 41, Vk::Oem3, false},
    {SDL_SCANCODE_LSHIFT, 42, Vk::Shift, false},
    {SDL_SCANCODE_BACKSLASH, 43, Vk::Oem5, false},
    {SDL_SCANCODE_NONUSHASH, 43, Vk::Oem5, false},
    {SDL_SCANCODE_Z, 44, 'Z', false},
    {SDL_SCANCODE_X, 45, 'X', false},
    {SDL_SCANCODE_C, 46, 'C', false},
    {SDL_SCANCODE_V, 47, 'V', false},
    {SDL_SCANCODE_B, 48, 'B', false},
    {SDL_SCANCODE_N, 49, 'N', false},
    {SDL_SCANCODE_M, 50, 'M', false},
    {SDL_SCANCODE_COMMA, 51, Vk::OemComma, false},
    {SDL_SCANCODE_PERIOD, 52, Vk::OemPeriod, false},
    {SDL_SCANCODE_SLASH, 53, Vk::Oem2, false},
    {SDL_SCANCODE_RSHIFT, 54, Vk::Shift, false},
    {SDL_SCANCODE_KP_MULTIPLY, 55, Vk::Multiply, false},
    {SDL_SCANCODE_LALT, 56, Vk::Menu, false},
    {SDL_SCANCODE_SPACE, 57, Vk::Space, false},
    {SDL_SCANCODE_CAPSLOCK, 58, Vk::Capital, false},
    {SDL_SCANCODE_F1, 59, Vk::F1, false},
    {SDL_SCANCODE_F2, 60, Vk::F1 + 1, false},
    {SDL_SCANCODE_F3, 61, Vk::F1 + 2, false},
    {SDL_SCANCODE_F4, 62, Vk::F1 + 3, false},
    {SDL_SCANCODE_F5, 63, Vk::F1 + 4, false},
    {SDL_SCANCODE_F6, 64, Vk::F1 + 5, false},
    {SDL_SCANCODE_F7, 65, Vk::F1 + 6, false},
    {SDL_SCANCODE_F8, 66, Vk::F1 + 7, false},
    {SDL_SCANCODE_F9, 67, Vk::F1 + 8, false},
    {SDL_SCANCODE_F10, 68, Vk::F10, false},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69, Vk::NumLock, true},
    {SDL_SCANCODE_PAUSE, 69, Vk::Pause, false},
    {SDL_SCANCODE_SCROLLLOCK, 70, Vk::Scroll, false},
    {SDL_SCANCODE_KP_7, 71, Vk::Home, false},
    {SDL_SCANCODE_KP_8, 72, Vk::Up, false},
    {SDL_SCANCODE_KP_9, 73, Vk::Prior, false},
    {SDL_SCANCODE_KP_MINUS, 74, Vk::Subtract, false},
    {SDL_SCANCODE_KP_4, 75, Vk::Left, false},
    {SDL_SCANCODE_KP_5, 76, kVkClear, false},
    {SDL_SCANCODE_KP_6, 77, Vk::Right, false},
    {SDL_SCANCODE_KP_PLUS, 78, Vk::Add, false},
    {SDL_SCANCODE_KP_1, 79, Vk::End, false},
    {SDL_SCANCODE_KP_2, 80, Vk::Down, false},
    {SDL_SCANCODE_KP_3, 81, Vk::Next, false},
    {SDL_SCANCODE_KP_0, 82, Vk::Insert, false},
    {SDL_SCANCODE_KP_PERIOD, 83, Vk::Delete, false},
    {SDL_SCANCODE_NONUSBACKSLASH, 86, kVkOem102, false},
    {SDL_SCANCODE_F11, 87, Vk::F11, false},
    {SDL_SCANCODE_F12, 88, Vk::F12, false},
    // The enhanced keys: same scan codes as their keypad twins, extended flag set.
    {SDL_SCANCODE_KP_ENTER, 28, Vk::Return, true},
    {SDL_SCANCODE_RCTRL, 29, Vk::Control, true},
    {SDL_SCANCODE_KP_DIVIDE, 53, Vk::Divide, true},
    {SDL_SCANCODE_PRINTSCREEN, 55, Vk::Snapshot, true},
    {SDL_SCANCODE_RALT, 56, Vk::Menu, true},
    {SDL_SCANCODE_HOME, 71, Vk::Home, true},
    {SDL_SCANCODE_UP, 72, Vk::Up, true},
    {SDL_SCANCODE_PAGEUP, 73, Vk::Prior, true},
    {SDL_SCANCODE_LEFT, 75, Vk::Left, true},
    {SDL_SCANCODE_RIGHT, 77, Vk::Right, true},
    {SDL_SCANCODE_END, 79, Vk::End, true},
    {SDL_SCANCODE_DOWN, 80, Vk::Down, true},
    {SDL_SCANCODE_PAGEDOWN, 81, Vk::Next, true},
    {SDL_SCANCODE_INSERT, 82, Vk::Insert, true},
    {SDL_SCANCODE_DELETE, 83, Vk::Delete, true},
    {SDL_SCANCODE_LGUI, 91, Vk::LWin, true},
    {SDL_SCANCODE_RGUI, 92, Vk::RWin, true},
    {SDL_SCANCODE_APPLICATION, 93, Vk::Apps, true},
};

const KeyRow* FindKey(int32_t scancode) {
  for (const KeyRow& row : kKeys)
    if (row.sdl == scancode) return &row;
  return nullptr;
}

// The keypad keys that change meaning with Num Lock: SDL scancode -> digit or '.'.
int32_t KeypadChar(int32_t scancode) {
  switch (scancode) {
    case SDL_SCANCODE_KP_0: return '0';
    case SDL_SCANCODE_KP_PERIOD: return '.';
    default:
      if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9)
        return '1' + (scancode - SDL_SCANCODE_KP_1);
      return 0;
  }
}

// US layout: the character of a printable ASCII key with Shift held.
int32_t ShiftedAscii(int32_t c) {
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  static constexpr char kFrom[] = "1234567890-=[]\\;',./`";
  static constexpr char kTo[] = "!@#$%^&*()_+{}|:\"<>?~";
  for (int i = 0; kFrom[i]; ++i)
    if (kFrom[i] == c) return static_cast<unsigned char>(kTo[i]);
  return c;
}

// Decodes one UTF-8 sequence at s; advances s. Bad bytes give U+FFFD.
uint32_t NextCodePoint(const unsigned char*& s) {
  const unsigned char b = *s++;
  if (b < 0x80) return b;
  int extra = 0;
  uint32_t cp = 0;
  if ((b & 0xE0) == 0xC0) {
    extra = 1;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3;
    cp = b & 0x07;
  } else {
    return 0xFFFD;
  }
  for (int i = 0; i < extra; ++i) {
    if ((*s & 0xC0) != 0x80) return 0xFFFD;  // truncated: leave the byte for the next round
    cp = (cp << 6) | (*s++ & 0x3F);
  }
  return cp;
}

}  // namespace

SdlKeyInfo SdlKeyInfoOf(int32_t scancode, int32_t keycode, bool numLock) {
  SdlKeyInfo info;
  const KeyRow* row = FindKey(scancode);
  if (!row) return info;
  info.scan = row->scan;
  info.vk = row->vk;
  info.extended = row->extended;
  if (const int32_t kp = KeypadChar(scancode); kp && numLock)
    info.vk = kp == '.' ? Vk::Decimal : (kp == '0' ? Vk::Numpad0 : kVkNumpad1 + (kp - '1'));
  // Letters and digits follow the layout, as the platform's virtual keys do.
  if (keycode >= 'a' && keycode <= 'z') info.vk = keycode - 'a' + 'A';
  else if (keycode >= '0' && keycode <= '9' && !KeypadChar(scancode)) info.vk = keycode;
  return info;
}

uint32_t SdlControlState(uint32_t mod) {
  uint32_t state = 0;
  if (mod & KMOD_SHIFT) state |= ControlKeyState::Shift;
  if (mod & KMOD_LCTRL) state |= ControlKeyState::LeftCtrl;
  if (mod & KMOD_RCTRL) state |= ControlKeyState::RightCtrl;
  if (mod & KMOD_LALT) state |= ControlKeyState::LeftAlt;
  if (mod & KMOD_RALT) state |= ControlKeyState::RightAlt;
  return state;
}

int32_t SdlKeyChar(int32_t scancode, int32_t keycode, uint32_t mod, bool numLock) {
  const bool ctrl = (mod & KMOD_CTRL) != 0;
  const bool shift = (mod & KMOD_SHIFT) != 0;
  switch (scancode) {
    case SDL_SCANCODE_ESCAPE: return 27;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return ctrl ? 10 : 13;
    case SDL_SCANCODE_BACKSPACE: return ctrl ? 127 : 8;
    case SDL_SCANCODE_TAB: return ctrl ? 0 : 9;
    case SDL_SCANCODE_KP_DIVIDE: return ctrl ? 0 : '/';
    case SDL_SCANCODE_KP_MULTIPLY: return ctrl ? 0 : '*';
    case SDL_SCANCODE_KP_MINUS: return ctrl ? 0 : '-';
    case SDL_SCANCODE_KP_PLUS: return ctrl ? 0 : '+';
    default: break;
  }
  if (const int32_t kp = KeypadChar(scancode)) return numLock && !ctrl ? kp : 0;
  if (keycode < 32 || keycode >= 127) return 0;
  if (ctrl) {
    if (keycode >= 'a' && keycode <= 'z') return keycode - 'a' + 1;
    if (keycode == '[') return 27;
    if (keycode == '\\') return 28;
    if (keycode == ']') return 29;
    return 0;
  }
  int32_t c = shift ? ShiftedAscii(keycode) : keycode;
  if ((mod & KMOD_CAPS) && c >= 'a' && c <= 'z') c = c - 'a' + 'A';
  else if ((mod & KMOD_CAPS) && c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
  return c;
}

bool SdlIsSystemKey(int32_t scancode, uint32_t mod) {
  if (scancode == SDL_SCANCODE_F10 || scancode == SDL_SCANCODE_LALT || scancode == SDL_SCANCODE_RALT)
    return true;
  return (mod & KMOD_ALT) != 0 && (mod & KMOD_CTRL) == 0;
}

int SdlKeyDownCodes(int32_t scancode, int32_t keycode, uint32_t mod, bool numLock, KeyCode out[2]) {
  if (SdlIsSystemKey(scancode, mod)) return 0;
  const SdlKeyInfo info = SdlKeyInfoOf(scancode, keycode, numLock);
  if (info.scan == 0) return 0;
  const int32_t ch = SdlKeyChar(scancode, keycode, mod, numLock);
  int n = 0;
  uint32_t state = SdlControlState(mod);
  if (info.extended) state |= ControlKeyState::Enhanced;
  // The key's own code goes down with the key, before its character.
  const KeyCode code = TranslateKey(ch, info.scan, info.vk, state, 0);
  if (code > 255) out[n++] = code;
  // SDL's text input carries no control characters: the key-down stands in
  // for the character event of those.
  if (ch > 0 && (ch < 32 || ch == 127)) out[n++] = ch;
  return n;
}

int SdlTextCodes(const char* utf8, KeyCode* out, int max) {
  int n = 0;
  if (!utf8) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
  while (*s && n < max) {
    const uint32_t cp = NextCodePoint(s);
    if (cp < 32 || cp == 127) continue;  // control characters come from the key-down
    const uint8_t b = UnicodeToCp437(cp);
    if (b != 0) out[n++] = static_cast<int8_t>(b);
  }
  return n;
}

int SdlTableScans(SDL_Scancode sdl, int32_t scans[2]) {
  // Keys that stand for others: either Shift for both, keypad minus for 12.
  const bool shift = sdl == SDL_SCANCODE_LSHIFT || sdl == SDL_SCANCODE_RSHIFT;
  scans[0] = shift ? 42 : sdl == SDL_SCANCODE_KP_MINUS ? 12 : 0;
  scans[1] = 54;
  if (scans[0]) return shift ? 2 : 1;
  if (sdl == SDL_SCANCODE_PRINTSCREEN || sdl == SDL_SCANCODE_PAUSE) return 0;
  for (const KeyRow& row : kKeys) {
    // Scan codes the table leaves out: keypad 5, 84 to 86.
    if (row.sdl != sdl || row.scan == 76 || (row.scan >= 84 && row.scan <= 86)) continue;
    scans[0] = row.scan;
    return 1;
  }
  return 0;
}

void SdlRefreshKeyState(const uint8_t* sdlState, int32_t count, uint8_t keyState[128]) {
  for (int i = 0; i < 128; ++i) keyState[i] = 0;
  for (int32_t sdl = 0; sdlState && sdl < count; ++sdl) {
    int32_t scans[2];
    for (int n = sdlState[sdl] ? SdlTableScans(SDL_Scancode(sdl), scans) : 0; n-- > 0;) keyState[scans[n]] = 1;
  }
}


}  // namespace scr

#endif  // SCREEN_HAVE_SDL
