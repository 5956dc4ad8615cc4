// The three built programs, headless and scripted: each runs in a temporary
// directory with the test's asset files, on the windowless back-end, with
// its keys on standard input; the frame it shows last comes back through
// SCRSHOT and is compared pixel by pixel with the frame the walker rules
// give. Bad asset files of every kind must still give a running program
// that shows 0 for what cannot be read and ends on ESC with exit code 0.
#include <gtest/gtest.h>
#include <png.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/walker_frames.h"
#include "state.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Image {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB
};

bool ReadPng(const fs::path& path, Image& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return false;
  out.width = int32_t(image.width);
  out.height = int32_t(image.height);
  out.rgb.resize(size_t(out.width) * size_t(out.height));
  for (size_t i = 0; i < out.rgb.size(); ++i)
    out.rgb[i] = (uint32_t(bytes[3 * i]) << 16) | (uint32_t(bytes[3 * i + 1]) << 8) | bytes[3 * i + 2];
  return true;
}

// How a 16-colour screen shows a pixel value: values from 16 up are black.
uint32_t Shown(uint8_t value) {
  if (value >= 16) return 0;
  const PaletteColour c = Palette16().colours[value];
  return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
}

::testing::AssertionResult SameFrame(const std::vector<uint8_t>& expected, int32_t w, int32_t h,
                                     const Image& shot) {
  if (shot.width != w || shot.height != h)
    return ::testing::AssertionFailure() << "screenshot is " << shot.width << "x" << shot.height;
  int32_t bad = 0;
  std::string where;
  for (int32_t i = 0; i < w * h; ++i)
    if (Shown(expected[size_t(i)]) != shot.rgb[size_t(i)] && bad++ < 3)
      where += " (" + std::to_string(i % w) + "," + std::to_string(i / w) + ")";
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ, first at" << where;
}

struct ProgramRun {
  bool finished = false;
  int status = -1;
};

// Runs `path` in `dir` with `keys` on standard input; kills it after `limit`.
ProgramRun RunProgram(const char* path, const fs::path& dir, const std::string& keys,
               std::chrono::seconds limit = 60s) {
  int in[2];
  if (pipe(in) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, 1);
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("SCRBK", "null", 1);
    setenv("SCRSHOT", (dir / "shot.png").c_str(), 1);
    execl(path, path, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  size_t done = 0;
  while (done < keys.size()) {
    const ssize_t n = write(in[1], keys.data() + done, keys.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  close(in[1]);
  ProgramRun run;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &run.status, WNOHANG) == pid) {
      run.finished = true;
      return run;
    }
    std::this_thread::sleep_for(5ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return run;
}

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

class Headless : public ::testing::TestWithParam<ProgramInfo> {
 protected:
  void SetUp() override {
    char name[] = "/tmp/headless_test.XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    // A brick and a skull in view at the start, a brick below-right of it.
    const int32_t d = GetParam().offset;
    auto put = [&](int32_t px, int32_t py, int32_t code) {
      assets_.map[size_t((py - d) * 64 + (px - d))] = code;
    };
    put(d, d, 1);
    put(4, 1, 4);
    put(3, 3, 1);
    put(5, 2, 7);
    put(6, 4, 2);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "brick03.mem", fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  // Runs the program with `keys`, expects exit code 0 and the frame for a
  // player at (x, y) in either flame phase.
  void ExpectRun(const std::string& keys, int32_t x, int32_t y) {
    const ProgramInfo& p = GetParam();
    const ProgramRun run = RunProgram(p.path, dir_, keys);
    ASSERT_TRUE(run.finished) << p.name << " did not end";
    ASSERT_TRUE(WIFEXITED(run.status)) << "signal " << WTERMSIG(run.status);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    Image shot;
    ASSERT_TRUE(ReadPng(dir_ / "shot.png", shot)) << "no screenshot";
    const auto a = ReferenceFrame(assets_, p.width, p.height, p.offset, x, y, 0);
    const auto b = ReferenceFrame(assets_, p.width, p.height, p.offset, x, y, 1);
    EXPECT_TRUE(SameFrame(a, p.width, p.height, shot) || SameFrame(b, p.width, p.height, shot))
        << SameFrame(a, p.width, p.height, shot).message();
  }

  fs::path dir_;
  Assets assets_;
};

TEST_P(Headless, KeysOnStandardInputWalkTheMap) {
  assets_.WriteAll(dir_);
  ExpectRun("66\033", 4, 2);
  ExpectRun("64\033", 2, 2);
  // "3" is refused by the brick at (3, 3); "2" then moves down from (2, 2).
  ExpectRun("32\033", 2, 3);
  // Letters, an arrow, the keypad's Home and a blank move nothing.
  ExpectRun("a\033[A\033[1~ 9\033", 3, 1);
}

TEST_P(Headless, AKeyThatMovesNothingShowsTheStartingView) {
  assets_.WriteAll(dir_);
  ExpectRun("5\033", 2, 2);
}

// --- bad asset files ----------------------------------------------------------

TEST_P(Headless, AMissingTileFileReadsAsZeros) {
  assets_.WriteAll(dir_);
  fs::remove(dir_ / "brick03.mem");
  assets_.brick.fill(0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, AnEmptyTileFileReadsAsZeros) {
  assets_.WriteAll(dir_);
  { std::ofstream(dir_ / "brick03.mem", std::ios::trunc); }
  assets_.brick.fill(0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, ABinaryTileFileReadsAsZeros) {
  assets_.WriteAll(dir_);
  {
    std::ofstream out(dir_ / "brick03.mem", std::ios::binary | std::ios::trunc);
    uint32_t h = 12345;
    for (int i = 0; i < 8192; ++i) {
      h = h * 1103515245u + 12345u;
      out.put(char(0x80 | (h >> 24)));  // no digit, sign, blank or separator among them
    }
  }
  assets_.brick.fill(0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, ADirectoryNamedLikeTheFileReadsAsZeros) {
  assets_.WriteAll(dir_);
  fs::remove(dir_ / "brick03.mem");
  fs::create_directory(dir_ / "brick03.mem");
  assets_.brick.fill(0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, AnUnreadableTileFileReadsAsZeros) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  assets_.WriteAll(dir_);
  fs::permissions(dir_ / "brick03.mem", fs::perms::none);
  assets_.brick.fill(0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, AHundredMegabyteFileIsReadOnlyAsFarAsItsNumbers) {
  assets_.WriteAll(dir_);
  ASSERT_EQ(truncate((dir_ / "brick03.mem").c_str(), 100 << 20), 0);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, OneEnormousTokenGivesItsFirst67DigitsAgainAndAgain) {
  assets_.WriteAll(dir_);
  {
    std::ofstream out(dir_ / "brick03.mem", std::ios::binary | std::ios::trunc);
    const std::string ones(1 << 20, '1');
    for (int i = 0; i < 20; ++i) out << ones;
  }
  // 67 ones overflow to the all-ones pattern: -1, plotted as 255 (shown black).
  assets_.brick.fill(-1);
  ExpectRun("5\033", 2, 2);
}

TEST_P(Headless, AMissingMapLeavesEveryCellOpen) {
  assets_.WriteAll(dir_);
  fs::remove(dir_ / "map002.mem");
  std::fill(assets_.map.begin(), assets_.map.end(), 0);
  ExpectRun("33\033", 4, 4);
}

TEST_P(Headless, AMapOfOneEnormousTokenIsAllOutlines) {
  assets_.WriteAll(dir_);
  {
    std::ofstream out(dir_ / "map002.mem", std::ios::binary | std::ios::trunc);
    out << std::string(4 << 20, '9');
  }
  std::fill(assets_.map.begin(), assets_.map.end(), -1);  // 255: an outline, walkable
  ExpectRun("6\033", 3, 2);
}

INSTANTIATE_TEST_SUITE_P(Programs, Headless, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<ProgramInfo>& i) {
                           return std::string(i.param.name);
                         });

}  // namespace
