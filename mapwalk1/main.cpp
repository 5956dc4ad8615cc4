// mapwalk1 - walk the map on the 320 x 200 screen until ESC.
#include "program.h"

int main(int argc, char** argv) {
  static mapwalk1::Program program;
  mapwalk1::StartUp(program, argc, argv);
  mapwalk1::Load(program);
  while (!mapwalk1::Iterate(program)) {
  }
  walker::ExitSequence();
}
