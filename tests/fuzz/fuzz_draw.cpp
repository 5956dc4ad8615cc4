// Drives the drawing and image operations with arbitrary sequences of calls
// and arguments (NaN, infinities, huge and negative values included) on small
// windowless Screens of every depth. Checks the promises that need no model:
// nothing crashes or reads/writes out of bounds (the sanitizers watch), the
// screen lock is always released, GetPixel stays within its range, refused
// calls record error 1 (or 4 for ImageCreate) and successful ones error 0.
//
// Buffers the harness owns are only ever handed over with an exact extent or
// with a header whose claims they satisfy; blocks from ImageCreate are used
// freely, since the layer itself knows their size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "screen.h"
#include "state.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr size_t kMaxHarnessBuffer = 1 << 20;
constexpr uint64_t kMaxCreateBytes = 16u << 20;

float Coord(FuzzedDataProvider& in) {
  static const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  3e9f, -3e9f, 2147483647.0f, -2147483648.0f, 0.5f, -0.5f,
                                  1e-30f, 1e30f, -1e30f, 8388608.5f};
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return float(in.ConsumeIntegralInRange<int>(-80, 400));
    case 1: return in.ConsumeFloatingPoint<float>();
    case 2: return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
    default: return in.ConsumeFloatingPointInRange<float>(-100.0f, 100.0f);
  }
}

int32_t Whole(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return in.ConsumeIntegralInRange<int32_t>(-20, 100);
    case 1: return kOmitted;
    default: return in.ConsumeIntegral<int32_t>();
  }
}

uint32_t U32At(const uint8_t* p, size_t off) {
  uint32_t v;
  std::memcpy(&v, p + off, 4);
  return v;
}

// A buffer the harness owns, holding an image header and its rows.
struct Owned {
  std::vector<uint8_t> bytes;
};

// Bytes an image header claims (header + rows), or 0 when the header is not
// one the layer accepts. A packed header's pixel size 0 counts as 4 bytes.
uint64_t Claimed(const uint8_t* p, size_t have) {
  if (have < 4) return 0;
  if (U32At(p, 0) == 7) {
    if (have < 32) return 0;
    const int64_t bpp = int32_t(U32At(p, 4)), w = int32_t(U32At(p, 8)), h = int32_t(U32At(p, 12)),
                  pitch = int32_t(U32At(p, 16));
    if (!(bpp == 1 || bpp == 2 || bpp == 4) || w < 0 || h < 0 || pitch < w * bpp) return 0;
    if (w > (1 << 28) || h > (1 << 28) || pitch > (1 << 30)) return 0;
    if (w == 0 || h == 0) return 32;
    return 32 + uint64_t(h - 1) * uint64_t(pitch) + uint64_t(w * bpp);
  }
  uint16_t word, h;
  std::memcpy(&word, p, 2);
  std::memcpy(&h, p + 2, 2);
  int64_t bpp = word & 7;
  if (bpp == 0) bpp = 4;
  return 4 + uint64_t(word >> 3) * uint64_t(h) * uint64_t(bpp);
}

// A harness buffer with a header made of fuzz bytes, sized to what it claims.
bool MakeOwned(FuzzedDataProvider& in, Owned& out) {
  uint8_t header[32] = {};
  const bool full = in.ConsumeBool();
  if (full) {
    const uint32_t fields[5] = {7, in.ConsumeIntegralInRange<uint32_t>(0, 5),
                                uint32_t(in.ConsumeIntegralInRange<int32_t>(-2, 40)),
                                uint32_t(in.ConsumeIntegralInRange<int32_t>(-2, 40)),
                                uint32_t(in.ConsumeIntegralInRange<int32_t>(-2, 200))};
    std::memcpy(header, fields, sizeof fields);
  } else {
    const uint16_t word = uint16_t(in.ConsumeIntegralInRange<int>(0, 40) << 3 |
                                   in.ConsumeIntegralInRange<int>(0, 7));
    const uint16_t h = in.ConsumeIntegralInRange<uint16_t>(0, 40);
    std::memcpy(header, &word, 2);
    std::memcpy(header + 2, &h, 2);
  }
  const size_t headerSize = full ? 32 : 4;
  uint64_t need = Claimed(header, headerSize);
  if (need == 0) need = headerSize;  // refused headers need only be readable
  if (U32At(header, 0) == 7 && need < 32) need = 32;  // read as the 32-byte form
  if (need > kMaxHarnessBuffer) return false;
  out.bytes.assign(size_t(need), 0);
  std::memcpy(out.bytes.data(), header, headerSize);
  std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(size_t(need) - headerSize);
  if (!fill.empty()) std::memcpy(out.bytes.data() + headerSize, fill.data(), fill.size());
  return true;
}

void OpenScreen(FuzzedDataProvider& in) {
  static const int32_t depths[] = {1, 2, 4, 8, 15, 16, 24, 32};
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    static const int32_t modes[] = {1, 2, 7, 13};
    ScreenMode(modes[in.ConsumeIntegralInRange<int>(0, 3)], 0, in.ConsumeIntegralInRange(0, 3),
               -1, 0);
  } else {
    ScreenRes(in.ConsumeIntegralInRange<int32_t>(1, 64), in.ConsumeIntegralInRange<int32_t>(1, 48),
              depths[in.ConsumeIntegralInRange<int>(0, 7)], in.ConsumeIntegralInRange(1, 3), -1, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<ImageBuffer*> created;
  std::vector<std::unique_ptr<Owned>> owned;
  OpenScreen(in);

  // A drawing target: the work page, an ImageCreate block, or an owned buffer.
  auto pickTarget = [&]() -> ImageBuffer* {
    const int kind = in.ConsumeIntegralInRange<int>(0, 5);
    if (kind == 1 && !created.empty())
      return created[in.ConsumeIntegralInRange<size_t>(0, created.size() - 1)];
    if (kind == 2 && !owned.empty())
      return reinterpret_cast<ImageBuffer*>(
          owned[in.ConsumeIntegralInRange<size_t>(0, owned.size() - 1)]->bytes.data());
    return nullptr;
  };

  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
      case 0: {
        ImageBuffer* t = pickTarget();
        const float x = Coord(in), y = Coord(in);
        PutPixel(t, x, y, in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegralInRange(-9, 9),
                 in.ConsumeIntegralInRange(0, 1));
        break;
      }
      case 1: {
        ImageBuffer* t = pickTarget();
        const float x = Coord(in), y = Coord(in);
        const int32_t v = GetPixel(t, x, y);
        if (gLayer.screen && gLayer.screen->bytesPerPixel == 1 && !t) Require(v >= -1 && v <= 255);
        break;
      }
      case 2: {
        ImageBuffer* t = pickTarget();
        const float x1 = Coord(in), y1 = Coord(in), x2 = Coord(in), y2 = Coord(in);
        DrawLine(t, x1, y1, x2, y2, in.ConsumeIntegral<uint32_t>(),
                 in.ConsumeIntegralInRange(-1, 4), in.ConsumeIntegral<uint32_t>(),
                 in.ConsumeIntegralInRange(-9, 9));
        break;
      }
      case 3: {
        int32_t w = Whole(in), h = Whole(in);
        const int32_t depth = in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 40) : in.ConsumeIntegral<int32_t>();
        const uint32_t colour = in.ConsumeIntegral<uint32_t>();
        const uint32_t flags = in.ConsumeBool() ? kNoColour : 0;
        const HeaderForm form = in.ConsumeBool() ? HeaderForm::Full : HeaderForm::Packed;
        // Sizes that would really be allocated are kept small; refused ones go through.
        if (w > 0 && h > 0 && gLayer.screen) {
          const int64_t bpp = depth <= 0 ? gLayer.screen->bytesPerPixel : (int64_t(depth) + 7) / 8;
          uint64_t bytes = 0;
          if (form == HeaderForm::Packed) {
            if (w <= 8191 && h <= 65535) bytes = uint64_t(w) * uint64_t(h) * uint64_t(bpp) + 22;
          } else {
            const uint64_t pitch = (uint64_t(w) * uint64_t(bpp) + 15) & ~uint64_t(15);
            if (pitch <= (1u << 30) && h <= (1 << 28)) bytes = uint64_t(h) * pitch + 50;
            if (bytes > (uint64_t(1) << 40)) bytes = 0;
          }
          if ((bpp == 1 || bpp == 2 || bpp == 4) && bytes > kMaxCreateBytes) break;
        }
        ImageBuffer* img = ImageCreate(w, h, colour, depth, flags, form);
        if (img) {
          Require(ErrorNumber() == 0);
          Require(reinterpret_cast<uintptr_t>(img) % 16 == 0);
          created.push_back(img);
        } else {
          Require(ErrorNumber() == 1 || ErrorNumber() == 4);
        }
        break;
      }
      case 4: {
        if (created.empty()) break;
        const size_t i = in.ConsumeIntegralInRange<size_t>(0, created.size() - 1);
        ImageDestroy(created[i]);
        created.erase(created.begin() + i);
        break;
      }
      case 5: {
        ImageBuffer* t = pickTarget();
        const float x1 = Coord(in), y1 = Coord(in), x2 = Coord(in), y2 = Coord(in);
        const int32_t form = in.ConsumeIntegralInRange(-9, 9);
        const HeaderForm header = in.ConsumeBool() ? HeaderForm::Full : HeaderForm::Packed;
        int32_t r;
        if (!created.empty() && in.ConsumeBool()) {
          ImageBuffer* dest = created[in.ConsumeIntegralInRange<size_t>(0, created.size() - 1)];
          BufferExtent unknown{dest, 0};
          r = GetImage(t, x1, y1, x2, y2, dest, form, in.ConsumeBool() ? &unknown : nullptr, header);
        } else {
          auto buf = std::make_unique<Owned>();
          buf->bytes.assign(in.ConsumeIntegralInRange<size_t>(0, 8192), 0xA5);
          BufferExtent exact{buf->bytes.data(), buf->bytes.size()};
          if (exact.size == 0) break;  // size 0 would mean "unknown"
          const size_t skip = in.ConsumeIntegralInRange<size_t>(0, 8);
          r = GetImage(t, x1, y1, x2, y2, buf->bytes.data() + std::min(skip, exact.size), form,
                       &exact, header);
          // Kept for later use only when the capture starts the buffer.
          if (r == 0 && skip == 0) owned.push_back(std::move(buf));
        }
        Require(r == 0 || r == 1);
        Require(ErrorNumber() == r);
        break;
      }
      case 6: {
        ImageBuffer* t = pickTarget();
        const void* img = nullptr;
        const int kind = in.ConsumeIntegralInRange<int>(0, 3);
        if (kind == 0 && !created.empty()) {
          img = created[in.ConsumeIntegralInRange<size_t>(0, created.size() - 1)];
        } else if (kind == 1 && !owned.empty()) {
          img = owned[in.ConsumeIntegralInRange<size_t>(0, owned.size() - 1)]->bytes.data();
        } else if (kind == 2) {
          auto buf = std::make_unique<Owned>();
          if (MakeOwned(in, *buf)) {
            img = buf->bytes.data();
            owned.push_back(std::move(buf));
          }
        }
        const float x = Coord(in), y = Coord(in);
        const int32_t sx1 = Whole(in), sy1 = Whole(in), sx2 = Whole(in), sy2 = Whole(in);
        const int32_t form = in.ConsumeIntegralInRange(-2, 5);
        const int32_t mode = in.ConsumeIntegralInRange(-1, 11);
        const int32_t r = PutImage(t, x, y, img, sx1, sy1, sx2, sy2, form, mode,
                                   in.ConsumeIntegral<int32_t>());
        Require(r == 0 || r == 1);
        Require(ErrorNumber() == r);
        if (!img || !gLayer.screen) Require(r == 1);
        break;
      }
      case 7:
        SetPages(in.ConsumeIntegralInRange(-2, 4), in.ConsumeIntegralInRange(-2, 4));
        break;
      case 8:
        PageCopy(in.ConsumeIntegralInRange(-2, 4), in.ConsumeIntegralInRange(-2, 4));
        break;
      case 9:
        ClearScreen(in.ConsumeBool() ? kOmitted : in.ConsumeIntegralInRange(-1, 3));
        break;
      case 10:
        if (in.ConsumeIntegralInRange(0, 3) == 0) OpenScreen(in);
        break;
      default: {
        auto buf = std::make_unique<Owned>();
        if (MakeOwned(in, *buf)) owned.push_back(std::move(buf));
        break;
      }
    }
    if (gLayer.screen) Require(gLayer.screen->lockCount == 0);
  }

  for (ImageBuffer* img : created) ImageDestroy(img);
  if (gLayer.screen) CloseScreen(false);
  return 0;
}
