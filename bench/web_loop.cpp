// web_loop.cpp (bench) - the native side of the web build's loop comparison
// (bench/web.mjs): one walker's loop body on the windowless back-end, each
// frame timed on its own (wall time, as the page times its frames), no keys,
// one frame every 16 ms as a page's animation frames come, so that both sides
// start each frame from the same state of the caches.
// Usage: bench_web_loop PROGRAM FRAMES. Prints the FRAMES times in us on one
// line, after 20 frames that are not timed (start-up and first passes).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "measure.h"

#ifndef WALKER_ASSET_DIR
#define WALKER_ASSET_DIR "assets"
#endif

namespace {

char gArg0[] = "bench_web_loop";
char* gArgv[] = {gArg0, nullptr};

template <class Program, class StartUp, class Load, class Iterate>
void Run(int frames, StartUp startUp, Load load, Iterate iterate) {
  auto p = std::make_unique<Program>();
  startUp(*p, 1, gArgv);
  load(*p);
  for (int i = -20; i < frames; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
    const auto t0 = std::chrono::steady_clock::now();
    iterate(*p);
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    if (i >= 0) std::printf("%.2f ", us);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  bench::DetachInput();
  setenv("SCRBK", "null", 1);
  const std::string name = argc == 3 ? argv[1] : "";
  const int frames = argc == 3 ? std::atoi(argv[2]) : 0;
  if (frames <= 0 || (name != "mapwalk1" && name != "mapwalk2" && name != "mapwalk3")) {
    std::fprintf(stderr, "usage: bench_web_loop mapwalk1|mapwalk2|mapwalk3 FRAMES\n");
    return 2;
  }
  std::filesystem::current_path(WALKER_ASSET_DIR);
  if (name == "mapwalk1") Run<mapwalk1::Program>(frames, mapwalk1::StartUp, mapwalk1::Load, mapwalk1::Iterate);
  if (name == "mapwalk2") Run<mapwalk2::Program>(frames, mapwalk2::StartUp, mapwalk2::Load, mapwalk2::Iterate);
  if (name == "mapwalk3") Run<mapwalk3::Program>(frames, mapwalk3::StartUp, mapwalk3::Load, mapwalk3::Iterate);
}
