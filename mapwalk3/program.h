// program.h - mapwalk3: the third walker, on the 640 x 480 screen, split into
// routines that share the images and the view: LoadImage makes each image
// itself, ReadView fills the view, DrawTiles draws it, CheckMove tests the
// player's cell and draws the player. A refused move is shown for one frame.
#pragma once

#include <cstdint>
#include <functional>

#include "walker.h"

namespace mapwalk3 {

using namespace scr;

struct Program {
  // Program-wide: the six images (none when one could not be made), the
  // view, the block tests and the flame phase.
  ImageBuffer* brick = nullptr;
  ImageBuffer* flameA = nullptr;
  ImageBuffer* flameB = nullptr;
  ImageBuffer* skull = nullptr;
  ImageBuffer* sprite = nullptr;
  ImageBuffer* map = nullptr;
  walker::ViewWindow view;
  walker::BlockTests blockTests;
  walker::FlameState flame;  // AnimPhase, LastFlipSecond
  // The main routine's own.
  int32_t x = 2, y = 2;
  int32_t oldX = 0, oldY = 0;
  KeyString k;
  walker::ClockFn clock = Timer;
  std::function<void()> shown;  // called after every show step

  walker::TileSet Tiles() const { return {brick, flameA, flameB, skull, sprite}; }
};

// Makes a new w x h image, plots the named file's numbers with their top left
// at (0, 0) and captures them into it. When no image can be made, `image` is
// none and the capture is skipped; the program carries on without it.
void LoadImage(const KeyString& name, int32_t w, int32_t h, ImageBuffer*& image);
// Fills `view` around (x, y) from the work page.
void ReadView(walker::ViewWindow& view, int32_t x, int32_t y);
// Draws `view` with the program's images and flame phase.
void DrawTiles(const Program& p, const walker::ViewWindow& view);
// Tests the player's cell: on a block restores x, y and draws nothing; else
// draws the frame and the player. Returns what it decided.
walker::MoveCheck CheckMove(const Program& p, int32_t& x, int32_t& y, int32_t oldX, int32_t oldY,
                            walker::BlockTests& tests);

// StartProgram, the 640 x 480 Screen with 8 pages, pages, text view, colours, clear.
void StartUp(Program& p, int argc, char** argv);
// The six images through LoadImage, the map picture onto the map store.
void Load(Program& p);
// One iteration of the main loop; true on ESC.
bool Iterate(Program& p);

}  // namespace mapwalk3
