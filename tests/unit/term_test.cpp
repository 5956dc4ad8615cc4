// term_test.cpp - the terminal picture encoder, its output replayed on a small terminal model that acts
// as xterm on the sequences it may write (moves, clear, colours, half blocks).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <thread>

#include <algorithm>
#include <array>
#include <random>

#include "backend/backend.h"
#include "backend/term_picture.h"
#include "platform/terminal.h"
#include "colours.h"
#include "screen.h"
#include "testing.h"

using namespace scr;

namespace scr {
extern const Backend kTermBackend;
}

namespace {

using termpic::Encoder;

struct Term {
  struct Cell {  // half: the half block shown; colours 0xRRGGBB or a 256-colour index, -1 the default
    bool written = false, half = false;
    int32_t fg = -1, bg = -1;
  };
  int32_t cols, rows, row = 0, col = 0, fg = -1, bg = -1, clears = 0, written = 0;
  size_t fed = 0;  // bytes fed in all
  std::vector<Cell> cells;
  std::string error;
  Term(int32_t c, int32_t r) : cols(c), rows(r), cells(size_t(c) * size_t(r)) {}
  Cell& At(int32_t r, int32_t c) { return cells[size_t(r) * size_t(cols) + size_t(c)]; }

  std::string rest;  // a sequence cut by the end of the last read, finished by the next
  void Feed(const std::string& chunk) {
    fed += chunk.size();
    const std::string s = rest + chunk;
    rest.clear();
    for (size_t i = 0; i < s.size() && error.empty();) {
      const bool cut = s[i] == '\xE2' ? s.size() - i < 3 : s[i] == '\x1b' && s.find_first_of("HJhlm", i + 1) == s.npos;
      if (cut) return void(rest = s.substr(i));
      if (s.compare(i, 3, "\xE2\x96\x80") == 0) {
        if (col >= cols) error = "write outside";
        else At(row, col++) = Cell{true, true, fg, bg}, ++written;
        i += 3;
        continue;
      }
      if (s.compare(i, 2, "\x1b[") != 0) return void(error = "byte " + std::to_string(uint8_t(s[i])));
      size_t j = i + 2 + (s[i + 2] == '?');
      std::vector<int32_t> p(1, 0);
      for (; j < s.size() && (std::isdigit(uint8_t(s[j])) || s[j] == ';'); ++j)
        if (s[j] == ';') p.push_back(0);
        else p.back() = p.back() * 10 + (s[j] - '0');
      const char f = s[j];
      const Cell blank{true, false, -1, bg};
      if (s[i + 2] == '?') {  // private modes: the alternate screen, the cursor
        if (f != 'h' && f != 'l') error = "bad mode";
      } else if (f == 'H' && p.size() == 2) {
        row = p[0] - 1, col = p[1] - 1;
        if (row < 0 || row >= rows || col < 0 || col >= cols) error = "move outside";
      } else if (f == 'J' && p[0] == 2) {
        ++clears;
        std::fill(cells.begin(), cells.end(), blank);
      } else if (f == 'm') {
        for (size_t k = 0; k < p.size(); ++k) {
          int32_t& target = p[k] == 38 ? fg : bg;
          if (p[k] == 0 || p[k] == 39 || p[k] == 49) (p[k] == 49 ? bg : fg) = -1, bg = p[k] == 0 ? -1 : bg;
          else if ((p[k] == 38 || p[k] == 48) && k + 4 < p.size() && p[k + 1] == 2)
            target = p[k + 2] << 16 | p[k + 3] << 8 | p[k + 4], k += 4;
          else if ((p[k] == 38 || p[k] == 48) && k + 2 < p.size() && p[k + 1] == 5) target = p[k + 2], k += 2;
          else error = "SGR " + std::to_string(p[k]);
        }
      } else {
        (error = "unexpected final ") += f;
      }
      i = j + 1;
    }
  }
};

struct Picture {
  int32_t width, height;
  std::vector<uint32_t> px;
  Picture(int32_t w, int32_t h, uint32_t fill = 0) : width(w), height(h), px(size_t(w) * size_t(h), fill) {}
  uint32_t& operator()(int32_t x, int32_t y) { return px[size_t(y) * size_t(width) + size_t(x)]; }
  void Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t c) {
    while (h-- > 0) std::fill_n(&(*this)(x, y++), w, c);
  }
};

// The colour a block shows: the most frequent, the first met among equals; black below the picture.
uint32_t Majority(Picture& p, int32_t bx, int32_t by, int32_t f) {
  if (bx * f >= p.width || by * f >= p.height) return 0;
  if (f == 1) return p(bx, by);
  std::vector<std::pair<uint32_t, int>> counts;  // in order of first appearance
  for (int32_t y = by * f; y < std::min(p.height, (by + 1) * f); ++y)
    for (int32_t x = bx * f; x < std::min(p.width, (bx + 1) * f); ++x) {
      auto it = std::find_if(counts.begin(), counts.end(), [&](auto& c) { return c.first == p(x, y); });
      if (it == counts.end()) counts.push_back({p(x, y), 1});
      else ++it->second;
    }
  return std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
}

// Every picture cell shows its two blocks; every cell beside the picture what the clear left.
::testing::AssertionResult Shows(Term& t, const Encoder& e, Picture& p) {
  if (!t.error.empty() || !t.rest.empty())
    return ::testing::AssertionFailure() << t.error << " unfinished: " << t.rest.size();
  const termpic::Layout& l = e.layout();
  auto colour = [&](uint32_t rgb) { return e.trueColour() ? int32_t(rgb) : int32_t(termpic::Nearest256(rgb)); };
  for (int32_t r = 0; r < t.rows; ++r)
    for (int32_t c = 0; c < t.cols; ++c) {
      const Term::Cell& cell = t.At(r, c);
      const bool inside = r >= l.top && r < l.top + l.rows && c >= l.left && c < l.left + l.columns;
      if (inside ? !cell.half || cell.fg != colour(Majority(p, c - l.left, 2 * (r - l.top), l.factor)) ||
                       cell.bg != colour(Majority(p, c - l.left, 2 * (r - l.top) + 1, l.factor))
                 : !cell.written || cell.half || cell.bg != -1)
        return ::testing::AssertionFailure() << (inside ? "cell " : "outside cell ") << c << "," << r;
    }
  return ::testing::AssertionSuccess();
}

// Entry k (16..255) of xterm's 256-colour palette: a 6 x 6 x 6 cube of levels 0, 95, 135, 175, 215,
// 255, then 24 greys from 8 in steps of 10.
uint32_t Xterm256(int32_t k) {
  auto level = [](int32_t i) { return uint32_t(i ? 55 + 40 * i : 0); };
  if (k >= 232) return 0x010101u * uint32_t(8 + 10 * (k - 232));
  k -= 16;
  return level(k / 36) << 16 | level(k / 6 % 6) << 8 | level(k % 6);
}
int32_t NearestXterm(uint32_t rgb) {  // by squared distance, the first of equals
  int32_t best = 16, bestDist = INT32_MAX;
  for (int32_t k = 16; k < 256; ++k) {
    int32_t d = 0;
    for (int s : {0, 8, 16}) d += (int32_t(rgb >> s & 255) - int32_t(Xterm256(k) >> s & 255)) *
                                  (int32_t(rgb >> s & 255) - int32_t(Xterm256(k) >> s & 255));
    if (d < bestDist) bestDist = d, best = k;
  }
  return best;
}

std::string EncodeAll(Encoder& e, Picture& p) {
  std::string out;
  return e.Encode(p.px.data(), 0, p.height - 1, out), out;
}

TEST(TermPicture, LayoutAndThe256ColourPalette) {
  const struct { int32_t w, h, cols, rows, want[5]; } layouts[] = {  // want: factor, columns, rows, left, top
      {320, 200, 320, 100, {1, 320, 100, 0, 0}}, {320, 200, 319, 100, {2, 160, 50, 79, 25}},
      {320, 200, 320, 99, {2, 160, 50, 80, 24}}, {320, 200, 80, 24, {5, 64, 20, 8, 2}},
      {320, 200, 0, 0, {5, 64, 20, 8, 2}}, {0, 200, 80, 24, {1, 0, 0, 0, 0}}};
  for (const auto& c : layouts) {
    const termpic::Layout l = termpic::ComputeLayout(c.w, c.h, c.cols, c.rows);
    EXPECT_EQ((std::vector<int32_t>{l.factor, l.columns, l.rows, l.left, l.top}),
              std::vector<int32_t>(c.want, c.want + 5)) << c.w << " in " << c.cols;
  }
  std::mt19937 rng(13);
  for (int i = 0; i < 20000; ++i) {  // every grey, then random colours, against a search of xterm's palette
    const uint32_t rgb = i < 256 ? 0x010101u * uint32_t(i) : rng() & 0xFFFFFF;
    ASSERT_EQ(termpic::Nearest256(rgb), NearestXterm(rgb)) << std::hex << rgb;
  }
}

// The walker's picture: a framed 240 x 112 view of a world of patterned
// tiles, a sprite fixed in the middle, on a black 320 x 200 page.
Picture WalkerFrame(int32_t ox, int32_t oy) {
  Picture p(320, 200, 0);
  for (int32_t y = 0; y < 112; ++y)
    for (int32_t x = 0; x < 240; ++x) {
      const uint32_t wx = uint32_t(ox + x), wy = uint32_t(oy + y), tile = (wx / 16 * 7 + wy / 16 * 13) % 11;
      p(x, y) = tile > 4 ? 0 : (tile * 0x2B5A17 + (wx % 16) * (wy % 16 + tile) % 5 * 0x40) & 0xFFFFFF;
    }
  for (auto [x, y, w, h] : {std::array{0, 0, 241, 1}, {0, 112, 241, 1}, {0, 0, 1, 113}, {240, 0, 1, 113}})
    p.Fill(x, y, w, h, 0xFFFFFF);
  for (int32_t y = 48; y < 64; ++y)
    for (int32_t x = 112; x < 128; ++x)
      if ((x + y) % 3 != 0) p(x, y) = 0x55FF55;
  return p;
}

// The view moved every way (by a tile, then by 4 pixels), between them random fills handed over by their
// rows and random moved rectangles; both colour forms; terminals that fit the page exactly, leave margins,
// shrink it with partial edge blocks and an odd last row.
TEST(TermPicture, ScrolledViewAndRandomEditsKeepTheTerminalEqualToThePicture) {
  std::mt19937 rng(41);
  const int32_t sizes[][2] = {{320, 100}, {331, 107}, {160, 50}, {107, 37}};
  const int32_t dx[8] = {1, 0, -1, 0, 1, -1, 1, -1}, dy[8] = {0, 1, 0, -1, 1, 1, -1, -1};
  for (bool tc : {true, false})
    for (const auto& s : sizes) {
      SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + (tc ? " true colour" : " 256"));
      Encoder e;
      e.Configure(320, 200, s[0], s[1], tc);
      Term t(s[0], s[1]);
      int32_t wx = 320, wy = 160;
      Picture p = WalkerFrame(wx, wy);
      t.Feed(EncodeAll(e, p));
      for (int i = 0; i < 24; ++i) {
        const int32_t x = int32_t(rng() % 300), y = int32_t(rng() % 180);
        const int32_t w = 1 + int32_t(rng() % 20), h = 1 + int32_t(rng() % 20);
        std::string out;
        if (i % 3 == 2 && i % 2 == 0) {  // a small fill, only its rows handed over
          p.Fill(x, y, w, h, rng() & 0xFFFFFF);
          e.Encode(p.px.data(), y, y + h - 1, out);
        } else if (i % 3 == 2) {  // a rectangle moved by up to 50 x 20 pixels, new pixels where it uncovers
          const int32_t mx = int32_t(rng() % 101) - 50, my = int32_t(rng() % 41) - 20;
          Picture q = p;
          for (int32_t yy = y; yy < y + h; ++yy)
            for (int32_t xx = x; xx < x + w; ++xx)
              q(xx, yy) = xx + mx >= 0 && yy + my >= 0 && xx + mx < 320 && yy + my < 200 ? p(xx + mx, yy + my)
                                                                                          : rng() & 0xFFFFFF;
          p = q;
          out = EncodeAll(e, p);
        } else {
          wx += (i < 12 ? 16 : 4) * dx[i % 8], wy += (i < 12 ? 16 : 4) * dy[i % 8];
          p = WalkerFrame(wx, wy);
          out = EncodeAll(e, p);
        }
        t.Feed(out);
        ASSERT_TRUE(Shows(t, e, p)) << "step " << i;
      }
      EXPECT_EQ(t.clears, 1);
    }
}

// Without a terminal on standard output the next back-end is tried (in one, tests/term drives it).
TEST(TermBackend, RefusesWhenStandardOutputIsNotATerminal) {
  const int saved = dup(STDOUT_FILENO), devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, STDOUT_FILENO);
  std::string reason;
  const int result = kTermBackend.open(BackendOpenArgs{"t", 320, 200, 4, 0, 0}, reason);
  dup2(saved, STDOUT_FILENO), close(saved), close(devnull);
  EXPECT_TRUE(result == -1 && reason == "standard output is not a terminal") << reason;
}

// In a pseudo-terminal the Term back-end shows every changed row: after the first picture one row
// alone, then two far apart; a one-pixel change costs the bytes of about one cell, not a row. The
// 16 colours arrive as 24-bit values, or without COLORTERM as the nearest of xterm's 256. Mouse reports
// typed in give the page pixel at the centre of their 1-based cell, -1, -1 off the picture, the buttons
// and the wheel; they are asked for while the picture is up, and no longer after.
TEST(TermBackend, ShowsEveryChangedRowAndTheSixteenColoursInAPseudoTerminal) {
  winsize size{};
  size.ws_row = 24, size.ws_col = 80;
  int master, terminal;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, &size), 0);
  fcntl(master, F_SETFL, O_NONBLOCK);
  const int saved = dup(STDOUT_FILENO), savedIn = dup(STDIN_FILENO);
  dup2(terminal, STDOUT_FILENO), dup2(terminal, STDIN_FILENO);
  StdinKeys().Reset(STDIN_FILENO, true);
  setenv("SCRBK", "term", 1);
  std::string failures, raw;  // reported once standard output is back
  const std::pair<std::string, std::array<int32_t, 4>> kReports[] = {  // x, y, wheel, buttons
      {"\x1b[<0;10;4M", {1, 3, 0, 1}}, {"\x1b[<2;72;22M", {63, 39, 0, 3}},
      {"\x1b[<32;9;3M\x1b[<0;9;3m\x1b[<2;9;3m", {0, 1, 0, 0}},
      {"\x1b[<64;9;3M\x1b[<64;9;3M\x1b[<65;9;3M\x1b[<35;8;3M", {-1, -1, 1, 0}}};
  for (bool trueColour : {true, false}) {
    setenv("COLORTERM", trueColour ? "truecolor" : "", 1);
    Term t(80, 24);  // the 64 x 40 page shows unscaled in 64 x 20 cells from (8, 2)
    auto shown = [&](int32_t x, int32_t y, uint32_t rgb) {  // the pixel's half of its cell, within a second
      const int32_t want = trueColour ? int32_t(rgb) : NearestXterm(rgb);
      for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        char buffer[97];  // short reads cut sequences, as a busy terminal may
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
          raw.append(buffer, size_t(n)), t.Feed(std::string(buffer, size_t(n)));
        const Term::Cell& c = t.At(2 + y / 2, 8 + x);
        if (c.half && (y % 2 ? c.bg : c.fg) == want) return true;
      }
      return false;
    };
    const bool opened = ScreenRes(64, 40, 8, 1, 0, 0) == 0;
    for (int32_t c = 0; c < 16; ++c) DrawLine(nullptr, float(c), 38, float(c), 39, uint32_t(c), LineShape::Line);
    bool colours = opened;
    for (int32_t c = 0; c < 16; ++c)
      colours = colours && shown(c, 39, ShownRgb(c));
    const size_t before = t.fed;
    PutPixel(nullptr, 5, 10, 15);
    const bool one = colours && shown(5, 10, 0xFFFFFF);
    const size_t oneCell = t.fed - before;
    const bool next = one && (PutPixel(nullptr, 20, 12, 15), shown(20, 12, 0xFFFFFF));
    PutPixel(nullptr, 7, 3, 15), PutPixel(nullptr, 9, 30, 15);
    const bool two = next && shown(7, 3, 0xFFFFFF) && shown(9, 30, 0xFFFFFF);
    for (const auto& [report, want] : kReports) {
      EXPECT_EQ(write(master, report.data(), report.size()), ssize_t(report.size()));
      std::array<int32_t, 4> got{};
      for (int i = 0; i < 500 && (GetMouse(got[0], got[1], got[2], got[3]), got != want); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (got != want) failures += report.substr(1) + " gives " + testing::PrintToString(got) + "\n";
    }
    ResetLayerForTests();
    if (!(opened && colours && one && next && two && oneCell <= 64))
      failures += std::string(trueColour ? "24-bit" : "256 colours") + ": " + t.error + " opened " +
                  std::to_string(opened) + " colours " + std::to_string(colours) + " one row " +
                  std::to_string(one && next) + " bytes for one cell " + std::to_string(oneCell) + "\n";
  }
  char rest[4096];  // the picture's last bytes, written at its close
  for (ssize_t n; (n = read(master, rest, sizeof rest)) > 0;) raw.append(rest, size_t(n));
  dup2(saved, STDOUT_FILENO), dup2(savedIn, STDIN_FILENO), close(saved), close(savedIn), close(terminal), close(master);
  StdinKeys().Reset(STDIN_FILENO, true);
  setenv("SCRBK", "null", 1);  // as the suite runs
  EXPECT_EQ(failures, "");
  const size_t on = raw.find("\x1b[?1000h\x1b[?1002h\x1b[?1006h"), off = raw.rfind("\x1b[?1006l\x1b[?1002l\x1b[?1000l");
  EXPECT_TRUE(on < off && off != raw.npos) << on << " " << off;
}

}  // namespace
