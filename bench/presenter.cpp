// presenter.cpp - the SDL window's Presenter under a program that draws flat out.
//
// The program's thread runs walker-like frames (page copy from the map store,
// 105 pixel reads, a filled box, 105 tiles in Xor with outlines, then the copy
// onto the visible page), each operation taking the screen lock as drawing
// does. Measured in the same run:
//   - frames per second on the windowless "Null" back-end and on "SDL", and
//     their ratio (target: SDL at least 0.90 of Null);
//   - Presenter passes per second while the program draws (target >= 95) and
//     the longest time between two passes (target <= 25 ms);
//   - how long a typed key (an XTest key press) takes to reach InKey, in
//     milliseconds and in Presenter passes (target: within one pass).
//
// The window lives on a private Xvfb (started here) unless none can start,
// in which case DISPLAY is used as it is.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/window/xserver.h"
#include "backend/backend.h"
#include "backend/sdl.h"
#include "screen.h"
#include "state.h"

extern const Backend kSdlBackend;

// As in the window tests: reports from inside SDL's own key handling and
// D-Bus buffers are not this program's (only matter in sanitizer builds).
extern "C" const char* __asan_default_suppressions() { return "interceptor_via_lib:libSDL2\n"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

using Clock = std::chrono::steady_clock;

XvfbServer* gServer = nullptr;

bool EnsureDisplay() {
  if (!gServer) {
    gServer = new XvfbServer;
    std::string error;
    if (gServer->Start("Xvfb", &error)) setenv("DISPLAY", gServer->Name().c_str(), 1);
  }
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

struct Scene {
  ImageBuffer* tile = nullptr;
};

// Opens a 640 x 480 Screen with 8 pages on the SDL back-end (sdl true) or the
// windowless one, fills the map store (page 2) and makes a tile.
bool OpenScene(bool sdl, Scene& scene) {
  if (sdl) setenv("SCRBK", "SDL", 1);
  else unsetenv("SCRBK");
  if (ScreenRes(640, 480, 4, 8, sdl ? 0 : -1, 0) != 0) return false;
  if (sdl && gLayer.screen->backend != &kSdlBackend) return false;
  SetPages(2, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) PutPixel(nullptr, float(x), float(y), uint32_t((x * 3 + y) % 4));
  SetPages(1, 0);
  scene.tile = ImageCreate(16, 16, 9, 0, 0);
  return scene.tile != nullptr;
}

// One frame of the walker's shape: 15 x 7 cells of 16 x 16 pixels.
void Frame(const Scene& scene, int step) {
  PageCopy(2, 1);
  int32_t cells = 0;
  for (int cy = 0; cy < 7; ++cy)
    for (int cx = 0; cx < 15; ++cx) cells += GetPixel(nullptr, float((cx + step) % 64), float(cy));
  DrawLine(nullptr, 0, 40, 239, 151, 0, LineShape::FilledBox);
  for (int cy = 0; cy < 7; ++cy)
    for (int cx = 0; cx < 15; ++cx) {
      const float x = float(cx * 16), y = float(40 + cy * 16);
      PutImage(nullptr, x, y, scene.tile, kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Xor);
      if ((cells + cx + cy) % 3 == 0) DrawLine(nullptr, x, y, x + 15, y + 15, 4, LineShape::Box);
    }
  DrawLine(nullptr, 0, 40, 239, 151, 14, LineShape::Box);
  PageCopy(1, 0);
  benchmark::DoNotOptimize(cells);
}

// Frames per second over `seconds` of flat-out drawing.
double RunFrames(const Scene& scene, double seconds) {
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  int64_t frames = 0;
  while (Clock::now() < end) {
    Frame(scene, int(frames));
    ++frames;
    if (!InKey().empty()) {
    }
  }
  return double(frames) / std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Null and SDL phases alternate in short rounds, so that both see the same
// load from the rest of the machine; each figure is the median of its rounds.
void BM_PresenterUnderLoad(benchmark::State& state) {
  if (!EnsureDisplay()) {
    state.SkipWithError("no X display");
    return;
  }
  std::vector<double> nullFps, sdlFps, passRates, ratios;
  double maxGapMs = 0;
  for (auto _ : state) {
    for (int round = 0; round < 10; ++round) {
      Scene scene;
      if (!OpenScene(false, scene)) {
        state.SkipWithError("cannot open the windowless screen");
        return;
      }
      nullFps.push_back(RunFrames(scene, 0.5));
      CloseScreen(false);

      if (!OpenScene(true, scene)) {
        state.SkipWithError("cannot open the SDL window");
        return;
      }
      RunFrames(scene, 0.2);  // let the window settle
      SdlResetStats();
      const auto start = Clock::now();
      sdlFps.push_back(RunFrames(scene, 0.5));
      ratios.push_back(sdlFps.back() / nullFps.back());
      const double secs = std::chrono::duration<double>(Clock::now() - start).count();
      const SdlPresenterStats stats = SdlStats();
      passRates.push_back(double(stats.passes) / secs);
      maxGapMs = std::max(maxGapMs, double(stats.maxGapNs) / 1e6);
      CloseScreen(false);
    }
  }
  const double n = Median(nullFps), s = Median(sdlFps);
  state.counters["fps_null"] = n;
  state.counters["fps_sdl"] = s;
  state.counters["fps_ratio"] = Median(ratios);  // of back-to-back pairs: both see the same load
  state.counters["passes_per_s"] = Median(passRates);
  state.counters["max_gap_ms"] = maxGapMs;
}
BENCHMARK(BM_PresenterUnderLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

// One LockScreen / UnlockScreen pair, as every drawing operation takes it:
// on the windowless back-end (arg 0) and on SDL with its Presenter (arg 1).
void BM_ScreenLock(benchmark::State& state) {
  const bool sdl = state.range(0) != 0;
  Scene scene;
  if ((sdl && !EnsureDisplay()) || !OpenScene(sdl, scene)) {
    state.SkipWithError("cannot open the screen");
    return;
  }
  for (auto _ : state) {
    LockScreen();
    UnlockScreen(1, 0);
  }
  CloseScreen(false);
}
BENCHMARK(BM_ScreenLock)->Arg(0)->Arg(1);

// The X test extension, loaded at run time (the benchmark links no X
// libraries): a synthetic key press goes to the focused window as typing does.
struct XTest {
  using OpenFn = void* (*)(const char*);
  using CloseFn = int (*)(void*);
  using SyncFn = int (*)(void*, int);
  using SymToCodeFn = unsigned char (*)(void*, unsigned long);
  using FakeKeyFn = int (*)(void*, unsigned, int, unsigned long);
  using FocusFn = int (*)(void*, unsigned long, int, unsigned long);
  OpenFn open = nullptr;
  CloseFn close = nullptr;
  SyncFn sync = nullptr;
  SymToCodeFn symToCode = nullptr;
  FakeKeyFn fakeKey = nullptr;
  FocusFn focus = nullptr;

  bool Load() {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!x11 || !xtst) return false;
    open = reinterpret_cast<OpenFn>(dlsym(x11, "XOpenDisplay"));
    close = reinterpret_cast<CloseFn>(dlsym(x11, "XCloseDisplay"));
    sync = reinterpret_cast<SyncFn>(dlsym(x11, "XSync"));
    symToCode = reinterpret_cast<SymToCodeFn>(dlsym(x11, "XKeysymToKeycode"));
    focus = reinterpret_cast<FocusFn>(dlsym(x11, "XSetInputFocus"));
    fakeKey = reinterpret_cast<FakeKeyFn>(dlsym(xtst, "XTestFakeKeyEvent"));
    return open && close && sync && symToCode && focus && fakeKey;
  }
};

// A key typed while the program draws flat out: from the moment the X server
// has taken the key press (XSync returned) to InKey returning it, in
// milliseconds and in Presenter passes started in between.
void BM_KeyLatency(benchmark::State& state) {
  XTest xt;
  if (!EnsureDisplay() || !xt.Load()) {
    state.SkipWithError("no X display or no XTest library");
    return;
  }
  void* x = xt.open(nullptr);
  Scene scene;
  if (!x || !OpenScene(true, scene)) {
    state.SkipWithError("cannot open the SDL window");
    if (x) xt.close(x);
    return;
  }
  constexpr int kRevertToParent = 2;
  xt.focus(x, SdlStats().windowId, kRevertToParent, 0);
  xt.sync(x, 0);
  RunFrames(scene, 0.2);
  const unsigned key5 = xt.symToCode(x, '5');
  std::vector<double> ms, passes;
  int lost = 0;
  for (auto _ : state) {
    xt.fakeKey(x, key5, 1, 0);
    xt.sync(x, 0);
    const auto sent = Clock::now();
    const uint64_t passesAtSend = SdlStats().passes;
    KeyString k;
    int step = 0;
    while ((k = InKey()).empty() && Clock::now() - sent < std::chrono::seconds(2)) Frame(scene, step++);
    const auto got = Clock::now();
    const uint64_t passesAtGot = SdlStats().passes;
    xt.fakeKey(x, key5, 0, 0);
    xt.sync(x, 0);
    if (k != "5") {
      ++lost;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(got - sent).count());
    passes.push_back(double(passesAtGot - passesAtSend));
    RunFrames(scene, 0.003 * double(ms.size() % 4));  // spread the presses over the pass period
  }
  CloseScreen(false);
  xt.close(x);
  if (ms.empty()) return;
  state.counters["latency_ms_median"] = Median(ms);
  state.counters["latency_ms_max"] = *std::max_element(ms.begin(), ms.end());
  state.counters["passes_median"] = Median(passes);
  state.counters["passes_max"] = *std::max_element(passes.begin(), passes.end());
  state.counters["lost"] = lost;
}
BENCHMARK(BM_KeyLatency)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
