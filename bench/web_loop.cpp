// web_loop.cpp (bench) - the native side of the web build's loop comparison
// (bench/web.mjs): one walker's loop body on the windowless back-end, no
// keys, in a tight loop as the page's batches run it. For each line read on
// standard input, FRAMES frames back to back are timed (wall time, as the
// page times its batches) and the time per frame in us printed on a line of
// its own, so that bench/web.mjs can alternate the native and the page's
// batches in one run. 200 frames that are not timed come first.
// Usage: bench_web_loop PROGRAM FRAMES.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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
void Run(FILE* requests, int frames, StartUp startUp, Load load, Iterate iterate) {
  auto p = std::make_unique<Program>();
  startUp(*p, 1, gArgv);
  load(*p);
  for (int i = 0; i < 200; ++i) iterate(*p);
  char line[64];
  while (std::fgets(line, sizeof line, requests)) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) iterate(*p);
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%.3f\n", us / frames);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The requests come on standard input; the windowless back-end, which reads
  // its keys there, gets none.
  FILE* requests = fdopen(dup(0), "r");
  bench::DetachInput();
  bench::StayOnThisProcessor();
  setenv("SCRBK", "null", 1);
  const std::string name = argc == 3 ? argv[1] : "";
  const int frames = argc == 3 ? std::atoi(argv[2]) : 0;
  if (!requests || frames <= 0 || (name != "mapwalk1" && name != "mapwalk2" && name != "mapwalk3")) {
    std::fprintf(stderr, "usage: bench_web_loop mapwalk1|mapwalk2|mapwalk3 FRAMES (one line per batch on standard input)\n");
    return 2;
  }
  std::filesystem::current_path(WALKER_ASSET_DIR);
  if (name == "mapwalk1") Run<mapwalk1::Program>(requests, frames, mapwalk1::StartUp, mapwalk1::Load, mapwalk1::Iterate);
  if (name == "mapwalk2") Run<mapwalk2::Program>(requests, frames, mapwalk2::StartUp, mapwalk2::Load, mapwalk2::Iterate);
  if (name == "mapwalk3") Run<mapwalk3::Program>(requests, frames, mapwalk3::StartUp, mapwalk3::Load, mapwalk3::Iterate);
}
