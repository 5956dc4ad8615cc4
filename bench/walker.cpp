// walker.cpp - each walker program's loop body on the windowless back-end:
// frames per second and the ratio of a frame's time to the bare memory
// traffic a frame needs (two page copies with their text cells and the
// clear, done with memcpy/memset), both measured in the same run. Also the
// time to load the six asset files.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <type_traits>
#include <vector>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "state.h"

#ifndef WALKER_ASSET_DIR
#define WALKER_ASSET_DIR "assets"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// This thread's processor time in nanoseconds: frame and bound are compared
// in it, so that other work on the machine does not blur the ratio.
double ThreadNanoseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

const bool kWindowless = (setenv("SCRBK", "null", 1), true);
char gArg0[] = "bench_walker";
char* gArgv[] = {gArg0, nullptr};

// Runs with the bundled assets as the current directory.
struct InAssetDir {
  InAssetDir() : old(std::filesystem::current_path()) {
    std::filesystem::current_path(WALKER_ASSET_DIR);
  }
  ~InAssetDir() { std::filesystem::current_path(old); }
  std::filesystem::path old;
};

// The bytes one frame moves on the open Screen, done as plain memory work:
// page 2 -> page 1 and page 1 -> page 0 (pixels and text cells), and the
// 320 x 200 clear. Returns processor nanoseconds per frame, the best of
// several batches.
double BoundNanoseconds() {
  const Screen& s = *gLayer.screen;
  const size_t page = size_t(s.pitch) * size_t(s.height);
  const size_t text = size_t(s.textColumns) * size_t(s.textRows) * sizeof(TextCell);
  const size_t clearRow = std::min<size_t>(320, size_t(s.width)) * size_t(s.bytesPerPixel);
  const int32_t clearRows = std::min(200, s.height);
  std::vector<uint8_t> p0(page), p1(page), p2(page, 1), t0(text), t1(text), t2(text, 1);
  double best = 1e300;
  for (int batch = 0; batch < 7; ++batch) {
    constexpr int kFrames = 200;
    const double start = ThreadNanoseconds();
    for (int i = 0; i < kFrames; ++i) {
      std::memcpy(p1.data(), p2.data(), page);
      std::memcpy(t1.data(), t2.data(), text);
      for (int32_t y = 0; y < clearRows; ++y) std::memset(p1.data() + size_t(y) * size_t(s.pitch), 0, clearRow);
      std::memcpy(p0.data(), p1.data(), page);
      std::memcpy(t0.data(), t1.data(), text);
      benchmark::ClobberMemory();
    }
    best = std::min(best, (ThreadNanoseconds() - start) / kFrames);
  }
  return best;
}

template <class Program, class Open, class Iterate>
void RunLoop(benchmark::State& state, Open open, Iterate iterate) {
  InAssetDir dir;
  auto p = std::make_unique<Program>();
  open(*p);
  // No key waits: every iteration is one pass at the start position.
  while (!InKey().empty()) {
  }
  const double bound = BoundNanoseconds();
  int64_t frames = 0;
  const auto start = Clock::now();
  const double cpuStart = ThreadNanoseconds();
  for (auto _ : state) {
    iterate(*p);
    ++frames;
  }
  const double cpu = (ThreadNanoseconds() - cpuStart) / double(std::max<int64_t>(frames, 1));
  const double real = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                      double(std::max<int64_t>(frames, 1));
  state.counters["fps"] = 1e9 / real;
  state.counters["frame_us"] = cpu / 1000.0;
  state.counters["bound_us"] = bound / 1000.0;
  state.counters["ratio"] = cpu / bound;
  ScreenMode(0);
}

void BM_Mapwalk1Frame(benchmark::State& state) {
  RunLoop<mapwalk1::Program>(
      state,
      [](mapwalk1::Program& p) {
        mapwalk1::StartUp(p, 1, gArgv);
        mapwalk1::Load(p);
      },
      [](mapwalk1::Program& p) { mapwalk1::Iterate(p); });
}
BENCHMARK(BM_Mapwalk1Frame)->UseRealTime();

void BM_Mapwalk2Frame(benchmark::State& state) {
  RunLoop<mapwalk2::Program>(
      state,
      [](mapwalk2::Program& p) {
        mapwalk2::StartUp(p, 1, gArgv);
        mapwalk2::Load(p);
      },
      [](mapwalk2::Program& p) { mapwalk2::Iterate(p); });
}
BENCHMARK(BM_Mapwalk2Frame)->UseRealTime();

void BM_Mapwalk3Frame(benchmark::State& state) {
  RunLoop<mapwalk3::Program>(
      state,
      [](mapwalk3::Program& p) {
        mapwalk3::StartUp(p, 1, gArgv);
        mapwalk3::Load(p);
      },
      [](mapwalk3::Program& p) { mapwalk3::Iterate(p); });
}
BENCHMARK(BM_Mapwalk3Frame)->UseRealTime();

// Loading the six files (each program's own way), on an open Screen.
template <class Program, class Start, class Load>
void RunLoad(benchmark::State& state, Start start, Load load) {
  InAssetDir dir;
  auto p = std::make_unique<Program>();
  start(*p);
  for (auto _ : state) {
    load(*p);
    state.PauseTiming();
    if constexpr (std::is_same_v<Program, mapwalk3::Program>) {
      for (ImageBuffer** image : {&p->brick, &p->flameA, &p->flameB, &p->skull, &p->sprite, &p->map}) {
        ImageDestroy(*image);
        *image = nullptr;
      }
    }
    state.ResumeTiming();
  }
  ScreenMode(0);
}

void BM_Mapwalk1Load(benchmark::State& state) {
  RunLoad<mapwalk1::Program>(
      state, [](mapwalk1::Program& p) { mapwalk1::StartUp(p, 1, gArgv); },
      [](mapwalk1::Program& p) { mapwalk1::Load(p); });
}
BENCHMARK(BM_Mapwalk1Load)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mapwalk2Load(benchmark::State& state) {
  RunLoad<mapwalk2::Program>(
      state, [](mapwalk2::Program& p) { mapwalk2::StartUp(p, 1, gArgv); },
      [](mapwalk2::Program& p) { mapwalk2::Load(p); });
}
BENCHMARK(BM_Mapwalk2Load)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mapwalk3Load(benchmark::State& state) {
  RunLoad<mapwalk3::Program>(
      state, [](mapwalk3::Program& p) { mapwalk3::StartUp(p, 1, gArgv); },
      [](mapwalk3::Program& p) { mapwalk3::Load(p); });
}
BENCHMARK(BM_Mapwalk3Load)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
