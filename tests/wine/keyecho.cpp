// keyecho.cpp - a Windows program for the Wine tests: opens a 320 x 200
// Screen and writes each key string InKey gives as its bytes in decimal, one
// key a line ("255,72"), until ESC; "t" sets a title beyond the ANSI code page.
#include <mapwalk/screen.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace scr;

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 2, 0, 0);
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
