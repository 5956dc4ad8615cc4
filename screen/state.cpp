// state.cpp - the layer's one-per-program state (state.h), its error number,
// and the set-up that runs once before the program's entry.
#include "state.h"

#include <cfenv>
#include <clocale>

namespace scr {

LayerState gLayer;

int32_t SetError(int32_t n) {
  gLayer.errorNumber = n;
  return n;
}

int32_t ErrorNumber() { return gLayer.errorNumber; }

namespace {

// Coordinates round to nearest; the console's characters follow the user's locale.
struct OneTimeSetUp {
  OneTimeSetUp() {
    std::fesetround(FE_TONEAREST);
    std::setlocale(LC_CTYPE, "");
  }
} gOneTimeSetUp;

}  // namespace

}  // namespace scr
