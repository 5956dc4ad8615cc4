// main.cpp - a walker in a browser page: the same start-up, loading and loop
// body as the desktop build, with the loop body run once per animation frame
// (a page cannot spin). Built once per program, PROGRAM naming it.
#include <emscripten.h>

#define HEADER_OF(p) <p/program.h>
#define PROGRAM_HEADER(p) HEADER_OF(p)
#include PROGRAM_HEADER(PROGRAM)

namespace {

PROGRAM::Program gProgram;

void Frame() {
  if (!PROGRAM::Iterate(gProgram)) return;
  // ESC: the loop ends and the exit sequence leaves the console as on the desktop.
  emscripten_cancel_main_loop();
  walker::ExitSequence();
}

}  // namespace

int main(int argc, char** argv) {
  PROGRAM::StartUp(gProgram, argc, argv);
  PROGRAM::Load(gProgram);
  emscripten_set_main_loop(Frame, 0, 1);
}
