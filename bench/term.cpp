// term.cpp - cost of the terminal picture: a full update of a 320 x 200 page,
// and the bytes one walker step (the player moving one cell) writes, unscaled
// and shrunk to an 80 x 24 terminal, in both colour forms.
//
// The frames are the walker's own: the bundled tiles and map (assets/),
// drawn as the programs draw them (tiles XOR-ed on black, outline cells, the
// view frame, the player sprite OR-ed in the middle), shown through the 16
// screen colours. Counters:
//   bytes          bytes written per update
//   full_bytes     bytes of a full repaint of the same kind of frame
//   step_vs_full   bytes / full_bytes, measured in the same run
// BM_OneCellChanged alternates between two frames that differ in one 16 x 16
// view cell only. The summary checks the targets at 80 x 24: a full update
// under 2 ms of processor time and a walker step under 2 KB; exit status 1
// when one is missed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "backend/term_picture.h"

using namespace scr;

namespace {

constexpr int32_t kW = 320, kH = 200;
constexpr uint32_t kColours[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                   0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                   0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

std::vector<int32_t> ReadNumbers(const std::string& name, size_t count) {
  std::vector<int32_t> v;
  std::ifstream in(std::filesystem::path(__FILE__).parent_path().parent_path() / "assets" / name);
  long n;
  while (v.size() < count && (in >> n)) v.push_back(int32_t(n));
  v.resize(count, 0);
  return v;
}

struct World {
  std::vector<int32_t> brick, flameA, flameB, skull, sprite, map;
  World()
      : brick(ReadNumbers("brick03.mem", 256)),
        flameA(ReadNumbers("flame01.mem", 256)),
        flameB(ReadNumbers("flame02.mem", 256)),
        skull(ReadNumbers("skull01.mem", 256)),
        sprite(ReadNumbers("wayfar1.mem", 256)),
        map(ReadNumbers("map002.mem", 64 * 32)) {}

  // The cell code at map-picture pixel (px, py): the map, 0 elsewhere on the page, -1 off it.
  int32_t Cell(int32_t px, int32_t py) const {
    if (px < 0 || py < 0 || px >= kW || py >= kH) return -1;
    if (px < 64 && py < 32) return map[size_t(py) * 64 + size_t(px)] & 0xFF;
    return 0;
  }
  static bool Blocks(int32_t v) { return v == 1 || v == 2 || v == 4 || v == -1; }

  // One shown frame at position (x, y) and flame phase, as 0xRRGGBB pixels.
  std::vector<uint32_t> Frame(int32_t x, int32_t y, int32_t phase) const {
    std::vector<uint8_t> page(size_t(kW) * kH, 0);
    auto tile = [&](const std::vector<int32_t>& t, int32_t x0, int32_t y0, bool orMode) {
      for (int32_t j = 0; j < 16; ++j)
        for (int32_t i = 0; i < 16; ++i) {
          uint8_t& p = page[size_t(y0 + j) * kW + size_t(x0 + i)];
          p = orMode ? uint8_t(p | t[size_t(j) * 16 + size_t(i)]) : uint8_t(p ^ t[size_t(j) * 16 + size_t(i)]);
        }
    };
    auto box = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
      for (int32_t i = x1; i <= x2; ++i) page[size_t(y1) * kW + size_t(i)] = page[size_t(y2) * kW + size_t(i)] = 15;
      for (int32_t j = y1; j <= y2; ++j) page[size_t(j) * kW + size_t(x1)] = page[size_t(j) * kW + size_t(x2)] = 15;
    };
    for (int32_t r = 1; r <= 7; ++r)
      for (int32_t c = 1; c <= 15; ++c) {
        int32_t v = Cell(x + c - 8, y + r - 4);
        int32_t x0 = c * 16 - 16, y0 = r * 16 - 16;
        if (v == 1) tile(brick, x0, y0, false);
        else if (v == 2 || v == 3) tile(phase ? flameB : flameA, x0, y0, false);
        else if (v == 4) tile(skull, x0, y0, false);
        else if (v > 4) box(x0, y0, c * 16, r * 16);
      }
    box(0, 0, 240, 112);
    tile(sprite, 112, 48, true);
    std::vector<uint32_t> rgb(page.size());
    for (size_t i = 0; i < page.size(); ++i) rgb[i] = page[i] < 16 ? kColours[page[i]] : 0;
    return rgb;
  }
};

const World& TheWorld() {
  static World w;
  return w;
}

// Frames of a walk: each one the player moved one cell from the one before.
const std::vector<std::vector<uint32_t>>& WalkFrames() {
  static std::vector<std::vector<uint32_t>> frames = [] {
    const World& w = TheWorld();
    std::vector<std::vector<uint32_t>> f;
    std::mt19937 rng(42);
    int32_t x = 2, y = 2;
    f.push_back(w.Frame(x, y, 0));
    const int32_t dx[8] = {-1, 0, 1, -1, 1, -1, 0, 1}, dy[8] = {1, 1, 1, 0, 0, -1, -1, -1};
    while (f.size() < 120) {
      int d = int(rng() % 8);
      int32_t nx = std::clamp(x + dx[d], 0, kW - 1), ny = std::clamp(y + dy[d], 0, kH - 1);
      if ((nx == x && ny == y) || World::Blocks(w.Cell(nx, ny))) continue;
      x = nx;
      y = ny;
      f.push_back(w.Frame(x, y, 0));
    }
    return f;
  }();
  return frames;
}

size_t FullBytes(int32_t cols, int32_t rows, bool tc) {
  termpic::Encoder e;
  e.Configure(kW, kH, cols, rows, tc);
  std::string out;
  return e.Encode(WalkFrames()[0].data(), 0, kH - 1, out);
}

// A full update: everything repainted, on a terminal of cols x rows cells
// (320 x 100 shows the page unscaled).
void BM_FullUpdate320x200(benchmark::State& state) {
  const int32_t cols = int32_t(state.range(0)), rows = int32_t(state.range(1));
  const bool tc = state.range(2) != 0;
  const auto& frame = WalkFrames()[0];
  termpic::Encoder e;
  e.Configure(kW, kH, cols, rows, tc);
  std::string out;
  out.reserve(1 << 20);
  size_t bytes = 0;
  for (auto _ : state) {
    out.clear();
    e.Invalidate();
    bytes = e.Encode(frame.data(), 0, kH - 1, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = double(bytes);
  state.SetLabel(std::to_string(cols) + "x" + std::to_string(rows) + (tc ? " truecolor" : " 256-colour"));
}
BENCHMARK(BM_FullUpdate320x200)
    ->Args({320, 100, 1})
    ->Args({320, 100, 0})
    ->Args({80, 24, 1})
    ->Args({80, 24, 0})
    ->Unit(benchmark::kMicrosecond);

// One walker step: the page of the next position (the whole view shifted by
// one cell), rows 0..199 flagged as PageCopy(1, 0) flags them.
void BM_WalkerStep(benchmark::State& state) {
  const int32_t cols = int32_t(state.range(0)), rows = int32_t(state.range(1));
  const bool tc = state.range(2) != 0;
  const auto& frames = WalkFrames();
  termpic::Encoder e;
  e.Configure(kW, kH, cols, rows, tc);
  std::string out;
  out.reserve(1 << 20);
  e.Encode(frames[0].data(), 0, kH - 1, out);
  size_t i = 1, total = 0, steps = 0;
  for (auto _ : state) {
    if (i == frames.size()) {  // back to the start: repaint, not a step
      state.PauseTiming();
      e.Invalidate();
      out.clear();
      e.Encode(frames[0].data(), 0, kH - 1, out);
      i = 1;
      state.ResumeTiming();
    }
    out.clear();
    total += e.Encode(frames[i++].data(), 0, kH - 1, out);
    ++steps;
  }
  const double perStep = steps ? double(total) / double(steps) : 0;
  const double full = double(FullBytes(cols, rows, tc));
  state.counters["bytes"] = perStep;
  state.counters["full_bytes"] = full;
  state.counters["step_vs_full"] = full > 0 ? perStep / full : 0;
  state.SetLabel(std::to_string(cols) + "x" + std::to_string(rows) + (tc ? " truecolor" : " 256-colour"));
}
BENCHMARK(BM_WalkerStep)
    ->Args({320, 100, 1})
    ->Args({320, 100, 0})
    ->Args({80, 24, 1})
    ->Args({80, 24, 0})
    ->Unit(benchmark::kMicrosecond);

// One cell changed: the flames flip while the player stands still.
void BM_FlameFlip(benchmark::State& state) {
  const int32_t cols = int32_t(state.range(0)), rows = int32_t(state.range(1));
  const World& w = TheWorld();
  // A position with a flame in view: walk the map for one.
  int32_t fx = 2, fy = 2;
  for (int32_t y = 1; y < 31 && fx == 2; ++y)
    for (int32_t x = 1; x < 63; ++x)
      if ((w.Cell(x, y) == 2 || w.Cell(x, y) == 3) && !World::Blocks(w.Cell(x - 1, y))) {
        fx = x - 1;
        fy = y;
        break;
      }
  const auto a = w.Frame(fx, fy, 0), b = w.Frame(fx, fy, 1);
  termpic::Encoder e;
  e.Configure(kW, kH, cols, rows, true);
  std::string out;
  e.Encode(a.data(), 0, kH - 1, out);
  size_t total = 0, n = 0;
  bool phase = false;
  for (auto _ : state) {
    out.clear();
    phase = !phase;
    total += e.Encode((phase ? b : a).data(), 0, kH - 1, out);
    ++n;
  }
  state.counters["bytes"] = n ? double(total) / double(n) : 0;
  state.counters["full_bytes"] = double(FullBytes(cols, rows, true));
  state.SetLabel(std::to_string(cols) + "x" + std::to_string(rows) + " truecolor");
}
BENCHMARK(BM_FlameFlip)->Args({320, 100})->Args({80, 24})->Unit(benchmark::kMicrosecond);

// Exactly one cell changed: a flame tile appears in one empty view cell.
void BM_OneCellChanged(benchmark::State& state) {
  const int32_t cols = int32_t(state.range(0)), rows = int32_t(state.range(1));
  const World& w = TheWorld();
  const auto a = w.Frame(2, 2, 0);
  auto b = a;
  // View cell (2, 6) lies off the map picture's left edge at (2, 2): empty.
  for (int32_t j = 0; j < 16; ++j)
    for (int32_t i = 0; i < 16; ++i) {
      int32_t v = w.flameA[size_t(j) * 16 + size_t(i)] & 15;
      b[size_t(80 + j) * kW + size_t(16 + i)] = kColours[v];
    }
  termpic::Encoder e;
  e.Configure(kW, kH, cols, rows, true);
  std::string out;
  e.Encode(a.data(), 0, kH - 1, out);
  size_t total = 0, n = 0;
  bool flip = false;
  for (auto _ : state) {
    out.clear();
    flip = !flip;
    total += e.Encode((flip ? b : a).data(), 0, kH - 1, out);
    ++n;
  }
  state.counters["bytes"] = n ? double(total) / double(n) : 0;
  state.counters["full_bytes"] = double(FullBytes(cols, rows, true));
  state.SetLabel(std::to_string(cols) + "x" + std::to_string(rows) + " truecolor");
}
BENCHMARK(BM_OneCellChanged)->Args({320, 100})->Args({80, 24})->Unit(benchmark::kMicrosecond);

// Keeps each run's processor time per iteration and its byte count.
class Collector : public benchmark::ConsoleReporter {
 public:
  struct Figure {
    double cpuUs = 0, bytes = 0;
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      Figure& f = figures_[r.benchmark_name()];
      const double us = r.GetAdjustedCPUTime();  // in the benchmark's unit: microseconds
      if (f.cpuUs == 0 || us < f.cpuUs) f.cpuUs = us;
      const auto it = r.counters.find("bytes");
      if (it != r.counters.end()) f.bytes = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Figure* Find(const std::string& name) const {
    const auto it = figures_.find(name);
    return it == figures_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, Figure> figures_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector c;
  benchmark::RunSpecifiedBenchmarks(&c);
  benchmark::Shutdown();
  bool ok = true;
  std::printf("\nTargets at 80 x 24 (processor time, best run):\n");
  for (const char* form : {"1", "0"}) {
    const std::string suffix = std::string("/80/24/") + form;
    const char* label = form[0] == '1' ? "truecolor" : "256-colour";
    if (const auto* f = c.Find("BM_FullUpdate320x200" + suffix)) {
      const bool pass = f->cpuUs < 2000;
      std::printf("  full update %-11s %8.1f us, %6.0f bytes  < 2 ms  %s\n", label, f->cpuUs, f->bytes,
                  pass ? "PASS" : "FAIL");
      ok &= pass;
    }
    if (const auto* f = c.Find("BM_WalkerStep" + suffix)) {
      const bool pass = f->bytes < 2048;
      std::printf("  walker step %-11s %8.1f us, %6.0f bytes  < 2 KB  %s\n", label, f->cpuUs, f->bytes,
                  pass ? "PASS" : "FAIL");
      ok &= pass;
    }
  }
  return ok ? 0 : 1;
}
