// web.cpp - the "Web" back-end: the visible page on the page's <canvas>.
//
// A page has one thread and no Presenter: the program's loop body runs once
// per animation frame (emscripten's main loop), and its postMainLoop hook
// then does the Presenter's work: the dirty rows, through the shown colours,
// onto the canvas. The platform lock is a plain flag, as on the windowless
// back-end. Keys come from the page's keyboard events (the on-screen keypad
// sends such events too) through the window's key rules. The pointer is
// the page's pointer events over the canvas only (a touch counts as the left
// button, so the keypad keeps its touches); a page cannot move it.
#ifdef __EMSCRIPTEN__

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "backend/backend.h"
#include "backend/presenter.h"

namespace scr {

namespace {

namespace Vk = VirtualKey;

struct Page {
  bool locked = false;
  Frame frame;
  std::vector<uint32_t> rgba;  // the rows being drawn, as canvas bytes
  uint8_t held[128] = {};
} gPage;

struct KeyRow {
  const char* code;  // KeyboardEvent.code
  int32_t scan, vk;
  bool extended;
};

// The keys that are not a letter, a main-row digit or F1..F12. Keypad keys
// are listed with their Num Lock off (navigation) meaning.
constexpr KeyRow kKeys[] = {
    {"Escape", 1, Vk::Escape, false},       {"Minus", 12, Vk::OemMinus, false},
    {"Equal", 13, Vk::OemPlus, false},      {"Backspace", 14, Vk::Back, false},
    {"Tab", 15, Vk::Tab, false},            {"Enter", 28, Vk::Return, false},
    {"Space", 57, Vk::Space, false},        {"Numpad7", 71, Vk::Home, false},
    {"Numpad8", 72, Vk::Up, false},         {"Numpad9", 73, Vk::Prior, false},
    {"Numpad4", 75, Vk::Left, false},       {"Numpad5", 76, 0x0C, false},
    {"Numpad6", 77, Vk::Right, false},      {"Numpad1", 79, Vk::End, false},
    {"Numpad2", 80, Vk::Down, false},       {"Numpad3", 81, Vk::Next, false},
    {"Numpad0", 82, Vk::Insert, false},     {"NumpadDecimal", 83, Vk::Delete, false},
    {"NumpadEnter", 28, Vk::Return, true},  {"NumpadDivide", 53, Vk::Divide, true},
    {"Home", 71, Vk::Home, true},           {"ArrowUp", 72, Vk::Up, true},
    {"PageUp", 73, Vk::Prior, true},        {"ArrowLeft", 75, Vk::Left, true},
    {"ArrowRight", 77, Vk::Right, true},    {"End", 79, Vk::End, true},
    {"ArrowDown", 80, Vk::Down, true},      {"PageDown", 81, Vk::Next, true},
    {"Insert", 82, Vk::Insert, true},       {"Delete", 83, Vk::Delete, true},
};

// Scan code, virtual key and extended flag of a KeyboardEvent.code; false for keys without one.
bool FindKey(const char* code, KeyRow& out) {
  static const char* const kLetterRows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  static const int32_t kLetterScan[] = {16, 30, 44};
  for (const KeyRow& row : kKeys)
    if (std::strcmp(row.code, code) == 0) return out = row, true;
  if (std::strncmp(code, "Digit", 5) == 0 && code[5] >= '0' && code[5] <= '9' && !code[6])
    return out = {code, code[5] == '0' ? 11 : code[5] - '0' + 1, code[5], false}, true;
  if (std::strncmp(code, "Key", 3) == 0 && code[3] >= 'A' && code[3] <= 'Z' && !code[4])
    for (int r = 0; r < 3; ++r)
      if (const char* at = std::strchr(kLetterRows[r], code[3]))
        return out = {code, kLetterScan[r] + int32_t(at - kLetterRows[r]), code[3], false}, true;
  const int n = code[0] == 'F' ? std::atoi(code + 1) : 0;  // F1..F12
  if (n >= 1 && n <= 12) return out = {code, n <= 10 ? 58 + n : 76 + n, Vk::F1 + n - 1, false}, true;
  return false;
}

// The character a key-down types (control characters included; 0 for none).
int32_t KeyChar(const KeyRow& key, const EmscriptenKeyboardEvent* e) {
  if (key.vk == Vk::Escape) return 27;
  if (key.vk == Vk::Return) return e->ctrlKey ? 10 : 13;
  if (key.vk == Vk::Back) return e->ctrlKey ? 127 : 8;
  if (key.vk == Vk::Tab) return e->ctrlKey ? 0 : 9;
  if (e->ctrlKey) return key.vk >= 'A' && key.vk <= 'Z' ? key.vk - 'A' + 1 : 0;
  const int32_t cp = EM_ASM_INT({ const k = [...UTF8ToString($0)]; return k.length == 1 ? k[0].codePointAt(0) : 0; }, e->key);
  return cp < 128 ? cp : UnicodeToCp437(uint32_t(cp));
}

// Key-downs and key-ups; the key-state table follows both. A key-down posts
// the key's own code when it has an extended one, then its character. F10
// and Alt without Ctrl are the system's and post nothing, as in the desktop
// window.
EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
  KeyRow key;
  if (!FindKey(e->code, key)) return EM_FALSE;
  const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
  const bool system = key.vk == Vk::F10 || (e->altKey && !e->ctrlKey);
  gPage.held[key.scan] = down;
  const int32_t ch = down && !system ? KeyChar(key, e) : 0;
  // A keypad key that types a digit or '.' has Num Lock on.
  if (key.scan >= 71 && !key.extended && ((ch >= '0' && ch <= '9') || ch == '.'))
    key.vk = ch == '.' ? Vk::Decimal : Vk::Numpad0 + ch - '0';
  const uint32_t state = (e->shiftKey ? ControlKeyState::Shift : 0) |
                         (e->ctrlKey ? ControlKeyState::LeftCtrl : 0) | (key.extended ? ControlKeyState::Enhanced : 0);
  const KeyCode code = down && !system ? TranslateKey(ch, key.scan, key.vk, state, 0) : 0;
  gPage.locked = true;
  if (code > 255) PostWindowKey(code);
  if (ch > 0) PostWindowKey(static_cast<int8_t>(ch));
  SetKeyStates(gPage.held);
  gPage.locked = false;
  return EM_TRUE;
}

// Focus gained or lost: nothing is held any more.
EM_BOOL OnFocus(int, const EmscriptenFocusEvent*, void*) {
  std::memset(gPage.held, 0, sizeof gPage.held);
  gPage.locked = true;
  SetKeyStates(gPage.held);
  gPage.locked = false;
  return EM_FALSE;
}

void Lock() { gPage.locked = true; }
void Unlock() { gPage.locked = false; }

int Open(const BackendOpenArgs& args, std::string& reason) {
  if (args.width <= 0 || args.windowHeight <= 0) {
    reason = "the canvas has no size";
    return -1;
  }
  gPage.frame = Frame{};
  EM_ASM({
    const c = Module['canvas'];
    c.width = $0;
    c.height = $1;
    c.getContext('2d').clearRect(0, 0, $0, $1);
    Module['postMainLoop'] = Module['_WebPresent'];
  }, args.width, args.windowHeight);
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
  emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
  emscripten_set_focus_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnFocus);
  emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnFocus);
  EM_ASM({
    const c = Module['canvas'];
    // The canvas pixel under the pointer, through the canvas's CSS size; its buttons are ours (1, 2, 4).
    const post = (e, steps, off) => {
      const r = c.getBoundingClientRect();
      const x = off ? -1 : Math.floor((e.clientX - r.left) * c.width / r.width);
      Module['_WebPointer'](x, off ? -1 : Math.floor((e.clientY - r.top) * c.height / r.height), e.buttons & 7, steps);
    };
    const wheel = (e) => (e.preventDefault(), post(e, Math.sign(-e.deltaY), false));
    const h = Module['pointerHandlers'] = {};  // (no comma outside brackets: EM_ASM is a macro)
    h.pointermove = h.pointerdown = h.pointerup = (e) => post(e, 0, false);
    h.pointerleave = h.pointercancel = (e) => post(e, 0, true);
    h.wheel = wheel;
    c.style.touchAction = 'none';  // a finger on the canvas neither scrolls nor zooms the page
    for (const k in h) c.addEventListener(k, h[k], {passive: false});
  });
  return 0;
}

void Close() {
  EM_ASM({
    Module['postMainLoop'] = null;
    const c = Module['canvas'];
    const h = Module['pointerHandlers'] || {};
    for (const k in h) c.removeEventListener(k, h[k], {passive: false});
    Module['pointerHandlers'] = null;
    c.style.cursor = "";
  });
  emscripten_html5_remove_all_event_listeners();
  gPage.frame = Frame{};
}

}  // namespace

// A pointer event on the canvas: x and row in canvas pixels (-1, -1 when it left).
extern "C" EMSCRIPTEN_KEEPALIVE void WebPointer(int32_t x, int32_t row, int32_t buttons, int32_t steps) {
  gPage.locked = true;
  SetPointer(x, row, buttons, steps);
  gPage.locked = false;
}

// The Presenter's work, after each run of the program's loop body: the
// changed rows (all of them after a palette change) onto the canvas.
extern "C" EMSCRIPTEN_KEEPALIVE void WebPresent() {
  Frame& f = gPage.frame;
  gPage.locked = true;
  const bool changed = TakeChanges(f);
  gPage.locked = false;
  if (f.titleChanged) EM_ASM({ document.title = UTF8ToString($0); }, f.title.c_str());
  if (f.pointerShown >= 0) EM_ASM({ Module['canvas'].style.cursor = $0 ? "" : "none"; }, f.pointerShown);
  if (!changed) return;
  const int32_t first = f.paletteChanged ? 0 : f.firstDirty;
  const int32_t last = f.paletteChanged ? f.height - 1 : f.lastDirty;
  if (first < 0 || last < first) return;
  gPage.rgba.resize(size_t(f.width) * size_t(last - first + 1));
  for (int32_t y = first; y <= last; ++y) {
    uint32_t* row = gPage.rgba.data() + size_t(y - first) * size_t(f.width);
    FrameRowToRgb(f, y, row);
    for (int32_t x = 0; x < f.width; ++x)  // 0xRRGGBB -> the canvas's R, G, B, A bytes
      row[x] = 0xFF000000u | ((row[x] & 0xFF) << 16) | (row[x] & 0xFF00) | ((row[x] >> 16) & 0xFF);
  }
  EM_ASM({
    const data = new Uint8ClampedArray(HEAPU8.buffer, $0, $1 * $2 * 4);
    Module['canvas'].getContext('2d').putImageData(new ImageData(data, $1, $2), 0, $3);
  }, gPage.rgba.data(), f.width, last - first + 1, first);
}

extern const Backend kWebBackend = {"Web", Open, Close, Lock, Unlock, nullptr, true};

}  // namespace scr

#endif  // __EMSCRIPTEN__
