// walker_e2e_test.cpp - the three built programs in a directory of the test's
// asset files, in a window under Xvfb (keys from xdotool, the window read with
// xwd, output on a terminal): the frames must be the reference frames; ESC ends
// with exit code 0 and the console reset. The sprite example headless (keys on
// standard input, the last frame from SCRSHOT).
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <thread>

#include "programs.h"
#include "xserver.h"


namespace {

namespace fs = std::filesystem;

class Programs : public ::testing::TestWithParam<ProgramInfo> {
 protected:
  void SetUp() override { ASSERT_NE(mkdtemp(dir), nullptr); }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (master >= 0) close(master);
    fs::remove_all(dir);
  }
  void Scenery() {  // the test's assets, written into its directory
    a.offset = GetParam().offset;
    a.Scenery();
    a.WriteAll(dir);
  }
  static std::string Path() {  // the built program's
    const char* const paths[] = {MAPWALK1_PATH, MAPWALK2_PATH, MAPWALK3_PATH};
    return paths[GetParam().name[7] - '1'];  // by the digit in "mapwalkN"
  }
  std::string X(const std::string& command) { return Shell("DISPLAY=" + x.Name() + " " + command); }
  // Starts the program under Xvfb (xdotool and xwd are dependencies too), its
  // output on a terminal, from a copy under a path of over 200 characters; its
  // window (the class is the program's name) must come within 10 s, titled
  // with the program's name.
  void Launch() {
    std::string error;
    ASSERT_TRUE(x.Start("Xvfb", &error)) << error;
    Scenery();
    const fs::path copy = fs::path(dir) / std::string(200, 'd') / GetParam().name;
    fs::create_directories(copy.parent_path());
    fs::copy_file(Path(), copy);
    if ((pid = forkpty(&master, nullptr, nullptr, nullptr)) == 0) {
      if (chdir(dir) == 0 && setenv("DISPLAY", x.Name().c_str(), 1) == 0 && unsetenv("SCRBK") == 0)
        execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string name = GetParam().name;
    window = X("timeout 10 xdotool search --sync --onlyvisible --class '^" + name + "$' | head -1");
    ASSERT_FALSE(window.empty()) << name << " showed no window";
    window.pop_back();  // the newline
    EXPECT_EQ(X("xdotool getwindowname " + window), name + "\n");
    X("xdotool windowfocus --sync " + window);
  }
  std::vector<uint32_t> Capture() {
    return XwdArea(X("xwd -silent -id " + window), GetParam().width, GetParam().height);
  }
  ::testing::AssertionResult ShowsSoon(int32_t px, int32_t py) {  // within 5 s
    ::testing::AssertionResult same = ::testing::AssertionFailure();
    for (int i = 0; i < 50 && !same; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
      same = Shows(a, GetParam(), px, py, Capture());
    return same;
  }
  // ESC: exit code 0, and last on the terminal bright white on blue, the 25
  // rows of a terminal without a size erased, the cursor home.
  void Quit() {
    X("xdotool key Escape");
    int status = -1;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pid = status == -1 ? pid : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    std::string console;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) console.append(buffer, size_t(n));
    EXPECT_TRUE(std::regex_search(console, std::regex("\x1b\\[0;97;44m(\x1b\\[\\d+;1H\x1b\\[2K){25}\x1b\\[1;1H$")))
        << ::testing::PrintToString(console);
  }

  char dir[32] = "/tmp/walker_e2e.XXXXXX";
  Assets a;
  XvfbServer x;
  std::string window;
  pid_t pid = -1;
  int master = -1;
};

TEST_P(Programs, WindowWalksRefusesAndEndsOnEscape) {
  ASSERT_NO_FATAL_FAILURE(Launch());
  EXPECT_TRUE(ShowsSoon(2, 2));
  // On the program's own clock the flames flip every 0.2 s: both phases show within 5 s.
  bool seen[2] = {};
  for (int i = 0; i < 250 && !(seen[0] && seen[1]); ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    const std::vector<uint32_t> shot = Capture();
    for (int phase : {0, 1}) seen[phase] = seen[phase] || Shows(a, GetParam(), 2, 2, shot, phase);
  }
  EXPECT_TRUE(seen[0] && seen[1]) << "flame phases seen: " << seen[0] << ", " << seen[1];
  X("xdotool key 6");
  EXPECT_TRUE(ShowsSoon(3, 2));
  X("xdotool key 4 3 2");  // "3" runs into the brick at (3, 3): "2" moves down from (2, 2)
  EXPECT_TRUE(ShowsSoon(2, 3));
  X("xdotool key a Up KP_Home space 8");  // only the digit moves
  EXPECT_TRUE(ShowsSoon(2, 2));
  Quit();
}

// Headless with SCRREC: the GIF, split by Pillow, shows the page before the first frame (black), then
// the reference frame after each key; its last frame is SCRSHOT's. A run ended by SIGTERM still leaves both.
TEST_P(Programs, HeadlessRecordingShowsEachStepAlsoWhenKilled) {
  Scenery();
  const struct { const char* input; const char* timeout; int status; std::vector<std::pair<int, int>> steps; } kRuns[] = {
      {"printf '6432\\033'", "30", 0, {{2, 2}, {3, 2}, {2, 2}, {2, 3}}},
      {"(printf 6; sleep 3)", "2", 124, {{2, 2}, {3, 2}}},  // timeout's status after its SIGTERM
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(run.input);
    const std::string d = dir;
    fs::remove(d + "/rec.gif"), fs::remove(d + "/shot.png");
    const int status = std::system(("cd " + d + " && " + run.input + " | SCRBK=null SCRREC=rec.gif SCRSHOT=shot.png"
                                    " timeout " + run.timeout + " " + Path() + " >/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == run.status) << status;
    const int frames = std::atoi(Shell("cd " + d + " && /usr/bin/python3 -c 'from PIL import Image, ImageSequence;"
        "f = [x.convert(\"RGB\").save(f\"f{i}.png\") for i, x in enumerate(ImageSequence.Iterator("
        "Image.open(\"rec.gif\")))]; print(len(f))'").c_str());
    ASSERT_GT(frames, 1);
    EXPECT_EQ(ReadPng(d + "/f0.png"), std::vector<uint32_t>(size_t(GetParam().width) * GetParam().height, 0));
    size_t step = 0;  // each later frame is the current step's or the next one's (a flame flip adds frames)
    for (int i = 1; i < frames; ++i) {
      const std::vector<uint32_t> frame = ReadPng(d + "/f" + std::to_string(i) + ".png");
      if (step + 1 < run.steps.size() && Shows(a, GetParam(), run.steps[step + 1].first, run.steps[step + 1].second,
                                               frame))
        ++step;
      else
        EXPECT_TRUE(Shows(a, GetParam(), run.steps[step].first, run.steps[step].second, frame)) << "frame " << i;
      if (i == frames - 1) {
        EXPECT_EQ(frame, ReadPng(d + "/shot.png"));
      }
    }
    EXPECT_EQ(step + 1, run.steps.size());
  }
}

// The soak (`make soak` lengthens it): random keys, never ESC, with the window
// hidden and shown between batches, for SOAK_SECONDS; the program stays up
// and its resident size flat after the first second.
TEST_P(Programs, WindowSoakUnderRandomKeys) {
  ASSERT_NO_FATAL_FAILURE(Launch());
  const char* keys[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "q", "Up", "Left", "KP_1", "KP_5", "space"};
  std::string batch = "xdotool windowunmap --sync " + window + " windowmap --sync " + window + " windowfocus --sync " +
                      window + " key --delay 2";
  std::mt19937 rng(7);
  for (int i = 0; i < 60; ++i) batch += std::string(" ") + keys[rng() % 16];
  const auto begin = std::chrono::steady_clock::now();
  const auto end = begin + std::chrono::seconds(atoi(getenv("SOAK_SECONDS") ? getenv("SOAK_SECONDS") : "3"));
  long settled = 0, most = 0, size = 0, pages = 0;
  // Moved after some batch (a batch may end where it began, under load with keys lost): a finished
  // frame, not the start's. mapwalk3 shows a refused move for a frame without the outline.
  bool moved = false;
  auto framed = [&](const std::vector<uint32_t>& shot) {  // a finished frame: its white outline all there
    const int32_t w = GetParam().width;
    for (int32_t x = 0; x <= 240; ++x)
      for (int32_t at : {x, 112 * w + x, x * 112 / 240 * w, x * 112 / 240 * w + 240})
        if (shot[size_t(at)] != ShownRgb(15)) return false;
    return true;
  };
  while (std::chrono::steady_clock::now() < end) {
    X(batch);
    ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended";
    const std::vector<uint32_t> shot = Capture();
    ASSERT_FALSE(shot.empty()) << "the window could not be captured";
    moved = moved || (framed(shot) && !Shows(a, GetParam(), 2, 2, shot));
    std::ifstream("/proc/" + std::to_string(pid) + "/statm") >> size >> pages;
    if (std::chrono::steady_clock::now() > begin + std::chrono::seconds(1)) {
      most = std::max(most, pages);
      settled = settled ? settled : most;
    }
  }
  EXPECT_TRUE(moved) << "no key arrived";
  EXPECT_TRUE(most > 0 && (most - settled) * sysconf(_SC_PAGESIZE) <= 4 << 20) << "resident size grew, or unmeasured";
  Quit();
}

// The sprite example headless: two steps right, one down and C (the sky fades to a new colour
// while 24 more keys make frames), paced frames, the last one kept by SCRSHOT: the sky, the shadow
// (XOR) and the sprite (OR) over it, and the sun.
TEST(Example, SpriteMovesOverItsSceneAndTheSkyChangesColour) {
  char dir[] = "/tmp/example.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string shot = std::string(dir) + "/shot.png";
  const int status = std::system(("printf '\\033[C\\033[C\\033[Bc%24s\\033' | SCRBK=null SCRSHOT=" + shot +
                                  " timeout 60 " SPRITE_PATH " >/dev/null").c_str());
  const std::vector<uint32_t> frame = ReadPng(shot);
  fs::remove_all(dir);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  ASSERT_EQ(frame.size(), 320u * 200u);
  const int x = 152 + 16, y = 92 + 8;  // the sprite's top left
  const std::pair<int, uint32_t> kPixels[] = {
      {5 * 320 + 5, 0x00AAAA},                    // sky: value 1 now shows cyan
      {(y + 11) * 320 + x + 17, 0x5555FF},        // shadow beside the sprite: 1 XOR 8
      {(y + 8) * 320 + x + 8, 0xFFFFFF},          // sprite over the shadow: 9 OR 14
      {(y - 2) * 320 + x + 8, 0x00AAAA},          // above the sprite: sky
      {36 * 320 + 270, 0xFFFF55},                 // the sun
      {160 * 320 + 10, 0x00AA00}};                // grass
  for (auto [at, rgb] : kPixels) EXPECT_EQ(frame[size_t(at)], rgb) << at % 320 << "," << at / 320;
}

INSTANTIATE_TEST_SUITE_P(Programs, Programs, ::testing::ValuesIn(kPrograms),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
