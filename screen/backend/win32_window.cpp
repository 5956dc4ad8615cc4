// win32_window.cpp - the window and Presenter that the Windows back-ends share.
//
// The Presenter thread creates the window, so its messages arrive on that
// thread; the window procedure runs during the pass's message pump, outside
// the platform lock, and only records keys, the pointer and requests. The
// pass then applies them under the lock, as every other back-end does.
#include "backend/win32_window.h"

#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "backend/presenter.h"
#include "backend/vkstate.h"

namespace scr {

namespace {

namespace F = ScreenFlag;
constexpr char kClassName[] = "ScreenLayerWindow";

struct Window {
  std::mutex lock;  // the platform lock
  PresenterThread thread;
  const Surface* surface = nullptr;

  // Set by open before the thread starts; read-only afterwards.
  std::string title;
  int32_t width = 0, height = 0, depth = 8, flags = 0;
  int32_t scale = 1;  // whole window pixels a page pixel in a window (the Presenter's own once it runs)

  // The Presenter thread's own.
  Frame frame;
  std::vector<uint8_t> shown;  // the frame's rows as the surface was last given them
  HWND hwnd = nullptr;
  bool active = false, fullscreen = false;
  // Recorded by the window procedure during the pump, applied by the pass.
  std::vector<KeyCode> keys;
  std::vector<std::pair<int32_t, bool>> keyEdges;  // virtual key, down
  bool focusChanged = false, presentAll = false, toggleFullScreen = false;
  // The pointer: its client position while over the client area or captured
  // (mouseIn), the buttons held (1 left, 2 right, 4 middle), the wheel's
  // delta short of a whole step and the whole steps not yet passed on.
  POINT mouse{-1, -1};
  bool mouseIn = false, leaveTracked = false, cursorHidden = false;
  int32_t buttons = 0, wheelDelta = 0, wheelSteps = 0;
  int32_t newDpi = 0;  // the display's dots an inch after a move to a monitor of another scale
  std::atomic<uint64_t> passes{0};
  std::string failure;  // why its start failed, read by open once the thread has answered
};

Window gWindow;

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

bool Down(const BYTE* keys, int vk) { return (keys[vk] & 0x80) != 0; }

uint32_t ControlState(const BYTE* k, LPARAM lParam) {
  uint32_t state = 0;
  if (Down(k, VK_SHIFT) || Down(k, VK_LSHIFT) || Down(k, VK_RSHIFT)) state |= ControlKeyState::Shift;
  if (Down(k, VK_CONTROL) || Down(k, VK_LCONTROL)) state |= ControlKeyState::LeftCtrl;
  if (Down(k, VK_RCONTROL)) state |= ControlKeyState::RightCtrl;
  if (Down(k, VK_MENU) || Down(k, VK_LMENU)) state |= ControlKeyState::LeftAlt;
  if (Down(k, VK_RMENU)) state |= ControlKeyState::RightAlt;
  if (lParam & (1 << 24)) state |= ControlKeyState::Enhanced;
  return state;
}

// A UTF-16 character in code page 437 by the system's conversion, which
// gives its substitute for what 437 lacks (€); 0 for 0.
uint8_t Cp437Of(wchar_t wide) {
  char cp437 = 0;
  if (wide != 0) WideCharToMultiByte(437, 0, &wide, 1, &cp437, 1, nullptr, nullptr);
  return uint8_t(cp437);
}

// The key's character in the layout, in code page 437 as TranslateKey
// compares it: none for a dead key, else what the key gives with the
// keyboard state when that is exactly one character.
int32_t LayoutChar(UINT vk, UINT scan, const BYTE* keys) {
  if (MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR) & 0x80000000u) return 0;
  wchar_t out[4] = {};
  return ToUnicode(vk, scan, keys, out, 4, 0) == 1 ? Cp437Of(out[0]) : 0;
}

// A key-down, key-up or system key-down: its code, posted (key-downs only,
// codes above 255 only) as often as the repeat count says. True when the
// message must not reach the default handling (F10, Alt, Alt+F4).
bool OnKey(UINT message, WPARAM vk, LPARAM lParam) {
  Window& w = gWindow;
  BYTE keys[256];
  GetKeyboardState(keys);
  const UINT scan = (lParam >> 16) & 0xFF;
  const int32_t ch = LayoutChar(UINT(vk), scan, keys);
  const KeyCode code = TranslateKey(ch, int32_t(scan), int32_t(vk), ControlState(keys, lParam), 0);
  if (message == WM_KEYDOWN && code > 255)
    for (int n = int(lParam & 0xFFFF); n > 0; --n) w.keys.push_back(code);
  return vk == VK_F10 || vk == VK_MENU || code == CloseKey;
}

// A character: from the ANSI code page through UTF-16 to code page 437.
void OnChar(WPARAM c, LPARAM lParam) {
  if (c > 255) return;
  const char byte = char(c);
  wchar_t wide = 0;
  const uint8_t cp437 = MultiByteToWideChar(CP_ACP, 0, &byte, 1, &wide, 1) == 1 ? Cp437Of(wide) : 0;
  for (int n = int(lParam & 0xFFFF); n > 0; --n) gWindow.keys.push_back(KeyCode(int8_t(cp437)));
}

// ---------------------------------------------------------------------------
// The window
// ---------------------------------------------------------------------------

DWORD WindowedStyle() {
  Window& w = gWindow;
  if (w.flags & F::Borderless) return WS_POPUP;
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  if (!(w.flags & F::NoSwitch)) style |= WS_MAXIMIZEBOX;
  return style;
}

// The whole-number scale of the window: SCRSCALE, else the display's (a step
// per 96 dots an inch, rounded: 150 % gives 2), cut to the largest at which
// the window fits the work area of its monitor (the primary one before it exists).
int32_t FittingScale(int dpi) {
  Window& w = gWindow;
  int32_t scale = ScaleFromEnvironment();
  if (scale == 0) scale = std::max(1, (dpi + 48) / 96);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (w.hwnd && GetMonitorInfoA(MonitorFromWindow(w.hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) work = monitor.rcWork;
  else SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  for (; scale > 1; --scale) {
    RECT r{0, 0, w.width * scale, w.height * scale};
    AdjustWindowRectEx(&r, WindowedStyle(), FALSE, 0);
    if (r.right - r.left <= work.right - work.left && r.bottom - r.top <= work.bottom - work.top) break;
  }
  return scale;
}

// The display's dots an inch, as this DPI-aware process sees them.
int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// Per-monitor DPI aware, so that Windows does not stretch, and blur, the
// window's pixels on a scaled display: the per-monitor call where the system
// has it (Windows 10), else the system-wide one (Vista on).
void DeclareDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  const auto setContext = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
  const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(intptr_t(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (!setContext || !setContext(perMonitorV2)) SetProcessDPIAware();
}

// The window's outer size and place: centred with a client area of the page
// at the window's scale, or the whole screen.
RECT Placement(bool fullscreen, DWORD style) {
  Window& w = gWindow;
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (fullscreen) return RECT{0, 0, sw, sh};
  RECT r{0, 0, w.width * w.scale, w.height * w.scale};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int ww = r.right - r.left, wh = r.bottom - r.top;
  const int x = std::max(0, (sw - ww) / 2), y = std::max(0, (sh - wh) / 2);
  return RECT{x, y, x + ww, y + wh};
}

void SetFullScreen(bool on) {
  Window& w = gWindow;
  const DWORD style = on ? WS_POPUP : WindowedStyle();
  const RECT r = Placement(on, style);
  SetWindowLongPtrA(w.hwnd, GWL_STYLE, LONG_PTR(style | WS_VISIBLE));
  SetWindowPos(w.hwnd, (w.flags & F::OnTop) ? HWND_TOPMOST : HWND_TOP, r.left, r.top, r.right - r.left,
               r.bottom - r.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
  w.fullscreen = on;
  w.presentAll = true;
}

// Where the picture goes in the client area: the whole of it, at the
// window's scale, in a window; in full screen the largest whole-number scale, centred.
RECT PictureRect(const RECT& client) {
  Window& w = gWindow;
  if (!w.fullscreen) return RECT{0, 0, w.width * w.scale, w.height * w.scale};
  const int cw = client.right, ch = client.bottom;
  const int scale = std::max(1, std::min(cw / std::max(1, w.width), ch / std::max(1, w.height)));
  const int pw = w.width * scale, ph = w.height * scale;
  const int x = (cw - pw) / 2, y = (ch - ph) / 2;
  return RECT{x, y, x + pw, y + ph};
}

// ---------------------------------------------------------------------------
// The pointer
// ---------------------------------------------------------------------------

// A client-area mouse message: the position (outside the client area too
// while captured), the buttons from its key-state flags, the mouse captured
// while any is held so that a release outside still arrives, and the leave
// asked for so that the pointer is seen to go.
void OnMouse(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  Window& w = gWindow;
  w.mouse = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  w.mouseIn = true;
  w.buttons = (wParam & MK_LBUTTON ? 1 : 0) | (wParam & MK_RBUTTON ? 2 : 0) | (wParam & MK_MBUTTON ? 4 : 0);
  if (w.buttons && GetCapture() != hwnd) SetCapture(hwnd);
  if (!w.buttons && GetCapture() == hwnd) ReleaseCapture();
  if (!w.leaveTracked) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    w.leaveTracked = TrackMouseEvent(&track) != 0;
  }
}

// Wheel steps of WHEEL_DELTA, up positive; a finer wheel's part-steps add up.
void OnWheel(int32_t delta) {
  Window& w = gWindow;
  w.wheelDelta += delta;
  w.wheelSteps += w.wheelDelta / WHEEL_DELTA;
  w.wheelDelta %= WHEEL_DELTA;
}

// Client pixels a picture pixel covers.
int32_t ScaleOf(const RECT& picture) {
  return std::max<int32_t>(1, (picture.right - picture.left) / std::max(1, gWindow.width));
}

// The picture's pixel under client point p: column and window row, -1 left
// of or above the picture (SetPointer takes anything beyond it as off it).
void ClientToPicture(const RECT& picture, POINT p, int32_t& x, int32_t& row) {
  const int32_t scale = ScaleOf(picture);
  x = p.x >= picture.left ? (p.x - picture.left) / scale : -1;
  row = p.y >= picture.top ? (p.y - picture.top) / scale : -1;
}

// SetMouse's requests: the pointer to the centre of a picture pixel, shown
// or hidden over the client area (WM_SETCURSOR keeps it so).
void ApplyPointerRequests(const RECT& picture) {
  Window& w = gWindow;
  if (w.frame.pointerMove) {
    const int32_t scale = ScaleOf(picture);
    POINT p{picture.left + w.frame.pointerX * scale + scale / 2, picture.top + w.frame.pointerRow * scale + scale / 2};
    w.mouse = p;
    w.mouseIn = true;
    ClientToScreen(w.hwnd, &p);
    SetCursorPos(p.x, p.y);
  }
  if (w.frame.pointerShown >= 0) {
    w.cursorHidden = w.frame.pointerShown == 0;
    if (w.mouseIn) SetCursor(w.cursorHidden ? nullptr : LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window& w = gWindow;
  // Presses (bit 30: the key was down already, an auto-repeat) and releases,
  // for KeyPressed / KeyReleased: a tap inside one pass leaves no mark on the
  // key-state table.
  const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  if ((down && !(lParam & (1 << 30))) || message == WM_KEYUP || message == WM_SYSKEYUP)
    w.keyEdges.emplace_back(int32_t(wParam), down);
  switch (message) {
    case WM_CLOSE:  // the close button: a key, and the window stays
      w.keys.push_back(CloseKey);
      return 0;
    case WM_ACTIVATE:
      w.active = LOWORD(wParam) != WA_INACTIVE;
      w.focusChanged = true;
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      w.presentAll = true;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the pass paints every pixel
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      OnMouse(hwnd, wParam, lParam);
      return 0;
    case WM_MOUSEWHEEL:
      OnWheel(GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case WM_MOUSELEAVE:
      w.mouseIn = w.leaveTracked = false;
      return 0;
    case WM_CAPTURECHANGED:  // taken by another window: the releases will not come here
      if (reinterpret_cast<HWND>(lParam) != hwnd) w.buttons = 0;
      return 0;
    case WM_SETCURSOR:  // over the client area: none while SetMouse hides it, else the arrow
      if (LOWORD(lParam) != HTCLIENT) break;
      SetCursor(w.cursorHidden ? nullptr : LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
      return TRUE;
    case WM_QUERYNEWPALETTE:  // about to be active: the window's colours take the display's palette first
      if (!w.surface->realize) break;
      if (w.surface->realize(hwnd, false)) w.presentAll = true;
      return TRUE;
    case WM_PALETTECHANGED:  // another window took the palette: the colours fitted into what is left
      if (w.surface->realize && reinterpret_cast<HWND>(wParam) != hwnd && w.surface->realize(hwnd, true))
        w.presentAll = true;
      return 0;
    case WM_DPICHANGED:  // moved to a monitor of another scale: the pass fits the window to it
      w.newDpi = LOWORD(wParam);
      return 0;
    case WM_GETMINMAXINFO:
      if (!w.fullscreen && w.width > 0) {
        const RECT r = Placement(false, WindowedStyle());
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = info->ptMaxTrackSize = POINT{r.right - r.left, r.bottom - r.top};
      }
      return 0;
    case WM_SYSCOMMAND:
      // Alt, F10 and Alt+letter open no menu; Alt+Space opens the window menu.
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam != ' ') return 0;
      if ((wParam & 0xFFF0) == SC_MAXIMIZE) {
        if (w.active && !(w.flags & F::NoSwitch)) w.toggleFullScreen = true;
        return 0;
      }
      break;
    case WM_SYSKEYDOWN:
      if (wParam == VK_RETURN && (lParam & (1 << 29))) {  // Alt+Enter, not its repeats
        if (!(lParam & (1 << 30)) && w.active && !(w.flags & F::NoSwitch)) w.toggleFullScreen = true;
        return 0;
      }
      [[fallthrough]];
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (OnKey(message, wParam, lParam)) return 0;
      break;
    case WM_SYSKEYUP:
      if (wParam == VK_F10 || wParam == VK_MENU) return 0;
      break;
    case WM_CHAR:
      OnChar(wParam, lParam);
      return 0;
    case WM_SYSCHAR:  // characters of keys pressed with Alt give nothing; Alt+Space goes on to the menu
      if (wParam != ' ') return 0;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.style = CS_OWNDC;  // OpenGL keeps its pixel format on the window's own DC
    c.lpfnWndProc = WindowProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the arrow
    c.hbrBackground = nullptr;
    c.lpszClassName = kClassName;
    c.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // the application icon
    return RegisterClassExA(&c) != 0;
  }();
  return registered;
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// A UTF-8 title on the window. The window's class is an ANSI one, so the text
// goes to the Unicode default procedure directly: through SetWindowTextW it
// would pass the ANSI code page and lose what that lacks.
void SetTitleText(HWND hwnd, const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), int(wide.size()));
  wide.resize(size_t(n > 0 ? n : 0));
  DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

// On the Presenter thread: the window, centred and fixed in size, brought to
// the foreground, then the surface.
bool StartWindow() {
  Window& w = gWindow;
  if (!RegisterClassOnce()) {
    w.failure = "RegisterClassExA failed";
    return false;
  }
  const bool fullscreen = (w.flags & F::FullScreen) != 0;
  const DWORD style = fullscreen ? WS_POPUP : WindowedStyle();
  w.scale = FittingScale(SystemDpi());
  const RECT r = Placement(fullscreen, style);
  w.hwnd = CreateWindowExA((w.flags & F::OnTop) ? WS_EX_TOPMOST : 0, kClassName, w.title.c_str(), style, r.left,
                           r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
  if (!w.hwnd) {
    w.failure = "CreateWindowExA failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  SetTitleText(w.hwnd, w.title);
  w.fullscreen = fullscreen;
  if (!w.surface->start(w.hwnd, w.width, w.height, w.depth, w.failure)) {
    DestroyWindow(w.hwnd);
    w.hwnd = nullptr;
    Pump();
    return false;
  }
  ShowWindow(w.hwnd, SW_SHOW);
  SetForegroundWindow(w.hwnd);
  w.presentAll = true;
  return true;
}

// Rows first..last narrowed to those that differ from the ones the surface
// has, which `shown` then holds: a page copied whole each frame repeats most
// of its rows, and each row shown costs its conversion and its way to the
// screen. With `all` (new colours, a new size, the focus changed) every row is
// taken as it is.
void KeepChangedRows(int32_t& first, int32_t& last, bool all) {
  Window& w = gWindow;
  if (all || w.shown.size() != w.frame.pixels.size()) {
    w.shown = w.frame.pixels;
    return;
  }
  const size_t pitch = w.frame.pixels.size() / size_t(w.frame.height);
  const uint8_t* now = w.frame.pixels.data();
  uint8_t* had = w.shown.data();
  const auto same = [&](int32_t y) {
    return std::memcmp(now + size_t(y) * pitch, had + size_t(y) * pitch, pitch) == 0;
  };
  while (first <= last && same(first)) ++first;
  while (last >= first && same(last)) --last;
  if (first > last) first = last = -1;
  else std::memcpy(had + size_t(first) * pitch, now + size_t(first) * pitch, size_t(last - first + 1) * pitch);
}

void Pass() {
  Window& w = gWindow;
  Pump();
  if (w.toggleFullScreen) {
    w.toggleFullScreen = false;
    SetFullScreen(!w.fullscreen);
  }
  if (w.newDpi > 0) {  // the window's new scale, its size changed and its place kept
    w.scale = FittingScale(std::exchange(w.newDpi, 0));
    if (!w.fullscreen) {
      const RECT r = Placement(false, WindowedStyle());
      SetWindowPos(w.hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
      w.presentAll = true;
    }
  }
  RECT client;
  GetClientRect(w.hwnd, &client);
  const RECT picture = PictureRect(client);
  int32_t pointerX = -1, pointerRow = -1;
  if (w.mouseIn) ClientToPicture(picture, w.mouse, pointerX, pointerRow);
  uint8_t held[128];
  const bool ownStates = w.surface->keyStates && w.surface->keyStates(held);
  if (!ownStates) {
    BYTE keys[256];
    GetKeyboardState(keys);
    KeyStatesFromVirtualKeys(keys, held);
  }
  const int32_t width = w.frame.width, height = w.frame.height, bytes = w.frame.bytesPerPixel;
  const bool focusChanged = w.focusChanged;
  bool changed;
  {
    std::lock_guard<std::mutex> guard(w.lock);
    for (KeyCode code : w.keys) PostWindowKey(code);
    for (auto [vk, down] : w.keyEdges) {
      int32_t scans[2];
      for (int n = ScansOfVirtualKey(vk, scans); n-- > 0;) PostKeyEdge(scans[n], down);
    }
    if (w.focusChanged && (w.flags & F::HighPriority))  // raised while the window is active only
      SetThreadPriority(GetCurrentThread(), w.active ? THREAD_PRIORITY_ABOVE_NORMAL : THREAD_PRIORITY_NORMAL);
    if (w.focusChanged) {  // the key-state table starts afresh, the whole page is shown again
      static const uint8_t kNoneHeld[128] = {};
      SetKeyStates(kNoneHeld);
      MarkAllRowsDirty();
    } else if (w.active) {
      SetKeyStates(held);
    }
    SetPointer(pointerX, pointerRow, w.buttons, std::exchange(w.wheelSteps, 0));
    changed = TakeChanges(w.frame);
  }
  ApplyPointerRequests(picture);
  w.keys.clear();
  w.keyEdges.clear();
  w.focusChanged = false;
  if (w.frame.titleChanged) SetTitleText(w.hwnd, w.frame.title);
  int32_t first = -1, last = -1;  // the rows to show
  if (changed && w.frame.width == w.width && w.frame.height == w.height) {
    first = w.frame.paletteChanged ? 0 : w.frame.firstDirty;
    last = w.frame.paletteChanged ? w.height - 1 : std::min(w.frame.lastDirty, w.height - 1);
    const bool resized = w.frame.width != width || w.frame.height != height || w.frame.bytesPerPixel != bytes;
    if (first >= 0 && last >= first) KeepChangedRows(first, last, w.frame.paletteChanged || resized || focusChanged);
    if (first >= 0 && last >= first) w.surface->update(w.frame, first, last);
    else first = last = -1;
  }
  if (w.presentAll) first = 0, last = w.height - 1;
  if (first >= 0 && !w.frame.pixels.empty()) {
    w.surface->present(w.hwnd, picture, client, first, last, w.presentAll);
  }
  w.presentAll = false;
  w.passes.fetch_add(1, std::memory_order_relaxed);
}

void FinishWindow() {
  Window& w = gWindow;
  w.surface->finish();
  DestroyWindow(w.hwnd);
  w.hwnd = nullptr;
  Pump();
  w.frame = Frame{};  // nothing of a closed Screen stays held
  std::vector<uint8_t>().swap(w.shown);
  std::vector<KeyCode>().swap(w.keys);
}

}  // namespace

int OpenWindowBackend(const Surface& surface, const BackendOpenArgs& args, std::string& reason) {
  Window& w = gWindow;
  CloseWindowBackend();  // one Presenter at a time
  if (args.width <= 0 || args.windowHeight <= 0) {
    reason = "the window has no size";
    return -1;
  }
  w.surface = &surface;
  w.title = args.title ? args.title : "";
  w.width = args.width;
  w.height = args.windowHeight;
  w.depth = args.depth;
  w.flags = args.flags;
  w.frame = Frame{};
  w.shown.clear();
  w.active = w.fullscreen = w.focusChanged = w.presentAll = w.toggleFullScreen = false;
  w.mouse = POINT{-1, -1};
  w.mouseIn = w.leaveTracked = w.cursorHidden = false;
  w.buttons = w.wheelDelta = w.wheelSteps = 0;
  w.passes = 0;
  w.newDpi = 0;
  w.failure.clear();
  static std::once_flag dpiAware;  // before the first window: it holds for the process
  std::call_once(dpiAware, DeclareDpiAware);
  timeBeginPeriod(1);  // 10 ms passes need a finer timer than the default 15.6 ms
  if (w.thread.Start(StartWindow, Pass, FinishWindow)) return 0;
  timeEndPeriod(1);
  reason = w.failure.empty() ? "the Presenter thread cannot start" : w.failure;
  return -1;
}

void CloseWindowBackend() {
  Window& w = gWindow;
  if (!w.thread.Running()) return;
  w.thread.Stop();
  timeEndPeriod(1);
}

void LockWindowBackend() { gWindow.lock.lock(); }
void UnlockWindowBackend() { gWindow.lock.unlock(); }

uint64_t WindowPasses() { return gWindow.passes.load(std::memory_order_relaxed); }

}  // namespace scr
