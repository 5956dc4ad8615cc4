// walker_test.cpp - the three walker programs' own loops, in-process on the
// windowless back-end: a key goes into the window ring, the loop runs once,
// and each frame it shows, read back from page 0, must be the reference frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "backend/backend.h"  // PostWindowKey: keys arrive as a back-end posts them
#include "walker_frames.h"

using namespace scr;

namespace {

double gNow = 0.1;
double FakeClock() { return gNow; }
bool Blocks(int32_t v) { return v == 1 || v == 2 || v == 4; }

// From (x0, y0) (-1: where the walker stands) `key` leads to (tx, ty); the
// move is refused when that cell blocks and is not where the walker stood.
struct Move { int32_t x0, y0; KeyCode key; int32_t tx, ty; };

// Each program's StartUp, Load and Iterate are found by its Program type.
template <class P>
class WalkerLoop : public ::testing::Test {
 protected:
  static constexpr bool kShowsRefused = std::is_same_v<P, mapwalk3::Program>;  // for one frame
  static constexpr int32_t kOffset = std::is_same_v<P, mapwalk2::Program>;     // the map picture at (1, 1)
  void SetUp() override {
    setenv("SCRBK", "null", 1);
    ASSERT_TRUE(mkdtemp(dir) && chdir(dir) == 0);
    a.offset = kOffset;
  }
  void TearDown() override {
    if constexpr (kShowsRefused) {
      if (p) for (auto* i : {p->brick, p->flameA, p->flameB, p->skull, p->sprite, p->map}) ImageDestroy(i);
    }
    ScreenMode(0);
    std::filesystem::remove_all(dir);
  }
  void Start(const char* missing = nullptr) {  // with that asset file missing: it reads as zeros
    a.WriteAll(".");
    if (missing) std::filesystem::remove(missing);
    static char arg0[] = "walker_test", *argv[] = {arg0, nullptr};
    p = std::make_unique<P>();
    StartUp(*p, 1, argv);
    Load(*p);
    p->clock = FakeClock;
    p->shown = [this] {  // page 0 over the area every frame covers
      SetPages(0, -1);
      frames.emplace_back();
      for (int i = 0; i < 320 * 200; ++i) frames.back().push_back(GetPixel(nullptr, float(i % 320), float(i / 320)));
      SetPages(1, -1);
    };
  }
  Pixels Want(int32_t x, int32_t y, bool finished = true) {
    return ReferenceFrame(a, x, y, p->flame.AnimPhase, finished, 320, 200);
  }
  void Run(std::initializer_list<Move> moves) {
    for (const Move& m : moves) {
      if (m.x0 >= 0) {
        p->x = m.x0;
        p->y = m.y0;
      }
      const int32_t x0 = p->x, y0 = p->y, i = m.tx - a.offset, j = m.ty - a.offset;
      SCOPED_TRACE(::testing::Message() << "key " << m.key << " from " << x0 << "," << y0);
      frames.clear();
      LockScreen();
      if (m.key) PostWindowKey(m.key);
      UnlockScreen(1, 0);
      const bool esc = m.key == 27;  // ends the iteration before anything else
      EXPECT_EQ(Iterate(*p), esc);
      const bool refused = i >= 0 && j >= 0 && i < 64 && j < 32 && Blocks(a.map[size_t(j * 64 + i)] & 0xFF) &&
                           (m.tx != x0 || m.ty != y0);
      EXPECT_EQ(p->x, refused || esc ? x0 : m.tx);
      EXPECT_EQ(p->y, refused || esc ? y0 : m.ty);
      std::vector<Pixels> want;
      if (refused && kShowsRefused) want.push_back(Want(m.tx, m.ty, false));  // unfinished
      if (!esc) want.push_back(Want(p->x, p->y));
      ASSERT_EQ(frames.size(), want.size());
      for (size_t f = 0; f < want.size(); ++f) EXPECT_TRUE(SameFrame(want[f], frames[f])) << "frame " << f;
    }
  }

  char dir[32] = "/tmp/walker_test.XXXXXX";
  Assets a;
  std::unique_ptr<P> p;
  std::vector<std::vector<uint32_t>> frames;
};

using Walkers = ::testing::Types<mapwalk1::Program, mapwalk2::Program, mapwalk3::Program>;
TYPED_TEST_SUITE(WalkerLoop, Walkers);

TYPED_TEST(WalkerLoop, MovesRefusalsAndEdges) {
  gNow = 0.3;  // past 0.2 s of second 0: the flames flip on every iteration
  // Around (20, 12) an outline, -1 (plotted 255: an outline), a walk-through
  // flame, scenery; around (40, 20) a cell of each blocking code (257 plots as 1).
  this->a.Put({{19, 13, 17}, {20, 13, -1}, {21, 11, 3}, {22, 12, 2}, {16, 10, 4}, {24, 12, 1}, {44, 20, 3}});
  this->a.Put({{39, 19, 1}, {40, 19, 2}, {41, 19, 4}, {39, 20, 257}});
  if (this->kOffset == 0) this->a.Put({{0, 6, 1}});  // a clamped move still tests its cell
  this->Start();
  this->Run({{20, 12, '1', 19, 13}, {20, 12, '2', 20, 13}, {20, 12, '3', 21, 13}, {20, 12, '4', 19, 12},
             {20, 12, '5', 20, 12}, {20, 12, '6', 21, 12}, {20, 12, '7', 19, 11}, {20, 12, '8', 20, 11},
             {20, 12, '9', 21, 11}, {20, 12, 'a', 20, 12}, {20, 12, '0', 20, 12}, {20, 12, ' ', 20, 12},
             {20, 12, 0x48FF, 20, 12}, {20, 12, 0x4FFF, 20, 12}, {20, 12, CloseKey, 20, 12}, {20, 12, 0, 20, 12},
             {40, 20, '4', 39, 20}, {40, 20, '7', 39, 19}, {40, 20, '8', 40, 19}, {40, 20, '9', 41, 19},
             {0, 0, '7', 0, 0}, {0, 0, '4', 0, 0}, {0, 0, '9', 1, 0}, {0, 0, '1', 0, 1}, {0, 5, '1', 0, 6},
             {319, 199, '3', 319, 199}, {319, 199, '1', 318, 199}, {319, 199, '9', 319, 198}, {7, 9, 27, 0, 0}});
}

TYPED_TEST(WalkerLoop, StartOnABlockingCellThenFlameClockWithoutTheBrickFile) {
  gNow = 0.1;
  this->a.Scenery();
  this->a.Put({{2, 2, 1}, {2, 3, 4}, {21, 12, 2}, {22, 12, 3}, {19, 12, 1}, {19, 13, 4}});
  this->Start("brick03.mem");
  this->a.brick.fill(0);
  // The start is page pixel (2, 2) however the map lies; a blocking start cell still gives a finished frame.
  this->Run({{-1, -1, 0, 2, 2}, {-1, -1, '2', 2, 3}, {-1, -1, '6', 3, 2}});
  // A flip when more than 0.2 s past the last flip's whole second (halves to
  // even): also after nine hours, and past what 32 bits hold.
  const std::pair<double, int32_t> steps[] = {{0.1, 0}, {0.2, 0}, {0.3, 1}, {0.45, 0}, {0.55, 1}, {1.1, 1},
      {1.25, 0}, {10.5, 1}, {10.65, 0}, {11.1, 0}, {40000.7, 1}, {40000.9, 1}, {40001.15, 1}, {40001.25, 0},
      {3e9, 1}, {3e9, 1}};
  for (auto [now, phase] : steps) {
    gNow = now;
    this->Run({{20, 12, 0, 20, 12}});
    EXPECT_EQ(this->p->flame.AnimPhase, phase) << now;
  }
}

}  // namespace
