// measure.h (bench) - timing that a ratio can rest on.
//
// A figure is this thread's processor time per call, taken over batches of
// about 2 ms each: the best batch is the figure, the median batch says how
// steady it was. The operation under test and its baseline run in
// alternating batches, so both see the same load from the rest of the
// machine; a baseline whose best and median differ by more than 10 % is
// measured again (up to three times) and flagged when it stays unsteady.
#pragma once

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace bench {

inline double ThreadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// A block of `bytes` starting on a cache line, as the Screen's pages do,
// written once so that its pages are mapped before any timing.
struct AlignedBlock {
  explicit AlignedBlock(size_t bytes)
      : size(bytes), data(static_cast<uint8_t*>(std::aligned_alloc(64, (bytes + 63) & ~size_t(63)))) {
    std::memset(data, 1, size);
  }
  ~AlignedBlock() { std::free(data); }
  AlignedBlock(const AlignedBlock&) = delete;
  AlignedBlock& operator=(const AlignedBlock&) = delete;
  size_t size;
  uint8_t* data;
};

// `v` as the compiler cannot know it: a memset or memcpy of a known small
// size is expanded inline (as `rep stos` at -O2, several times slower than
// the library's routine), which is not the baseline meant.
inline size_t Opaque(size_t v) {
  asm volatile("" : "+r"(v));
  return v;
}

struct Timing {
  double best = 0, median = 0;  // ns per call
  bool Steady() const { return best > 0 && median <= best * 1.10; }
};

using Op = std::function<void()>;

inline double WallNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Calls per batch so that one batch takes about 2 ms.
inline int64_t CallsPerBatch(const Op& op) {
  for (int i = 0; i < 3; ++i) op();  // warm caches and branch history
  int64_t n = 1;
  for (;;) {
    const double t0 = ThreadNs();
    for (int64_t i = 0; i < n; ++i) op();
    const double t = ThreadNs() - t0;
    if (t > 2e5 || n > (int64_t(1) << 30)) return std::max<int64_t>(1, int64_t(double(n) * 2e6 / std::max(t, 1.0)));
    n *= 4;
  }
}

inline Timing Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2]};
}

// Runs `op` until the processor has settled: on our hosts a processor that
// was idle runs slower for its first seconds of work (the mapwalk1 frame took
// 3.5 us for about 4 s, then 2.7 us). Settled: no batch 2 % faster than the
// best for one second; at most 10 s.
inline void WarmUp(const Op& op) {
  const int64_t n = CallsPerBatch(op);
  double best = 1e300;
  const double start = WallNs();
  double lastGain = start;
  while (WallNs() - lastGain < 1e9 && WallNs() - start < 1e10) {
    const double t0 = ThreadNs();
    for (int64_t i = 0; i < n; ++i) op();
    const double t = ThreadNs() - t0;
    if (t < best * 0.98) best = t, lastGain = WallNs();
  }
}

// Times `op` and `base` in `batches` alternating batches each.
inline void MeasureOnce(const Op& op, const Op& base, int batches, Timing& opT, Timing& baseT) {
  const int64_t nOp = CallsPerBatch(op), nBase = CallsPerBatch(base);
  std::vector<double> a, b;
  for (int k = 0; k < batches; ++k) {
    double t0 = ThreadNs();
    for (int64_t i = 0; i < nOp; ++i) op();
    a.push_back((ThreadNs() - t0) / double(nOp));
    t0 = ThreadNs();
    for (int64_t i = 0; i < nBase; ++i) base();
    b.push_back((ThreadNs() - t0) / double(nBase));
  }
  opT = Summarise(a);
  baseT = Summarise(b);
}

// The pair, measured again while the baseline is unsteady (three tries).
inline void Measure(const Op& op, const Op& base, Timing& opT, Timing& baseT, int batches = 15) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    MeasureOnce(op, base, batches, opT, baseT);
    if (baseT.Steady()) return;
  }
}

// One operation on its own.
inline Timing MeasureAlone(const Op& op, int batches = 15) {
  const int64_t n = CallsPerBatch(op);
  std::vector<double> a;
  for (int k = 0; k < batches; ++k) {
    const double t0 = ThreadNs();
    for (int64_t i = 0; i < n; ++i) op();
    a.push_back((ThreadNs() - t0) / double(n));
  }
  return Summarise(a);
}

// Keys are no part of any figure: with standard input on /dev/null the
// windowless back-end finds its end at once, instead of asking the terminal
// on every frame (one poll per frame took mapwalk1's frame from 3.0 to 5.7 us)
// and setting it to raw mode.
inline void DetachInput() {
  if (!std::freopen("/dev/null", "r", stdin)) std::perror("bench: /dev/null");
}

// Keeps this thread on the processor it runs on: a move to the other one
// leaves the pages behind in its caches (unpinned, mapwalk3's frame ratio
// ranged 0.91-1.40x over 15 runs; pinned, 1.04-1.27x over 14).
inline void StayOnThisProcessor() {
  const int cpu = sched_getcpu();
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (cpu < 0 || sched_setaffinity(0, sizeof set, &set) != 0) std::perror("bench: processor affinity");
}

inline const char* Verdict(bool pass) { return pass ? "PASS" : "FAIL"; }

// "name  op best (median)  /  baseline best (median)  = ratio  target  PASS".
inline bool PrintRatio(const char* name, const Timing& op, const char* baseName,
                       const Timing& base, double target) {
  const double r = op.best / base.best;
  const bool pass = r <= target;
  std::printf("  %-26s %9.1f ns (med %9.1f) / %-16s %9.1f ns (med %9.1f) = %5.2fx  <= %.2fx  %s%s\n",
              name, op.best, op.median, baseName, base.best, base.median, r, target, Verdict(pass),
              base.Steady() ? "" : "  [baseline unsteady: best and median differ > 10 %]");
  return pass;
}

inline bool PrintAbsolute(const char* name, const Timing& op, double limitNs) {
  const bool pass = op.best < limitNs;
  std::printf("  %-26s %9.1f ns (med %9.1f)  < %.0f ns  %s\n", name, op.best, op.median, limitNs,
              Verdict(pass));
  return pass;
}

}  // namespace bench
