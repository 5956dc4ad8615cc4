// sdl.cpp - the "SDL" back-end: a desktop window shown by a Presenter thread.
//
// The Presenter owns everything SDL: it initialises the video subsystem,
// creates the window, pumps its events and presents, all on its own thread.
// Each pass (about every 10 ms) it
//   1. pumps the window's events into a local list (outside the lock),
//   2. under the platform lock: handles those events (keys into the window
//      KeyRing, close, focus), refreshes the key-state table and takes the
//      changed palette and dirty rows of the visible page (TakeChanges),
//   3. outside the lock: converts the changed rows, uploads them into a
//      streaming texture and presents.
// The program's thread takes the platform lock for every pixel it draws, so
// nothing slow (pumping, uploading, presenting, window changes) runs under it.
//
// For large displays SCRSCALE (a whole number, default 1) multiplies the
// window's size with whole, unblurred pixels; Alt+Enter switches between the
// window and full screen (letter-boxed, whole-number scale) unless flags
// bit 2 forbids it. SDL runs only on the Presenter thread, from SDL_Init to
// SDL_Quit, so a failed start leaves nothing behind for the next back-end.
#ifdef SCREEN_HAVE_SDL

#include <SDL.h>
// Xlib (under SDL_syswm.h) names a type Screen and one KeyCode, as this layer does.
#define Screen XlibScreen
#define KeyCode XlibKeyCode
#include <SDL_syswm.h>
#undef Screen
#undef KeyCode

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/backend.h"
#include "backend/presenter.h"
#include "backend/sdl.h"
#include "state.h"

extern const Backend kSdlBackend;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPassPeriod = std::chrono::milliseconds(10);
constexpr size_t kMaxQueuedEvents = 256;  // the event queue keeps the newest

constexpr int32_t kFlagFullScreen = 1;
constexpr int32_t kFlagNoSwitch = 4;
constexpr int32_t kFlagBorderless = 8;
constexpr int32_t kFlagOnTop = 32;
constexpr int32_t kFlagHighPriority = 128;

constexpr int32_t kEventFocusIn = 11, kEventFocusOut = 12, kEventClose = 13;

// Whether this thread holds the platform lock (the program's thread between
// LockScreen and UnlockScreen, the Presenter during its pass).
thread_local bool tHoldsLock = false;

// The platform lock. A palette entry recorded inside LockScreen must not take
// it again, and closing must give it back when the closing thread still holds
// it: both ask tHoldsLock. A plain mutex keeps the program's per-pixel lock
// as cheap as it can be.
struct PlatformLock {
  std::mutex mutex;

  void Lock() {
    mutex.lock();
    tHoldsLock = true;
  }
  void Unlock() {
    tHoldsLock = false;
    mutex.unlock();
  }
  bool HeldHere() const { return tHoldsLock; }
  void ReleaseIfHeld() {
    if (tHoldsLock) Unlock();
  }
};

struct Stats {
  std::atomic<uint64_t> passes{0}, presents{0}, rowsUploaded{0};
  std::atomic<int64_t> maxGapNs{0};
  std::atomic<bool> running{false}, fullscreen{false};
  std::atomic<uint32_t> windowId{0};
  std::atomic<int32_t> windowWidth{0}, windowHeight{0};
};

struct Presenter {
  PlatformLock lock;

  // Set by open before the thread starts; read-only afterwards.
  std::string title;
  int32_t width = 0, height = 0, flags = 0, refresh = 0, scale = 1;
  std::string drivers;  // SDL video drivers to try, in order
  Screen* screen = nullptr;

  // Start, ready and stop.
  std::thread thread;
  std::atomic<bool> running{false};
  std::mutex signalMutex;
  std::condition_variable signal;
  int readyState = 0;  // 0 starting, 1 ready, -1 failed (under signalMutex)

  // Shared with the program's thread under the platform lock.
  UploadTable upload;
  std::string pendingTitle;
  bool titleChanged = false;

  // The Presenter thread's own.
  Frame frame;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  bool active = false;
  bool fullscreen = false;
  uint32_t lastKeyMod = 0;
  bool lastKeySystem = false;
  std::vector<SDL_Event> pending;
  std::vector<uint32_t> rgbRow;

  Stats stats;
};

Presenter gP;

int ScaleFromEnvironment() {
  const char* text = std::getenv("SCRSCALE");
  if (!text || !*text) return 1;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1) return 1;
  return static_cast<int>(std::min(v, 16L));
}

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

void SignalReady(int state) {
  std::lock_guard<std::mutex> guard(gP.signalMutex);
  gP.readyState = state;
  gP.signal.notify_all();
}

void QueueEvent(int32_t code) {
  if (!gP.screen) return;
  std::vector<int32_t>& q = gP.screen->events;
  if (q.size() >= kMaxQueuedEvents) q.erase(q.begin());
  q.push_back(code);
}

void Post(KeyCode code) { PostKey(gLayer.windowKeys, code); }

void DestroyWindow() {
  if (gP.texture) SDL_DestroyTexture(gP.texture);
  if (gP.renderer) SDL_DestroyRenderer(gP.renderer);
  if (gP.window) SDL_DestroyWindow(gP.window);
  gP.texture = nullptr;
  gP.renderer = nullptr;
  gP.window = nullptr;
}

// Creates the window, renderer and texture; false (with everything
// destroyed) when any of them cannot be made.
bool CreateWindow(bool fullscreen) {
  Uint32 windowFlags = SDL_WINDOW_SHOWN;
  if (fullscreen) windowFlags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  if (gP.flags & kFlagBorderless) windowFlags |= SDL_WINDOW_BORDERLESS;
  if (gP.flags & kFlagOnTop) windowFlags |= SDL_WINDOW_ALWAYS_ON_TOP;
  gP.window = SDL_CreateWindow(gP.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               gP.width * gP.scale, gP.height * gP.scale, windowFlags);
  if (!gP.window) return false;
  // Software rendering works everywhere (also on a virtual X server); an
  // SDL_RENDER_DRIVER setting still picks another.
  gP.renderer = SDL_CreateRenderer(gP.window, -1, SDL_RENDERER_SOFTWARE);
  if (!gP.renderer) gP.renderer = SDL_CreateRenderer(gP.window, -1, 0);
  if (gP.renderer) {
    SDL_RenderSetLogicalSize(gP.renderer, gP.width, gP.height);
    SDL_RenderSetIntegerScale(gP.renderer, SDL_TRUE);
    gP.texture = SDL_CreateTexture(gP.renderer, SDL_PIXELFORMAT_RGB888,
                                   SDL_TEXTUREACCESS_STREAMING, gP.width, gP.height);
  }
  if (!gP.texture) {
    DestroyWindow();
    return false;
  }
  // All black until the first palette upload.
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(gP.texture, nullptr, &pixels, &pitch) == 0) {
    for (int32_t y = 0; y < gP.height; ++y)
      std::memset(static_cast<uint8_t*>(pixels) + size_t(y) * pitch, 0, size_t(gP.width) * 4);
    SDL_UnlockTexture(gP.texture);
  }
  SDL_RaiseWindow(gP.window);
  gP.fullscreen = fullscreen;
  gP.stats.fullscreen = fullscreen;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  uint32_t id = 0;
#if defined(SDL_VIDEO_DRIVER_X11)
  if (SDL_GetWindowWMInfo(gP.window, &info) && info.subsystem == SDL_SYSWM_X11)
    id = static_cast<uint32_t>(info.info.x11.window);
#endif
  gP.stats.windowId = id;
  int w = 0, h = 0;
  SDL_GetWindowSize(gP.window, &w, &h);
  gP.stats.windowWidth = w;
  gP.stats.windowHeight = h;
  return true;
}

// Windowed becomes full screen and back (letter-boxed, whole-number scale);
// when the switch fails the window stays as it was.
void ToggleFullScreen() {
  const bool want = !gP.fullscreen;
  if (SDL_SetWindowFullscreen(gP.window, want ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) return;
  gP.fullscreen = want;
  gP.stats.fullscreen = want;
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
  switch (e.type) {
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          // Alt+F4 reaches here through the window manager: it neither closes nor posts.
          if (SDL_GetModState() & KMOD_ALT) break;
          Post(CloseKey);
          QueueEvent(kEventClose);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST: {
          const bool gained = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
          gP.active = gained;
          if (gP.screen) {
            std::memset(gP.screen->keyState, 0, sizeof gP.screen->keyState);
            MarkAllDirty(*gP.screen);
          }
          QueueEvent(gained ? kEventFocusIn : kEventFocusOut);
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
      gP.lastKeyMod = k.mod;
      gP.lastKeySystem = SdlIsSystemKey(k.scancode, k.mod);
      if (k.scancode == SDL_SCANCODE_RETURN && (k.mod & KMOD_ALT) && !(k.mod & KMOD_CTRL)) {
        if (!e.key.repeat && !(gP.flags & kFlagNoSwitch)) req.toggleFullScreen = true;
        break;
      }
      bool numLock = (k.mod & KMOD_NUM) != 0;
      if (IsKeypadDigit(k.scancode) && next && next->type == SDL_TEXTINPUT) numLock = true;
      KeyCode codes[2];
      const int n = SdlKeyDownCodes(k.scancode, k.sym, k.mod, numLock, codes);
      for (int i = 0; i < n; ++i) Post(codes[i]);
      break;
    }
    case SDL_TEXTINPUT: {
      // Characters of keys pressed with the left Alt are system characters: dropped.
      if (gP.lastKeySystem && (gP.lastKeyMod & KMOD_LALT)) break;
      KeyCode codes[SDL_TEXTINPUTEVENT_TEXT_SIZE];
      const int n = SdlTextCodes(e.text.text, codes, SDL_TEXTINPUTEVENT_TEXT_SIZE);
      for (int i = 0; i < n; ++i) Post(codes[i]);
      break;
    }
    default:
      break;
  }
}

// Converts rows first..last of the frame into the texture.
void UploadRows(int32_t first, int32_t last) {
  SDL_Rect rect{0, first, gP.width, last - first + 1};
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(gP.texture, &rect, &pixels, &pitch) != 0) return;
  for (int32_t y = first; y <= last; ++y)
    FrameRowToRgb(gP.frame, y,
                  reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) + size_t(y - first) * pitch));
  SDL_UnlockTexture(gP.texture);
  gP.stats.rowsUploaded += uint64_t(last - first + 1);
}

void Present() {
  if (gP.fullscreen) {  // the bars around the letter-boxed picture
    SDL_SetRenderDrawColor(gP.renderer, 0, 0, 0, 255);
    SDL_RenderClear(gP.renderer);
  }
  SDL_RenderCopy(gP.renderer, gP.texture, nullptr, nullptr);
  SDL_RenderPresent(gP.renderer);
  ++gP.stats.presents;
}

void Pass() {
  PassRequests req;
  SDL_PumpEvents();
  gP.pending.clear();
  SDL_Event batch[64];
  int got;
  while ((got = SDL_PeepEvents(batch, 64, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0)
    gP.pending.insert(gP.pending.end(), batch, batch + got);
  const Uint8* keys = nullptr;
  int keyCount = 0;
  keys = SDL_GetKeyboardState(&keyCount);

  bool changed = false;
  std::string newTitle;
  bool retitle = false;
  gP.lock.Lock();
  for (size_t i = 0; i < gP.pending.size(); ++i)
    HandleEvent(gP.pending[i], i + 1 < gP.pending.size() ? &gP.pending[i + 1] : nullptr, req);
  if (gP.screen) {
    if (gP.active) SdlRefreshKeyState(keys, keyCount, gP.screen->keyState);
    if (req.toggleFullScreen) MarkAllDirty(*gP.screen);  // the new window shows the whole page
    changed = TakeChanges(*gP.screen, gP.upload, gP.frame);
  }
  if (gP.titleChanged) {
    newTitle = gP.pendingTitle;
    retitle = true;
    gP.titleChanged = false;
  }
  gP.lock.Unlock();

  if (retitle) SDL_SetWindowTitle(gP.window, newTitle.c_str());
  if (req.toggleFullScreen) {
    ToggleFullScreen();
    req.presentAll = true;
  }
  if (changed && gP.frame.height == gP.height && gP.frame.width == gP.width) {
    int32_t first = gP.frame.firstDirty, last = gP.frame.lastDirty;
    if (gP.frame.paletteChanged) {
      first = 0;
      last = gP.height - 1;
    }
    if (first >= 0 && last >= first) {
      UploadRows(first, std::min(last, gP.height - 1));
      req.presentAll = true;
    }
  }
  if (req.presentAll) Present();
}

void Run() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // The software renderer draws into the window through the platform's own
  // frame buffer (shared memory on X11), not through a GL context of its own.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_VIDEODRIVER, gP.drivers.c_str());
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    SDL_TLSCleanup();  // SDL keeps this thread's error text otherwise
    SignalReady(-1);
    return;
  }
  if (!CreateWindow((gP.flags & kFlagFullScreen) != 0)) {
    SDL_Quit();
    SDL_TLSCleanup();
    SignalReady(-1);
    return;
  }
  if (gP.flags & kFlagHighPriority) SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
  gP.stats.running = true;
  SignalReady(1);

  auto next = Clock::now();
  auto previous = next;
  bool first = true;
  while (gP.running.load()) {
    const auto start = Clock::now();
    if (!first) {
      const int64_t gap = std::chrono::duration_cast<std::chrono::nanoseconds>(start - previous).count();
      int64_t seen = gP.stats.maxGapNs.load();
      while (gap > seen && !gP.stats.maxGapNs.compare_exchange_weak(seen, gap)) {
      }
    }
    first = false;
    previous = start;
    ++gP.stats.passes;  // counted as it starts: a key typed before this pumps in it
    Pass();
    // Passes start every 10 ms; a late pass starts the next period from now.
    next += kPassPeriod;
    const auto now = Clock::now();
    if (next < now) next = now;
    std::unique_lock<std::mutex> wait(gP.signalMutex);
    gP.signal.wait_until(wait, next, [] { return !gP.running.load(); });
  }

  gP.stats.running = false;
  gP.stats.windowId = 0;
  DestroyWindow();
  SDL_Quit();
  SDL_TLSCleanup();
}

void SdlClose() {
  if (!gP.thread.joinable()) return;
  gP.lock.ReleaseIfHeld();  // the Presenter must be able to finish its pass
  {
    std::lock_guard<std::mutex> guard(gP.signalMutex);
    gP.running = false;
    gP.signal.notify_all();
  }
  gP.thread.join();
  gP.screen = nullptr;
  // Nothing of a closed Screen stays held: the frame copy and the event batch.
  gP.frame = Frame{};
  std::vector<SDL_Event>().swap(gP.pending);
}

int SdlOpen(const BackendOpenArgs& args) {
  SdlClose();  // one Presenter at a time
  gP.drivers = DesktopDrivers();
  if (gP.drivers.empty() || args.width <= 0 || args.windowHeight <= 0) return -1;
  gP.title = args.title ? args.title : "";
  gP.width = args.width;
  gP.height = args.windowHeight;
  gP.flags = args.flags;
  gP.refresh = args.refresh;
  gP.scale = ScaleFromEnvironment();
  gP.screen = nullptr;  // bound at the program's first lock (see BindScreen)
  gP.upload = UploadTable{};
  gP.pendingTitle.clear();
  gP.titleChanged = false;
  gP.frame = Frame{};
  gP.active = false;
  gP.fullscreen = false;
  gP.lastKeyMod = 0;
  gP.lastKeySystem = false;
  gP.readyState = 0;
  gP.running = true;
  gP.thread = std::thread(Run);
  int state;
  {
    std::unique_lock<std::mutex> wait(gP.signalMutex);
    gP.signal.wait(wait, [] { return gP.readyState != 0; });
    state = gP.readyState;
  }
  if (state < 0) {
    gP.running = false;
    gP.thread.join();
    gP.screen = nullptr;
    return -1;
  }
  return 0;
}

// The Screen is made visible to the Presenter by the program's thread under
// the platform lock: the opener publishes the new Screen only after open
// returns, and its first lock (the palette reset) follows.
void BindScreen() {
  if (!gP.screen && gLayer.screen && gLayer.screen->backend == &kSdlBackend)
    gP.screen = gLayer.screen;
}

void SdlLock() {
  gP.lock.Lock();
  BindScreen();
}
void SdlUnlock() { gP.lock.Unlock(); }

void SdlSetPaletteEntry(int32_t index, uint8_t r, uint8_t g, uint8_t b) {
  if (index < 0 || index > 255) return;
  const bool held = gP.lock.HeldHere();  // called inside LockScreen or not
  if (!held) gP.lock.Lock();
  BindScreen();
  gP.upload.rgb[index] = (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
  gP.upload.changed = true;
  if (!held) gP.lock.Unlock();
}

void SdlWaitRetrace() {
  const int32_t refresh = gP.refresh;
  std::this_thread::sleep_for(std::chrono::milliseconds(refresh > 0 ? 1000 / refresh : 16));
}

void SdlSetTitle(const char* title) {
  const bool held = gP.lock.HeldHere();
  if (!held) gP.lock.Lock();
  gP.pendingTitle = title ? title : "";
  gP.titleChanged = true;
  if (!held) gP.lock.Unlock();
}

}  // namespace

extern const Backend kSdlBackend = {
    "SDL", SdlOpen, SdlClose, SdlLock, SdlUnlock, SdlSetPaletteEntry, SdlWaitRetrace, SdlSetTitle,
};

SdlPresenterStats SdlStats() {
  SdlPresenterStats s;
  s.passes = gP.stats.passes;
  s.presents = gP.stats.presents;
  s.rowsUploaded = gP.stats.rowsUploaded;
  s.maxGapNs = gP.stats.maxGapNs;
  s.running = gP.stats.running;
  s.fullscreen = gP.stats.fullscreen;
  s.windowId = gP.stats.windowId;
  s.windowWidth = gP.stats.windowWidth;
  s.windowHeight = gP.stats.windowHeight;
  return s;
}

void SdlResetStats() {
  gP.stats.passes = 0;
  gP.stats.presents = 0;
  gP.stats.rowsUploaded = 0;
  gP.stats.maxGapNs = 0;
}

#endif  // SCREEN_HAVE_SDL
