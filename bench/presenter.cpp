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
//   - how long a typed key takes to reach InKey, in milliseconds and in
//     Presenter passes (target: within one pass).
//
// The window lives on a private Xvfb (started here) unless none can start,
// in which case DISPLAY is used as it is.
#include <benchmark/benchmark.h>

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

// Null and SDL phases alternate; each reports the median of its rounds.
void BM_PresenterUnderLoad(benchmark::State& state) {
  if (!EnsureDisplay()) {
    state.SkipWithError("no X display");
    return;
  }
  std::vector<double> nullFps, sdlFps, passRates;
  double maxGapMs = 0;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      Scene scene;
      if (!OpenScene(false, scene)) {
        state.SkipWithError("cannot open the windowless screen");
        return;
      }
      nullFps.push_back(RunFrames(scene, 1.5));
      CloseScreen(false);

      if (!OpenScene(true, scene)) {
        state.SkipWithError("cannot open the SDL window");
        return;
      }
      RunFrames(scene, 0.2);  // let the window settle
      SdlResetStats();
      const auto start = Clock::now();
      sdlFps.push_back(RunFrames(scene, 1.5));
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
  state.counters["fps_ratio"] = n > 0 ? s / n : 0;
  state.counters["passes_per_s"] = Median(passRates);
  state.counters["max_gap_ms"] = maxGapMs;
}
BENCHMARK(BM_PresenterUnderLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

// A key typed (XTEST through xdotool) while the program draws flat out: the
// time from the key's arrival at the X server to InKey, and the Presenter
// passes in between.
void BM_KeyLatency(benchmark::State& state) {
  if (!EnsureDisplay()) {
    state.SkipWithError("no X display");
    return;
  }
  Scene scene;
  if (!OpenScene(true, scene)) {
    state.SkipWithError("cannot open the SDL window");
    return;
  }
  const std::string focus = "xdotool windowfocus --sync " + std::to_string(SdlStats().windowId) +
                            " >/dev/null 2>&1";
  if (std::system(focus.c_str()) != 0) {
    state.SkipWithError("xdotool failed");
    CloseScreen(false);
    return;
  }
  RunFrames(scene, 0.2);
  std::vector<double> ms, passes;
  int lost = 0;
  for (auto _ : state) {
    // xdotool has delivered the key when it returns; then draw until InKey has it.
    if (std::system("xdotool key 5 >/dev/null 2>&1") != 0) {
      state.SkipWithError("xdotool failed");
      break;
    }
    const auto sent = Clock::now();
    const uint64_t passesAtSend = SdlStats().passes;
    KeyString k;
    int step = 0;
    while ((k = InKey()).empty() && Clock::now() - sent < std::chrono::seconds(2)) Frame(scene, step++);
    if (k != "5") {
      ++lost;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    passes.push_back(double(SdlStats().passes - passesAtSend));
  }
  CloseScreen(false);
  if (ms.empty()) return;
  state.counters["latency_ms_median"] = Median(ms);
  state.counters["latency_ms_max"] = *std::max_element(ms.begin(), ms.end());
  state.counters["passes_median"] = Median(passes);
  state.counters["passes_max"] = *std::max_element(passes.begin(), passes.end());
  state.counters["lost"] = lost;
}
BENCHMARK(BM_KeyLatency)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace
