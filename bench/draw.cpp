// draw.cpp (bench) - pixel primitives, image blits and page copies, each next
// to the plain memcpy / memset of the same bytes measured in the same run.
// A summary at the end prints the ratios and the per-call times against the
// targets: PageCopy <= 1.15x memcpy, FilledBox 320 x 200 <= 1.2x memset,
// PutImage 16 x 16 < 60 ns, PutPixel and GetPixel < 25 ns. On a busy machine
// run with --benchmark_repetitions=5: the summary takes each one's fastest.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "screen.h"
#include "state.h"

namespace {

// Opens a w x h, 4-bit, 8-page windowless Screen (drawing on page 1, page 0
// shown) unless one of that size is open already.
void Screen(int32_t w, int32_t h) {
  if (gLayer.screen && gLayer.screen->width == w && gLayer.screen->height == h) return;
  if (ScreenRes(w, h, 4, 8, -1, 0) != 0) std::abort();
  SetPages(1, 0);
}

void BM_PutPixel(benchmark::State& st) {
  Screen(640, 480);
  uint32_t i = 0;
  for (auto _ : st) {
    PutPixel(nullptr, float(i & 511), float((i >> 9) & 255), i & 15, CoordForm::Point, 0);
    ++i;
  }
}
BENCHMARK(BM_PutPixel);

void BM_PutPixelVisiblePage(benchmark::State& st) {
  Screen(640, 480);
  SetPages(0, 0);
  uint32_t i = 0;
  for (auto _ : st) {
    PutPixel(nullptr, float(i & 511), float((i >> 9) & 255), i & 15, CoordForm::Point, 0);
    ++i;
  }
  SetPages(1, 0);
}
BENCHMARK(BM_PutPixelVisiblePage);

void BM_GetPixel(benchmark::State& st) {
  Screen(640, 480);
  uint32_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(GetPixel(nullptr, float(i & 511), float((i >> 9) & 255)));
    ++i;
  }
}
BENCHMARK(BM_GetPixel);

void BM_FilledBox320x200(benchmark::State& st) {
  Screen(640, 480);
  uint32_t c = 0;
  for (auto _ : st) {
    DrawLine(nullptr, 0, 0, 319, 199, ++c & 15, LineShape::FilledBox);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * 320 * 200);
  // Rows that start on a cache line fill fastest; the page store's alignment decides.
  st.counters["row0_mod64"] = double(reinterpret_cast<uintptr_t>(gLayer.screen->pages[1]) % 64);
}
BENCHMARK(BM_FilledBox320x200);

// The same rectangle in a 640 x 480 image whose rows start on cache lines:
// what the page would give if its rows were 64-byte aligned.
void BM_FilledBox320x200AlignedRows(benchmark::State& st) {
  Screen(640, 480);
  static uint8_t* block = static_cast<uint8_t*>(std::aligned_alloc(64, 64 + 640 * 480));
  uint8_t* header = block + 32;  // rows begin at block + 64
  const uint32_t fields[8] = {7, 1, 640, 480, 640, 0, 0, 0};
  std::memcpy(header, fields, sizeof fields);
  auto* image = reinterpret_cast<ImageBuffer*>(header);
  uint32_t c = 0;
  for (auto _ : st) {
    DrawLine(image, 0, 0, 319, 199, ++c & 15, LineShape::FilledBox);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * 320 * 200);
}
BENCHMARK(BM_FilledBox320x200AlignedRows);

// The whole 320 x 200 page of the first program's screen: one contiguous run.
void BM_FilledBox320x200WholePage(benchmark::State& st) {
  Screen(320, 200);
  uint32_t c = 0;
  for (auto _ : st) {
    DrawLine(nullptr, 0, 0, 319, 199, ++c & 15, LineShape::FilledBox);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * 320 * 200);
}
BENCHMARK(BM_FilledBox320x200WholePage);

void BM_Memset64000(benchmark::State& st) {
  std::vector<uint8_t> buf(64000);
  int c = 0;
  for (auto _ : st) {
    std::memset(buf.data(), ++c & 15, buf.size());
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * 64000);
}
BENCHMARK(BM_Memset64000);

void BM_Box16(benchmark::State& st) {
  Screen(640, 480);
  uint32_t i = 0;
  for (auto _ : st) {
    float x = float((i & 31) * 16), y = float(((i >> 5) & 15) * 16);
    DrawLine(nullptr, x, y, x + 15, y + 15, i & 15, LineShape::Box);
    ++i;
  }
}
BENCHMARK(BM_Box16);

void BM_Box320x200(benchmark::State& st) {
  Screen(640, 480);
  uint32_t i = 0;
  for (auto _ : st) {
    DrawLine(nullptr, 0, 0, 319, 199, ++i & 15, LineShape::Box);
  }
}
BENCHMARK(BM_Box320x200);

// A 16 x 16 tile captured from the page in the packed form.
std::vector<uint8_t> Tile() {
  Screen(640, 480);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) PutPixel(nullptr, float(x), float(y), uint32_t(x ^ y) & 15);
  std::vector<uint8_t> tile(4 + 256);
  GetImage(nullptr, 0, 0, 15, 15, tile.data());
  return tile;
}

void PutImageLoop(benchmark::State& st, int32_t mode) {
  const std::vector<uint8_t> tile = Tile();
  uint32_t i = 0;
  for (auto _ : st) {
    float x = float((i & 31) * 16 + 8), y = float(((i >> 5) & 15) * 16 + 8);
    PutImage(nullptr, x, y, tile.data(), kOmitted, kOmitted, kOmitted, kOmitted, 0, mode);
    ++i;
  }
}
void BM_PutImage16Xor(benchmark::State& st) { PutImageLoop(st, RasterMode::Xor); }
void BM_PutImage16Or(benchmark::State& st) { PutImageLoop(st, RasterMode::Or); }
BENCHMARK(BM_PutImage16Xor);
BENCHMARK(BM_PutImage16Or);

void BM_GetImage16(benchmark::State& st) {
  Screen(640, 480);
  std::vector<int32_t> dest(17 * 17);
  BufferExtent extent{dest.data(), dest.size() * 4};
  uint32_t i = 0;
  for (auto _ : st) {
    float x = float((i & 31) * 16), y = float(((i >> 5) & 15) * 16);
    GetImage(nullptr, x, y, x + 15, y + 15, dest.data(), 0, &extent);
    benchmark::ClobberMemory();
    ++i;
  }
}
BENCHMARK(BM_GetImage16);

size_t TextBytes() {
  return gLayer.screen->textCells[0].size() * sizeof(TextCell);
}

void BM_PageCopy640x480(benchmark::State& st) {
  Screen(640, 480);
  for (auto _ : st) {
    PageCopy(2, 1);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(640 * 480 + TextBytes()));
}
BENCHMARK(BM_PageCopy640x480);

// Onto the visible page: the copy runs under the screen lock and flags rows.
void BM_PageCopy640x480Visible(benchmark::State& st) {
  Screen(640, 480);
  for (auto _ : st) {
    PageCopy(1, 0);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(640 * 480 + TextBytes()));
}
BENCHMARK(BM_PageCopy640x480Visible);

// The same bytes as one page copy: the pixel rows and the text cells.
void BM_MemcpyPage640x480(benchmark::State& st) {
  Screen(640, 480);
  const size_t pixels = 640 * 480, text = TextBytes();
  std::vector<uint8_t> a(pixels), b(pixels), ta(text), tb(text);
  for (auto _ : st) {
    std::memcpy(b.data(), a.data(), pixels);
    std::memcpy(tb.data(), ta.data(), text);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(pixels + text));
}
BENCHMARK(BM_MemcpyPage640x480);

// Collects each benchmark's CPU time per iteration for the summary (steadier
// than wall time when other work shares the machine).
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        // With --benchmark_repetitions the fastest repetition counts.
        const std::string name = r.run_name.function_name;
        const double ns = r.GetAdjustedCPUTime();  // default unit: ns
        auto it = ns_.find(name);
        if (it == ns_.end() || ns < it->second) ns_[name] = ns;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Ns(const std::string& name) const {
    auto it = ns_.find(name);
    return it == ns_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> ns_;
};

void Ratio(const Collector& c, const char* what, const char* base, double target) {
  double a = c.Ns(what), b = c.Ns(base);
  if (a <= 0 || b <= 0) return;
  std::printf("  %-30s %9.1f ns / %-22s %9.1f ns = %5.2fx  (target <= %.2fx: %s)\n", what, a,
              base, b, a / b, target, a / b <= target ? "met" : "MISSED");
}

void Absolute(const Collector& c, const char* what, double target) {
  double a = c.Ns(what);
  if (a <= 0) return;
  std::printf("  %-30s %9.1f ns  (target < %.0f ns: %s)\n", what, a, target,
              a < target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\nSummary (same run):\n");
  Ratio(collector, "BM_PageCopy640x480", "BM_MemcpyPage640x480", 1.15);
  Ratio(collector, "BM_PageCopy640x480Visible", "BM_MemcpyPage640x480", 1.15);
  Ratio(collector, "BM_FilledBox320x200", "BM_Memset64000", 1.2);
  Ratio(collector, "BM_FilledBox320x200AlignedRows", "BM_Memset64000", 1.2);
  Ratio(collector, "BM_FilledBox320x200WholePage", "BM_Memset64000", 1.2);
  Absolute(collector, "BM_PutImage16Xor", 60);
  Absolute(collector, "BM_PutImage16Or", 60);
  Absolute(collector, "BM_PutPixel", 25);
  Absolute(collector, "BM_PutPixelVisiblePage", 25);
  Absolute(collector, "BM_GetPixel", 25);
  benchmark::Shutdown();
  if (gLayer.screen) CloseScreen(false);
  return 0;
}
