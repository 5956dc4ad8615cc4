// walker.h - the tile walker's shared model: the asset files, the map
// picture and its pages, the ViewWindow, the CellCode table, the move step,
// the flame clock, the steps of one frame and the exit sequence.
//
// The three programs (mapwalk1..3) place these steps in their own loops.
// Everything here calls the screen layer's public interface (screen.h) only,
// always with target none (the work page) and whole-number coordinates.
#pragma once

#include <cstdint>

#include <mapwalk/screen.h>

namespace walker {

using namespace scr;  // the walker is written in the screen layer's terms

// ---------------------------------------------------------------------------
// Asset files and the map model
// ---------------------------------------------------------------------------

// One asset file: its name in the current directory and the picture it holds.
struct AssetFile {
  const char* name;
  int32_t width, height;
};

// The five tiles, in loading order, then the map.
inline constexpr AssetFile kBrickFile{"brick03.mem", 16, 16};
inline constexpr AssetFile kFlameAFile{"flame01.mem", 16, 16};
inline constexpr AssetFile kFlameBFile{"flame02.mem", 16, 16};
inline constexpr AssetFile kSkullFile{"skull01.mem", 16, 16};
inline constexpr AssetFile kSpriteFile{"wayfar1.mem", 16, 16};
inline constexpr AssetFile kMapFile{"map002.mem", 64, 32};
inline constexpr AssetFile kAssetFiles[6] = {kBrickFile, kFlameAFile, kFlameBFile,
                                             kSkullFile, kSpriteFile, kMapFile};

// The MapGrid: 64 x 32 CellCodes, plotted one pixel per cell on the work page
// (the map picture) and kept on the map store page.
namespace MapGrid {
inline constexpr int32_t Width = 64;
inline constexpr int32_t Height = 32;
}  // namespace MapGrid

// The page scheme: draw on the work page, show the visible page, keep the map
// picture on the map store.
inline constexpr int32_t kVisiblePage = 0;
inline constexpr int32_t kWorkPage = 1;
inline constexpr int32_t kMapStorePage = 2;

// The player position is kept within these bounds after every move.
inline constexpr int32_t kMaxX = 319;
inline constexpr int32_t kMaxY = 199;

// Tiles are 16 x 16 pixels.
inline constexpr int32_t kTileSize = 16;

// The TileSet: the five images the frame draws. Any may be none (drawn as nothing).
struct TileSet {
  const void* brick = nullptr;
  const void* flameA = nullptr;
  const void* flameB = nullptr;
  const void* skull = nullptr;
  const void* sprite = nullptr;
};

// CellCode values with a meaning of their own; 5..255 are outline cells.
namespace CellCode {
inline constexpr int32_t OffPage = -1;
inline constexpr int32_t Open = 0;
inline constexpr int32_t Brick = 1;
inline constexpr int32_t Flame = 2;       // blocks
inline constexpr int32_t OpenFlame = 3;   // looks like 2, can be walked through
inline constexpr int32_t Skull = 4;
inline constexpr int32_t FirstOutline = 5;
}  // namespace CellCode

// The ViewWindow: 15 x 7 cells (c = 1..15, r = 1..7) in a table indexed
// [c][r] over 0..15 x 0..7; index 0 is not used. The player's cell is (8, 4).
inline constexpr int32_t kViewColumns = 15;
inline constexpr int32_t kViewRows = 7;
inline constexpr int32_t kPlayerColumn = 8;
inline constexpr int32_t kPlayerRow = 4;
struct ViewWindow {
  int32_t cell[kViewColumns + 1][kViewRows + 1] = {};
  int32_t& operator()(int32_t c, int32_t r) { return cell[c][r]; }
  int32_t operator()(int32_t c, int32_t r) const { return cell[c][r]; }
};

// BlockTests: five truth values (-1 true, 0 false), entries 1..5; entry 5 is
// the blocked flag. Index 0 is not used.
struct BlockTests {
  int32_t entry[6] = {};
  int32_t& operator[](int32_t i) { return entry[i]; }
  int32_t operator[](int32_t i) const { return entry[i]; }
};

// How a program flips AnimPhase and reads it when it picks a flame frame.
enum class PhaseRule {
  OneMinus,  // flip: 1 - AnimPhase; frame A at 0, frame B at 1 (mapwalk1)
  Xor,       // flip: AnimPhase XOR 1; frame by AnimPhase AND 1 (mapwalk2, mapwalk3)
};

// The clock the flame clock reads (Timer in the programs; tests may set their own).
using ClockFn = double (*)();

// ---------------------------------------------------------------------------
// The steps
// ---------------------------------------------------------------------------

// What the move step found.
enum class MoveResult {
  Stay,    // a key that moves nothing (or no key)
  Moved,   // a digit moved the position (clamping may have kept it in place)
  Escape,  // ESC: the exit sequence is next, nothing else of the iteration
};

// The move step: k = InKey (empty becomes one blank); ESC returns Escape
// before anything else; otherwise old x/y take x/y, the digit strings move
// the position one cell (diagonals included) and it is clamped to 0..319 and
// 0..199.
MoveResult MoveStep(int32_t& x, int32_t& y, int32_t& oldX, int32_t& oldY, KeyString& k);

// The flame clock's state. LastFlipSecond holds whole seconds in 64 bits, so
// no clock reading can overflow it.
struct FlameState {
  int32_t AnimPhase = 0;
  int64_t LastFlipSecond = 0;
};

// The flame clock: when more than 0.2 s have passed since LastFlipSecond, the
// clock is read again, rounded to a whole second (halves to even) into
// LastFlipSecond, and AnimPhase flips by `rule`. Returns whether it flipped.
bool FlameClock(FlameState& flame, PhaseRule rule, ClockFn clock = Timer);

// Whether `AnimPhase` picks flame frame B (otherwise A; under OneMinus a
// phase other than 0 or 1 picks neither).
const void* FlameFrame(const TileSet& tiles, int32_t AnimPhase, PhaseRule rule);

// Redraw step 1: the work page becomes a copy of the map store.
void CopyMapStore();

// ReadView: cell (c, r) = GetPixel(x + c - 8, y + r - 4), rows outer.
void ReadView(ViewWindow& view, int32_t x, int32_t y);

// The clear: a FilledBox from (0, 0) to (319, 199) in colour 0.
void ClearPlayArea();

// DrawTiles: each cell by the CellCode table, rows outer, left to right;
// tiles with PutImage in Xor at (c*16-16, r*16-16), codes above 4 as a
// colour-15 Box to (c*16, r*16).
void DrawTiles(const ViewWindow& view, const TileSet& tiles, int32_t AnimPhase, PhaseRule rule);

// Fills BlockTests from CellCode v: 1 = (v >= 1), 2 = (v <= 2), 3 = (v = -1),
// 4 = (v = 4), 5 = (2 AND 1) OR 3 OR 4, bitwise on -1/0. Returns entry 5.
int32_t FillBlockTests(BlockTests& tests, int32_t v);

// The frame outline (0, 0)-(240, 112) in colour 15 and the player sprite at
// (112, 48) in Or.
void DrawFrameAndPlayer(const void* sprite);

// What CheckMove decided.
enum class MoveCheck {
  Open,     // the player's cell is open: frame and player drawn
  Refused,  // the cell blocks: x, y restored, nothing drawn; redraw at the old position
  Stuck,    // the cell blocks but is already the old position (a blocked start
            // cell): frame and player drawn as for an open cell, so the frame
            // can be shown and keys read again
};

// CheckMove: fills `tests` from the player's cell (8, 4). On a block at a new
// position writes old x/y into x/y and draws nothing (Refused); on a block at
// the old position draws the frame and player (Stuck); otherwise draws them
// (Open). tests[5] is the blocked flag in every case.
MoveCheck CheckMove(const ViewWindow& view, BlockTests& tests, int32_t& x, int32_t& y,
                    int32_t oldX, int32_t oldY, const void* sprite);

// The show step: the work page is copied onto the visible page.
void ShowStep();

// The exit sequence: back to the 80-column text console in bright white on
// blue, cleared, and the process ends with exit code 0.
[[noreturn]] void ExitSequence();

}  // namespace walker
