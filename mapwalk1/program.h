// program.h - mapwalk1: the first walker, on the 320 x 200 mode-7 screen,
// with its loading written out file by file and a refused move redrawn at
// once at the old position (never shown).
#pragma once

#include <cstdint>
#include <functional>

#include "walker.h"

namespace mapwalk1 {

using namespace scr;

// A capture buffer: a 17 x 17 table of 32-bit whole numbers (1156 bytes)
// used as one block; a 16 x 16 packed capture takes 260 of them.
using TileBuffer = int32_t[17 * 17];

// Everything the main routine keeps, for the whole run.
struct Program {
  TileBuffer brick = {}, flameA = {}, flameB = {}, skull = {}, sprite = {};
  walker::ViewWindow view;
  walker::BlockTests blockTests;
  int32_t x = 2, y = 2;
  int32_t oldX = 0, oldY = 0;
  walker::FlameState flame;  // AnimPhase, LastFlipSecond
  KeyString k;
  int32_t i = 0, j = 0, v = 0;
  // The flame clock's time source.
  walker::ClockFn clock = Timer;
  // Called after every show step (tests watch the frames through it).
  std::function<void()> shown;

  walker::TileSet Tiles() const { return {brick, flameA, flameB, skull, sprite}; }
};

// StartProgram, the mode-7 Screen with 8 pages, pages, text view, colours, clear.
void StartUp(Program& p, int argc, char** argv);
// Plots and captures the five tiles, plots the map and keeps it on page 2.
void Load(Program& p);
// One iteration of the main loop: move step, flame clock, redraw (again at
// the old position after a refused move), show step. Returns true on ESC,
// before anything else of the iteration has happened.
bool Iterate(Program& p);

}  // namespace mapwalk1
