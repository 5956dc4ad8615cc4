// program.cpp - mapwalk3's routines, start-up, loading and main loop.
#include "program.h"

namespace mapwalk3 {

using namespace walker;

void LoadImage(const KeyString& name, int32_t w, int32_t h, ImageBuffer*& image) {
  image = ImageCreate(w, h, 0, 0, kNoColour, HeaderForm::Full);
  const int32_t f = FreeFile();
  ClearScreen();
  OpenInput(name, 2, 0, 0, f, 0);
  int32_t v = 0;
  for (int32_t i = 0; i <= h - 1; ++i)
    for (int32_t j = 0; j <= w - 1; ++j) {
      BeginInput(f);
      InputInt(v);
      PutPixel(nullptr, float(j), float(i), uint32_t(v), CoordForm::Point);
    }
  CloseFile(f);
  // A capture needs a real destination: without an image there is none.
  if (image != nullptr) {
    GetImage(nullptr, 0, 0, float(w - 1), float(h - 1), image, 0, nullptr, HeaderForm::Full);
  }
}

void ReadView(ViewWindow& view, int32_t x, int32_t y) { walker::ReadView(view, x, y); }

void DrawTiles(const Program& p, const ViewWindow& view) {
  walker::DrawTiles(view, p.Tiles(), p.flame.AnimPhase, PhaseRule::Xor);
}

MoveCheck CheckMove(const Program& p, int32_t& x, int32_t& y, int32_t oldX, int32_t oldY,
                    BlockTests& tests) {
  return walker::CheckMove(p.view, tests, x, y, oldX, oldY, p.sprite);
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
  LoadImage(kBrickFile.name, 16, 16, p.brick);
  LoadImage(kFlameAFile.name, 16, 16, p.flameA);
  LoadImage(kFlameBFile.name, 16, 16, p.flameB);
  LoadImage(kSkullFile.name, 16, 16, p.skull);
  LoadImage(kSpriteFile.name, 16, 16, p.sprite);
  // The last call leaves the map picture at pixels 0..63 x 0..31.
  LoadImage(kMapFile.name, MapGrid::Width, MapGrid::Height, p.map);
  PageCopy(kWorkPage, kMapStorePage);
  ClearScreen();
}

bool Iterate(Program& p) {
  if (MoveStep(p.x, p.y, p.oldX, p.oldY, p.k) == MoveResult::Escape) return true;
  FlameClock(p.flame, PhaseRule::Xor, p.clock);

  // Redraw loop: every pass is shown, so a refused move shows its view once
  // (without frame and player) before the pass at the old position.
  p.blockTests[5] = 0;
  MoveCheck check;
  do {
    CopyMapStore();
    mapwalk3::ReadView(p.view, p.x, p.y);
    ClearPlayArea();
    mapwalk3::DrawTiles(p, p.view);
    check = mapwalk3::CheckMove(p, p.x, p.y, p.oldX, p.oldY, p.blockTests);
    ShowStep();
    if (p.shown) p.shown();
    // A blocked cell that is already the old position ends the loop too
    // (its frame is finished), or the loop would never read a key again.
  } while (p.blockTests[5] != 0 && check == MoveCheck::Refused);
  return false;
}

}  // namespace mapwalk3
