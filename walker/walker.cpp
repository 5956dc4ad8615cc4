// walker.cpp - the steps the three walker programs share.
#include "walker.h"

#include <cmath>

namespace walker {

namespace {

// The digit strings of the move step, tested in this order.
const KeyString kDown = "123";
const KeyString kUp = "789";
const KeyString kRight = "369";
const KeyString kLeft = "147";
const KeyString kEscape(1, char(27));

// Truth values as the programs combine them: -1 true, 0 false.
inline int32_t Truth(bool b) { return b ? -1 : 0; }

// A whole-second clock reading, halves to the even neighbour. Readings beyond
// what 64 bits hold (never reached by a real clock) saturate.
int64_t WholeSeconds(double t) {
  if (std::isnan(t)) return 0;
  const double r = std::nearbyint(t);
  if (r >= 9.2e18) return INT64_MAX;
  if (r <= -9.2e18) return INT64_MIN;
  return static_cast<int64_t>(r);
}

}  // namespace

MoveResult MoveStep(int32_t& x, int32_t& y, int32_t& oldX, int32_t& oldY, KeyString& k) {
  k = InKey();
  if (Len(k) == 0) k = Blanks(1);
  if (StrCompare(k, kEscape) == 0) return MoveResult::Escape;

  oldX = x;
  oldY = y;
  bool moved = false;
  if (InStr(1, kDown, k) > 0) { y = y + 1; moved = true; }
  if (InStr(1, kUp, k) > 0) { y = y - 1; moved = true; }
  if (InStr(1, kRight, k) > 0) { x = x + 1; moved = true; }
  if (InStr(1, kLeft, k) > 0) { x = x - 1; moved = true; }

  if (x < 0) x = 0;
  else if (x > kMaxX) x = kMaxX;
  if (y < 0) y = 0;
  else if (y > kMaxY) y = kMaxY;
  return moved ? MoveResult::Moved : MoveResult::Stay;
}

bool FlameClock(FlameState& flame, PhaseRule rule, ClockFn clock) {
  const double t = clock();
  if (!(t - static_cast<double>(flame.LastFlipSecond) > 0.2)) return false;
  flame.LastFlipSecond = WholeSeconds(clock());
  if (rule == PhaseRule::OneMinus) {
    flame.AnimPhase = 1 - flame.AnimPhase;
  } else {
    flame.AnimPhase = flame.AnimPhase ^ 1;
  }
  return true;
}

const void* FlameFrame(const TileSet& tiles, int32_t AnimPhase, PhaseRule rule) {
  if (rule == PhaseRule::Xor) return (AnimPhase & 1) == 0 ? tiles.flameA : tiles.flameB;
  if (AnimPhase == 0) return tiles.flameA;
  if (AnimPhase == 1) return tiles.flameB;
  return nullptr;
}

void CopyMapStore() { PageCopy(kMapStorePage, kWorkPage); }

void ReadView(ViewWindow& view, int32_t x, int32_t y) {
  for (int32_t r = 1; r <= kViewRows; ++r) {
    for (int32_t c = 1; c <= kViewColumns; ++c) {
      view(c, r) = GetPixel(nullptr, float(x + c - kPlayerColumn), float(y + r - kPlayerRow));
    }
  }
}

void ClearPlayArea() { DrawLine(nullptr, 0, 0, kMaxX, kMaxY, 0, LineShape::FilledBox); }

void DrawTiles(const ViewWindow& view, const TileSet& tiles, int32_t AnimPhase, PhaseRule rule) {
  for (int32_t r = 1; r <= kViewRows; ++r) {
    for (int32_t c = 1; c <= kViewColumns; ++c) {
      const int32_t v = view(c, r);
      const float left = float(c * kTileSize - kTileSize);
      const float top = float(r * kTileSize - kTileSize);
      const void* tile = nullptr;
      switch (v) {
        case CellCode::Brick: tile = tiles.brick; break;
        case CellCode::Flame:
        case CellCode::OpenFlame: tile = FlameFrame(tiles, AnimPhase, rule); break;
        case CellCode::Skull: tile = tiles.skull; break;
        default:
          if (v >= CellCode::FirstOutline) {
            DrawLine(nullptr, left, top, float(c * kTileSize), float(r * kTileSize), 15,
                     LineShape::Box);
          }
          continue;
      }
      // A missing image draws nothing.
      if (tile != nullptr) {
        PutImage(nullptr, left, top, tile, kOmitted, kOmitted, kOmitted, kOmitted, 0,
                 RasterMode::Xor);
      }
    }
  }
}

int32_t FillBlockTests(BlockTests& tests, int32_t v) {
  tests[1] = Truth(v >= 1);
  tests[2] = Truth(v <= 2);
  tests[3] = Truth(v == -1);
  tests[4] = Truth(v == 4);
  tests[5] = (tests[2] & tests[1]) | tests[3] | tests[4];
  return tests[5];
}

void DrawFrameAndPlayer(const void* sprite) {
  DrawLine(nullptr, 0, 0, kViewColumns * kTileSize, kViewRows * kTileSize, 15, LineShape::Box);
  if (sprite != nullptr) {
    PutImage(nullptr, float((kPlayerColumn - 1) * kTileSize), float((kPlayerRow - 1) * kTileSize),
             sprite, kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Or);
  }
}

MoveCheck CheckMove(const ViewWindow& view, BlockTests& tests, int32_t& x, int32_t& y,
                    int32_t oldX, int32_t oldY, const void* sprite) {
  if (FillBlockTests(tests, view(kPlayerColumn, kPlayerRow)) != 0) {
    if (x != oldX || y != oldY) {
      x = oldX;
      y = oldY;
      return MoveCheck::Refused;
    }
    // Restoring would land on this same cell and block again without end:
    // finish the frame as for an open cell instead.
    DrawFrameAndPlayer(sprite);
    return MoveCheck::Stuck;
  }
  DrawFrameAndPlayer(sprite);
  return MoveCheck::Open;
}

void ShowStep() { PageCopy(kWorkPage, kVisiblePage); }

void ExitSequence() {
  ScreenMode(0, 0, 0, 0, 0);
  SetWidth(80, -1);
  SetColor(15, 1, 0);
  ClearScreen();
  EndProgram(0);
}

}  // namespace walker
