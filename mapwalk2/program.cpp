// program.cpp - mapwalk2's start-up, loading routine and main loop.
#include "program.h"

namespace mapwalk2 {

using namespace walker;

void LoadImage(const KeyString& name, int32_t w, int32_t h, void* image,
               const BufferExtent& extent) {
  const int32_t f = FreeFile();
  ClearScreen();
  OpenInput(name, 2, 0, 0, f, 0);
  int32_t v = 0;
  for (int32_t i = 1; i <= h; ++i)
    for (int32_t j = 1; j <= w; ++j) {
      BeginInput(f);
      InputInt(v);
      PutPixel(nullptr, float(j), float(i), uint32_t(v), CoordForm::Point);
    }
  CloseFile(f);
  GetImage(nullptr, 1, 1, float(w), float(h), image, 0, &extent, HeaderForm::Packed);
}

void StartUp(Program& p, int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenRes(640, 480, 4, 8, 0, 0);
  SetPages(kWorkPage, kVisiblePage);
  SetTextView(1, 25);
  SetColor(15, 0, 0);
  ClearScreen();
  p.x = 2;
  p.y = 2;
}

void Load(Program& p) {
  LoadImage(kBrickFile.name, 16, 16, p.brick, {p.brick, sizeof p.brick});
  LoadImage(kFlameAFile.name, 16, 16, p.flameA, {p.flameA, sizeof p.flameA});
  LoadImage(kFlameBFile.name, 16, 16, p.flameB, {p.flameB, sizeof p.flameB});
  LoadImage(kSkullFile.name, 16, 16, p.skull, {p.skull, sizeof p.skull});
  LoadImage(kSpriteFile.name, 16, 16, p.sprite, {p.sprite, sizeof p.sprite});
  // The last call leaves the map picture at pixels 1..64 x 1..32.
  LoadImage(kMapFile.name, MapGrid::Width, MapGrid::Height, p.map, {p.map, sizeof p.map});
  PageCopy(kWorkPage, kMapStorePage);
  ClearScreen();
}

bool Iterate(Program& p) {
  if (MoveStep(p.x, p.y, p.oldX, p.oldY, p.k) == MoveResult::Escape) return true;
  FlameClock(p.flame, PhaseRule::Xor, p.clock);

  // Redraw point: a refused move comes back here with the old position.
  const TileSet tiles = p.Tiles();
  for (;;) {
    CopyMapStore();
    ReadView(p.view, p.x, p.y);
    ClearPlayArea();
    DrawTiles(p.view, tiles, p.flame.AnimPhase, PhaseRule::Xor);
    if (CheckMove(p.view, p.blockTests, p.x, p.y, p.oldX, p.oldY, p.sprite) !=
        MoveCheck::Refused)
      break;
  }

  ShowStep();
  if (p.shown) p.shown();
  return false;
}

}  // namespace mapwalk2
