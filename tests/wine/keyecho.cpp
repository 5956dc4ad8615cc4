// keyecho.cpp - a Windows program for the Wine tests: opens a 320 x 200
// Screen (ScreenMode flags from the first argument, if any), blue all over,
// writes the name of the back-end that shows it, then each key string InKey
// gives as its bytes in decimal, one key a line ("255,72"), until ESC; "t"
// sets a title beyond the ANSI code page. With a second argument it also
// writes GetMouse's answer ("M 7,3,0,1") and the scan codes KeyHeld finds
// held ("H 3 42 54") each time they change; then "p" moves the pointer to
// page pixel 100, 50 and hides it, "o" shows it.
#include <mapwalk/screen.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace scr;

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 2, argc > 1 ? std::atoi(argv[1]) : 0, 0);
  DrawLine(nullptr, 0, 0, 319, 199, Colour::Blue, LineShape::FilledBox);
  std::printf("%s\n", BackendName().c_str());
  std::fflush(stdout);
  const bool watch = argc > 2;
  int32_t m[4], seen[4] = {-2};
  std::string held, seenHeld = "H";
  for (;;) {
    if (watch && GetMouse(m[0], m[1], m[2], m[3]) == 0 && !std::equal(m, m + 4, seen)) {
      std::copy(m, m + 4, seen);
      std::printf("M %d,%d,%d,%d\n", m[0], m[1], m[2], m[3]);
      std::fflush(stdout);
    }
    held = "H";
    for (int32_t scan = 1; watch && scan < 128; ++scan)
      if (KeyHeld(scan)) held += " " + std::to_string(scan);
    if (watch && held != seenHeld) {
      std::printf("%s\n", (seenHeld = held).c_str());
      std::fflush(stdout);
    }
    const KeyString k = InKey();
    if (k.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    for (size_t i = 0; i < k.size(); ++i) std::printf(i ? ",%u" : "%u", unsigned(uint8_t(k[i])));
    std::printf("\n");
    std::fflush(stdout);
    if (k == "t") SetTitle("keyecho \u2665");
    if (watch && (k == "p" || k == "o")) SetMouse(k == "p" ? 100 : kOmitted, k == "p" ? 50 : kOmitted, k == "o");
    if (k == "\x1b") break;
  }
  ScreenMode(0, 0, 0, 0, 0);
  EndProgram(0);
}
