// blit.cpp - the raster-mode blit routines and their tables.
//
// Copy, And, Invert, Or and Xor combine raw bytes (Invert XORs the source
// with the colour bits, repeated in `value`), so one routine per pixel size
// only scales the width to bytes. Each row runs as one leading byte when the
// byte count is odd, one 2-byte unit when bit 1 of the count is set, then
// whole units: the plain set uses 4-byte units, the wide set one 4-byte unit
// when needed and then 8-byte units (a 16-byte row is one SIMD unit in
// WebAssembly). All give the same bytes. Transparent compares whole pixels
// with the key. Mode 6 writes a 1-byte image into the top byte of 4-byte pixels.
#include <cstring>

#include "blit.h"
#include "pixels.h"

namespace scr {

namespace {

// Each Op joins target unit d, source unit s and the same bytes of `value`, m.
struct CopyOp {
  template <class T>
  static T Apply(T, T s, T) { return s; }
};
struct AndOp {
  template <class T>
  static T Apply(T d, T s, T) { return T(d & s); }
};
struct InvertOp {
  template <class T>
  static T Apply(T, T s, T m) { return T(s ^ m); }
};
struct OrOp {
  template <class T>
  static T Apply(T d, T s, T) { return T(d | s); }
};
struct XorOp {
  template <class T>
  static T Apply(T d, T s, T) { return T(d ^ s); }
};

// `value` repeats every pixel, so any unit starting on a pixel takes its first bytes.
template <class T>
inline T Spread(uint64_t value) {
  const uint64_t both[2] = {value, value};
  T m;
  std::memcpy(&m, both, sizeof(T));
  return m;
}

template <class Op, class T>
inline void Unit(const uint8_t* s, uint8_t* d, uint64_t value) {
  T a, b;
  std::memcpy(&a, d, sizeof(T));
  std::memcpy(&b, s, sizeof(T));
  a = Op::template Apply<T>(a, b, Spread<T>(value));
  std::memcpy(d, &a, sizeof(T));
}

template <class Op, bool Wide>
inline void CombineRow(const uint8_t* s, uint8_t* d, size_t n, uint64_t value) {
  if (n & 1) {
    Unit<Op, uint8_t>(s, d, value);
    ++s, ++d;
  }
  if (n & 2) {
    Unit<Op, uint16_t>(s, d, value);
    s += 2, d += 2;
  }
  if constexpr (Wide) {
    if (n & 4) {
      Unit<Op, uint32_t>(s, d, value);
      s += 4, d += 4;
    }
    for (size_t i = n >> 3; i; --i, s += 8, d += 8) Unit<Op, uint64_t>(s, d, value);
  } else {
    for (size_t i = n >> 2; i; --i, s += 4, d += 4) Unit<Op, uint32_t>(s, d, value);
  }
}

#ifdef __wasm_simd128__
// A 16-byte tile row as one WebAssembly SIMD register (mapwalk1's loop body
// in the page, best of 80 batches: 4.6 -> 4.4 us over two 8-byte units).
using Row16 = uint8_t __attribute__((vector_size(16)));
#endif

template <class Op, bool Wide, int Bpp>
void Combine(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t srcPitch,
             int32_t dstPitch, uint64_t value) {
  if (width <= 0 || height <= 0) return;
  const size_t n = size_t(width) * Bpp;
  if (Wide && n == 16) {  // the walker's 16 x 16 tiles, no per-row size tests (25 tiles: 1.20 -> 0.77 us)
    for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch)
#ifdef __wasm_simd128__
      Unit<Op, Row16>(src, dst, value);
#else
      Unit<Op, uint64_t>(src, dst, value), Unit<Op, uint64_t>(src + 8, dst + 8, value);
#endif
    return;
  }
  for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch)
    CombineRow<Op, Wide>(src, dst, n, value);
}

// Transparent: whole pixels, each copied unless it equals the key.
template <int Bpp>
void KeyedCopy(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t srcPitch,
               int32_t dstPitch, uint64_t value) {
  const uint32_t key = ReadPixel(reinterpret_cast<const uint8_t*>(&value), 0, Bpp);
  for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* s = src + size_t(x) * Bpp;
      if (ReadPixel(s, 0, Bpp) != key) std::memcpy(dst + size_t(x) * Bpp, s, Bpp);
    }
  }
}

// Mode 6: each source byte goes to bits 24-31 of the target pixel.
void AlphaByte(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t srcPitch,
               int32_t dstPitch, uint64_t) {
  if (width <= 0 || height <= 0) return;
  for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch) {
    for (int32_t x = 0; x < width; ++x) dst[size_t(x) * 4 + 3] = src[x];
  }
}

template <class Op, bool Wide>
constexpr BlitTable MakeTable() {
  return BlitTable{{nullptr, &Combine<Op, Wide, 1>, &Combine<Op, Wide, 2>, nullptr,
                    &Combine<Op, Wide, 4>}};
}

constexpr BlitTable kEmpty{{nullptr, nullptr, nullptr, nullptr, nullptr}};
constexpr BlitTable kAlphaByte{{nullptr, nullptr, nullptr, nullptr, &AlphaByte}};
constexpr BlitTable kKeyed{{nullptr, &KeyedCopy<1>, &KeyedCopy<2>, nullptr, &KeyedCopy<4>}};

template <bool Wide>
constexpr BlitTable kByMode[10] = {MakeTable<CopyOp, Wide>(), kKeyed, MakeTable<AndOp, Wide>(),
                                   MakeTable<InvertOp, Wide>(), MakeTable<OrOp, Wide>(),
                                   MakeTable<XorOp, Wide>(), kAlphaByte, kEmpty, kEmpty, kEmpty};

}  // namespace

const BlitTable* PlainBlitTable(int32_t mode) {
  return (mode >= 0 && mode < 10) ? &kByMode<false>[mode] : &kEmpty;
}

const BlitTable* WideBlitTable(int32_t mode) {
  return (mode >= 0 && mode < 10) ? &kByMode<true>[mode] : &kEmpty;
}

}  // namespace scr
