// Placeholder: the terminal back-end is being written; until then it never opens.
#include "backend/backend.h"
static int Open(const BackendOpenArgs&) { return -1; }
static void Nop() {}
static void NopPalette(int32_t, uint8_t, uint8_t, uint8_t) {}
static void NopTitle(const char*) {}
extern const Backend kTermBackend = {"Term", Open, Nop, Nop, Nop, NopPalette, Nop, NopTitle};
