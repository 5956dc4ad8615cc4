// text.cpp (bench) - text on a 640 x 480 Screen of 8 x 16 cells (mode 12),
// drawn on a hidden page, against its targets (see measure.h for how a figure
// is taken):
//   a full screen of text (80 x 30) through Print   <= 3x memset of the page's bytes
//   DrawText, 20 characters                         <= 2 us; at scale 2 <= 4 us
//   a scroll of the 30-row text view                <= 1.5x memmove of its pixel rows
// Exit status 1 when a target is missed.
#include <cstdio>
#include <cstring>

#include "measure.h"
#include "screen.h"

using namespace scr;
using bench::Timing;

int main() {
  if (ScreenMode(12, 0, 2, -1, 0) != 0) {
    std::fprintf(stderr, "cannot open mode 12\n");
    return 2;
  }
  SetPages(1, 0);
  bool ok = true;
  Timing a, b;
  std::printf("Best batch per call (median batch), this thread's processor time:\n");

  constexpr size_t kPage = 640 * 480, kCellRow = 640 * 16;
  bench::AlignedBlock block(kPage + kCellRow);
  KeyString screenful(80 * 30, ' ');
  for (size_t i = 0; i < screenful.size(); ++i) screenful[i] = char(32 + i % 95);
  uint32_t c = 0;
  bench::Measure(
      [&] {
        SetColor(++c & 15, 1);
        Locate(1, 1);
        Print(screenful);  // the last character leaves the cursor waiting at the end: no scroll
      },
      [&] {
        std::memset(block.data, int(++c & 15), bench::Opaque(kPage));
        asm volatile("" ::: "memory");
      },
      a, b);
  ok &= bench::PrintRatio("Print 80x30 of 8x16", a, "memset", b, 3.0);

  const KeyString line = "Score 000123  Lives 3";  // 20 characters and a blank
  for (int32_t scale : {1, 2}) {
    uint32_t i = 0;
    ok &= bench::PrintAbsolute(scale == 1 ? "DrawText 20 chars" : "DrawText 20 chars scale 2",
                               bench::MeasureAlone([&] {
                                 ++i;
                                 DrawText(nullptr, float(i & 127), float((i >> 7) & 255), line.substr(0, 20),
                                          i & 15, scale);
                               }),
                               scale * 2000.0);
  }

  Locate(30, 1);
  bench::Measure([] { Print("\n"); },
                 [&] {
                   std::memmove(block.data, block.data + kCellRow, bench::Opaque(kPage));
                   asm volatile("" ::: "memory");
                 },
                 a, b);
  ok &= bench::PrintRatio("Scroll 30-row text view", a, "memmove", b, 1.5);

  std::printf("%s\n", ok ? "All targets met." : "A target was MISSED.");
  return ok ? 0 : 1;
}
