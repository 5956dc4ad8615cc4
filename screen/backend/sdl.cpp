// sdl.cpp - the "SDL" back-end: a desktop window shown by a Presenter thread.
//
// The Presenter owns everything SDL: it initialises the video subsystem,
// creates the window, pumps its events and presents, all on its own thread,
// about every 10 ms (see Pass). The program's thread takes the platform lock
// whenever it touches the visible page, so nothing slow (pumping, uploading,
// presenting, window changes) runs under it.
//
// For large displays SCRSCALE (a whole number, default 1) multiplies the
// window's size with whole, unblurred pixels, cut to the largest whole scale
// that fits the desktop; Alt+Enter switches between the
// window and full screen (letter-boxed, whole-number scale) unless flags
// bit 2 forbids it. SDL runs only on the Presenter thread, from SDL_Init to
// SDL_Quit, so a failed start leaves nothing behind for the next back-end.
#ifdef SCREEN_HAVE_SDL

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/backend.h"
#include "backend/presenter.h"
#include "backend/sdl.h"

namespace scr {

namespace {

struct Presenter {
  std::mutex lock;  // the platform lock
  PresenterThread thread;

  // Set by open before the thread starts; read-only afterwards.
  std::string title;
  int32_t width = 0, height = 0, flags = 0, scale = 1;
  std::string drivers;  // SDL video drivers to try, in order

  // The Presenter thread's own.
  Frame frame;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  bool active = false;
  bool fullscreen = false;
  uint32_t lastKeyMod = 0;
  bool lastKeySystem = false;
  int32_t buttons = 0;  // the pointer's buttons held: 1 left, 2 right, 4 middle
  int32_t wheelSteps = 0;  // wheel steps (up positive) seen in this pass
  std::vector<SDL_Event> pending;
  std::string failure;  // why its start failed, read by open once the thread has answered
};

Presenter gPresenter;

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// The desktop video drivers to try: SDL left to itself falls back to
// off-screen or console drivers, which show nothing to anyone. Empty when no
// desktop is there. An SDL_VIDEODRIVER setting is the user's choice and kept.
std::string DesktopDrivers() {
  if (EnvSet("SDL_VIDEODRIVER")) return std::getenv("SDL_VIDEODRIVER");
  std::string drivers;
  if (EnvSet("DISPLAY")) drivers = "x11";
  if (EnvSet("WAYLAND_DISPLAY")) drivers += drivers.empty() ? "wayland" : ",wayland";
  return drivers;
}

// What SDL is asked to show on, for a failure's reason: "the display :99".
std::string DisplayNamed() {
  if (EnvSet("SDL_VIDEODRIVER")) return std::string("the video driver ") + std::getenv("SDL_VIDEODRIVER");
  if (EnvSet("DISPLAY")) return std::string("the display ") + std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return std::string("the Wayland display ") + (wayland ? wayland : "");
}

// SDL's last error as " (its text)", or nothing when it has none.
std::string SdlError() {
  const char* error = SDL_GetError();
  return error && *error ? std::string(" (") + error + ")" : std::string();
}

void DestroyWindow() {
  Presenter& p = gPresenter;
  if (p.texture) SDL_DestroyTexture(p.texture);
  if (p.renderer) SDL_DestroyRenderer(p.renderer);
  if (p.window) SDL_DestroyWindow(p.window);
  p.texture = nullptr;
  p.renderer = nullptr;
  p.window = nullptr;
}

// SCRSCALE, cut to the largest whole scale at which the window fits the
// desktop's usable area (at least 1).
int32_t FittingScale() {
  Presenter& p = gPresenter;
  SDL_Rect desk{};
  if (SDL_GetDisplayUsableBounds(0, &desk) != 0 || desk.w <= 0 || desk.h <= 0) return p.scale;
  return std::max(1, std::min({p.scale, desk.w / p.width, desk.h / p.height}));
}

// Full screen is a borderless window over the whole display, the picture
// letter-boxed at a whole scale by the renderer. It needs no window
// manager's help, so it works on any X server; windowed is the window as
// opened, centred again.
void SetFullScreen(bool on) {
  Presenter& p = gPresenter;
  const int32_t scale = FittingScale();
  SDL_Rect display{0, 0, p.width * scale, p.height * scale};
  if (on && SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(p.window), &display) != 0) return;
  SDL_SetWindowBordered(p.window, on || (p.flags & ScreenFlag::Borderless) ? SDL_FALSE : SDL_TRUE);
  SDL_SetWindowSize(p.window, display.w, display.h);
  if (on) SDL_SetWindowPosition(p.window, display.x, display.y);
  else SDL_SetWindowPosition(p.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  p.fullscreen = on;
}

// Creates the window, renderer and texture; false (with everything
// destroyed) when any of them cannot be made.
bool CreateWindow(bool fullscreen) {
  Presenter& p = gPresenter;
  const int32_t scale = FittingScale();
  Uint32 windowFlags = SDL_WINDOW_SHOWN;
  if (p.flags & ScreenFlag::Borderless) windowFlags |= SDL_WINDOW_BORDERLESS;
  if (p.flags & ScreenFlag::OnTop) windowFlags |= SDL_WINDOW_ALWAYS_ON_TOP;
  p.window = SDL_CreateWindow(p.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              p.width * scale, p.height * scale, windowFlags);
  if (!p.window) return false;
  // Software rendering works everywhere (also on a virtual X server); an
  // SDL_RENDER_DRIVER setting still picks another.
  p.renderer = SDL_CreateRenderer(p.window, -1, SDL_RENDERER_SOFTWARE);
  if (!p.renderer) p.renderer = SDL_CreateRenderer(p.window, -1, 0);
  if (p.renderer) {
    SDL_RenderSetLogicalSize(p.renderer, p.width, p.height);
    SDL_RenderSetIntegerScale(p.renderer, SDL_TRUE);
    p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  p.width, p.height);
  }
  if (!p.texture) {
    DestroyWindow();
    return false;
  }
  // All black until the first palette upload.
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(p.texture, nullptr, &pixels, &pitch) == 0) {
    std::memset(pixels, 0, size_t(p.height) * size_t(pitch));
    SDL_UnlockTexture(p.texture);
  }
  p.fullscreen = false;
  if (fullscreen) SetFullScreen(true);
  SDL_RaiseWindow(p.window);
  return true;
}

// The picture's place in the window as the renderer lays it out at an
// integer logical size: its whole scale and the bars' widths left and top.
struct Placement {
  int32_t scale, left, top;
};

Placement PicturePlacement() {
  Presenter& p = gPresenter;
  int w = 0, h = 0;
  SDL_GetWindowSize(p.window, &w, &h);
  const int32_t scale = std::max(1, std::min(w / p.width, h / p.height));
  return {scale, (w - p.width * scale) / 2, (h - p.height * scale) / 2};
}

// The picture's pixel under window point wx, wy (-1 for a coordinate left of or above it).
void WindowToPicture(const Placement& at, int32_t wx, int32_t wy, int32_t& x, int32_t& row) {
  x = wx >= at.left ? (wx - at.left) / at.scale : -1;
  row = wy >= at.top ? (wy - at.top) / at.scale : -1;
}

// SetMouse's requests: the pointer to the centre of the picture's pixel, shown or hidden.
void ApplyPointerRequests() {
  Presenter& p = gPresenter;
  if (p.frame.pointerMove) {
    const Placement at = PicturePlacement();
    SDL_WarpMouseInWindow(p.window, at.left + p.frame.pointerX * at.scale + at.scale / 2,
                          at.top + p.frame.pointerRow * at.scale + at.scale / 2);
  }
  if (p.frame.pointerShown >= 0) SDL_ShowCursor(p.frame.pointerShown ? SDL_ENABLE : SDL_DISABLE);
}

bool IsKeypadDigit(SDL_Scancode sc) {
  return (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_0) || sc == SDL_SCANCODE_KP_PERIOD;
}

struct PassRequests {
  bool presentAll = false;
  bool toggleFullScreen = false;
};

// Handles one window event; runs under the platform lock. `next` is the
// event after it in this pass (null when none): a keypad key followed by its
// text gives a digit, so Num Lock was on whatever the modifier bits say.
void HandleEvent(const SDL_Event& e, const SDL_Event* next, PassRequests& req) {
  Presenter& p = gPresenter;
  // Presses and releases for KeyPressed / KeyReleased: a tap inside one pass
  // leaves SDL's key table as it was.
  if (p.active && (e.type == SDL_KEYUP || (e.type == SDL_KEYDOWN && !e.key.repeat))) {
    int32_t scans[2];
    const int n = SdlTableScans(e.key.keysym.scancode, scans);
    for (int i = 0; i < n; ++i) PostKeyEdge(scans[i], e.type == SDL_KEYDOWN);
  }
  switch (e.type) {
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          // Alt+F4 reaches here through the window manager: it neither closes nor posts.
          if (p.lastKeyMod & KMOD_ALT) break;
          PostWindowKey(CloseKey);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST: {
          const bool gained = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
          static const uint8_t kNoneHeld[128] = {};
          p.active = gained;
          // HighPriority holds while the window is active only.
          if (p.flags & ScreenFlag::HighPriority)
            SDL_SetThreadPriority(gained ? SDL_THREAD_PRIORITY_HIGH : SDL_THREAD_PRIORITY_NORMAL);
          SetKeyStates(kNoneHeld);
          MarkAllRowsDirty();
          break;
        }
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          req.presentAll = true;
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN: {
      const SDL_Keysym& k = e.key.keysym;
      p.lastKeyMod = k.mod;
      p.lastKeySystem = SdlIsSystemKey(k.scancode, k.mod);
      if (k.scancode == SDL_SCANCODE_RETURN && (k.mod & KMOD_ALT) && !(k.mod & KMOD_CTRL)) {
        if (!e.key.repeat && !(p.flags & ScreenFlag::NoSwitch)) req.toggleFullScreen = true;
        break;
      }
      bool numLock = (k.mod & KMOD_NUM) != 0;
      if (IsKeypadDigit(k.scancode) && next && next->type == SDL_TEXTINPUT) numLock = true;
      KeyCode codes[2];
      const int n = SdlKeyDownCodes(k.scancode, k.sym, k.mod, numLock, codes);
      for (int i = 0; i < n; ++i) PostWindowKey(codes[i]);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const int32_t b = e.button.button;
      const int32_t bit = b == SDL_BUTTON_LEFT ? 1 : b == SDL_BUTTON_RIGHT ? 2 : b == SDL_BUTTON_MIDDLE ? 4 : 0;
      p.buttons = e.type == SDL_MOUSEBUTTONDOWN ? p.buttons | bit : p.buttons & ~bit;
      break;
    }
    case SDL_MOUSEWHEEL:
      p.wheelSteps += e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      break;
    case SDL_KEYUP:
      p.lastKeyMod = e.key.keysym.mod;  // Alt let go before a close request counts
      break;
    case SDL_TEXTINPUT: {
      // Characters of keys pressed with the left Alt are system characters: dropped.
      if (p.lastKeySystem && (p.lastKeyMod & KMOD_LALT)) break;
      KeyCode codes[SDL_TEXTINPUTEVENT_TEXT_SIZE];
      const int n = SdlTextCodes(e.text.text, codes, SDL_TEXTINPUTEVENT_TEXT_SIZE);
      for (int i = 0; i < n; ++i) PostWindowKey(codes[i]);
      break;
    }
    default:
      break;
  }
}

// Converts rows first..last of the frame into the texture.
void UploadRows(int32_t first, int32_t last) {
  Presenter& p = gPresenter;
  SDL_Rect rect{0, first, p.width, last - first + 1};
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(p.texture, &rect, &pixels, &pitch) != 0) return;
  for (int32_t y = first; y <= last; ++y)
    FrameRowToRgb(p.frame, y, reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) + size_t(y - first) * pitch));
  SDL_UnlockTexture(p.texture);
}

void Present() {
  Presenter& p = gPresenter;
  if (p.fullscreen) {  // the bars around the letter-boxed picture
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
  }
  SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
  SDL_RenderPresent(p.renderer);
}

// One pass: 1. pump the window's events (outside the lock); 2. under the
// platform lock, handle them (keys into the window ring, close, focus),
// refresh the key-state table and take the changed palette and rows;
// 3. outside the lock, convert and upload the changed rows and present.
void Pass() {
  Presenter& p = gPresenter;
  PassRequests req;
  SDL_PumpEvents();
  p.pending.clear();
  SDL_Event batch[64];
  int got;
  while ((got = SDL_PeepEvents(batch, 64, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0)
    p.pending.insert(p.pending.end(), batch, batch + got);
  int keyCount = 0;
  const Uint8* keys = SDL_GetKeyboardState(&keyCount);
  uint8_t held[128];
  SdlRefreshKeyState(keys, keyCount, held);
  // The pointer's window position as SDL tracks it (motion events carry
  // coordinates already cut to the picture by the renderer, bars lost).
  int wx = -1, wy = -1;
  if (SDL_GetMouseFocus() == p.window) SDL_GetMouseState(&wx, &wy);
  int32_t pointerX, pointerRow;
  WindowToPicture(PicturePlacement(), wx, wy, pointerX, pointerRow);
  p.wheelSteps = 0;

  bool changed;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    for (size_t i = 0; i < p.pending.size(); ++i)
      HandleEvent(p.pending[i], i + 1 < p.pending.size() ? &p.pending[i + 1] : nullptr, req);
    if (p.active) SetKeyStates(held);
    SetPointer(pointerX, pointerRow, p.buttons, p.wheelSteps);
    if (req.toggleFullScreen) MarkAllRowsDirty();  // the new window shows the whole page
    changed = TakeChanges(p.frame);
  }

  if (req.toggleFullScreen) {
    SetFullScreen(!p.fullscreen);  // windowed becomes full screen and back
    req.presentAll = true;
  }
  if (p.frame.titleChanged) SDL_SetWindowTitle(p.window, p.frame.title.c_str());
  ApplyPointerRequests();
  if (changed && p.frame.height == p.height && p.frame.width == p.width) {
    int32_t first = p.frame.paletteChanged ? 0 : p.frame.firstDirty;
    int32_t last = p.frame.paletteChanged ? p.height - 1 : p.frame.lastDirty;
    if (first >= 0 && last >= first) {
      UploadRows(first, std::min(last, p.height - 1));
      req.presentAll = true;
    }
  }
  if (req.presentAll) Present();
}

// On the Presenter thread: SDL from SDL_Init to SDL_Quit, so a failed start
// leaves nothing behind for the next back-end.
bool StartWindow() {
  Presenter& p = gPresenter;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // The software renderer draws into the window through the platform's own
  // frame buffer (shared memory on X11), not through a GL context of its own.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_VIDEODRIVER, p.drivers.c_str());
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    p.failure = DisplayNamed() + " cannot be opened" + SdlError();
    SDL_TLSCleanup();  // SDL keeps this thread's error text otherwise
    return false;
  }
  if (!CreateWindow((p.flags & ScreenFlag::FullScreen) != 0)) {
    p.failure = "the window cannot be made" + SdlError();
    SDL_Quit();
    SDL_TLSCleanup();
    return false;
  }
  if (p.flags & ScreenFlag::HighPriority) SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
  return true;
}

void FinishWindow() {
  Presenter& p = gPresenter;
  DestroyWindow();
  SDL_Quit();
  SDL_TLSCleanup();
  // Nothing of a closed Screen stays held: the frame copy and the event batch.
  p.frame = Frame{};
  std::vector<SDL_Event>().swap(p.pending);
}

void Close() { gPresenter.thread.Stop(); }

int Open(const BackendOpenArgs& args, std::string& reason) {
  Presenter& p = gPresenter;
  Close();  // one Presenter at a time
  p.drivers = DesktopDrivers();
  if (p.drivers.empty() || args.width <= 0 || args.windowHeight <= 0) {
    reason = p.drivers.empty() ? "no display (DISPLAY and WAYLAND_DISPLAY are unset)" : "the window has no size";
    return -1;
  }
  p.title = args.title ? args.title : "";
  p.width = args.width;
  p.height = args.windowHeight;
  p.flags = args.flags;
  p.scale = std::max(1, ScaleFromEnvironment());
  p.frame = Frame{};
  p.active = p.fullscreen = p.lastKeySystem = false;
  p.lastKeyMod = 0;
  p.buttons = 0;
  p.failure.clear();
  if (p.thread.Start(StartWindow, Pass, FinishWindow)) return 0;
  reason = p.failure.empty() ? "the Presenter thread cannot start" : p.failure;
  return -1;
}

void Lock() { gPresenter.lock.lock(); }
void Unlock() { gPresenter.lock.unlock(); }

}  // namespace

extern const Backend kSdlBackend = {"SDL", Open, Close, Lock, Unlock, nullptr, true};

}  // namespace scr

#endif  // SCREEN_HAVE_SDL
