// presenter.cpp (Windows bench) - the Windows back-ends' Presenter under a
// program that draws walker-like frames flat out on a 640 x 480 Screen
// (bench/frame.h), run under Wine by bench/windows/run.sh.
//
// Measured in one run: frames per second windowless ("null") and in the GDI
// window, in alternating rounds, and their ratio (target >= 0.90); Presenter
// passes per second (its own count) for GDI and OpenGL (target >= 95 each)
// and DirectX (reported); the OpenGL and DirectX windows' frame rates and
// their ratios to the windowless one (reported). Exit status 1 when a target
// is missed, 2 when a back-end could not open.
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <string>

#include "../frame.h"
#include "backend/win32_window.h"
#include "screen.h"

namespace {

using namespace scr;
using Clock = std::chrono::steady_clock;

ImageBuffer* gTile = nullptr;

void Frame(int step) { bench::WalkerFrame(gTile, step); }

struct Run {
  double fps = 0, passes = 0;
};

// One Screen on `backend` for `seconds` of frames.
bool Round(const char* backend, double seconds, Run& run) {
  _putenv_s("SCRBK", backend);
  if (ScreenRes(640, 480, 4, 3, 0, 0) != 0) return false;
  SetPages(1, 0);
  if (!gTile) {
    gTile = ImageCreate(16, 16, 0, 0, kNoColour);
    for (int i = 0; i < 256; ++i) PutPixel(nullptr, float(i % 16), float(i / 16), uint32_t(i * 7 % 16));
    GetImage(nullptr, 0, 0, 15, 15, gTile, 0, nullptr, HeaderForm::Full);  // kept across Screens
  }
  for (int i = 0; i < 64 * 32; ++i) PutPixel(nullptr, float(i % 64), float(i / 64), uint32_t(i % 5));
  PageCopy(1, 2);
  for (int warm = 0; warm < 50; ++warm) Frame(warm);
  const uint64_t passes0 = WindowPasses();
  const auto start = Clock::now();
  int64_t frames = 0;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) Frame(int(frames++));
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  run.fps = double(frames) / took;
  run.passes = double(WindowPasses() - passes0) / took;
  ScreenMode(0, 0, 0, 0, 0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  double nullFps = 0, gdiFps = 0, gdiPasses = 0;
  constexpr int kRounds = 3;
  for (int r = 0; r < kRounds; ++r) {  // alternating, so both see the same load
    Run a, b;
    if (!Round("null", seconds, a) || !Round("GDI", seconds, b)) return std::printf("GDI could not open\n"), 2;
    nullFps += a.fps / kRounds, gdiFps += b.fps / kRounds, gdiPasses += b.passes / kRounds;
  }
  Run gl, dx;
  if (!Round("OpenGL", seconds, gl)) return std::printf("OpenGL could not open\n"), 2;
  if (!Round("DirectX", seconds, dx)) return std::printf("DirectX could not open\n"), 2;
  const double ratio = gdiFps / nullFps;
  std::printf("frames/s: windowless %.0f, GDI window %.0f, ratio %.2f (target >= 0.90)\n", nullFps, gdiFps, ratio);
  std::printf("Presenter passes/s: GDI %.1f, OpenGL %.1f (targets >= 95), DirectX %.1f (reported)\n", gdiPasses,
              gl.passes, dx.passes);
  std::printf("frames/s: OpenGL window %.0f, ratio %.2f; DirectX window %.0f, ratio %.2f\n", gl.fps,
              gl.fps / nullFps, dx.fps, dx.fps / nullFps);
  std::fflush(stdout);
  const bool met = ratio >= 0.9 && gdiPasses >= 95 && gl.passes >= 95;
  EndProgram(met ? 0 : 1);
}
