// walkshot - one walker run headless with its flame clock held still, so that the same keys
// give the same picture on every run: keys from standard input (SCRBK=null), the frame shown
// last written to SCRSHOT when ESC ends it. The flames keep their first frame. For the docs
// pictures (scripts/screenshots) and the browser test's reference frames.
// Usage: walkshot mapwalk1|mapwalk2|mapwalk3, from the asset folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mapwalk1/program.h"
#include "mapwalk2/program.h"
#include "mapwalk3/program.h"

namespace {

template <class Program, class StartUp, class Load, class Iterate>
[[noreturn]] void Walk(char* name, StartUp startUp, Load load, Iterate iterate) {
  auto p = std::make_unique<Program>();
  p->clock = [] { return 0.0; };
  char* argv[] = {name, nullptr};
  startUp(*p, 1, argv);
  load(*p);
  while (!iterate(*p)) {
  }
  walker::ExitSequence();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SCRBK", "null", 1);
  if (argc == 2 && !std::strcmp(argv[1], "mapwalk1"))
    Walk<mapwalk1::Program>(argv[1], mapwalk1::StartUp, mapwalk1::Load, mapwalk1::Iterate);
  if (argc == 2 && !std::strcmp(argv[1], "mapwalk2"))
    Walk<mapwalk2::Program>(argv[1], mapwalk2::StartUp, mapwalk2::Load, mapwalk2::Iterate);
  if (argc == 2 && !std::strcmp(argv[1], "mapwalk3"))
    Walk<mapwalk3::Program>(argv[1], mapwalk3::StartUp, mapwalk3::Load, mapwalk3::Iterate);
  std::fprintf(stderr, "usage: walkshot mapwalk1|mapwalk2|mapwalk3 (keys on standard input)\n");
  return 2;
}
