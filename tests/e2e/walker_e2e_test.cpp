// walker_e2e_test.cpp - the built walker programs, end to end: each runs in a
// temporary directory with the test's asset files under a private Xvfb;
// keys go in with xdotool, the window comes out with xwd and is compared
// pixel by pixel with the frame the test expects; ESC ends the program with
// exit code 0.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../window/xserver.h"
#include "../support/walker_frames.h"
#include "state.h"

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Shell helpers
// ---------------------------------------------------------------------------

bool HaveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command with DISPLAY set; returns its standard output (empty on failure).
std::string Run(const std::string& display, const std::string& command, int* status = nullptr) {
  const std::string full = "DISPLAY=" + display + " " + command + " 2>/dev/null";
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) return {};
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (status) *status = rc;
  return out;
}

// ---------------------------------------------------------------------------
// Window captures
// ---------------------------------------------------------------------------

struct Capture {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB
};

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Reads an xwd dump of a TrueColor window (24 or 32 bits per pixel).
bool ParseXwd(const std::string& data, Capture& out) {
  if (data.size() < 100) return false;
  const auto* d = reinterpret_cast<const uint8_t*>(data.data());
  const uint32_t headerSize = Be32(d), width = Be32(d + 16), height = Be32(d + 20),
                 byteOrder = Be32(d + 28), bpp = Be32(d + 44), bytesPerLine = Be32(d + 48),
                 redMask = Be32(d + 56), greenMask = Be32(d + 60), blueMask = Be32(d + 64),
                 ncolors = Be32(d + 76);
  if (bpp != 32 && bpp != 24) return false;
  const size_t start = size_t(headerSize) + size_t(ncolors) * 12;
  if (data.size() < start + size_t(bytesPerLine) * height) return false;
  auto shiftOf = [](uint32_t mask) {
    int s = 0;
    while (mask && !(mask & 1)) { mask >>= 1; ++s; }
    return s;
  };
  const int rs = shiftOf(redMask), gs = shiftOf(greenMask), bs = shiftOf(blueMask);
  out.width = int32_t(width);
  out.height = int32_t(height);
  out.rgb.assign(size_t(width) * height, 0);
  const size_t step = bpp / 8;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = d + start + size_t(y) * bytesPerLine + x * step;
      uint32_t v = 0;
      for (size_t b = 0; b < step; ++b)
        v |= uint32_t(p[byteOrder == 0 ? b : step - 1 - b]) << (8 * b);
      const uint32_t r = (v & redMask) >> rs, g = (v & greenMask) >> gs, bl = (v & blueMask) >> bs;
      out.rgb[size_t(y) * width + x] = (r << 16) | (g << 8) | bl;
    }
  return true;
}

uint32_t Rgb(int32_t value) {
  const PaletteColour c = Palette16().colours[value & 15];
  return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
}

// Compares a capture with expected pixel values shown through the 16 colours.
::testing::AssertionResult SameWindow(const std::vector<uint8_t>& expected, int32_t w, int32_t h,
                                      const Capture& c) {
  if (c.width != w || c.height != h)
    return ::testing::AssertionFailure() << "window is " << c.width << "x" << c.height;
  int32_t bad = 0;
  std::ostringstream where;
  for (int32_t i = 0; i < w * h; ++i) {
    if (Rgb(expected[size_t(i)]) != c.rgb[size_t(i)]) {
      if (bad < 4)
        where << " (" << i % w << "," << i / w << "): want " << std::hex << Rgb(expected[size_t(i)])
              << " got " << c.rgb[size_t(i)] << std::dec;
      ++bad;
    }
  }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ:" << where.str();
}

// ---------------------------------------------------------------------------
// One program under its own X server
// ---------------------------------------------------------------------------

class RunningWalker {
 public:
  ~RunningWalker() { Kill(); }

  bool Start(const std::string& display, const char* path, const std::filesystem::path& dir) {
    display_ = display;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("DISPLAY", display.c_str(), 1);
      unsetenv("SCRBK");
      // In a sanitizer build the window system's libraries keep blocks that
      // the leak check would count against the program's exit code; the
      // walker's own memory is leak-checked by the in-process tests.
      if (!getenv("ASAN_OPTIONS")) setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      const int quiet = open("/dev/null", O_RDWR);
      if (quiet >= 0) {
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
      }
      execl(path, path, static_cast<char*>(nullptr));
      _exit(127);
    }
    return true;
  }

  // Waits for the program's window (its class is the program's name); ""
  // when none comes.
  std::string WaitWindow(const std::string& name) {
    const auto deadline = SteadyClock::now() + 10s;
    while (SteadyClock::now() < deadline) {
      if (!Alive()) return {};
      std::string id = Run(display_, "xdotool search --onlyvisible --class '^" + name + "$'");
      if (!id.empty()) {
        id = id.substr(0, id.find('\n'));
        window_ = id;
        Run(display_, "xdotool windowfocus " + id);
        return id;
      }
      std::this_thread::sleep_for(50ms);
    }
    return {};
  }

  std::string Title() {
    std::string t = Run(display_, "xdotool getwindowname " + window_);
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    return t;
  }

  bool Grab(Capture& c) {
    return ParseXwd(Run(display_, "xwd -silent -id " + window_), c);
  }

  // Captures until the window shows one of `expected` (the Presenter shows a
  // frame within a pass); false when it never does. The last capture stays in `c`.
  bool WaitFor(const std::vector<std::vector<uint8_t>>& expected, int32_t w, int32_t h, Capture& c) {
    const auto deadline = SteadyClock::now() + 5s;
    do {
      if (Grab(c))
        for (const auto& e : expected)
          if (SameWindow(e, w, h, c)) return true;
      std::this_thread::sleep_for(50ms);
    } while (SteadyClock::now() < deadline);
    return false;
  }

  void Key(const std::string& key) { Run(display_, "xdotool key " + key); }

  bool Alive() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      exitStatus_ = status;
      return false;
    }
    return true;
  }

  // Waits up to `limit` for the program to end; its wait status, or -1.
  int WaitExit(std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    while (SteadyClock::now() < deadline) {
      if (!Alive()) return exitStatus_;
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  std::string display_, window_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

struct ProgramInfo {
  const char* name;
  const char* path;
  int32_t width, height, offset;
};
void PrintTo(const ProgramInfo& p, std::ostream* os) { *os << p.name; }

const ProgramInfo kPrograms[] = {
    {"mapwalk1", MAPWALK1_PATH, 320, 200, 0},
    {"mapwalk2", MAPWALK2_PATH, 640, 480, 1},
    {"mapwalk3", MAPWALK3_PATH, 640, 480, 0},
};

class WalkerE2E : public ::testing::TestWithParam<ProgramInfo> {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xwd"})
      if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    std::string error;
    if (!server_.Start("Xvfb", &error)) GTEST_SKIP() << "no X server: " << error;
    char name[] = "/tmp/walker_e2e.XXXXXX";
    dir_ = mkdtemp(name);
    // Scenery around the start and a short corridor to the right.
    const int32_t d = GetParam().offset;
    auto put = [&](int32_t px, int32_t py, int32_t code) {
      assets_.map[size_t((py - d) * 64 + (px - d))] = code;
    };
    put(d + 0, d + 0, 1);
    put(4, 1, 4);
    put(3, 3, 1);   // below-right of the start: "3" is refused
    put(5, 2, 7);   // an outline cell
    put(6, 4, 2);   // flames, in either frame
    put(7, 4, 3);
    assets_.map.back() = 1;
  }
  void TearDown() override {
    program_.Kill();
    server_.Stop();
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  // The page for a player at (x, y), with the flames in either frame: they
  // flip on the program's own clock.
  std::vector<std::vector<uint8_t>> Expect(int32_t x, int32_t y) const {
    const ProgramInfo& i = GetParam();
    return {ReferenceFrame(assets_, i.width, i.height, i.offset, x, y, 0),
            ReferenceFrame(assets_, i.width, i.height, i.offset, x, y, 1)};
  }
  std::string Why(int32_t x, int32_t y, const Capture& c) const {
    return SameWindow(Expect(x, y)[0], GetParam().width, GetParam().height, c).message();
  }

  XvfbServer server_;
  std::filesystem::path dir_;
  Assets assets_;
  RunningWalker program_;
};

TEST_P(WalkerE2E, WalksRefusesAndEndsOnEscape) {
  const ProgramInfo& info = GetParam();
  assets_.WriteAll(dir_);
  ASSERT_TRUE(program_.Start(server_.Name(), info.path, dir_));
  if (program_.WaitWindow(info.name).empty()) {
    if (!program_.Alive()) FAIL() << info.name << " ended without a window";
    GTEST_SKIP() << "no window back-end could open a window";
  }
  EXPECT_EQ(program_.Title(), info.name);
  Capture c;
  EXPECT_TRUE(program_.WaitFor(Expect(2, 2), info.width, info.height, c))
      << Why(2, 2, c);
  // Right one cell, then a refused diagonal onto the brick at (3, 3) from (2, 2)...
  program_.Key("6");
  EXPECT_TRUE(program_.WaitFor(Expect(3, 2), info.width, info.height, c))
      << Why(3, 2, c);
  program_.Key("4");
  EXPECT_TRUE(program_.WaitFor(Expect(2, 2), info.width, info.height, c));
  program_.Key("3");
  program_.Key("2");  // ...so this moves down from (2, 2), not from (3, 3).
  EXPECT_TRUE(program_.WaitFor(Expect(2, 3), info.width, info.height, c))
      << Why(2, 3, c);
  // Keys without a digit move nothing.
  program_.Key("a Up KP_Home space");
  program_.Key("8");
  EXPECT_TRUE(program_.WaitFor(Expect(2, 2), info.width, info.height, c));

  // ESC ends the program promptly. How promptly is reported, not asserted:
  // on a shared, loaded machine wall-clock limits only make the test flaky.
  const auto pressed = SteadyClock::now();
  program_.Key("Escape");
  const int status = program_.WaitExit(5000ms);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - pressed);
  RecordProperty("esc_to_exit_ms", int(took.count()));
  ASSERT_NE(status, -1) << info.name << " did not end within 5 s of ESC";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_P(WalkerE2E, MissingOrGarbledAssetsStillRun) {
  const ProgramInfo& info = GetParam();
  assets_.WriteAll(dir_);
  // No skull file; a brick file with words among its numbers; a map cut short.
  std::filesystem::remove(dir_ / "skull01.mem");
  {
    std::ofstream out(dir_ / "brick03.mem", std::ios::binary);
    for (size_t i = 0; i < 256; ++i) {
      if (i % 5 == 2) out << "xx";
      else if (i % 7 == 3) out << "??";
      else out << assets_.brick[i];
      out << ((i + 1) % 16 == 0 ? "\n" : " ");
    }
  }
  for (size_t i = 0; i < 256; ++i)
    if (i % 5 == 2 || i % 7 == 3) assets_.brick[i] = 0;
  assets_.skull.fill(0);
  // The map file stops after its fourth row: everything below reads 0.
  Assets::Write(dir_, "map002.mem", assets_.map.data(), 64 * 4, 64);
  for (size_t i = 64 * 4; i < assets_.map.size(); ++i) assets_.map[i] = 0;

  ASSERT_TRUE(program_.Start(server_.Name(), info.path, dir_));
  if (program_.WaitWindow(info.name).empty()) {
    if (!program_.Alive()) FAIL() << info.name << " ended without a window";
    GTEST_SKIP() << "no window back-end could open a window";
  }
  Capture c;
  EXPECT_TRUE(program_.WaitFor(Expect(2, 2), info.width, info.height, c))
      << Why(2, 2, c);
  EXPECT_TRUE(program_.Alive());
  program_.Key("Escape");
  const int status = program_.WaitExit(5000ms);
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, WalkerE2E, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<ProgramInfo>& i) {
                           return std::string(i.param.name);
                         });

}  // namespace
