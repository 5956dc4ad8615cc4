// blit.h - the raster-mode blit routines PutImage combines rows with.
#pragma once

#include <cstdint>

#include "screen.h"

namespace scr {

// One blit routine: combines `width` pixels x `height` rows of source into
// target. `value` is the key colour of Transparent and the colour bits of
// Invert, repeated to 8 bytes (PutImage makes it); the other modes ignore it.
using BlitRoutine = void (*)(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                             int32_t srcPitch, int32_t dstPitch, uint64_t value);
// The routines of one raster mode for 1, 2, (3: none) and 4 bytes per pixel.
struct BlitTable {
  BlitRoutine byPixelSize[5];
};

// Blit tables: one per raster mode 0..9, in 4-byte and 8-byte unit sets.
// Modes without routines have all entries null.
const BlitTable* PlainBlitTable(int32_t mode);
const BlitTable* WideBlitTable(int32_t mode);
// 8-byte units where registers are 8 bytes wide, and in WebAssembly, whose
// 64-bit integers are native also on wasm32 (mapwalk1's loop body in the
// page, best of 80 batches: 5.0 -> 4.6 us).
#ifdef __wasm__
inline constexpr bool kWideUnits = true;
#else
inline constexpr bool kWideUnits = sizeof(void*) >= 8;
#endif

}  // namespace scr
