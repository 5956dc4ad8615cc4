// program.h - mapwalk2: the second walker, on a 640 x 480 screen opened by
// size, with one loading routine (LoadImage) for every asset file and the
// map picture one pixel in from the corner.
#pragma once

#include <cstdint>
#include <functional>

#include "walker.h"

namespace mapwalk2 {

using namespace scr;

// Capture buffers: tables of 32-bit whole numbers used as one block each.
using TileBuffer = int32_t[17 * 17];  // 1156 bytes
using MapBuffer = int32_t[65 * 33];   // 8580 bytes: 4 header bytes and 2048 pixels

struct Program {
  TileBuffer brick = {}, flameA = {}, flameB = {}, skull = {}, sprite = {};
  MapBuffer map = {};
  walker::ViewWindow view;
  walker::BlockTests blockTests;
  int32_t x = 2, y = 2;
  int32_t oldX = 0, oldY = 0;
  walker::FlameState flame;  // AnimPhase, LastFlipSecond
  KeyString k;
  walker::ClockFn clock = Timer;
  std::function<void()> shown;  // called after every show step

  walker::TileSet Tiles() const { return {brick, flameA, flameB, skull, sprite}; }
};

// Plots the w x h numbers of the named file with their top left at (1, 1) and
// captures them into `image`, which may not pass `extent`.
void LoadImage(const KeyString& name, int32_t w, int32_t h, void* image,
               const BufferExtent& extent);

// StartProgram, the 640 x 480 Screen with 8 pages, pages, text view, colours, clear.
void StartUp(Program& p, int argc, char** argv);
// The six files through LoadImage, the map picture onto the map store.
void Load(Program& p);
// One iteration of the main loop; true on ESC.
bool Iterate(Program& p);

}  // namespace mapwalk2
