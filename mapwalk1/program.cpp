// program.cpp - mapwalk1's start-up, loading and main loop.
#include "program.h"

namespace mapwalk1 {

using namespace walker;

void StartUp(Program& p, int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 8, 0, 0);
  SetPages(kWorkPage, kVisiblePage);
  SetTextView(1, 25);
  SetColor(15, 0, 0);
  ClearScreen();
  p.x = 2;
  p.y = 2;
}

void Load(Program& p) {
  // Each tile: plotted on pixels 1..16 x 1..16 of the work page, captured
  // into its 1156-byte buffer, then the page is cleared for the next one.
  const BufferExtent brickExtent{p.brick, sizeof p.brick};
  OpenInput(kBrickFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= 16; ++p.i)
    for (p.j = 1; p.j <= 16; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j), float(p.i), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  GetImage(nullptr, 1, 1, 16, 16, p.brick, 0, &brickExtent, HeaderForm::Packed);
  ClearScreen();

  const BufferExtent flameAExtent{p.flameA, sizeof p.flameA};
  OpenInput(kFlameAFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= 16; ++p.i)
    for (p.j = 1; p.j <= 16; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j), float(p.i), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  GetImage(nullptr, 1, 1, 16, 16, p.flameA, 0, &flameAExtent, HeaderForm::Packed);
  ClearScreen();

  const BufferExtent flameBExtent{p.flameB, sizeof p.flameB};
  OpenInput(kFlameBFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= 16; ++p.i)
    for (p.j = 1; p.j <= 16; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j), float(p.i), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  GetImage(nullptr, 1, 1, 16, 16, p.flameB, 0, &flameBExtent, HeaderForm::Packed);
  ClearScreen();

  const BufferExtent skullExtent{p.skull, sizeof p.skull};
  OpenInput(kSkullFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= 16; ++p.i)
    for (p.j = 1; p.j <= 16; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j), float(p.i), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  GetImage(nullptr, 1, 1, 16, 16, p.skull, 0, &skullExtent, HeaderForm::Packed);
  ClearScreen();

  const BufferExtent spriteExtent{p.sprite, sizeof p.sprite};
  OpenInput(kSpriteFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= 16; ++p.i)
    for (p.j = 1; p.j <= 16; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j), float(p.i), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  GetImage(nullptr, 1, 1, 16, 16, p.sprite, 0, &spriteExtent, HeaderForm::Packed);
  ClearScreen();

  // The map: one pixel per cell from (0, 0), then kept on the map store.
  OpenInput(kMapFile.name, 2, 0, 0, 1, 0);
  for (p.i = 1; p.i <= MapGrid::Height; ++p.i)
    for (p.j = 1; p.j <= MapGrid::Width; ++p.j) {
      BeginInput(1);
      InputInt(p.v);
      PutPixel(nullptr, float(p.j - 1), float(p.i - 1), uint32_t(p.v), CoordForm::Point);
    }
  CloseFile(1);
  PageCopy(kWorkPage, kMapStorePage);
  ClearScreen();
}

bool Iterate(Program& p) {
  if (MoveStep(p.x, p.y, p.oldX, p.oldY, p.k) == MoveResult::Escape) return true;
  FlameClock(p.flame, PhaseRule::OneMinus, p.clock);

  // Redraw point: a refused move comes back here with the old position, and
  // only a finished frame goes on to the show step.
  const TileSet tiles = p.Tiles();
  for (;;) {
    CopyMapStore();
    ReadView(p.view, p.x, p.y);
    ClearPlayArea();
    DrawTiles(p.view, tiles, p.flame.AnimPhase, PhaseRule::OneMinus);
    if (CheckMove(p.view, p.blockTests, p.x, p.y, p.oldX, p.oldY, p.sprite) !=
        MoveCheck::Refused)
      break;
  }

  ShowStep();
  if (p.shown) p.shown();
  return false;
}

}  // namespace mapwalk1
