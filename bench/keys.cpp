// InKey on an empty ring and Timer, each beside a bare clock_gettime call
// measured in the same run, each the fastest of five repetitions (targets:
// Timer at most 1.25x the bare read, InKey on an empty window ring at most
// 1x; exit status 1 when one is missed).
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "backend/backend.h"
#include "backend/keydecoder.h"
#include "platform/terminal.h"
#include "pages.h"
#include "screen.h"
#include "state.h"

using namespace scr;

namespace {

void BM_ClockGettime(benchmark::State& state) {
  timespec ts;
  for (auto _ : state) {
    clock_gettime(CLOCK_MONOTONIC, &ts);
    benchmark::DoNotOptimize(ts);
  }
}
BENCHMARK(BM_ClockGettime)->Repetitions(5)->MinTime(0.1);

void BM_Timer(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Timer());
}
BENCHMARK(BM_Timer)->Repetitions(5)->MinTime(0.1);

// A Screen with a window back-end's ring: posted into by a Presenter under a
// real lock, nothing waiting. (The windowless back-end is opened, then shown
// as one whose Presenter posts keys: no display is needed.)
std::mutex gBenchLock;
const Backend kWindowLike = {"bench", nullptr, [] {}, [] { gBenchLock.lock(); }, [] { gBenchLock.unlock(); },
                             nullptr};

void BM_InKeyEmptyWindowRing(benchmark::State& state) {
  if (ScreenRes(320, 200, 8, 1, -1, 0) != 0) {
    state.SkipWithError("no Screen");
    return;
  }
  const Backend* opened = gLayer.screen->backend;
  gLayer.screen->backend = &kWindowLike;
  for (auto _ : state) benchmark::DoNotOptimize(InKey());
  gLayer.screen->backend = opened;
  CloseScreen();
}
BENCHMARK(BM_InKeyEmptyWindowRing)->Repetitions(5)->MinTime(0.1);

// The windowless back-end's ring, filled from standard input (taken as ended: no system call).
void BM_InKeyEmptyWindowlessRing(benchmark::State& state) {
  TermSetConsoleInput(-1, false);
  if (ScreenRes(320, 200, 8, 1, -1, 0) != 0) {
    state.SkipWithError("no Screen");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(InKey());
  CloseScreen();
}
BENCHMARK(BM_InKeyEmptyWindowlessRing)->Repetitions(5)->MinTime(0.1);

// No Screen, console input at its end (no system call per call).
void BM_InKeyEmptyConsoleEnded(benchmark::State& state) {
  TermSetConsoleInput(-1, false);
  for (auto _ : state) benchmark::DoNotOptimize(InKey());
}
BENCHMARK(BM_InKeyEmptyConsoleEnded)->Repetitions(5)->MinTime(0.1);

// No Screen, console input an empty open pipe (one poll per call).
void BM_InKeyEmptyConsolePipe(benchmark::State& state) {
  int fds[2];
  if (pipe(fds) != 0) {
    state.SkipWithError("no pipe");
    return;
  }
  TermSetConsoleInput(fds[0], false);
  for (auto _ : state) benchmark::DoNotOptimize(InKey());
  TermSetConsoleInput(-1, false);
  close(fds[0]);
  close(fds[1]);
}
BENCHMARK(BM_InKeyEmptyConsolePipe)->Repetitions(5)->MinTime(0.1);

// Decoding a burst of typical terminal input, per byte.
void BM_DecodeBytes(benchmark::State& state) {
  const std::string bytes = "66\x1b[A\x1bOP4\x1b[1;5C\x1b[24~\xc3\xa9qwerty\r";
  TermKeyDecoder decoder;
  std::vector<KeyCode> out;
  out.reserve(64);
  for (auto _ : state) {
    out.clear();
    decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeBytes)->Repetitions(5)->MinTime(0.1);

// Collects ns per iteration to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // The fastest of the repetitions.
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      const auto it = ns_.find(r.run_name.function_name);
      const double ns = r.GetAdjustedCPUTime();
      if (it == ns_.end() || ns < it->second) ns_[r.run_name.function_name] = ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double base = ns_["BM_ClockGettime"];
    if (base <= 0) return;
    std::printf("\nCPU ns per call, and ratio to a bare clock_gettime(CLOCK_MONOTONIC) (%.2f ns):\n",
                base);
    // Targets as ratios to the bare read; the rest shown beside them.
    const std::pair<const char*, double> kRows[] = {{"BM_Timer", 1.25}, {"BM_InKeyEmptyWindowRing", 1.0},
                                                    {"BM_InKeyEmptyWindowlessRing", 0},
                                                    {"BM_InKeyEmptyConsoleEnded", 0},
                                                    {"BM_InKeyEmptyConsolePipe", 0}};
    for (const auto& [name, limit] : kRows) {
      const auto it = ns_.find(name);
      if (it == ns_.end()) continue;
      const double ratio = it->second / base;
      const bool pass = limit == 0 || ratio <= limit;
      std::printf("  %-28s %8.2f ns  %6.2fx  ", name, it->second, ratio);
      if (limit == 0) std::printf("(no target)\n");
      else std::printf("<= %.2fx  %s\n", limit, pass ? "PASS" : "FAIL");
      ok = ok && pass;
    }
  }

 private:
  std::map<std::string, double> ns_;

 public:
  bool ok = true;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.ok ? 0 : 1;
}
