// mapwalk3 - walk the map on the 640 x 480 screen until ESC.
#include "program.h"

int main(int argc, char** argv) {
  static mapwalk3::Program program;
  mapwalk3::StartUp(program, argc, argv);
  mapwalk3::Load(program);
  while (!mapwalk3::Iterate(program)) {
  }
  walker::ExitSequence();
}
