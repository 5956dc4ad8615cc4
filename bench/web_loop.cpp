// web_loop.cpp (bench) - the native side of the web build's loop comparison
// (bench/web.mjs): each walker's loop body on the windowless back-end, each
// frame timed on its own (wall time, as the page times its frames), no keys,
// one frame every 16 ms as a page's animation frames come, so that both sides
// start each frame from the same state of the caches. Prints "NAME MEDIAN_US"
// per program.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "measure.h"
#include "pages.h"  // CloseScreen: the next program opens its own Screen

#ifndef WALKER_ASSET_DIR
#define WALKER_ASSET_DIR "assets"
#endif

namespace {

char gArg0[] = "bench_web_loop";
char* gArgv[] = {gArg0, nullptr};
constexpr int kFrames = 400;

template <class Program, class StartUp, class Load, class Iterate>
void Run(const char* name, StartUp startUp, Load load, Iterate iterate) {
  auto p = std::make_unique<Program>();
  startUp(*p, 1, gArgv);
  load(*p);
  std::vector<double> us;
  for (int i = 0; i < kFrames; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
    const auto t0 = std::chrono::steady_clock::now();
    iterate(*p);
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  std::nth_element(us.begin(), us.begin() + kFrames / 2, us.end());
  std::printf("%s %.2f\n", name, us[kFrames / 2]);
  scr::CloseScreen();
}

}  // namespace

int main() {
  bench::DetachInput();
  setenv("SCRBK", "null", 1);
  std::filesystem::current_path(WALKER_ASSET_DIR);
  Run<mapwalk1::Program>("mapwalk1", mapwalk1::StartUp, mapwalk1::Load, mapwalk1::Iterate);
  Run<mapwalk2::Program>("mapwalk2", mapwalk2::StartUp, mapwalk2::Load, mapwalk2::Iterate);
  Run<mapwalk3::Program>("mapwalk3", mapwalk3::StartUp, mapwalk3::Load, mapwalk3::Iterate);
}
