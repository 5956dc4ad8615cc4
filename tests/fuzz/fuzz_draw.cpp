// Drives the drawing and image calls with arbitrary sequences and arguments (NaN, infinities, huge
// and negative values) on small windowless Screens, checking what needs no model: nothing crashes or
// strays out of bounds (sanitizers watch), the lock is released, refused calls record error 1 (or 4)
// with a detail.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "screen.h"
#include "state.h"  // the lock count: no public call shows it
#include "testing.h"

using namespace scr;

static void Require(bool condition) { if (!condition) __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<ImageBuffer*> created;
  std::vector<std::vector<uint8_t>> owned;
  auto pick = [&](auto& from) -> auto& { return from[in.ConsumeIntegralInRange<size_t>(0, from.size() - 1)]; };
  auto range = [&](int32_t low, int32_t high) { return in.ConsumeIntegralInRange(low, high); };
  auto form = [&] { return in.ConsumeBool() ? HeaderForm::Full : HeaderForm::Packed; };
  auto coord = [&]() -> float {
    static const float special[] = {NAN, INFINITY, -INFINITY, 3e9f, -3e9f, 2147483647.0f, 0.5f, -0.5f, 1e30f,
                                    8388608.5f};
    if (in.ConsumeBool()) return in.ConsumeBool() ? float(range(-80, 400)) : in.ConsumeFloatingPoint<float>();
    return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
  };
  auto whole = [&] {
    return in.ConsumeBool() ? range(-20, 100) : in.ConsumeBool() ? kOmitted : in.ConsumeIntegral<int32_t>();
  };
  auto open = [&] {  // a small Screen of any depth, now and then a numbered mode
    if (range(0, 7) == 0) return ScreenMode(std::array{1, 2, 7, 13}[range(0, 3)], 0, range(0, 3), -1);
    return ScreenRes(range(1, 64), range(1, 48), std::array{1, 2, 4, 8, 15, 16, 24, 32}[range(0, 7)], range(1, 3), -1);
  };
  open();
  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    ImageBuffer* target = nullptr;  // the work page, an ImageCreate block or an owned image
    if (in.ConsumeBool() && !created.empty()) target = pick(created);
    else if (in.ConsumeBool() && !owned.empty()) target = reinterpret_cast<ImageBuffer*>(pick(owned).data());
    const float x = coord(), y = coord();
    switch (in.ConsumeIntegralInRange(0, 12)) {
      case 0: PutPixel(target, x, y, in.ConsumeIntegral<uint32_t>(), range(-9, 9), in.ConsumeBool()); break;
      case 1:  // one-byte pixels read -1..255
        if (const int32_t v = GetPixel(target, x, y); !target && gLayer.screen && gLayer.screen->bytesPerPixel == 1)
          Require(v >= -1 && v <= 255);
        break;
      case 2:
        DrawLine(target, x, y, coord(), coord(), in.ConsumeIntegral<uint32_t>(), range(-1, 4),
                 in.ConsumeIntegral<uint32_t>(), range(-9, 9));
        break;
      case 3: {
        const int32_t w = whole(), h = whole();
        if (w > 0 && h > 0 && int64_t(w) * h > (1 << 20) && int64_t(w) * h < (int64_t(1) << 42)) break;  // allocates
        ImageBuffer* img =
            ImageCreate(w, h, in.ConsumeIntegral<uint32_t>(), range(-1, 40), in.ConsumeBool() ? kNoColour : 0, form());
        const bool aligned = reinterpret_cast<uintptr_t>(img) % 16 == 0;
        Require(img ? ErrorNumber() == 0 && aligned : ErrorNumber() == 1 || ErrorNumber() == 4);
        if (img) created.push_back(img);
        break;
      }
      case 4:
        if (created.empty()) break;
        ImageDestroy(std::exchange(pick(created), created.back()));
        created.pop_back();
        break;
      case 5: {  // into an ImageCreate block (its own extent) or a fresh buffer of exact extent
        std::vector<uint8_t> buf(in.ConsumeIntegralInRange<size_t>(1, 8192), 0xA5);
        const BufferExtent exact{buf.data(), buf.size()};
        const size_t skip = in.ConsumeIntegralInRange<size_t>(0, std::min<size_t>(8, buf.size()));
        const bool block = in.ConsumeBool() && !created.empty();
        void* into = block ? pick(created) : static_cast<void*>(buf.data() + skip);
        const BufferExtent* extent = block ? nullptr : &exact;
        const int32_t r = GetImage(target, x, y, coord(), coord(), into, range(-9, 9), extent, form());
        Require((r == 0 || r == 1) && ErrorNumber() == r);
        if (r == 0 && !block && skip == 0) owned.push_back(std::move(buf));  // a valid image for later blits
        break;
      }
      case 6: {
        const void* img = nullptr;
        if (in.ConsumeBool() && !created.empty()) img = pick(created);
        else if (!owned.empty() && !in.ConsumeBool()) img = pick(owned).data();
        const int32_t r = PutImage(target, x, y, img, whole(), whole(), whole(), whole(), range(-2, 5), range(-1, 11),
                                   in.ConsumeIntegral<int32_t>());
        Require((r == 0 || r == 1) && ErrorNumber() == r && (r == 1 || (img && gLayer.screen)));
        break;
      }
      case 7:
        SetPages(range(-2, 4), range(-2, 4));
        PageCopy(range(-2, 4), range(-2, 4));
        ClearScreen(in.ConsumeBool() ? kOmitted : range(-1, 3));
        SetPaletteRgb(range(-2, 300), in.ConsumeIntegral<uint8_t>(), 0, 255);
        SetTitle(in.ConsumeRandomLengthString(40));  // any bytes: the window shows what UTF-8 it finds
        Require(ErrorNumber() <= 1 && (ErrorNumber() == 1 || GetPaletteRgb(range(0, 255)) <= 0xFFFFFFu));
        break;
      case 8:  // text in the cells (with no Screen it would go to the fuzzer's own output)
        if (!gLayer.screen) break;
        SetTextView(whole(), whole());
        Require(Locate(whole(), whole()) == ErrorNumber() && ErrorNumber() <= 1);
        SetColor(in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>(), range(0, 3));
        Print(in.ConsumeRandomLengthString(300));
        if (const int32_t grid = SetWidth(0, 0); grid >> 16 > 0 && (grid & 0xFFFF) > 0)  // the cursor is on the grid
          Require(CharAt(CursorRow(), CursorColumn()) >= 0);
        break;
      case 9: {  // glyphs anywhere, in a built-in font or one made from an image
        int32_t font = std::array{0, 8, 14, 16, 100, 163, -1}[range(0, 6)];
        if (in.ConsumeBool() && (!owned.empty() || !created.empty())) {
          const void* img = !created.empty() && in.ConsumeBool() ? static_cast<void*>(pick(created)) : nullptr;
          if (!img && !owned.empty()) img = pick(owned).data();
          font = FontFromImage(img, range(-1, 34), range(-1, 34));
          Require(font == -1 ? ErrorNumber() == 1 : font >= 100 && ErrorNumber() == 0);
        }
        const int32_t scale = in.ConsumeBool() ? range(-1, 4) : in.ConsumeIntegral<int32_t>();
        const KeyString text = in.ConsumeRandomLengthString(64);
        const int32_t r = DrawText(target, x, y, text, in.ConsumeIntegral<uint32_t>(), scale, font);
        Require((r == 0 || r == 1) && ErrorNumber() == r && (r == 1 || scale >= 1));
        Require(TextWidth(text, scale, font) >= (r == 0 ? 0 : -1));
        break;
      }
      case 10: {  // shapes and fills never touch the error number
        const int32_t before = ErrorNumber();
        const float radius = in.ConsumeBool() ? float(range(-2, 90)) : coord();
        DrawCircle(target, x, y, radius, in.ConsumeIntegral<uint32_t>(), in.ConsumeBool() ? 1.f : coord(),
                   in.ConsumeBool() ? 0.f : coord(), in.ConsumeBool() ? 0.f : coord(), range(0, 1));
        FloodFill(target, coord(), coord(), in.ConsumeIntegral<uint32_t>(),
                  in.ConsumeBool() ? kNoColour : in.ConsumeIntegral<uint32_t>());
        Require(ErrorNumber() == before);
        break;
      }
      case 11: {  // recordings: pictures taken at keyboard reads and as they stop, on any Screen
        static const std::string gif = "/tmp/fuzz_draw_" + std::to_string(getpid()) + ".gif";
        const int32_t error = in.ConsumeBool() ? RecordStart(gif) : RecordStop();
        Require(error == 0 || error == 1);
        InKey();
        break;
      }
      default: open();
    }
    Require(!gLayer.screen || gLayer.screen->lockCount == 0);
    Require(ErrorDetail().empty() == (ErrorNumber() == 0));  // every refusal says why, success says nothing
  }
  for (ImageBuffer* img : created) ImageDestroy(img);
  RecordStop();
  ResetLayerForTests();
  return 0;
}
