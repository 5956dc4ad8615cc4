// mapwalk2 - walk the map on the 640 x 480 screen until ESC.
#include "program.h"

int main(int argc, char** argv) {
  static mapwalk2::Program program;
  mapwalk2::StartUp(program, argc, argv);
  mapwalk2::Load(program);
  while (!mapwalk2::Iterate(program)) {
  }
  walker::ExitSequence();
}
