// keyecho.cpp - a Windows program for the Wine tests: opens a 320 x 200
// Screen (ScreenMode flags from the first argument, if any), blue all over,
// writes the name of the back-end that shows it, then each key string InKey
// gives as its bytes in decimal, one key a line ("255,72"), until ESC; "t"
// sets a title beyond the ANSI code page.
#include <mapwalk/screen.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace scr;

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 2, argc > 1 ? std::atoi(argv[1]) : 0, 0);
  DrawLine(nullptr, 0, 0, 319, 199, Colour::Blue, LineShape::FilledBox);
  std::printf("%s\n", BackendName().c_str());
  std::fflush(stdout);
  for (;;) {
    const KeyString k = InKey();
    if (k.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    for (size_t i = 0; i < k.size(); ++i) std::printf(i ? ",%u" : "%u", unsigned(uint8_t(k[i])));
    std::printf("\n");
    std::fflush(stdout);
    if (k == "t") SetTitle("keyecho \u2665");
    if (k == "\x1b") break;
  }
  ScreenMode(0, 0, 0, 0, 0);
  EndProgram(0);
}
