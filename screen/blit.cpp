// blit.cpp - the raster-mode blit routines and their tables.
//
// Or and Xor combine raw bytes, so one routine per pixel size only scales the
// width to bytes. Each row runs as one leading byte when the byte count is
// odd, one 2-byte unit when bit 1 of the count is set, then whole units: the
// plain set uses 4-byte units, the wide set 4 then 8-byte units (pairs of them
// as one 16-byte vector where available). All give the same bytes. Mode 6 writes a 1-byte image into the top byte of 4-byte pixels.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "blit.h"

namespace scr {

namespace {

struct OrOp {
  template <class T>
  static T Apply(T d, T s) { return T(d | s); }
#if defined(__SSE2__)
  static __m128i Apply16(__m128i d, __m128i s) { return _mm_or_si128(d, s); }
#endif
};
struct XorOp {
  template <class T>
  static T Apply(T d, T s) { return T(d ^ s); }
#if defined(__SSE2__)
  static __m128i Apply16(__m128i d, __m128i s) { return _mm_xor_si128(d, s); }
#endif
};

template <class Op, class T>
inline void Unit(const uint8_t* s, uint8_t* d) {
  T a, b;
  std::memcpy(&a, d, sizeof(T));
  std::memcpy(&b, s, sizeof(T));
  a = Op::template Apply<T>(a, b);
  std::memcpy(d, &a, sizeof(T));
}

template <class Op, class T>
inline void Pair(const uint8_t* s, uint8_t* d) {
  T a0, a1, b0, b1;
  std::memcpy(&a0, d, sizeof(T));
  std::memcpy(&a1, d + sizeof(T), sizeof(T));
  std::memcpy(&b0, s, sizeof(T));
  std::memcpy(&b1, s + sizeof(T), sizeof(T));
  a0 = Op::template Apply<T>(a0, b0);
  a1 = Op::template Apply<T>(a1, b1);
  std::memcpy(d, &a0, sizeof(T));
  std::memcpy(d + sizeof(T), &a1, sizeof(T));
}

// Two 8-byte units at once: one 16-byte vector where the processor has them
// (every x86-64 one does), which gives the same bytes in fewer steps.
template <class Op>
inline void Wide16(const uint8_t* s, uint8_t* d) {
#if defined(__SSE2__)
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), Op::Apply16(a, b));
#else
  Pair<Op, uint64_t>(s, d);
#endif
}

template <class Op, bool Wide>
inline void CombineRow(const uint8_t* s, uint8_t* d, size_t n) {
  if (n & 1) {
    Unit<Op, uint8_t>(s, d);
    ++s, ++d;
  }
  if (n & 2) {
    Unit<Op, uint16_t>(s, d);
    s += 2, d += 2;
  }
  if constexpr (Wide) {
    if (n & 4) {
      Unit<Op, uint32_t>(s, d);
      s += 4, d += 4;
    }
    // 8-byte units, two per step with both loads ahead of both stores.
    for (size_t i = n >> 4; i; --i, s += 16, d += 16) Wide16<Op>(s, d);
    if (n & 8) Unit<Op, uint64_t>(s, d);
  } else {
    for (size_t i = n >> 3; i; --i, s += 8, d += 8) Pair<Op, uint32_t>(s, d);
    if (n & 4) Unit<Op, uint32_t>(s, d);
  }
}

// Rows of any width.
template <class Op, bool Wide, int Bpp>
[[gnu::noinline]] void CombineRows(const uint8_t* src, uint8_t* dst, int32_t height,
                                   int32_t srcPitch, int32_t dstPitch, size_t n) {
  if constexpr (Wide) {
    if ((n & 7) == 0) {  // no leading parts: whole 8-byte units only
      for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch) {
        const uint8_t* s = src;
        uint8_t* d = dst;
        for (size_t i = n >> 4; i; --i, s += 16, d += 16) Wide16<Op>(s, d);
        if (n & 8) Unit<Op, uint64_t>(s, d);
      }
      return;
    }
  }
  for (int32_t y = 0; y < height; ++y, src += srcPitch, dst += dstPitch) {
    CombineRow<Op, Wide>(src, dst, n);
  }
}

template <class Op, bool Wide, int Bpp>
void Combine(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t srcPitch,
             int32_t dstPitch, int32_t, BlendRoutine, void*) {
  if (width <= 0 || height <= 0) return;
  const size_t n = size_t(width) * Bpp;
  if constexpr (Wide) {
    if (n == 16) {  // one 16-byte unit per row (the 16-pixel tiles of one-byte pixels)
      const ptrdiff_t sp = srcPitch, dp = dstPitch;
      int32_t y = 0;
      for (; y + 4 <= height; y += 4, src += 4 * sp, dst += 4 * dp) {  // rows in order, four a step
        Wide16<Op>(src, dst);
        Wide16<Op>(src + sp, dst + dp);
        Wide16<Op>(src + 2 * sp, dst + 2 * dp);
        Wide16<Op>(src + 3 * sp, dst + 3 * dp);
      }
      for (; y < height; ++y, src += sp, dst += dp) Wide16<Op>(src, dst);
      return;
    }
  }
  CombineRows<Op, Wide, Bpp>(src, dst, height, srcPitch, dstPitch, n);
}

// Mode 6: each source byte goes to bits 24-31 of the target pixel.
void AlphaByte(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height, int32_t srcPitch,
               int32_t dstPitch, int32_t, BlendRoutine, void*) {
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

constexpr BlitTable kPlainOr = MakeTable<OrOp, false>();
constexpr BlitTable kPlainXor = MakeTable<XorOp, false>();
constexpr BlitTable kWideOr = MakeTable<OrOp, true>();
constexpr BlitTable kWideXor = MakeTable<XorOp, true>();

const BlitTable* const kPlain[10] = {&kEmpty, &kEmpty, &kEmpty, &kEmpty, &kPlainOr,
                                     &kPlainXor, &kAlphaByte, &kEmpty, &kEmpty, &kEmpty};
const BlitTable* const kWide[10] = {&kEmpty, &kEmpty, &kEmpty, &kEmpty, &kWideOr,
                                    &kWideXor, &kAlphaByte, &kEmpty, &kEmpty, &kEmpty};

bool DetectWideUnits() {
#if defined(__x86_64__)
  return true;  // every x86-64 processor has the 8-byte integer units
#elif defined(__i386__)
  return __builtin_cpu_supports("mmx");
#else
  return sizeof(void*) >= 8;
#endif
}

}  // namespace

const BlitTable* PlainBlitTable(int32_t mode) {
  return (mode >= 0 && mode < 10) ? kPlain[mode] : &kEmpty;
}

const BlitTable* WideBlitTable(int32_t mode) {
  return (mode >= 0 && mode < 10) ? kWide[mode] : &kEmpty;
}

bool HaveWideUnits() {
  static const bool wide = DetectWideUnits();
  return wide;
}


}  // namespace scr
