// Screens and pages on the windowless back-end; colours as shown come from the SCRSHOT picture.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <png.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "colours.h"
#include "screen.h"
#include "testing.h"

using namespace scr;

namespace {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLayerForTests(); }
  void TearDown() override { ResetLayerForTests(); }
};

// Closes the Screen and returns its visible page's first row as shown (0xRRGGBB); a Screenshot just
// before writes the same file.
std::vector<uint32_t> ShownAtClose(unsigned width) {
  const std::string path = testing::TempDir() + "screen_test_" + std::to_string(getpid()) + ".png";
  EXPECT_EQ(Screenshot(path + ".now"), 0);
  setenv("SCRSHOT", path.c_str(), 1);
  EXPECT_EQ(ScreenMode(0), 0);
  unsetenv("SCRSHOT");
  auto bytes = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(bytes(path + ".now"), bytes(path));
  unlink((path + ".now").c_str());
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  EXPECT_TRUE(png_image_begin_read_from_file(&image, path.c_str()) && image.width == width &&
              (image.format = PNG_FORMAT_RGB) && (rgb.resize(PNG_IMAGE_SIZE(image)), true) &&
              png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  rgb.resize(std::max<size_t>(rgb.size(), 24));
  unlink(path.c_str());
  std::vector<uint32_t> row;  // the first pixels of the first row
  for (unsigned x = 0; x < 8; ++x) row.push_back(rgb[3 * x] << 16 | rgb[3 * x + 1] << 8 | rgb[3 * x + 2]);
  return row;
}

TEST_F(ScreenTest, SizesDepthsPageCountsAndTextGrids) {
  // mode (-1: ScreenRes width x height), depth, pages -> size, pages, text grid, GetPixel after PutPixel 0x123456
  const struct { int mode, w, h, depth, pages, wantW, wantH, wantPages, columns, rows, stored; } kCases[] = {
      {7, 0, 0, 0, 8, 320, 200, 8, 40, 25, 0x56}, {7, 0, 0, 0, 0, 320, 200, 8, 40, 25, 0x56},
      {7, 0, 0, 8, 2, 320, 200, 2, 40, 25, 0x56},  // depth counts from mode 14 on only
      {13, 0, 0, 32, 0, 320, 200, 1, 40, 25, 0x56}, {14, 0, 0, 16, 0, 320, 240, 1, 40, 30, 0x103452},
      {-1, 640, 480, 4, 0, 640, 480, 1, 80, 60, 0x56}, {-1, 100, 50, 24, 1, 100, 50, 1, 12, 6, 0x123456},
      {-1, 100, 50, 15, 3, 100, 50, 3, 12, 6, 0x103452},  // 16-bit pixels read back widened
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " " << c.w << "x" << c.h);
    ASSERT_EQ(c.mode >= 0 ? ScreenMode(c.mode, c.depth, c.pages) : ScreenRes(c.w, c.h, c.depth, c.pages), 0);
    EXPECT_EQ(GetPixel(nullptr, c.wantW - 1, c.wantH - 1) & 0xFFFFFF, 0);  // opens black
    EXPECT_TRUE(GetPixel(nullptr, c.wantW, 0) == -1 && GetPixel(nullptr, 0, c.wantH) == -1);
    int pages = 0;  // the pages SetPages accepts as the work page
    while (pages < 64 && (SetPages(pages, -1), (SetPages(-1, -1) & 255) == pages)) ++pages;
    EXPECT_EQ(pages, c.wantPages);
    SetPages(0, -1);
    EXPECT_TRUE(SetWidth(40, 50) == 0 && SetWidth(-1, -1) == c.rows * 65536 + c.columns) << "a Screen keeps its grid";
    PutPixel(nullptr, 1, 1, 0x123456);
    EXPECT_EQ(GetPixel(nullptr, 1, 1), c.stored);
  }
}

// Every numbered mode as the mode table gives it: size, default page count, character cell and
// text grid, and its depth by the default foreground (the colour mask up to depth 4, 15 above)
// and by what pixel values 1 and 20 show.
TEST_F(ScreenTest, EveryModeAsTheModeTableSays) {
  const uint32_t kGrey56 = 0x383838, kWhite = 0xFFFFFF;
  const struct { int mode, w, h, pages, cell, columns, rows, fg; uint32_t shown1, shown20; } kModes[] = {
      {1, 320, 200, 8, 8, 40, 25, 3, ShownRgb(11), 0}, {2, 640, 200, 1, 8, 80, 25, 1, kWhite, 0},
      {7, 320, 200, 8, 8, 40, 25, 15, ShownRgb(1), 0}, {8, 640, 200, 4, 8, 80, 25, 15, ShownRgb(1), 0},
      {9, 640, 350, 2, 14, 80, 25, 15, ShownRgb(1), 0}, {10, 640, 350, 2, 14, 80, 25, 1, kWhite, 0},
      {11, 640, 480, 1, 16, 80, 30, 1, kWhite, 0}, {12, 640, 480, 1, 16, 80, 30, 15, ShownRgb(1), 0},
      {13, 320, 200, 1, 8, 40, 25, 15, ShownRgb(1), kGrey56}, {14, 320, 240, 1, 8, 40, 30, 15, ShownRgb(1), kGrey56},
      {15, 400, 300, 1, 8, 50, 37, 15, ShownRgb(1), kGrey56}, {16, 512, 384, 1, 16, 64, 24, 15, ShownRgb(1), kGrey56},
      {17, 640, 400, 1, 16, 80, 25, 15, ShownRgb(1), kGrey56}, {18, 640, 480, 1, 16, 80, 30, 15, ShownRgb(1), kGrey56},
      {19, 800, 600, 1, 16, 100, 37, 15, ShownRgb(1), kGrey56},
      {20, 1024, 768, 1, 16, 128, 48, 15, ShownRgb(1), kGrey56},
      {21, 1280, 1024, 1, 16, 160, 64, 15, ShownRgb(1), kGrey56},
  };
  for (const auto& m : kModes) {
    SCOPED_TRACE(testing::Message() << "mode " << m.mode);
    ASSERT_EQ(ScreenMode(m.mode), 0);
    EXPECT_TRUE(GetPixel(nullptr, m.w - 1, m.h - 1) == 0 && GetPixel(nullptr, m.w, 0) == -1 &&
                GetPixel(nullptr, 0, m.h) == -1);
    int pages = 0;
    while (pages < 64 && (SetPages(pages, -1), (SetPages(-1, -1) & 255) == pages)) ++pages;
    SetPages(0, -1);
    EXPECT_EQ(pages, m.pages);
    EXPECT_EQ(SetWidth(0, 0), m.rows * 65536 + m.columns);
    EXPECT_EQ(SetColor(0, 0, 3) & 0xFFFF, uint32_t(m.fg));
    Print("\xdb");  // the full block at row 1, column 1: as high as the cell
    EXPECT_TRUE(GetPixel(nullptr, 7, float(m.cell - 1)) == m.fg && GetPixel(nullptr, 7, float(m.cell)) == 0 &&
                GetPixel(nullptr, 8, 0) == 0);
    PutPixel(nullptr, 0, 0, 1);
    PutPixel(nullptr, 1, 0, 20);
    const std::vector<uint32_t> shown = ShownAtClose(unsigned(m.w));
    EXPECT_TRUE(shown[0] == m.shown1 && shown[1] == m.shown20) << std::hex << shown[0] << " " << shown[1];
  }
}

TEST_F(ScreenTest, RefusalsAndTheirErrorNumbers) {
  EXPECT_EQ(ScreenRes(100000, 100000, 32, 8), 4);  // too large to hold: refused, no crash
  EXPECT_EQ(ScreenRes(2147483647, 2147483647, 32, 2147483647), 4);
  EXPECT_EQ(BackendName(), "");
  ASSERT_EQ(ScreenMode(7), 0);
  EXPECT_EQ(BackendName(), "Null");
  PutPixel(nullptr, 3, 3, 9);
  for (int mode : {-1, 3, 4, 5, 6, 22, 1000}) EXPECT_TRUE(ScreenMode(mode) == 1 && ErrorNumber() == 1) << mode;
  for (auto r : {std::array{0, 480, 4}, {640, -1, 4}, {640, 480, 3}}) EXPECT_EQ(ScreenRes(r[0], r[1], r[2], 8), 1);
  EXPECT_EQ(GetPixel(nullptr, 3, 3), 9) << "a refused mode left the open Screen";
  EXPECT_TRUE(ScreenMode(0) == 0 && ScreenMode(0) == 0);  // the second with nothing open
  EXPECT_EQ(BackendName(), "");
  EXPECT_EQ(SetPages(-1, -1), -1) << "no Screen";
  EXPECT_EQ(GraphicsPageCopy(1, 0), 1);
  ASSERT_EQ(ScreenMode(7, 0, 1, -1), 0);
  for (int open : {1, 0}) {  // the windowless back-end has no pointer, and nor has no Screen
    int32_t m[4] = {5, 5, 5, 5};
    EXPECT_TRUE(GetMouse(m[0], m[1], m[2], m[3]) == -1 && SetMouse(1, 1, 0) == -1 &&
                std::vector<int32_t>(m, m + 4) == std::vector<int32_t>({-1, -1, 0, 0})) << open;
    ScreenMode(0);
  }
}

// The detail names the refusing call and its numbers; success and SetError(0) empty it, and calls that
// record no error leave it.
TEST_F(ScreenTest, ErrorDetailNamesTheCallAndWhy) {
  static const uint8_t kTwoBytePixel[36] = {7, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 16};
  const auto nothingShows = [] {  // SCRBK names no back-end, SDL has no video driver, no terminal
    const int saved = dup(STDOUT_FILENO), devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    setenv("SCRBK", "bogus", 1), setenv("SDL_VIDEODRIVER", "none", 1);
    const int32_t result = ScreenMode(7);
    setenv("SCRBK", "null", 1), unsetenv("SDL_VIDEODRIVER");
    dup2(saved, STDOUT_FILENO), close(saved), close(devnull);
    return result;
  };
  const struct { std::function<int32_t()> call; int32_t error; std::vector<std::string> words; } kCases[] = {
      {[] { return ScreenMode(5); }, 1, {"ScreenMode: mode 5 "}},
      {[] { return RecordStart("a.gif"); }, 1, {"RecordStart: no Screen "}},
      {[] { return RecordStop(); }, 1, {"RecordStop: no recording "}},
      {[] { return ScreenRes(640, 480, 3, 1); }, 1, {"ScreenRes: depth 3 "}},
      {[] { return ScreenRes(100000, 100000, 32, 8); }, 4, {"ScreenRes: ", "8 of 100000 x 100000 pixels"}},
      {nothingShows, 1, {"ScreenMode: no back-end", "(SCRBK names no back-end: bogus; ", "Term: standard output"}},
      {[] { return ScreenMode(12); }, 0, {}},
      {[] { return GraphicsPageCopy(0, 5); }, 1, {"GraphicsPageCopy: page 5 ", "(1 page)"}},
      {[] { return Locate(31, 1); }, 1, {"Locate: row 31 ", "(1 to 30)"}},
      {[] { return PutImage(nullptr, 0, 0, kTwoBytePixel); }, 1, {"PutImage: ", " 2-byte pixels on 1-byte"}},
      {[] { return GetImage(nullptr, 0, 0, 640, 9, nullptr); }, 1, {"GetImage: ", "(640, 9)", "(639, 479)"}},
      {[] { return ImageCreate(5, 5, 0, 20, 0) ? 0 : ErrorNumber(); }, 1, {"ImageCreate: depth 20 "}},
      {[] { return DrawText(nullptr, 0, 0, "a", 1, 1, 99); }, 1, {"DrawText: font 99 "}},
      {[] { return OpenInput("/nonexistent/map.txt", 2, 0, 0, 1, 0); }, 2, {"OpenInput: \"/nonexistent/map.txt\""}},
      {[] { return CloseFile(7); }, 1, {"CloseFile: file number 7 "}},
      {[] { return Screenshot("/nonexistent/shot.png"); }, 2, {"Screenshot: \"/nonexistent/shot.png\""}},
      {[] { return Screenshot("/dev/full"); }, 3, {"Screenshot: writing \"/dev/full\""}},
      {[] { return RecordStart("/nonexistent/a.gif"); }, 2, {"RecordStart: \"/nonexistent/a.gif\" cannot"}},
      {[] { return RecordStart("/dev/full"); }, 0, {}},
      {[] { return RecordStart("/dev/full"); }, 1, {"RecordStart: a recording is running"}},
      {[] { return RecordStop(); }, 3, {"RecordStop: writing "}},
      {[] { return SetError(3); }, 3, {"SetError: error 3 "}},
      {[] { return SetError(0); }, 0, {}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.call(), c.error) << c.words.size();
    const std::string detail = ErrorDetail();
    EXPECT_EQ(detail.empty(), c.words.empty()) << detail;
    for (const std::string& w : c.words) EXPECT_NE(detail.find(w), std::string::npos) << w << " in " << detail;
    int32_t m[4];
    PutPixel(nullptr, 1, 1, 3), KeyHeld(1), Timer(), GetMouse(m[0], m[1], m[2], m[3]), BackendName();
    EXPECT_EQ(ErrorDetail(), detail);
  }
}

// A windowless recording takes a picture at a keyboard read that finds no key when the page changed as
// shown and SCRRECDELAY seconds have passed; the GIF, read back by Pillow, holds each picture once,
// SCRRECDELAY seconds a take, and ends as shown.
TEST_F(ScreenTest, RecordingsKeepEachPictureOnceAndEndAsShown) {
  const std::string path = testing::TempDir() + "record_" + std::to_string(getpid());
  setenv("SCRRECDELAY", "0.05", 1);
  ASSERT_EQ(ScreenMode(13), 0);
  ASSERT_EQ(RecordStart(path + ".gif"), 0);
  const std::function<void()> kSteps[] = {
      [] {},                                      // the cleared page: 50 ms
      [] { DrawLine(nullptr, 20, 30, 90, 60, 40, LineShape::Box); },  // 50 ms
      [] { PutPixel(nullptr, 20, 30, 40); },      // drawn as it was: no picture
      [] { SetPaletteRgb(40, 250, 0, 0); },       // a colour in use: 100 ms, with the next
      [] { SetPaletteRgb(41, 1, 2, 3); },         // a colour not in use: the same picture
      [] { PutPixel(nullptr, 319, 100, 7); },     // the last column alone: 50 ms
      [] { PutPixel(nullptr, 319, 199, 7), InKey(), PutPixel(nullptr, 0, 199, 9); },  // the far corner: 50 ms;
  };  // the last pixel, read too soon after, is taken by RecordStop: 50 ms
  for (const auto& step : kSteps) usleep(60000), step(), InKey();
  EXPECT_EQ(RecordStop(), 0);
  EXPECT_EQ(Screenshot(path + ".png"), 0);
  unsetenv("SCRRECDELAY");
  const std::string script = "from PIL import Image, ImageSequence as S; import sys; p = sys.argv[1]; "
      "f = [(x.convert(\"RGB\").tobytes(), x.info[\"duration\"]) for x in S.Iterator(Image.open(p + \".gif\"))]; "
      "print(*[d for _, d in f], f[-1][0] == Image.open(p + \".png\").convert(\"RGB\").tobytes())";
  FILE* pipe = popen(("/usr/bin/python3 -c '" + script + "' " + path).c_str(), "r");
  std::string out;
  for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += char(c);
  EXPECT_TRUE(pipe && pclose(pipe) == 0);
  EXPECT_EQ(out, "50 50 100 50 50 50 True\n");
  unlink((path + ".gif").c_str()), unlink((path + ".png").c_str());
}

TEST_F(ScreenTest, SetPagesAndPageCopy) {
  ASSERT_EQ(ScreenMode(7), 0);
  SetError(7);  // SetPages leaves it alone; a page past the last or negative stays
  for (const auto& c : {std::array{1, 0, 0}, {8, 0, 1}, {5, 3, 1}, {-1, 2, 3 * 256 + 5}, {9, -1, 2 * 256 + 5}})
    EXPECT_EQ(SetPages(c[0], c[1]), c[2]) << c[0] << " " << c[1];
  EXPECT_EQ(ErrorNumber(), 7);
  ASSERT_EQ(ScreenMode(7, 0, 3), 0);
  EXPECT_EQ(SetPages(-1, -1), 0) << "a new Screen starts on page 0";
  SetPages(1, 0);
  PutPixel(nullptr, 7, 5, 9);
  for (auto c : {std::array{1, 3, 1}, {3, 0, 1}, {1, 1, 0}}) EXPECT_EQ(PageCopy(c[0], c[1]), c[2]) << c[0] << c[1];
  SetPages(0, 0);
  EXPECT_EQ(GetPixel(nullptr, 7, 5), 0) << "nothing copied on error";
  EXPECT_EQ(PageCopy(1, 0), 0);
  EXPECT_EQ(GetPixel(nullptr, 7, 5), 9);
  SetPages(0, 2);
  EXPECT_EQ(PageCopy(-1, -1), 0);  // work page 0 onto visible page 2
  SetPages(2, 2);
  EXPECT_EQ(GetPixel(nullptr, 7, 5), 9);
  ResetLayerForTests();  // no Screen: the console's text pages 0..3
  for (auto c : {std::array{1, 0, 0}, {3, 0, 0}, {4, 0, 1}, {0, 4, 1}}) EXPECT_EQ(PageCopy(c[0], c[1]), c[2]) << c[0];
}

TEST_F(ScreenTest, ClearScreenKindsAndTheLastPoint) {
  ASSERT_EQ(ScreenRes(640, 480, 4, 2), 0);
  ASSERT_NE(SetTextView(1, 25), 0);  // rows 0..199
  const struct { int32_t kind, clearedRows, lastX, lastY; } kCases[] = {
      {kOmitted, 200, 5, 6}, {2, 200, 5, 6}, {0, 480, 320, 240}, {1, 480, 320, 240}};
  for (const auto& c : kCases) {
    SetColor(15, 3);
    DrawLine(nullptr, 0, 0, 639, 479, 7, LineShape::FilledBox);
    PutPixel(nullptr, 5, 6, 7);  // the last point
    ClearScreen(c.kind);
    for (int y : {0, 199, 200, 479}) EXPECT_EQ(GetPixel(nullptr, 639, y), y < c.clearedRows ? 3 : 7) << c.kind;
    PutPixel(nullptr, 0, 0, 9, CoordForm::FromLastPoint);
    EXPECT_EQ(GetPixel(nullptr, c.lastX, c.lastY), 9) << c.kind;
  }
}

TEST_F(ScreenTest, ColoursAsShown) {
  const auto S = ShownRgb;  // of the 16 colours
  // mode (-1: ScreenRes 640 x 480 with depth), width -> pixel value and colour shown
  const struct { int mode, width, depth; std::vector<std::pair<int, uint32_t>> shown; } kCases[] = {
      {7, 320, 0, {{0, S(0)}, {1, S(1)}, {4, S(4)}, {6, S(6)}, {15, S(15)}}}, {9, 640, 0, {{6, S(6)}, {8, S(8)}}},
      {2, 640, 0, {{1, S(15)}, {2, S(0)}}}, {1, 320, 0, {{1, S(11)}, {2, S(13)}, {3, S(15)}}},
      {-1, 640, 4, {{9, S(9)}, {12, S(12)}}}, {-1, 640, 8, {{32, 0x0000FF}, {36, 0xFF00FF}, {40, 0xFF0000}, {255, 0}}},
  };
  for (const auto& c : kCases) {
    ASSERT_EQ(c.mode >= 0 ? ScreenMode(c.mode) : ScreenRes(640, 480, c.depth, 1), 0);
    for (size_t i = 0; i < c.shown.size(); ++i) PutPixel(nullptr, i, 0, c.shown[i].first);
    const std::vector<uint32_t> shown = ShownAtClose(c.width);
    for (size_t i = 0; i < c.shown.size(); ++i) EXPECT_EQ(shown[i], c.shown[i].second) << c.mode << ": " << i;
  }
  ASSERT_EQ(ScreenMode(7), 0);
  SetPaletteEntry(1, 63);
  PutPixel(nullptr, 1, 0, 1);
  EXPECT_EQ(SetColor(15, 4, 0), 15u);  // previous: background 0, foreground 15
  const std::vector<uint32_t> shown = ShownAtClose(320);
  EXPECT_TRUE(shown[0] == S(4) && shown[1] == S(15)) << "background through the palette, remapped 1";
  // Any colour for a pixel value, read back; values beyond the depth, and deeper Screens, refused.
  ASSERT_EQ(ScreenMode(13), 0);
  SetPaletteRgb(200, 10, 20, 30);
  EXPECT_EQ(ErrorNumber(), 0);
  PutPixel(nullptr, 0, 0, 200);
  EXPECT_EQ(GetPaletteRgb(200), 0x0A141Eu);
  EXPECT_EQ(ShownAtClose(320)[0], 0x0A141Eu);
  ASSERT_EQ(ScreenMode(7), 0);
  for (int32_t index : {-1, 16}) {
    SetPaletteRgb(index, 1, 2, 3);
    EXPECT_EQ(ErrorNumber(), 1) << index;
  }
  EXPECT_TRUE(GetPaletteRgb(16) == 0 && GetPaletteRgb(256) == 0xFFFFFFFFu && GetPaletteRgb(Colour::Yellow) == S(14));
  ASSERT_EQ(ScreenRes(8, 8, 32, 1), 0);
  SetPaletteRgb(1, 1, 2, 3);
  EXPECT_TRUE(ErrorNumber() == 1 && GetPaletteRgb(1) == 0xFFFFFFFFu);
}

TEST_F(ScreenTest, SetColorAndSetTextView) {
  // The console starts 7 on 0 and keeps 16 colours; omitted colours are kept, both omitted only reports.
  for (const auto& c : {std::array{14u, 9u, 0u, 7u}, {0u, 0u, 3u, 0x9000Eu}, {15u, 1u, 0u, 0x9000Eu},
                        {0x1Eu, 0x12u, 1u, 0x1000Fu}, {15u, 0u, 2u, 0x2000Fu}})
    EXPECT_EQ(SetColor(c[0], c[1], c[2]), c[3]) << c[0] << " " << c[1] << " " << c[2];
  ASSERT_EQ(ScreenRes(640, 480, 4, 8), 0);
  const int32_t kViews[][3] = {{1, 25, 25 * 65536 + 1}, {1, 61, 0}, {5, 3, 0}, {-1, -1, 25 * 65536 + 1},
                               {0, 0, 60 * 65536 + 1}, {10, -1, 60 * 65536 + 10}};
  for (const auto& v : kViews) EXPECT_EQ(SetTextView(v[0], v[1]), v[2]) << v[0] << " " << v[1];
}

// Asked for nothing, the console reports the size it really has: the terminal's, not the last one set.
TEST_F(ScreenTest, TheConsoleReportsTheTerminalsRealSize) {
  winsize size{};
  size.ws_row = 50;
  size.ws_col = 120;
  int master, terminal;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, &size), 0);
  const int saved = dup(STDOUT_FILENO);
  dup2(terminal, STDOUT_FILENO);
  const int32_t set = SetWidth(80, 25), reported = SetWidth(0, 0), view = SetTextView(1, 50);
  dup2(saved, STDOUT_FILENO);
  for (int fd : {saved, terminal, master}) close(fd);
  EXPECT_EQ(set, 0);
  EXPECT_EQ(reported, 50 * 65536 + 120);
  EXPECT_EQ(view, 50 * 65536 + 1) << "the text view checks against the same size";
}

}  // namespace
