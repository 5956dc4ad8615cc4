// state.cpp - the layer's one-per-program state (state.h), its error number
// and detail, and the set-up that runs once before the program's entry.
#include "state.h"

#include <cfenv>
#include <clocale>

namespace scr {

LayerState gLayer;

int32_t SetError(int32_t n) {
  gLayer.errorNumber = n;
  if (n != 0) gLayer.errorDetail = "SetError: error " + std::to_string(n) + " set by the program";
  else if (!gLayer.errorDetail.empty()) gLayer.errorDetail.clear();
  return n;
}

int32_t Fail(int32_t n, std::initializer_list<DetailPiece> pieces) {
  std::string& detail = gLayer.errorDetail;
  detail.clear();
  for (const DetailPiece& piece : pieces) {
    if (piece.isNumber) detail += std::to_string(piece.number);
    else detail += piece.text;
  }
  gLayer.errorNumber = n;
  return n;
}

int32_t ErrorNumber() { return gLayer.errorNumber; }

std::string ErrorDetail() { return gLayer.errorDetail; }

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
