// walker.cpp (bench) - each walker program's loop body on the windowless
// back-end against the bare memory traffic a frame needs (two page copies
// with their text cells, the 320 x 200 clear and the bytes of the images it
// draws, done with memcpy/memset on cache-line-aligned blocks), measured in
// alternating batches (measure.h).
// Targets: mapwalk1 <= 1.5x, mapwalk2 and mapwalk3 <= 1.3x. Also the time to
// load the six asset files (target < 5 ms, best of 10 loads, wall time).
// Exit status 1 when a target is missed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <type_traits>
#include <vector>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "measure.h"
#include "pages.h"
#include "state.h"  // sizeof(TextCell) only: the bytes a page copy moves per text cell

#ifndef WALKER_ASSET_DIR
#define WALKER_ASSET_DIR "assets"
#endif

using namespace scr;

namespace {

char gArg0[] = "bench_walker";
char* gArgv[] = {gArg0, nullptr};

// Runs with the bundled assets as the current directory.
struct InAssetDir {
  InAssetDir() : old(std::filesystem::current_path()) { std::filesystem::current_path(WALKER_ASSET_DIR); }
  ~InAssetDir() { std::filesystem::current_path(old); }
  std::filesystem::path old;
};

// The plain memory work of one frame on a page of `pitch` x `height` bytes:
// page 2 -> page 1 and page 1 -> page 0 (pixels and text cells), the clear,
// and the `drawn` bytes of the tiles and the player as one block copy.
struct Bound {
  Bound(size_t pitch, size_t height, size_t text, size_t drawn)
      : pitch(pitch), page(pitch * height), text(text), drawn(drawn), p0(page), p1(page), p2(page),
        t0(text), t1(text), t2(text), images(drawn) {}
  void operator()() {
    std::memcpy(p1.data, p2.data, page);
    std::memcpy(t1.data, t2.data, text);
    if (pitch == 320) {
      std::memset(p1.data, 0, bench::Opaque(64000));  // the rows lie end to end
    } else {
      const size_t row = bench::Opaque(320);
      for (size_t y = 0; y < 200; ++y) std::memset(p1.data + y * pitch, 0, row);
    }
    std::memcpy(p1.data, images.data, drawn);
    std::memcpy(p0.data, p1.data, page);
    std::memcpy(t0.data, t1.data, text);
    asm volatile("" ::: "memory");
  }
  size_t pitch, page, text, drawn;
  bench::AlignedBlock p0, p1, p2, t0, t1, t2, images;
};

// Bytes of the 16 x 16 images one frame of `p`'s view draws: one image per
// brick, flame or skull cell, and the player's.
template <class Program>
size_t DrawnImageBytes(const Program& p) {
  size_t cells = 1;
  for (int32_t r = 1; r <= walker::kViewRows; ++r) {
    for (int32_t c = 1; c <= walker::kViewColumns; ++c) {
      const int32_t v = p.view(c, r);
      cells += v >= walker::CellCode::Brick && v <= walker::CellCode::Skull;
    }
  }
  return cells * walker::kTileSize * walker::kTileSize;
}

template <class Program>
void StartAndLoad(Program& p) {
  if constexpr (std::is_same_v<Program, mapwalk1::Program>) {
    mapwalk1::StartUp(p, 1, gArgv);
    mapwalk1::Load(p);
  } else if constexpr (std::is_same_v<Program, mapwalk2::Program>) {
    mapwalk2::StartUp(p, 1, gArgv);
    mapwalk2::Load(p);
  } else {
    mapwalk3::StartUp(p, 1, gArgv);
    mapwalk3::Load(p);
  }
}

template <class Program>
void Iterate(Program& p) {
  if constexpr (std::is_same_v<Program, mapwalk1::Program>) mapwalk1::Iterate(p);
  else if constexpr (std::is_same_v<Program, mapwalk2::Program>) mapwalk2::Iterate(p);
  else mapwalk3::Iterate(p);
}

// `width` x `height`: the page the program opens (one byte per pixel in all three).
template <class Program>
bool Frame(const char* name, int32_t width, int32_t height, double target) {
  InAssetDir dir;
  auto p = std::make_unique<Program>();
  StartAndLoad(*p);
  while (!InKey().empty()) {
  }  // no keys: every iteration is one pass at the start position
  Iterate(*p);  // one pass reads the view that DrawnImageBytes counts
  const int32_t size = SetWidth(0, 0);  // rows * 65536 + columns of the text grid
  Bound bound(size_t(width), size_t(height), size_t(size >> 16) * size_t(size & 0xFFFF) * sizeof(TextCell),
              DrawnImageBytes(*p));
  bench::Timing frame, base;
  bench::WarmUp([&] { Iterate(*p); });
  // 500 batch pairs, about 2 s: the host has slow phases of a few seconds
  // (mapwalk1 frame 2.8 -> 3.8 us, its bound 1.9 -> 2.2 us), and the best
  // batch of each side is taken from its calm part.
  bench::Measure([&] { Iterate(*p); }, [&] { bound(); }, frame, base, 500);
  const bool ok = bench::PrintRatio(name, frame, "frame's memcpy", base, target);
  std::printf("  %-26s %9.0f frames/s of processor time\n", "", 1e9 / frame.best);
  CloseScreen();
  return ok;
}

template <class Program>
bool Load(const char* name) {
  InAssetDir dir;
  std::vector<double> ms;
  for (int i = 0; i < 10; ++i) {
    auto p = std::make_unique<Program>();
    if constexpr (std::is_same_v<Program, mapwalk1::Program>) mapwalk1::StartUp(*p, 1, gArgv);
    else if constexpr (std::is_same_v<Program, mapwalk2::Program>) mapwalk2::StartUp(*p, 1, gArgv);
    else mapwalk3::StartUp(*p, 1, gArgv);
    const auto t0 = std::chrono::steady_clock::now();
    if constexpr (std::is_same_v<Program, mapwalk1::Program>) mapwalk1::Load(*p);
    else if constexpr (std::is_same_v<Program, mapwalk2::Program>) mapwalk2::Load(*p);
    else mapwalk3::Load(*p);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    if constexpr (std::is_same_v<Program, mapwalk3::Program>) {
      for (ImageBuffer* image : {p->brick, p->flameA, p->flameB, p->skull, p->sprite, p->map}) ImageDestroy(image);
    }
    CloseScreen();
  }
  const bench::Timing t = bench::Summarise(ms);
  const bool ok = t.best < 5.0;
  std::printf("  %-26s %9.2f ms (med %9.2f)  < 5 ms  %s\n", name, t.best, t.median, bench::Verdict(ok));
  return ok;
}

}  // namespace

int main() {
  bench::DetachInput();
  bench::StayOnThisProcessor();
  setenv("SCRBK", "null", 1);
  std::printf("Walker frame, best batch per frame (median batch), this thread's processor time:\n");
  bool ok = true;
  ok &= Frame<mapwalk1::Program>("mapwalk1 frame", 320, 200, 1.5);
  ok &= Frame<mapwalk2::Program>("mapwalk2 frame", 640, 480, 1.3);
  ok &= Frame<mapwalk3::Program>("mapwalk3 frame", 640, 480, 1.3);
  std::printf("Loading the six files:\n");
  ok &= Load<mapwalk1::Program>("mapwalk1 load");
  ok &= Load<mapwalk2::Program>("mapwalk2 load");
  ok &= Load<mapwalk3::Program>("mapwalk3 load");
  std::printf("%s\n", ok ? "All targets met." : "A target was MISSED.");
  return ok ? 0 : 1;
}
