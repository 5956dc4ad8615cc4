// walker_test.cpp - the three walker programs driven in-process on the
// windowless back-end: keys are posted to the window key ring, the real loop
// runs, and every shown frame is read back from page 0 and compared pixel by
// pixel with a frame built here from the test's own small maps and tiles.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reference_frame.h"
#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"
#include "state.h"
#include "walker.h"

namespace {

// Run without a window even when started by hand.
const bool kWindowless = (setenv("SCRBK", "null", 0), true);

// ---------------------------------------------------------------------------
// A fake clock for the flame clock
// ---------------------------------------------------------------------------

double gNow = 0.1;
double FakeClock() { return gNow; }

// ---------------------------------------------------------------------------
// Files in a temporary directory, which is the current directory meanwhile
// ---------------------------------------------------------------------------

class TempDir {
 public:
  TempDir() {
    old_ = std::filesystem::current_path();
    char name[] = "/tmp/walker_test.XXXXXX";
    path_ = mkdtemp(name);
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path old_, path_;
};

// Writes w numbers per line, blank-separated (or comma-separated when asked).
void WriteNumbers(const std::string& name, const std::vector<int32_t>& values, int32_t w,
                  const char* sep = " ") {
  std::ofstream out(name, std::ios::binary);
  for (size_t i = 0; i < values.size(); ++i) {
    out << values[i] << ((i + 1) % size_t(w) == 0 ? "\n" : sep);
  }
}

// ---------------------------------------------------------------------------
// Tiles and maps made by the tests
// ---------------------------------------------------------------------------

using Tile = std::array<int32_t, 256>;

// A distinct 16-colour pattern per seed, with about a quarter of it 0.
Tile Pattern(int32_t seed) {
  Tile t{};
  for (int32_t i = 0; i < 16; ++i)
    for (int32_t j = 0; j < 16; ++j) {
      const int32_t h = i * 31 + j * 17 + seed * 13 + (i * j) % 7;
      t[size_t(i * 16 + j)] = (h % 4 == 0) ? 0 : 1 + (h * 7 + seed) % 15;
    }
  return t;
}

struct Assets {
  Tile brick = Pattern(1), flameA = Pattern(2), flameB = Pattern(3), skull = Pattern(4),
       sprite = Pattern(5);
  std::vector<int32_t> map = std::vector<int32_t>(64 * 32, 0);  // file values, row by row

  void Write() const {
    WriteNumbers("brick03.mem", {brick.begin(), brick.end()}, 16);
    WriteNumbers("flame01.mem", {flameA.begin(), flameA.end()}, 16, ", ");
    WriteNumbers("flame02.mem", {flameB.begin(), flameB.end()}, 16);
    WriteNumbers("skull01.mem", {skull.begin(), skull.end()}, 16, ",");
    WriteNumbers("wayfar1.mem", {sprite.begin(), sprite.end()}, 16);
    WriteNumbers("map002.mem", map, 64);
  }
};

// What one program is: its screen size, map offset and how it runs.
struct Walker1 {
  using Program = mapwalk1::Program;
  static constexpr int32_t kWidth = 320, kHeight = 200, kOffset = 0;
  static constexpr bool kShowsRefusedMove = false;
  static void Open(Program& p, int argc, char** argv) {
    mapwalk1::StartUp(p, argc, argv);
    mapwalk1::Load(p);
  }
  static bool Iterate(Program& p) { return mapwalk1::Iterate(p); }
  static void Release(Program&) {}
};
struct Walker2 {
  using Program = mapwalk2::Program;
  static constexpr int32_t kWidth = 640, kHeight = 480, kOffset = 1;
  static constexpr bool kShowsRefusedMove = false;
  static void Open(Program& p, int argc, char** argv) {
    mapwalk2::StartUp(p, argc, argv);
    mapwalk2::Load(p);
  }
  static bool Iterate(Program& p) { return mapwalk2::Iterate(p); }
  static void Release(Program&) {}
};
struct Walker3 {
  using Program = mapwalk3::Program;
  static constexpr int32_t kWidth = 640, kHeight = 480, kOffset = 0;
  static constexpr bool kShowsRefusedMove = true;
  static void Open(Program& p, int argc, char** argv) {
    mapwalk3::StartUp(p, argc, argv);
    mapwalk3::Load(p);
  }
  static bool Iterate(Program& p) { return mapwalk3::Iterate(p); }
  static void Release(Program& p) {
    for (ImageBuffer** image : {&p.brick, &p.flameA, &p.flameB, &p.skull, &p.sprite, &p.map}) {
      ImageDestroy(*image);
      *image = nullptr;
    }
  }
};

// The area every frame covers: the clear runs over 0..319 x 0..199.
constexpr int32_t kFrameW = 320, kFrameH = 200;
using Frame = std::vector<uint8_t>;  // kFrameW x kFrameH pixel values

// The frame the rules give for a player at page pixel (x, y), over the area
// every frame covers; `finished` adds the frame outline and the sprite.
Frame ExpectedFrame(const Assets& a, int32_t pageW, int32_t pageH, int32_t offset, int32_t x,
                    int32_t y, int32_t phase, bool finished) {
  return ReferenceFrame(a, pageW, pageH, offset, x, y, phase, finished, kFrameW, kFrameH);
}

// Reads the top-left kFrameW x kFrameH pixels of page `page`, then draws on page 1 again.
Frame ReadPage(int32_t page) {
  SetPages(page, -1);
  Frame f(size_t(kFrameW * kFrameH));
  for (int32_t y = 0; y < kFrameH; ++y)
    for (int32_t x = 0; x < kFrameW; ++x) f[size_t(y * kFrameW + x)] = uint8_t(GetPixel(nullptr, float(x), float(y)));
  SetPages(1, -1);
  return f;
}

// Pixel-by-pixel comparison that names the first differences.
::testing::AssertionResult SameFrame(const Frame& expected, const Frame& actual) {
  if (expected.size() != actual.size()) return ::testing::AssertionFailure() << "size differs";
  int32_t bad = 0;
  std::string where;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      if (bad < 5) {
        where += " (" + std::to_string(i % kFrameW) + "," + std::to_string(i / kFrameW) +
                 "): want " + std::to_string(expected[i]) + " got " + std::to_string(actual[i]);
      }
      ++bad;
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ:" << where;
}

// Posts key codes to the window ring as the Presenter would.
void PostKeys(std::initializer_list<KeyCode> codes) {
  LockScreen();
  for (KeyCode c : codes) PostKey(gLayer.windowKeys, c);
  UnlockScreen(1, 0);
}

// Empties the window ring left over from an earlier test.
void DrainKeys() {
  while (!InKey().empty()) {
  }
}

char gArg0[] = "walker_test";
char* gArgv[] = {gArg0, nullptr};

// ---------------------------------------------------------------------------
// The fixture: one program on its own Screen, its frames recorded as shown
// ---------------------------------------------------------------------------

template <class W>
class WalkerLoop : public ::testing::Test {
 protected:
  using Program = typename W::Program;

  // Places a CellCode at page pixel (px, py) of the map picture.
  void Put(int32_t px, int32_t py, int32_t code) {
    assets.map[size_t((py - W::kOffset) * 64 + (px - W::kOffset))] = code;
  }
  int32_t MapValueAt(int32_t px, int32_t py) const {
    return assets.map[size_t((py - W::kOffset) * 64 + (px - W::kOffset))];
  }

  void Start() {
    assets.Write();
    p = std::make_unique<Program>();
    W::Open(*p, 1, gArgv);
    p->clock = FakeClock;
    p->shown = [this] { frames.push_back(ReadPage(0)); };
    DrainKeys();
  }
  void TearDown() override {
    if (p) W::Release(*p);
    ScreenMode(0);
  }

  // One loop iteration with the given keys waiting; returns whether it saw ESC.
  bool Step(std::initializer_list<KeyCode> keys = {}) {
    frames.clear();
    PostKeys(keys);
    return W::Iterate(*p);
  }

  Frame Expected(int32_t x, int32_t y, bool finished = true) const {
    return ExpectedFrame(assets, W::kWidth, W::kHeight, W::kOffset, x, y, p->flame.AnimPhase,
                         finished);
  }

  TempDir dir;
  Assets assets;
  std::unique_ptr<Program> p;
  std::vector<Frame> frames;
};

using Walkers = ::testing::Types<Walker1, Walker2, Walker3>;
TYPED_TEST_SUITE(WalkerLoop, Walkers);

// ---------------------------------------------------------------------------
// The first frame
// ---------------------------------------------------------------------------

TYPED_TEST(WalkerLoop, FirstFrameShowsTheWindowAroundTheStartWithOffPageCellsEmpty) {
  gNow = 0.1;
  const int32_t d = TypeParam::kOffset;
  // Something in every map corner near the start, and an outline on the start row.
  this->Put(d + 0, d + 0, 1);
  this->Put(d + 5, d + 0, 4);
  this->Put(d + 0, d + 4, 3);
  this->Put(d + 7, d + 2, 9);
  this->Put(d + 9, d + 5, 1);
  this->Start();
  EXPECT_FALSE(this->Step());
  EXPECT_EQ(this->p->x, 2);
  EXPECT_EQ(this->p->y, 2);
  ASSERT_EQ(this->frames.size(), 1u);
  EXPECT_TRUE(SameFrame(this->Expected(2, 2), this->frames[0]));
  // Cells with a negative page coordinate read -1: columns -5..-1, row -1.
  const auto& view = this->p->ViewWindow;
  for (int32_t c = 1; c <= 15; ++c) EXPECT_EQ(view(c, 1), -1) << "column " << c;
  for (int32_t r = 1; r <= 7; ++r)
    for (int32_t c = 1; c <= 5; ++c) EXPECT_EQ(view(c, r), -1) << c << "," << r;
  // Page column 0 and row 0 hold the map's first cells, or 0 when it starts at (1, 1).
  EXPECT_EQ(view(6, 2), d == 0 ? 1 : 0);
  EXPECT_EQ(view(8, 4), 0);                // the player's own cell
}

TYPED_TEST(WalkerLoop, StartStandsOnPagePixelTwoTwo) {
  gNow = 0.1;
  // Map cell (2, 2) for offset 0, map cell (1, 1) for offset 1; mark it with an outline.
  this->Put(2, 2, 6);
  this->Start();
  this->Step();
  EXPECT_EQ(this->p->ViewWindow(8, 4), 6);
  EXPECT_EQ(this->MapValueAt(2, 2), 6);
  ASSERT_EQ(this->frames.size(), 1u);
  EXPECT_TRUE(SameFrame(this->Expected(2, 2), this->frames[0]));
}

// ---------------------------------------------------------------------------
// Moving
// ---------------------------------------------------------------------------

struct DigitMove {
  char key;
  int32_t dx, dy;
};
constexpr DigitMove kDigits[] = {{'1', -1, 1}, {'2', 0, 1},  {'3', 1, 1},
                                 {'4', -1, 0}, {'5', 0, 0},  {'6', 1, 0},
                                 {'7', -1, -1}, {'8', 0, -1}, {'9', 1, -1}};

TYPED_TEST(WalkerLoop, DigitsMoveOneCellInAllEightDirections) {
  gNow = 0.1;
  // Scenery near (20, 12) that never blocks a single step from it.
  this->Put(24, 12, 1);
  this->Put(16, 10, 4);
  this->Put(22, 14, 3);
  this->Put(19, 15, 7);
  this->Put(14, 12, 2);
  this->Start();
  for (const DigitMove& m : kDigits) {
    this->p->x = 20;
    this->p->y = 12;
    EXPECT_FALSE(this->Step({KeyCode(m.key)}));
    EXPECT_EQ(this->p->x, 20 + m.dx) << "key " << m.key;
    EXPECT_EQ(this->p->y, 12 + m.dy) << "key " << m.key;
    EXPECT_EQ(this->p->oldX, 20);
    EXPECT_EQ(this->p->oldY, 12);
    ASSERT_EQ(this->frames.size(), 1u) << "key " << m.key;
    EXPECT_TRUE(SameFrame(this->Expected(20 + m.dx, 12 + m.dy), this->frames[0])) << "key " << m.key;
  }
}

TYPED_TEST(WalkerLoop, KeysWithoutADigitMoveNothingButTheFrameIsShown) {
  gNow = 0.1;
  this->Put(11, 6, 3);
  this->Start();
  const KeyCode keys[] = {0,        '5',    'a',    'Q',    ' ',     '0',
                          72 * 256 + 255,    // Up arrow: 255, "H"
                          79 * 256 + 255,    // keypad 1 without Num Lock: 255, "O"
                          81 * 256 + 255,    // keypad 3 without Num Lock
                          CloseKey};
  for (KeyCode key : keys) {
    this->p->x = 10;
    this->p->y = 6;
    EXPECT_FALSE(this->Step({key}));
    EXPECT_EQ(this->p->x, 10) << "code " << key;
    EXPECT_EQ(this->p->y, 6) << "code " << key;
    ASSERT_EQ(this->frames.size(), 1u) << "code " << key;
    EXPECT_TRUE(SameFrame(this->Expected(10, 6), this->frames[0])) << "code " << key;
  }
  // No key at all: the key of the iteration is one blank.
  this->Step();
  EXPECT_EQ(this->p->k, " ");
  EXPECT_EQ(this->frames.size(), 1u);
}

TYPED_TEST(WalkerLoop, EscapeEndsTheIterationBeforeAnythingElse) {
  gNow = 0.1;
  this->Start();
  this->p->x = 7;
  this->p->y = 9;
  this->p->oldX = 111;
  this->p->oldY = 222;
  EXPECT_TRUE(this->Step({27, '6'}));
  EXPECT_TRUE(this->frames.empty());
  EXPECT_EQ(this->p->x, 7);
  EXPECT_EQ(this->p->oldX, 111);
  EXPECT_EQ(this->p->oldY, 222);
  // The next key is still waiting.
  EXPECT_FALSE(this->Step());
  EXPECT_EQ(this->p->x, 8);
}

TYPED_TEST(WalkerLoop, PositionIsClampedAtTheEdges) {
  gNow = 0.1;
  this->Start();
  // Top-left corner: 7, 8 and 4 stay put; 1 at x = 0 still moves down.
  for (KeyCode key : {'7', '8', '4', '9'}) {
    this->p->x = 0;
    this->p->y = 0;
    this->Step({key});
    EXPECT_EQ(this->p->x, key == '9' ? 1 : 0) << char(key);
    EXPECT_EQ(this->p->y, 0) << char(key);
    ASSERT_EQ(this->frames.size(), 1u);
    EXPECT_TRUE(SameFrame(this->Expected(this->p->x, this->p->y), this->frames[0]));
  }
  this->p->x = 0;
  this->p->y = 40;
  this->Step({'1'});
  EXPECT_EQ(this->p->x, 0);
  EXPECT_EQ(this->p->y, 41);
  // Bottom-right corner: off the map picture, open ground up to (319, 199).
  for (KeyCode key : {'3', '2', '6', '9', '1'}) {
    this->p->x = 319;
    this->p->y = 199;
    this->Step({key});
    const int32_t wantX = key == '1' ? 318 : 319, wantY = key == '9' ? 198 : 199;
    EXPECT_EQ(this->p->x, wantX) << char(key);
    EXPECT_EQ(this->p->y, wantY) << char(key);
    ASSERT_EQ(this->frames.size(), 1u);
    EXPECT_TRUE(SameFrame(this->Expected(wantX, wantY), this->frames[0])) << char(key);
  }
}

TYPED_TEST(WalkerLoop, KeyOneAtTheLeftEdgeStillTestsTheNewCell) {
  gNow = 0.1;
  const bool mapAtColumnZero = TypeParam::kOffset == 0;
  if (mapAtColumnZero) this->Put(0, 6, 1);
  this->Start();
  this->p->x = 0;
  this->p->y = 5;
  this->Step({'1'});
  EXPECT_EQ(this->p->x, 0);
  // A brick there refuses the move; page column 0 outside the picture is open.
  EXPECT_EQ(this->p->y, mapAtColumnZero ? 5 : 6);
  ASSERT_FALSE(this->frames.empty());
  EXPECT_TRUE(SameFrame(this->Expected(0, this->p->y), this->frames.back()));
}

// ---------------------------------------------------------------------------
// Refused moves
// ---------------------------------------------------------------------------

TYPED_TEST(WalkerLoop, MovesIntoBlockingCellsAreRefusedInAllEightDirections) {
  gNow = 0.1;
  // (20, 12) ringed by bricks, flames of code 2 and skulls; outlines further out.
  const int32_t ring[8][3] = {{19, 11, 1}, {20, 11, 2}, {21, 11, 4}, {19, 12, 2},
                              {21, 12, 1}, {19, 13, 4}, {20, 13, 1}, {21, 13, 2}};
  for (const auto& c : ring) this->Put(c[0], c[1], c[2]);
  this->Put(22, 12, 5);
  this->Put(18, 10, 200);
  this->Start();
  for (const DigitMove& m : kDigits) {
    if (m.key == '5') continue;
    this->p->x = 20;
    this->p->y = 12;
    this->Step({KeyCode(m.key)});
    EXPECT_EQ(this->p->x, 20) << "key " << m.key;  // both coordinates restored
    EXPECT_EQ(this->p->y, 12) << "key " << m.key;
    EXPECT_EQ(this->p->BlockTests[5], 0) << "key " << m.key;  // the last check was open
    const Frame finished = this->Expected(20, 12);
    if (TypeParam::kShowsRefusedMove) {
      ASSERT_EQ(this->frames.size(), 2u) << "key " << m.key;
      EXPECT_TRUE(SameFrame(this->Expected(20 + m.dx, 12 + m.dy, false), this->frames[0]))
          << "key " << m.key;
      EXPECT_TRUE(SameFrame(finished, this->frames[1])) << "key " << m.key;
    } else {
      ASSERT_EQ(this->frames.size(), 1u) << "key " << m.key;
      EXPECT_TRUE(SameFrame(finished, this->frames[0])) << "key " << m.key;
    }
  }
}

TYPED_TEST(WalkerLoop, WalkThroughFlameIsPassableAndBlockingFlameIsNot) {
  gNow = 0.1;
  this->Put(21, 12, 3);
  this->Put(19, 12, 2);
  this->Start();
  this->p->x = 20;
  this->p->y = 12;
  this->Step({'6'});
  EXPECT_EQ(this->p->x, 21);
  EXPECT_EQ(this->p->BlockTests[5], 0);
  EXPECT_EQ(this->p->BlockTests[1], -1);  // v >= 1
  EXPECT_EQ(this->p->BlockTests[2], 0);   // v <= 2
  ASSERT_FALSE(this->frames.empty());
  // The sprite is OR-ed over the flame under the player.
  EXPECT_TRUE(SameFrame(this->Expected(21, 12), this->frames.back()));
  this->Step({'4'});
  EXPECT_EQ(this->p->x, 20);
  this->Step({'4'});
  EXPECT_EQ(this->p->x, 20);
  EXPECT_EQ(this->p->y, 12);
  EXPECT_TRUE(SameFrame(this->Expected(20, 12), this->frames.back()));
}

TYPED_TEST(WalkerLoop, OutlineCodesAndWrappedValuesFollowTheirLowByte) {
  gNow = 0.1;
  this->Put(21, 12, 17);   // outline, open
  this->Put(22, 12, 257);  // plots as 1: a brick, XOR-ed over the outline's right side
  this->Put(21, 13, -1);   // plots as 255: an outline, open
  this->Put(21, 14, 3);    // a flame XOR-ed over that outline's bottom side
  this->Start();
  this->p->x = 20;
  this->p->y = 12;
  this->Step({'6'});
  EXPECT_EQ(this->p->x, 21);
  EXPECT_EQ(this->p->ViewWindow(9, 4), 1);
  EXPECT_EQ(this->p->ViewWindow(8, 5), 255);
  EXPECT_TRUE(SameFrame(this->Expected(21, 12), this->frames.back()));
  this->Step({'6'});
  EXPECT_EQ(this->p->x, 21);
  this->Step({'2'});
  EXPECT_EQ(this->p->y, 13);
}

// ---------------------------------------------------------------------------
// A start cell that blocks
// ---------------------------------------------------------------------------

TYPED_TEST(WalkerLoop, BlockedStartCellStillShowsAFinishedFrameAndReadsKeys) {
  gNow = 0.1;
  this->Put(2, 2, 1);
  this->Put(2, 3, 4);
  this->Start();
  EXPECT_FALSE(this->Step());
  EXPECT_EQ(this->p->x, 2);
  EXPECT_EQ(this->p->y, 2);
  EXPECT_EQ(this->p->BlockTests[5], -1);
  ASSERT_EQ(this->frames.size(), 1u);
  EXPECT_TRUE(SameFrame(this->Expected(2, 2), this->frames[0]));
  // A move into another blocking cell goes back to the start and ends there too.
  this->Step({'2'});
  EXPECT_EQ(this->p->y, 2);
  EXPECT_TRUE(SameFrame(this->Expected(2, 2), this->frames.back()));
  // Keys are read again: out onto open ground.
  this->Step({'6'});
  EXPECT_EQ(this->p->x, 3);
  EXPECT_EQ(this->p->BlockTests[5], 0);
  EXPECT_TRUE(SameFrame(this->Expected(3, 2), this->frames.back()));
}

// ---------------------------------------------------------------------------
// The flames
// ---------------------------------------------------------------------------

TYPED_TEST(WalkerLoop, FlamePhaseChoosesFrameAOrBForBothFlameCodes) {
  this->Put(21, 12, 2);
  this->Put(22, 12, 3);
  this->Start();
  this->p->x = 20;
  this->p->y = 12;
  gNow = 0.1;  // not past 0.2 s: no flip, phase 0
  this->Step();
  EXPECT_EQ(this->p->flame.AnimPhase, 0);
  Frame f = this->frames.back();
  for (int32_t cell : {9, 10}) {
    for (int32_t i = 0; i < 16; ++i)
      for (int32_t j = 0; j < 16; ++j)
        ASSERT_EQ(f[size_t((48 + i) * kFrameW + (cell - 1) * 16 + j)],
                  uint8_t(this->assets.flameA[size_t(i * 16 + j)]));
  }
  gNow = 1000.3;  // past 0.2 s: flips, and the reading 1000.3 is kept as 1000
  this->Step();
  EXPECT_EQ(this->p->flame.AnimPhase, 1);
  EXPECT_EQ(this->p->flame.LastFlipSecond, 1000);
  f = this->frames.back();
  for (int32_t cell : {9, 10}) {
    for (int32_t i = 0; i < 16; ++i)
      for (int32_t j = 0; j < 16; ++j)
        ASSERT_EQ(f[size_t((48 + i) * kFrameW + (cell - 1) * 16 + j)],
                  uint8_t(this->assets.flameB[size_t(i * 16 + j)]));
  }
  EXPECT_TRUE(SameFrame(this->Expected(20, 12), f));
  gNow = 1000.7;  // rounds to 1001 on the next flip; 1000.7 - 1000 > 0.2 flips back
  this->Step();
  EXPECT_EQ(this->p->flame.AnimPhase, 0);
  EXPECT_EQ(this->p->flame.LastFlipSecond, 1001);
  gNow = 1001.1;  // only 0.1 s past: stands
  this->Step();
  EXPECT_EQ(this->p->flame.AnimPhase, 0);
  EXPECT_TRUE(SameFrame(this->Expected(20, 12), this->frames.back()));
}

TYPED_TEST(WalkerLoop, BrickAndSkullLookTheSameInBothPhases) {
  this->Put(21, 12, 1);
  this->Put(19, 12, 4);
  this->Start();
  this->p->x = 20;
  this->p->y = 12;
  gNow = 0.1;
  this->Step();
  const Frame phase0 = this->frames.back();
  gNow = 5000.3;
  this->Step();
  ASSERT_EQ(this->p->flame.AnimPhase, 1);
  EXPECT_TRUE(SameFrame(phase0, this->frames.back()));
}

TEST(Mapwalk3Redraw, RefusedMoveShowsOneFrameAndKeepsTheFlamePhaseAcrossPasses) {
  TempDir dir;
  Assets a;
  auto put = [&a](int32_t px, int32_t py, int32_t code) { a.map[size_t(py * 64 + px)] = code; };
  put(21, 12, 1);  // the brick a sideways move runs into
  put(23, 12, 2);
  put(19, 11, 3);
  put(22, 14, 11);
  a.Write();
  auto p = std::make_unique<mapwalk3::Program>();
  Walker3::Open(*p, 1, gArgv);
  p->clock = FakeClock;
  std::vector<Frame> frames;
  std::vector<int32_t> phases;
  p->shown = [&] {
    frames.push_back(ReadPage(0));
    phases.push_back(p->flame.AnimPhase);
  };
  DrainKeys();
  p->x = 20;
  p->y = 12;
  gNow = 2000.3;  // this iteration flips the flames once
  PostKeys({'6'});
  EXPECT_FALSE(mapwalk3::Iterate(*p));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(p->flame.AnimPhase, 1);
  EXPECT_EQ(phases, (std::vector<int32_t>{1, 1}));
  // First the view shifted one column, without frame and player; then the old view.
  EXPECT_TRUE(SameFrame(ExpectedFrame(a, 640, 480, 0, 21, 12, 1, false), frames[0]));
  EXPECT_TRUE(SameFrame(ExpectedFrame(a, 640, 480, 0, 20, 12, 1, true), frames[1]));
  EXPECT_EQ(p->x, 20);
  EXPECT_EQ(p->y, 12);
  // The next iteration without a key shows one frame.
  frames.clear();
  gNow = 2000.35;
  mapwalk3::Iterate(*p);
  EXPECT_EQ(frames.size(), 1u);
  Walker3::Release(*p);
  ScreenMode(0);
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

TYPED_TEST(WalkerLoop, MissingAndShortFilesReadAsZeros) {
  gNow = 0.1;
  this->Put(21, 12, 1);
  this->Put(19, 12, 4);
  this->Put(20, 11, 3);
  this->assets.Write();
  std::filesystem::remove("skull01.mem");
  // The brick file ends after ten numbers.
  WriteNumbers("brick03.mem", {this->assets.brick.begin(), this->assets.brick.begin() + 10}, 16);
  for (size_t i = 10; i < 256; ++i) this->assets.brick[i] = 0;
  this->assets.skull.fill(0);
  // Start() writes the files again: run the program without it.
  this->p = std::make_unique<typename TypeParam::Program>();
  TypeParam::Open(*this->p, 1, gArgv);
  this->p->clock = FakeClock;
  this->p->shown = [this] { this->frames.push_back(ReadPage(0)); };
  DrainKeys();
  this->p->x = 20;
  this->p->y = 12;
  this->Step();
  ASSERT_EQ(this->frames.size(), 1u);
  EXPECT_TRUE(SameFrame(this->Expected(20, 12), this->frames[0]));
  // The skull still blocks though it shows nothing.
  this->Step({'4'});
  EXPECT_EQ(this->p->x, 20);
}

TEST(WalkerLoad, Mapwalk1CapturesPackedTilesIntoItsBuffers) {
  TempDir dir;
  Assets a;
  a.Write();
  auto p = std::make_unique<mapwalk1::Program>();
  Walker1::Open(*p, 1, gArgv);
  const auto* bytes = reinterpret_cast<const uint8_t*>(p->sprite);
  EXPECT_EQ(bytes[0], 0x81);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0x10);
  EXPECT_EQ(bytes[3], 0x00);
  for (size_t i = 0; i < 256; ++i) ASSERT_EQ(bytes[4 + i], uint8_t(a.sprite[i])) << i;
  for (size_t i = 260; i < sizeof p->sprite; ++i) ASSERT_EQ(bytes[i], 0) << i;
  ScreenMode(0);
}

TEST(WalkerLoad, Mapwalk2CapturesTheMapWithItsOffset) {
  TempDir dir;
  Assets a;
  for (size_t i = 0; i < a.map.size(); ++i) a.map[i] = int32_t(i % 7);
  a.Write();
  // A number after the 2048th is never read: it changes nothing.
  { std::ofstream("map002.mem", std::ios::app) << "99 99 99\n"; }
  auto p = std::make_unique<mapwalk2::Program>();
  Walker2::Open(*p, 1, gArgv);
  const auto* bytes = reinterpret_cast<const uint8_t*>(p->map);
  EXPECT_EQ(bytes[0] | (bytes[1] << 8), (64 << 3) | 1);
  EXPECT_EQ(bytes[2] | (bytes[3] << 8), 32);
  for (size_t i = 0; i < 2048; ++i) ASSERT_EQ(bytes[4 + i], uint8_t(a.map[i])) << i;
  // The map store holds the picture one pixel in from the corner, 0 around it.
  const Frame store = ReadPage(2);
  EXPECT_EQ(store[0], 0);
  EXPECT_EQ(store[size_t(1 * kFrameW + 1)], a.map[0]);
  EXPECT_EQ(store[size_t(32 * kFrameW + 64)], a.map[2047]);
  EXPECT_EQ(store[size_t(33 * kFrameW + 65)], 0);
  EXPECT_EQ(store[size_t(1 * kFrameW + 65)], 0);
  ScreenMode(0);
}

TEST(WalkerLoad, Mapwalk3MakesFullHeaderImages) {
  TempDir dir;
  Assets a;
  a.map[5] = 9;
  a.Write();
  auto p = std::make_unique<mapwalk3::Program>();
  Walker3::Open(*p, 1, gArgv);
  ASSERT_NE(p->map, nullptr);
  ASSERT_NE(p->brick, nullptr);
  const auto* words = reinterpret_cast<const int32_t*>(p->map);
  EXPECT_EQ(words[0], 7);
  EXPECT_EQ(words[1], 1);
  EXPECT_EQ(words[2], 64);
  EXPECT_EQ(words[3], 32);
  EXPECT_EQ(words[4], 64);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(p->map)[32 + 5], 9);
  const auto* brick = reinterpret_cast<const uint8_t*>(p->brick);
  EXPECT_EQ(reinterpret_cast<const int32_t*>(brick)[4], 16);
  for (size_t i = 0; i < 256; ++i) ASSERT_EQ(brick[32 + i], uint8_t(a.brick[i])) << i;
  Walker3::Release(*p);
  ScreenMode(0);
}

TEST(WalkerLoad, Mapwalk3CarriesOnWithoutAnImageThatCannotBeMade) {
  TempDir dir;
  Assets a;
  a.map[size_t(12 * 64 + 21)] = 1;
  a.Write();
  // With no Screen open no image can be made: the capture is skipped.
  ScreenMode(0);
  ImageBuffer* image = reinterpret_cast<ImageBuffer*>(&a);
  mapwalk3::LoadImage("brick03.mem", 16, 16, image);
  EXPECT_EQ(image, nullptr);
  // A program without its brick image draws brick cells as nothing, and they still block.
  auto p = std::make_unique<mapwalk3::Program>();
  Walker3::Open(*p, 1, gArgv);
  ImageDestroy(p->brick);
  p->brick = nullptr;
  p->clock = FakeClock;
  gNow = 0.1;
  std::vector<Frame> frames;
  p->shown = [&frames] { frames.push_back(ReadPage(0)); };
  DrainKeys();
  p->x = 20;
  p->y = 12;
  a.brick.fill(0);
  PostKeys({'6'});
  mapwalk3::Iterate(*p);
  EXPECT_EQ(p->x, 20);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(SameFrame(ExpectedFrame(a, 640, 480, 0, 20, 12, 0, true), frames[1]));
  Walker3::Release(*p);
  ScreenMode(0);
}

// ---------------------------------------------------------------------------
// The shared steps on their own
// ---------------------------------------------------------------------------

TEST(WalkerModel, BlockTestsAreCombinedTruthValues) {
  walker::BlockTests t;
  for (int32_t v = -3; v <= 300; ++v) {
    const int32_t blocked = walker::FillBlockTests(t, v);
    const bool want = v == 1 || v == 2 || v == 4 || v == -1;
    EXPECT_EQ(blocked, want ? -1 : 0) << v;
    EXPECT_EQ(t[5], blocked);
    EXPECT_EQ(t[1], v >= 1 ? -1 : 0);
    EXPECT_EQ(t[2], v <= 2 ? -1 : 0);
    EXPECT_EQ(t[3], v == -1 ? -1 : 0);
    EXPECT_EQ(t[4], v == 4 ? -1 : 0);
  }
}

TEST(WalkerModel, FlameClockRoundsToWholeSecondsHalvesToEven) {
  walker::FlameState s;
  gNow = 10.5;
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock));
  EXPECT_EQ(s.LastFlipSecond, 10);
  EXPECT_EQ(s.AnimPhase, 1);
  gNow = 11.5;
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock));
  EXPECT_EQ(s.LastFlipSecond, 12);
  EXPECT_EQ(s.AnimPhase, 0);
  gNow = 12.2;  // exactly 0.2 s past: not more than 0.2, stands
  EXPECT_FALSE(walker::FlameClock(s, walker::PhaseRule::Xor, FakeClock));
  EXPECT_EQ(s.AnimPhase, 0);
}

TEST(WalkerModel, FlameClockFlipsInABurstThenStands) {
  walker::FlameState s;
  // Between x.2 s and x.5 s every iteration flips, as whole seconds are kept.
  int32_t flips = 0;
  for (int32_t i = 0; i < 5; ++i) {
    gNow = 700.25 + 0.05 * i;
    flips += walker::FlameClock(s, walker::PhaseRule::Xor, FakeClock);
  }
  EXPECT_EQ(flips, 5);
  EXPECT_EQ(s.AnimPhase, 1);
  EXPECT_EQ(s.LastFlipSecond, 700);
  // The first reading past x.5 s flips once more and keeps x + 1...
  gNow = 700.55;
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::Xor, FakeClock));
  EXPECT_EQ(s.LastFlipSecond, 701);
  // ...so nothing flips again until (x + 1).2 s has passed.
  for (int32_t i = 0; i < 12; ++i) {  // 700.6 .. 701.15
    gNow = 700.6 + 0.05 * i;
    EXPECT_FALSE(walker::FlameClock(s, walker::PhaseRule::Xor, FakeClock)) << gNow;
  }
  gNow = 701.25;
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::Xor, FakeClock));
}

TEST(WalkerModel, FlameClockKeepsItsPaceAfterNineHours) {
  // 40000 s is past what a 16-bit second count holds; the flames must not
  // flip on every frame there.
  walker::FlameState s;
  gNow = 40000.7;
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock));
  EXPECT_EQ(s.LastFlipSecond, 40001);
  for (double t = 40000.75; t < 40001.2; t += 0.05) {
    gNow = t;
    EXPECT_FALSE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock)) << t;
  }
  gNow = 3.0e9;  // decades of uptime
  EXPECT_TRUE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock));
  EXPECT_EQ(s.LastFlipSecond, 3000000000LL);
  EXPECT_FALSE(walker::FlameClock(s, walker::PhaseRule::OneMinus, FakeClock));
}

TEST(WalkerModel, PhaseRulesPickTheFlameFrame) {
  int32_t a = 0, b = 0;
  const walker::TileSet tiles{nullptr, &a, &b, nullptr, nullptr};
  EXPECT_EQ(walker::FlameFrame(tiles, 0, walker::PhaseRule::OneMinus), &a);
  EXPECT_EQ(walker::FlameFrame(tiles, 1, walker::PhaseRule::OneMinus), &b);
  EXPECT_EQ(walker::FlameFrame(tiles, 2, walker::PhaseRule::Xor), &a);
  EXPECT_EQ(walker::FlameFrame(tiles, 3, walker::PhaseRule::Xor), &b);
}

}  // namespace
