// draw.cpp (bench) - pixel primitives, image blits and page copies against
// their targets, each next to the plain memcpy / memset of the same bytes
// (see measure.h for how a figure is taken):
//   PageCopy 640 x 480          <= 1.15x memcpy of the page's pixels and text cells
//   FilledBox 320 x 200         <= 1.2x memset of its bytes: one memset of 64,000
//                               on a 320 x 200 page, 200 row memsets on 640 x 480
//   PutImage 16 x 16            < 60 ns
//   PutPixel, GetPixel          < 25 ns
//   PutImage 16 x 16 Copy       <= 1.2x the same in Xor
//   DrawCircle radius 100 disc  <= 2x a FilledBox of the same area (177 x 177)
//   FloodFill 320 x 200 page    <= 3x memset of its bytes
// Exit status 1 when a target is missed.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "measure.h"
#include "pages.h"
#include "screen.h"
#include "state.h"  // sizeof(TextCell) only: the bytes a page copy moves per text cell

using namespace scr;
using bench::Timing;

namespace {

// Opens a w x h, 4-bit, 8-page windowless Screen, drawing on page 1 with page 0 shown.
void OpenScreen(int32_t w, int32_t h) {
  if (ScreenRes(w, h, 4, 8, -1, 0) != 0) {
    std::fprintf(stderr, "cannot open a %d x %d Screen\n", w, h);
    std::exit(2);
  }
  SetPages(1, 0);
}

// Bytes of one page's text cells on the open Screen.
size_t TextBytes() {
  const int32_t size = SetWidth(0, 0);  // rows * 65536 + columns
  return size_t(size >> 16) * size_t(size & 0xFFFF) * sizeof(TextCell);
}

// A 16 x 16 tile captured from the page in the packed form.
std::vector<uint8_t> Tile() {
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) PutPixel(nullptr, float(x), float(y), uint32_t(x ^ y) & 15);
  std::vector<uint8_t> tile(4 + 256);
  GetImage(nullptr, 0, 0, 15, 15, tile.data());
  return tile;
}

}  // namespace

int main() {
  bool ok = true;
  Timing a, b;
  std::printf("Best batch per call (median batch), this thread's processor time:\n");

  // --- 640 x 480 page ---------------------------------------------------------
  OpenScreen(640, 480);
  {
    const size_t pixels = 640 * 480, text = TextBytes();
    bench::AlignedBlock src(pixels), dst(pixels), tsrc(text), tdst(text);
    auto memcpyPage = [&] {
      std::memcpy(dst.data, src.data, bench::Opaque(pixels));
      std::memcpy(tdst.data, tsrc.data, text);
      asm volatile("" ::: "memory");
    };
    bench::Measure([] { PageCopy(2, 1); asm volatile("" ::: "memory"); }, memcpyPage, a, b);
    ok &= bench::PrintRatio("PageCopy 640x480", a, "memcpy", b, 1.15);
    bench::Measure([] { PageCopy(1, 0); asm volatile("" ::: "memory"); }, memcpyPage, a, b);
    ok &= bench::PrintRatio("PageCopy onto visible", a, "memcpy", b, 1.15);

    // A 320 x 200 box on this page is 200 runs 640 bytes apart: the same
    // bytes as they lie are 200 row memsets; one memset of 64,000 shown beside.
    bench::AlignedBlock page(pixels), block(64000);
    uint32_t c = 0;
    auto box = [&] { DrawLine(nullptr, 0, 0, 319, 199, ++c & 15, LineShape::FilledBox); };
    bench::Measure(box,
                   [&] {
                     const size_t row = bench::Opaque(320);
                     ++c;
                     for (int y = 0; y < 200; ++y) std::memset(page.data + y * 640, int(c & 15), row);
                     asm volatile("" ::: "memory");
                   },
                   a, b);
    ok &= bench::PrintRatio("FilledBox 320x200 rows", a, "row memsets", b, 1.2);
    bench::Measure(box,
                   [&] {
                     std::memset(block.data, int(++c & 15), bench::Opaque(64000));
                     asm volatile("" ::: "memory");
                   },
                   a, b);
    std::printf("  %-26s %9.1f ns (med %9.1f) / %-16s %9.1f ns (med %9.1f) = %5.2fx  (rows apart: no target)\n",
                "FilledBox 320x200 rows", a.best, a.median, "one memset", b.best, b.median, a.best / b.best);

    uint32_t i = 0;
    ok &= bench::PrintAbsolute("PutPixel", bench::MeasureAlone([&] {
      PutPixel(nullptr, float(i & 511), float((i >> 9) & 255), i & 15, CoordForm::Point, 0);
      ++i;
    }), 25);
    ok &= bench::PrintAbsolute("GetPixel", bench::MeasureAlone([&] {
      volatile int32_t v = GetPixel(nullptr, float(i & 511), float((i >> 9) & 255));
      (void)v;
      ++i;
    }), 25);
    SetPages(0, 0);
    ok &= bench::PrintAbsolute("PutPixel on visible page", bench::MeasureAlone([&] {
      PutPixel(nullptr, float(i & 511), float((i >> 9) & 255), i & 15, CoordForm::Point, 0);
      ++i;
    }), 25);
    SetPages(1, 0);

    const std::vector<uint8_t> tile = Tile();
    for (int32_t mode : {RasterMode::Xor, RasterMode::Or}) {
      ok &= bench::PrintAbsolute(mode == RasterMode::Xor ? "PutImage 16x16 Xor" : "PutImage 16x16 Or",
                                 bench::MeasureAlone([&] {
                                   const float x = float((i & 31) * 16 + 8), y = float(((i >> 5) & 15) * 16 + 8);
                                   PutImage(nullptr, x, y, tile.data(), kOmitted, kOmitted, kOmitted,
                                            kOmitted, 0, mode);
                                   ++i;
                                 }),
                                 60);
    }
    auto tileAt = [&](int32_t mode) {
      return [&, mode] {
        const float x = float((i & 31) * 16 + 8), y = float(((i >> 5) & 15) * 16 + 8);
        PutImage(nullptr, x, y, tile.data(), kOmitted, kOmitted, kOmitted, kOmitted, 0, mode);
        ++i;
      };
    };
    bench::Measure(tileAt(RasterMode::Copy), tileAt(RasterMode::Xor), a, b);
    ok &= bench::PrintRatio("PutImage 16x16 Copy", a, "Xor", b, 1.2);
    bench::Measure([&] { DrawCircle(nullptr, 320, 240, 100, ++c & 15, 1, 0, 0, 1); },
                   [&] { DrawLine(nullptr, 232, 152, 408, 328, ++c & 15, LineShape::FilledBox); }, a, b);
    ok &= bench::PrintRatio("DrawCircle r100 filled", a, "FilledBox 177^2", b, 2.0);

    // Informational: a tile at a 16-pixel cell position, as the walker draws.
    const Timing t = bench::MeasureAlone([&] {
      const float x = float((i & 15) * 16), y = float(((i >> 4) & 7) * 16);
      PutImage(nullptr, x, y, tile.data(), kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Xor);
      ++i;
    });
    std::printf("  %-26s %9.1f ns (med %9.1f)  (for comparison)\n", "PutImage 16x16 on cells", t.best,
                t.median);
  }

  // --- 320 x 200 page: the first walker's screen, the box one contiguous run ---
  OpenScreen(320, 200);
  {
    bench::AlignedBlock block(64000);
    uint32_t c = 0;
    bench::Measure([&] { DrawLine(nullptr, 0, 0, 319, 199, ++c & 15, LineShape::FilledBox); },
                   [&] {
                     std::memset(block.data, int(++c & 15), bench::Opaque(64000));
                     asm volatile("" ::: "memory");
                   },
                   a, b);
    ok &= bench::PrintRatio("FilledBox 320x200 page", a, "memset", b, 1.2);
    // Each fill takes the whole page from the colour the last one left.
    bench::Measure([&] { FloodFill(nullptr, 160, 100, ++c & 15); },
                   [&] {
                     std::memset(block.data, int(++c & 15), bench::Opaque(64000));
                     asm volatile("" ::: "memory");
                   },
                   a, b);
    ok &= bench::PrintRatio("FloodFill 320x200 page", a, "memset", b, 3.0);
  }
  CloseScreen();
  std::printf("%s\n", ok ? "All targets met." : "A target was MISSED.");
  return ok ? 0 : 1;
}
