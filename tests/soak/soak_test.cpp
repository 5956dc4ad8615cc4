// soak_test.cpp - Screens opened and closed over and over, in whole cycles
// through varied sizes and depths, on the windowless and the SDL back-end
// (private Xvfb) leave no thread, descriptor or heap behind. SOAK_OPENINGS
// (default 96) lengthens it: `make soak`. The walkers' soak under random keys
// is in the end-to-end suite.
#include <gtest/gtest.h>
#include <malloc.h>

#include <filesystem>
#include <thread>

#include "screen.h"
#include "xserver.h"

using namespace scr;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
size_t Heap() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t Heap() { return mallinfo2().uordblks + mallinfo2().hblkhd; }
#endif

namespace {

int Entries(const char* dir) { return int(std::distance(std::filesystem::directory_iterator(dir), {})); }

void OpenClose(bool sdl) {
  const int32_t sizes[][3] = {{320, 200, 4}, {640, 480, 8}, {100, 37, 32}, {1, 1, 1}, {800, 600, 16}, {257, 129, 24}};
  const int n = std::max(atoi(getenv("SOAK_OPENINGS") ? getenv("SOAK_OPENINGS") : "96") / 6, 2) * 6;
  std::thread([] {}).join();  // helpers that come with a first thread are counted before
  const int threads = Entries("/proc/self/task"), descriptors = Entries("/proc/self/fd");
  size_t heap = 0;
  for (int i = 0; i < n; ++i) {
    heap = i == 6 ? Heap() : heap;  // after one cycle: a back-end may keep the last frame until the next opening
    ASSERT_EQ(ScreenRes(sizes[i % 6][0], sizes[i % 6][1], sizes[i % 6][2], 1 + i % 4), 0) << i;
    DrawLine(nullptr, 0, 0, 10, 10, 3, LineShape::FilledBox);
    // A Presenter thread runs exactly when the window back-end took the Screen.
    ASSERT_EQ(Entries("/proc/self/task") > threads, sdl) << "opening " << i << " went to another back-end";
    ASSERT_EQ(ScreenMode(0), 0);
  }
  EXPECT_LE(Heap(), heap + (1 << 20)) << "the heap grew";
  EXPECT_EQ(Entries("/proc/self/task"), threads) << "threads left behind";
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors) << "descriptors left behind";
}

TEST(Soak, OpeningsLeaveNothingBehind) {
  setenv("SCRBK", "null", 1);
  OpenClose(false);
  XvfbServer x;
  ASSERT_TRUE(x.Start("Xvfb", nullptr));
  setenv("DISPLAY", x.Name().c_str(), 1);
  setenv("SCRBK", "sdl", 1);
  OpenClose(true);
}

}  // namespace
