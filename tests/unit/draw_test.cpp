// draw_test.cpp - pixels, boxes, segments and image buffers, mostly against simple models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "backend/backend.h"  // TakeChanges: the rows the Presenter is given
#include "blit.h"  // the blit unit sets: PutImage reaches only the one this processor picks
#include "pixels.h"
#include "screen.h"
#include "testing.h"

using namespace scr;

namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;
constexpr HeaderForm kFull = HeaderForm::Full, kPacked = HeaderForm::Packed;

Words W(std::initializer_list<int64_t> v) { return Words(v.begin(), v.end()); }  // each value's low 32 bits
Words Head(const void* p) { auto u = static_cast<const uint32_t*>(p); return Words(u, u + 5); }  // a full header
Bytes Packed(int w, int h, Bytes px, int bpp = 1) {  // the 4-byte header, then the rows
  px.insert(px.begin(), {uint8_t(w << 3 | bpp), uint8_t(w >> 5), uint8_t(h), uint8_t(h >> 8)});
  return px;
}
int32_t Blit(const void* img, float x = 0, float y = 0, ImageBuffer* target = nullptr, int32_t mode = RasterMode::Or) {
  return PutImage(target, x, y, img, kOmitted, 0, 0, 0, 0, mode);
}
// The span of rows the Presenter is given at its next pass (and they are taken).
std::pair<size_t, size_t> Dirty() {
  static Frame frame;
  TakeChanges(frame);
  return {size_t(frame.firstDirty), size_t(frame.lastDirty)};
}
bool Marked(std::pair<size_t, size_t> span, size_t row) { return row >= span.first && row <= span.second; }
Bytes Random(std::mt19937& rng, size_t n) {
  Bytes v(n);
  std::generate(v.begin(), v.end(), [&] { return uint8_t(rng()); });
  return v;
}

class DrawTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLayerForTests(); }
  void TearDown() override { ResetLayerForTests(); }
  void Open(int32_t w, int32_t h, int32_t depth = 8) {  // windowless; draws on page 1, shows page 0
    ASSERT_EQ(ScreenRes(w, h, depth, 2, -1, 0), 0);
    SetPages(1, 0);
    w_ = w;
    h_ = h;
    bpp_ = (depth + 7) / 8;
  }
  Bytes Snap() {  // the work page's bytes by a packed capture (which moves LastPoint)
    Bytes b(4 + size_t(w_) * h_ * bpp_);
    EXPECT_EQ(GetImage(nullptr, 0, 0, float(w_ - 1), float(h_ - 1), b.data()), 0);
    return Bytes(b.begin() + 4, b.end());
  }
  void Clear() { DrawLine(nullptr, 0, 0, float(w_ - 1), float(h_ - 1), 0, LineShape::FilledBox); }
  void Fill(std::mt19937& rng) {  // random bytes over the whole page
    Clear();
    ASSERT_EQ(Blit(Packed(w_, h_, Random(rng, size_t(w_) * h_ * bpp_), bpp_).data()), 0);
  }
  int Count(int32_t colour) {  // by GetPixel, which leaves LastPoint alone
    int n = 0;
    for (int i = 0; i < w_ * h_; ++i) n += GetPixel(nullptr, float(i % w_), float(i / w_)) == colour;
    return n;
  }
  int w_ = 0, h_ = 0, bpp_ = 1;
};

// Pixels drawn (1): an outline walks bottom, top, right, left edges in full, a segment steps along the
// major axis (minor offset i * minor / major rounded half up), both one style bit per position, bit 15 first.
Bytes Model(int w, int h, int32_t shape, long x1, long y1, long x2, long y2, uint32_t style) {
  Bytes page(size_t(w) * h, 0);
  long k = 0;
  auto plot = [&](long x, long y) {
    if ((style >> (15 - (k++ % 16))) & 1 && x >= 0 && x < w && y >= 0 && y < h) page[size_t(y * w + x)] = 1;
  };
  const long dx = x2 - x1, dy = y2 - y1, adx = std::labs(dx), ady = std::labs(dy), n = std::max(adx, ady);
  const long ax = std::min(x1, x2), ay = std::min(y1, y2);
  const bool flat = adx >= ady;
  for (long i = 0; shape == LineShape::Line && i <= n; ++i) {
    const long off = n ? (2 * i * (flat ? ady : adx) + n) / (2 * n) : 0;
    plot(x1 + (flat ? i : off) * (dx < 0 ? -1 : 1), y1 + (flat ? off : i) * (dy < 0 ? -1 : 1));
  }
  for (long i = 0; shape == LineShape::FilledBox && i < long(w) * h; ++i)
    page[size_t(i)] = i % w >= ax && i % w <= ax + adx && i / w >= ay && i / w <= ay + ady;
  if (shape == LineShape::Line || shape == LineShape::FilledBox) return page;
  for (long i = 0; i < 2 * (adx + 1); ++i) plot(ax + i % (adx + 1), i <= adx ? ay + ady : ay);
  for (long i = 0; i < 2 * (ady + 1); ++i) plot(i <= ady ? ax + adx : ax, ay + i % (ady + 1));
  return page;
}

// Segments, outlines (any other non-zero shape too) and filled boxes at every clip position, run length
// and pixel size.
TEST_F(DrawTest, BoxesAndSegmentsMatchTheirModels) {
  std::mt19937 rng(777);
  const long far[][4] = {{-1000000, 3, 1000000, 20}, {-500000, -400000, 600000, 700000}, {20, -3000000, 21, 3000000},
                         {1000000, 10, -1000000, 12}, {-70000, 70000, 70000, -70000}, {5, 5, 5, 5}};
  const int32_t shapes[] = {LineShape::Line, LineShape::Box, LineShape::FilledBox, 3};
  for (int depth : {8, 16, 32}) {
    Open(150, 16, depth);
    SetPages(0, 0);  // on the shown page, so changed rows must be marked for the window
    for (int round = 0; round < (depth == 8 ? 4006 : 800); ++round) {
      const uint32_t c = depth == 8 ? 1 + rng() % 255 : rng() | 0x808080;
      const uint32_t style = round % 3 == 0 ? 0xFFFF : rng();  // bits above 15 do not count
      const int32_t shape = round < 4000 ? shapes[round % 4] : LineShape::Line;
      long l[4];
      for (int i = 0; i < 4; ++i)
        l[i] = round < 4000 ? long(rng() % (i % 2 ? 60 : 250)) - (i % 2 ? 20 : 50) : far[round - 4000][i];
      Clear();
      PutPixel(nullptr, 0, 0, c);
      const Bytes one = Snap(), mask = Model(150, 16, shape, l[0], l[1], l[2], l[3], style);  // c as stored
      Bytes model(one.size(), 0);
      for (size_t i = 0; i < mask.size(); ++i) std::copy_n(one.begin(), mask[i] * bpp_, model.begin() + long(i) * bpp_);
      Clear();
      Dirty();
      DrawLine(nullptr, float(l[0]), float(l[1]), float(l[2]), float(l[3]), c, shape, style);
      const auto span = Dirty();
      for (size_t i = 0; i < mask.size(); ++i)
        ASSERT_TRUE(!mask[i] || Marked(span, i / 150)) << "row " << i / 150 << " not marked";
      ASSERT_EQ(Snap(), model) << depth << " shape " << shape << " style " << style << " " << testing::PrintToString(l);
    }
  }
}

TEST_F(DrawTest, PixelsRoundHalfAwayFromZeroAndClipToThePage) {
  const float nan = NAN, inf = INFINITY;  // px -1: not drawn
  const struct { float x, y; int px, py; } cases[] = {
      {2.5f, 0, 3, 0}, {2.49f, 1, 2, 1}, {-0.4f, 2, 0, 2}, {5.5f, 2.5f, 6, 3}, {7, 0.49f, 7, 0}, {15.4f, 7.4f, 15, 7},
      {-0.49f, 0, 0, 0}, {-0.5f, 3, -1, 0}, {3, -0.5f, -1, 0}, {15.5f, 0, -1, 0}, {0, 8, -1, 0}, {nan, 1, -1, 0},
      {1, inf, -1, 0}, {-inf, 1, -1, 0}, {1, -1e30f, -1, 0}, {3e9f, 1, -1, 0}};
  Open(16, 8);
  for (const auto& c : cases) {
    Clear();
    SetError(3);  // pixel primitives never touch it
    PutPixel(nullptr, c.x, c.y, 5);
    const int drawn = c.px < 0 ? -1 : 5;
    EXPECT_EQ(W({Count(5), ErrorNumber(), GetPixel(nullptr, c.x, c.y), GetPixel(nullptr, float(c.px), float(c.py))}),
              W({c.px < 0 ? 0 : 1, 3, drawn, drawn})) << c.x << "," << c.y;
    const float v = c.x + c.y;  // non-finite and far corners draw nothing
    if (std::fabs(v) < 1e9f) continue;
    DrawLine(nullptr, v, v, v, v, 1, LineShape::Box);
    DrawLine(nullptr, v, 0, v, 10, 1, LineShape::Line);
    DrawLine(nullptr, 0, v, 10, v, 1, 2);
    EXPECT_EQ(Count(0), 16 * 8) << v;
  }
  DrawLine(nullptr, -1e20f, -1e20f, 1e20f, 1e20f, 5, LineShape::FilledBox);  // huge corners clamp to the page
  EXPECT_EQ(Count(5), 16 * 8);
  ScreenMode(0);
  PutPixel(nullptr, 1, 1, 1);  // no Screen
  EXPECT_EQ(GetPixel(nullptr, 1, 1), -1);
}

// Features no program uses: pixel sizes (colours fitted, the context's), the alpha-byte mode, blits into an image.
TEST_F(DrawTest, PixelSizesAlphaByteAndImageTargets) {
  const struct { int32_t depth; uint32_t colour, read, fg, bg; } cases[] = {
      {1, 0x103, 3, 1, 0}, {4, 0x10F, 15, 15, 0}, {8, 0xFFFFFFFF, 255, 15, 0}, {16, 0xFF0000, 0xFF0000, 0xFFFFFF, 0},
      {16, 0x123456, 0x103452, 0xFFFFFF, 0}, {32, 0xDEADBEEF, 0xDEADBEEF, 0xFFFFFFFF, 0xFF000000}};
  for (const auto& c : cases) {
    Open(8, 8, c.depth);
    PutPixel(nullptr, 3, 3, c.colour);
    PutPixel(nullptr, 4, 3, 200, -1, 0);
    PutPixel(nullptr, 5, 3, 200, -1, 1);
    EXPECT_EQ(W({GetPixel(nullptr, 3, 3), GetPixel(nullptr, 4, 3), GetPixel(nullptr, 5, 3), GetPixel(nullptr, 3, 4)}),
              W({c.read, c.fg, c.bg, c.bg})) << c.depth;
  }
  EXPECT_EQ(Snap()[3 * 32 + 12], 0xEF) << "stored as given, low byte first";
  auto alpha = [](float x, const Bytes& img) { return Blit(img.data(), x, 3, nullptr, RasterMode::AlphaByte); };
  EXPECT_EQ(alpha(3, Packed(2, 1, {0x80, 0x00})), 0);
  EXPECT_EQ(alpha(0, Packed(1, 1, {1, 2, 3, 4}, 4)), 1) << "only 1-byte images";
  EXPECT_EQ(W({GetPixel(nullptr, 3, 3), GetPixel(nullptr, 4, 3)}), W({0x80ADBEEF, 0x00FFFFFF}));
  Open(32, 32);
  SetColor(9, 4);
  DrawLine(nullptr, 0, 5, 7, 5, 200, LineShape::FilledBox, 0xFFFF, -8);
  EXPECT_EQ(GetPixel(nullptr, 4, 5), 9) << "the context's colour";
  EXPECT_EQ(alpha(0, Packed(2, 1, {0x80, 0})), 1) << "only onto 4-byte pixels";
  ImageBuffer* dst = ImageCreate(8, 8, 0x10, 0, 0);
  ASSERT_EQ(Blit(Packed(2, 2, {1, 2, 3, 4}).data(), 7, 7, dst), 0);
  EXPECT_EQ(GetPixel(dst, 7, 7) * 256 + GetPixel(dst, 6, 6) + GetPixel(nullptr, 7, 7), 0x1110);
  ImageDestroy(dst);
}

// Each call's corners under its form and the LastPoint it leaves.
TEST_F(DrawTest, CoordinateFormsAndTheLastPoint) {
  const struct { float x1, y1, x2, y2; int32_t form; int ax, ay, bx, by; } steps[] = {  // ax..by: the box drawn
      {1, 1, 1, 1, 2, 1, 1, 1, 1}, {2, 3, 4, 5, 1, 2, 3, 6, 8}, {1, 1, 2, 2, 2, 2, 2, 7, 9},  // first: from 0,0
      {1, 1, 2, 3, 3, 3, 3, 5, 6}, {1, 1, 0, 0, 5, 0, 0, 6, 7}, {1, 1, 2, 2, 6, 1, 1, 2, 2}};
  Open(16, 16);
  PutPixel(nullptr, 9, 9, 1);
  Open(32, 32);
  for (int colour = 0; const auto& s : steps) {  // each in its own colour: clearing would move LastPoint
    DrawLine(nullptr, s.x1, s.y1, s.x2, s.y2, ++colour, LineShape::FilledBox, 0xFFFF, s.form);
    EXPECT_EQ(Count(colour), (s.bx - s.ax + 1) * (s.by - s.ay + 1)) << s.form;
    EXPECT_EQ(GetPixel(nullptr, float(s.ax), float(s.ay)) + GetPixel(nullptr, float(s.bx), float(s.by)), 2 * colour);
  }
  PutPixel(nullptr, 10, 10, 20, CoordForm::Point);
  PutPixel(nullptr, 1.25f, 2, 21, 2);  // (11.25, 12)
  PutPixel(nullptr, 1, 1, 22, 5);      // (12.25, 13)
  GetPixel(nullptr, 0, 0);             // reading leaves LastPoint, a capture sets it
  GetImage(nullptr, 2, 3, 4, 5, Bytes(64).data());
  PutPixel(nullptr, 1, 1, 23, 2);
  EXPECT_EQ(W({GetPixel(nullptr, 11, 12), GetPixel(nullptr, 12, 13), GetPixel(nullptr, 5, 6), Count(23)}),
            W({21, 22, 23, 1}));
}

TEST_F(DrawTest, CapturesStayInsideTheViewAndTheirExtent) {
  const struct { float x1, y1, x2, y2; int dest, start, size; HeaderForm form; int32_t result; } cases[] = {
      {1, 1, 16, 16, 0, 0, 260, kPacked, 0}, {1, 1, 16, 16, 0, 0, 259, kPacked, 1},  // dest, start: offsets
      {16, 16, 1, 1, 0, 0, 260, kPacked, 0}, {0, 0, 15, 15, 4, 0, 264, kPacked, 0},
      {0, 0, 15, 15, 5, 0, 264, kPacked, 1}, {0, 0, 1, 1, 0, 10, 280, kPacked, 1}, {0, 0, 15, 15, 0, 0, 0, kPacked, 0},
      {10, 2, 19, 4, 0, 0, 80, kFull, 0}, {0, 0, 9, 1, 0, 0, 63, kFull, 1}, {0, 0, 9, 1, 0, 0, 64, kFull, 0},
      {0, 0, 64, 10, 0, 0, 0, kPacked, 1}, {-1, 0, 10, 10, 0, 0, 0, kPacked, 1}, {0, -1, 10, 10, 0, 0, 0, kPacked, 1},
      {0, 30, 10, 40, 0, 0, 0, kPacked, 1}, {54, 30, 63, 39, 0, 0, 0, kPacked, 0}, {NAN, 0, 1, 1, 0, 0, 0, kPacked, 1},
      {0, 0, INFINITY, 1, 0, 0, 0, kPacked, 1}};
  std::mt19937 rng(5);
  Open(64, 40);
  Fill(rng);
  for (const auto& c : cases) {
    Bytes buf(600, 0xAB);
    const BufferExtent ext{buf.data() + c.start, size_t(c.size)};
    SetError(3);
    EXPECT_EQ(GetImage(nullptr, c.x1, c.y1, c.x2, c.y2, buf.data() + c.dest, 0, &ext, c.form), c.result) << &c - cases;
    EXPECT_EQ(ErrorNumber(), c.result);
    const bool full = c.form == kFull;
    const int w = int(std::fabs(c.x2 - c.x1)) + 1, h = int(std::fabs(c.y2 - c.y1)) + 1;
    const int pitch = full ? (w + 15) & ~15 : w;
    Bytes want(600, 0xAB);  // the header, the rows (padding left alone), nothing past them; nothing when refused
    const Words head = {7, 1, uint32_t(w), uint32_t(h), uint32_t(pitch)};
    const Bytes packed = Packed(w, h, {});
    if (!c.result) std::memcpy(&want[size_t(c.dest)], full ? (const void*)head.data() : packed.data(), full ? 20 : 4);
    for (int i = 0; !c.result && i < h * pitch; ++i) {
      const float x = std::min(c.x1, c.x2) + i % pitch, y = std::min(c.y1, c.y2) + i / pitch;
      if (i % pitch < w) want[size_t(c.dest + (full ? 32 : 4) + i)] = uint8_t(GetPixel(nullptr, x, y));
    }
    EXPECT_EQ(buf, want) << &c - cases;
  }
  ImageBuffer* img = ImageCreate(16, 16, 0, 0, kNoColour);  // its own extent (also given with size 0)
  const BufferExtent unknown{img, 0};
  EXPECT_EQ(W({GetImage(nullptr, 0, 0, 16, 16, img, 0, nullptr, kFull),
               GetImage(nullptr, 0, 0, 40, 30, img, 0, &unknown, kFull),
               GetImage(nullptr, 0, 0, 15, 15, img, 0, nullptr, kFull),
               GetImage(img, 0, 0, 15, 15, Bytes(260).data()),  // as a target, its own view
               GetImage(img, 0, 0, 16, 15, Bytes(300).data())}),
            W({1, 1, 0, 0, 1}));
  ImageDestroy(img);
}

TEST_F(DrawTest, ImageCreateSizesFillsAndRefusals) {
  const struct { uint32_t w, h, colour, depth, flags; HeaderForm form; uint32_t bpp, pitch, value; } cases[] = {
      {16, 16, 0, 0, kNoColour, kFull, 1, 16, 0}, {10, 2, 0x1A5, 0, 0, kFull, 1, 16, 0xA5},
      {3, 1, 0, 16, kNoColour, kFull, 2, 16, 0xF81F}, {5, 2, 0, 32, kNoColour, kFull, 4, 32, 0xFFFF00FF},
      {2, 2, 0x00FF00, 9, 0, kFull, 2, 16, 0x07E0}, {2, 2, 0x12345678, 25, 0, kFull, 4, 16, 0x12345678},
      {2, 2, 0x1234, 1, 0, kFull, 1, 16, 0x34}, {5, 3, 0x3C, 0, 0, kPacked, 1, 5, 0x3C},
      {8191, 2, 7, 0, 0, kPacked, 1, 8191, 7}};
  EXPECT_EQ(ImageCreate(16, 16, 0, 0, kNoColour), nullptr) << "no Screen";
  Open(32, 32);
  for (const auto& c : cases) {
    SetError(3);
    ImageBuffer* img = ImageCreate(c.w, c.h, c.colour, c.depth, c.flags, c.form);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(ErrorNumber() + reinterpret_cast<uintptr_t>(img) % 16, 0u) << "error 0, 16-byte aligned";
    if (c.form == kFull) { EXPECT_EQ(Head(img), W({7, c.bpp, c.w, c.h, c.pitch})); }
    for (uint32_t i = 0; i < c.h * c.pitch; i += c.bpp) {  // padding too
      const uint8_t* at = reinterpret_cast<const uint8_t*>(img) + (c.form == kFull ? 32 : 4) + i;
      ASSERT_EQ(std::memcmp(at, &c.value, c.bpp), 0) << c.w << " at " << i;
    }
    EXPECT_EQ(GetPixel(img, float(c.w), 0), -1);
    ImageDestroy(img);
  }
  EXPECT_EQ(Snap(), Bytes(32 * 32, 0)) << "fills go to the images only";
  const int32_t big = 0x7FFFFFFF;
  const struct { int32_t w, h, depth; HeaderForm form; } refused[] = {
      {0, 16, 0, kFull}, {4, -3, 0, kFull}, {16, 16, 24, kFull}, {16, 16, 17, kFull}, {16, 16, 33, kFull},
      {big, big, 32, kFull}, {1, big, 0, kFull}, {big, 1, 32, kFull}, {1 << 26, 1 << 26, 0, kFull},
      {8192, 1, 0, kPacked}, {1, 65536, 0, kPacked}};
  for (const auto& r : refused) {
    EXPECT_EQ(ImageCreate(r.w, r.h, 0, r.depth, kNoColour, r.form), nullptr) << r.w << "x" << r.h;
    EXPECT_TRUE(ErrorNumber() == 1 || ErrorNumber() == 4) << r.w << "x" << r.h;
  }
  EXPECT_TRUE(!ImageCreate((1 << 28) + 1, 1, 0, 8, kNoColour) && ErrorNumber() == 1) << "a side no header takes";
  ImageBuffer* kept = ImageCreate(4, 4, 0x33, 0, 0);
  Open(16, 16);  // images outlive the Screen
  EXPECT_EQ(W({Blit(kept), GetPixel(nullptr, 3, 3)}), W({0, 0x33}));
  ImageDestroy(kept);
  ImageDestroy(kept);  // a second release and null are ignored
  ImageDestroy(nullptr);
}

TEST_F(DrawTest, RefusedBlitsDrawNothing) {
  std::mt19937 rng(2);
  Open(32, 32);
  Fill(rng);
  const Bytes before = Snap(), tile = Packed(4, 4, Bytes(16, 0xFF)), wide = Packed(4, 4, Bytes(32, 0xFF), 2);
  const Bytes three = Packed(2, 2, Bytes(12, 1), 3);
  const uint32_t huge[8] = {7, 1, 0x40000000, 4, 0x40000000}, negative[8] = {7, 1, uint32_t(-4), 4, 16};
  ImageBuffer* claims = ImageCreate(4, 4, 1, 0, 0);
  reinterpret_cast<uint32_t*>(claims)[3] = 100;  // more rows than its block holds
  const void* t = tile.data();
  const struct { const void* img; float x; int32_t form, mode; } cases[] = {  // bad headers, forms, positions, modes
      {wide.data(), 0, 0, 5}, {nullptr, 0, 0, 5}, {three.data(), 0, 0, 5}, {huge, 0, 0, 5}, {negative, 0, 0, 5},
      {claims, 0, 0, 5}, {t, 0, 4, 5}, {t, 0, -1, 5}, {t, 0, 0, 8}, {t, 0, 0, 9}, {t, 0, 0, 6}, {t, 0, 0, 7},
      {t, 0, 0, 10}, {t, 0, 0, -1}, {t, NAN, 0, 5}};  // last: NaN stays as LastPoint
  for (const auto& c : cases) {
    SetError(0);
    EXPECT_EQ(PutImage(nullptr, c.x, 0, c.img, 0, 0, 3, 3, c.form, c.mode), 1) << &c - cases;
    EXPECT_EQ(ErrorNumber(), 1);
    EXPECT_EQ(PutImage(nullptr, c.x, 0, c.img, kOmitted, 0, 0, 0, c.form, c.mode), 1) << &c - cases;
  }
  EXPECT_EQ(GetPixel(claims, 0, 90) * 10 + GetImage(claims, 0, 0, 1, 1, Bytes(100).data()), -9);
  ImageDestroy(claims);
  SetError(1);  // empty images draw nothing, without error
  EXPECT_EQ(Blit(Packed(0, 5, {}).data()) + Blit(Packed(5, 0, {}).data()), 0);
  EXPECT_EQ(Snap(), before);
}

// A full header whose pitch is shorter than a row: rows that many bytes apart, 0 repeating the first.
TEST_F(DrawTest, ShortPitchRowsOverlap) {
  Open(8, 3);
  const uint32_t twoApart[10] = {7, 1, 4, 3, 2, 0, 0, 0, 0x04030201, 0x08070605};
  const uint32_t same[10] = {7, 1, 4, 3, 0, 0, 0, 0, 0x04030201};
  EXPECT_EQ(Blit(twoApart) + Blit(same, 4), 0);
  Bytes want;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x) want.push_back(uint8_t(x < 4 ? 1 + x + 2 * y : x - 3));
  EXPECT_EQ(Snap(), want);
}

// Random blits (Or, Xor, source rectangles, forms, every clip position) against a per-pixel reference.
TEST_F(DrawTest, BlitsMatchAPerPixelReference) {
  std::mt19937 rng(99);
  for (int depth : {8, 16, 32}) {
    Open(37, 23, depth);
    const Bytes next = Snap();  // page 1, after the page blits go to
    SetPages(0, 0);
    for (int round = 0; round < 400; ++round) {
      const int w = 1 + int(rng() % 20), h = 1 + int(rng() % 12), bpp = bpp_;  // each image in both header forms
      const Bytes px = Random(rng, size_t(w) * h * bpp);
      const Bytes packed = Packed(w, h, px, round % 5 ? bpp : 0);  // pixel size 0: the page's
      ImageBuffer* made = round % 2 ? ImageCreate(w, h, 0, 0, kNoColour) : nullptr;
      for (int y = 0; made && y < h; ++y) {
        uint8_t* row = reinterpret_cast<uint8_t*>(made) + 32 + y * Head(made)[4];
        std::memcpy(row, &px[size_t(y) * w * bpp], size_t(w) * bpp);
      }
      const int x = int(rng() % 70) - 25, y = int(rng() % 50) - 18;
      int ox = 0, oy = 0, dw = w, dh = h, s[4] = {kOmitted, 0, 0, 0};
      const int mode = int(rng() % 6), form = round % 3 ? 0 : int(rng() % 4);
      const uint32_t key = rng() & 1 ? 0 : ReadPixel(&px[rng() % px.size() / bpp * bpp], 0, bpp);
      const int alpha = key == 0 ? -1 : int(bpp == 2 ? Widen565(key) : key);  // a colour, as SetColor takes
      if (rng() % 3 == 0) {
        for (int& v : s) v = int(rng() % 30) - 5;
        const int ex = form & 1 ? s[0] + s[2] : s[2], ey = form & 1 ? s[1] + s[3] : s[3];
        ox = std::clamp(std::min(s[0], ex), 0, w - 1);
        oy = std::clamp(std::min(s[1], ey), 0, h - 1);
        dw = std::clamp(std::max(s[0], ex), 0, w - 1) - ox + 1;
        dh = std::clamp(std::max(s[1], ey), 0, h - 1) - oy + 1;
      }
      Fill(rng);
      const Bytes before = Snap();  // then LastPoint, set by a capture
      Bytes expect = before;
      const int lx = form >= 2 ? int(rng() % 37) : 0, ly = form >= 2 ? int(rng() % 23) : 0;
      ASSERT_EQ(GetImage(nullptr, 0, 0, float(lx), float(ly), Bytes(4 + 38 * 24 * 4).data()), 0);
      for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw * bpp; ++i)
          if (x + lx + i / bpp >= 0 && y + ly + j >= 0 && x + lx + i / bpp < 37 && y + ly + j < 23) {
            const size_t at = size_t(oy + j) * w * bpp + size_t(ox * bpp + i);
            const uint8_t b = px[at];
            const bool keyed = ReadPixel(&px[at - i % bpp], 0, bpp) == key;
            uint8_t& d = expect[size_t(y + ly + j) * 37 * bpp + size_t((x + lx) * bpp + i)];
            const uint8_t results[6] = {b, keyed ? d : b, uint8_t(d & b), uint8_t(bpp == 4 && i % 4 == 3 ? b : ~b),
                                        uint8_t(d | b), uint8_t(d ^ b)};
            d = results[mode];
          }
      SetError(5);
      Dirty();
      const void* img = made ? static_cast<const void*>(made) : packed.data();
      ASSERT_EQ(PutImage(nullptr, float(x), float(y), img, s[0], s[1], s[2], s[3], form, mode, alpha), 0);
      EXPECT_EQ(ErrorNumber(), 0);
      ImageDestroy(made);  // none left, so packed blits may take the direct path
      const auto span = Dirty();
      for (size_t i = 0; i < expect.size(); ++i)
        ASSERT_TRUE(expect[i] == before[i] || Marked(span, i / size_t(37 * bpp))) << "row not marked";
      ASSERT_EQ(Snap(), expect) << "depth " << depth << " round " << round;
    }
    SetPages(1, 0);
    EXPECT_EQ(Snap(), next) << "a blit strayed past the page's last row, onto the next page";
  }
}

// Both unit sets against a byte-wise reference: PutImage only reaches the one this processor picks.
TEST(BlitRoutines, BothUnitSetsEqualAByteWiseReference) {
  std::mt19937 rng(2024);
  for (int mode : {RasterMode::Copy, RasterMode::And, RasterMode::Invert, RasterMode::Or, RasterMode::Xor})
    for (int bpp : {1, 2, 4})
      for (int round = 0; round < 400; ++round) {
        const int w = int(rng() % 41), h = 1 + int(rng() % 6), so = int(rng() % 16), doff = int(rng() % 16);
        const int sp = w * bpp + int(rng() % 9), dp = w * bpp + int(rng() % 9), row = w * bpp;
        const Bytes src = Random(rng, size_t(so + sp * h + 8)), base = Random(rng, size_t(doff + dp * h + 8));
        Bytes ref = base;
        for (int i = 0; i < h * row; ++i) {
          uint8_t &d = ref[size_t(doff + i / row * dp + i % row)], s = src[size_t(so + i / row * sp + i % row)];
          const uint8_t results[6] = {s, 0, uint8_t(d & s), uint8_t(s ^ uint8_t(0x5A + i % bpp)), uint8_t(d | s),
                                      uint8_t(d ^ s)};
          d = results[mode];
        }
        for (const BlitTable* t : {PlainBlitTable(mode), WideBlitTable(mode)}) {
          Bytes dst = base;
          uint8_t pattern[8];  // Invert's colour bits, a pixel repeated
          for (int k = 0; k < 8; ++k) pattern[k] = uint8_t(0x5A + k % bpp);
          uint64_t mask;
          std::memcpy(&mask, pattern, 8);
          t->byPixelSize[bpp](src.data() + so, dst.data() + doff, w, h, sp, dp, mask);
          ASSERT_EQ(dst, ref) << "mode " << mode << " bpp " << bpp << " w " << w;
        }
      }
}

}  // namespace

// Circles, ellipses, arcs and pies against a per-pixel reference: the pixels with x^2 / a2 + y^2 / b2 <= 1
// (a2 = r^2 + r, b2 the same of the y radius), outlines those with a 4-neighbour outside, arcs those whose
// angle (y up, the centre's 0) lies in [start, end) turning left.
TEST_F(DrawTest, CirclesMatchAPerPixelReference) {
  const double kPi = 3.14159265358979;
  const struct { float x, y, r, aspect, start, end; } cases[] = {
      {40, 30, 0, 1, 0, 0},    {40, 30, 1, 1, 0, 0},     {40, 30, 100, 1, 0, 0},  {39, 29, 40, 1, 0, 0},
      {40, 30, 22, 0.5, 0, 0}, {40, 30, 12, 2, 0, 0},    {40, 30, 9, 0, 0, 0},    {0, 0, 20, 1, 0, 0},
      {79, 59, 17, 1, 0, 0},   {-6, 30, 19, 1, 0, 0},    {40, 64, 9, 1, 0, 0},    {40, 30, 25, 1, 5, 1},
      {40, 30, 25, 1, 6, 7},   {40, 30, 25, 1, -1, 0.5}, {40, 30, 25, 1, 3, 3},   {40, 30, 25, 1, 1, 1 + 2 * kPi}};
  Open(80, 60);
  SetPages(0, 0);
  for (const auto& c : cases)
    for (int filled : {0, 1}) {
      const double rx = c.r, ry = c.r * c.aspect, a2 = rx * rx + rx, b2 = ry * ry + ry;
      double sweep = std::fmod(double(c.end) - c.start, 2 * kPi);
      sweep += sweep < 0 ? 2 * kPi : 0;
      auto in = [&](long dx, long dy) {
        if (b2 == 0 || a2 == 0) return dy == 0 && dx * dx <= a2;
        return dx * dx / a2 + dy * dy / b2 <= 1 + 1e-12;
      };
      Bytes want(80 * 60, 0);
      for (long y = 0; y < 60; ++y)
        for (long x = 0; x < 80; ++x) {
          const long dx = x - long(c.x), dy = y - long(c.y);
          double turn = std::fmod(std::atan2(-double(dy), double(dx)) - c.start + 8 * kPi, 2 * kPi);
          const bool onArc = sweep == 0 || turn < sweep;  // the centre at angle 0
          const bool edge = !in(dx - 1, dy) || !in(dx + 1, dy) || !in(dx, dy - 1) || !in(dx, dy + 1);
          want[size_t(y * 80 + x)] = in(dx, dy) && (filled || edge) && onArc ? 7 : 0;
        }
      Clear();
      Dirty();
      DrawCircle(nullptr, c.x, c.y, c.r, 0x107, c.aspect, c.start, c.end, filled);
      const auto span = Dirty();
      PutPixel(nullptr, 0, 0, 9, CoordForm::FromLastPoint);  // LastPoint is the centre
      EXPECT_EQ(GetPixel(nullptr, c.x, c.y), c.x >= 0 && c.x < 80 && c.y < 60 ? 9 : -1);
      PutPixel(nullptr, c.x, c.y, want[size_t(std::clamp(c.y, 0.f, 59.f) * 80 + std::clamp(c.x, 0.f, 79.f))]);
      const Bytes got = Snap();
      for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(!got[i] || Marked(span, i / 80)) << "row not marked";
      EXPECT_EQ(got, want) << "circle " << &c - cases << " filled " << filled;
    }
  for (int filled : {0, 1}) {  // complementary arcs share no pixel and make the whole
    Bytes arcs[3];
    for (int i = 0; i < 3; ++i) {
      Clear();
      DrawCircle(nullptr, 40, 30, 25, 1, 1, i == 1 ? 1.f : 0.f, i == 2 ? 1.f : 0.f, filled);
      arcs[i] = Snap();
    }
    for (size_t i = 0; i < arcs[0].size(); ++i)
      ASSERT_EQ(arcs[0][i], arcs[1][i] ^ arcs[2][i]) << i % 80 << "," << i / 80;
  }
  Clear();  // refused: nothing drawn
  for (float v : {NAN, INFINITY})
    DrawCircle(nullptr, 40, 30, 5, 1, 1, v), DrawCircle(nullptr, 40, 30, 5, 1, v), DrawCircle(nullptr, v, 30, 5, 1);
  DrawCircle(nullptr, 40, 30, -1, 1), DrawCircle(nullptr, 40, 30, NAN, 1);
  EXPECT_EQ(Count(0), 80 * 60);
}

// Flood fills of random four-colour pages (holes, diagonal gaps) against a 4-connected search, with
// and without a border, at each pixel size and into an image; then a whole open 1280 x 1024 page.
TEST_F(DrawTest, FloodFillsMatchA4ConnectedSearch) {
  std::mt19937 rng(5);
  for (int depth : {8, 16, 32}) {
    Open(41, 29, depth);
    SetPages(0, 0);
    ImageBuffer* image = ImageCreate(41, 29, 0, 0, 0);
    const int32_t colour[4] = {0, depth == 8 ? 1 : 0xFF0000, depth == 8 ? 2 : 0xFF00, depth == 8 ? 3 : 0xFF};
    for (int round = 0; round < 60; ++round) {
      ImageBuffer* target = round % 4 == 3 ? image : nullptr;
      Bytes page(41 * 29), want;
      for (auto& v : page) v = uint8_t(rng() % 5 < 3 ? 0 : 1 + rng() % 3);  // 3, the fill, too
      for (int i = 0; i < 41 * 29; ++i) PutPixel(target, float(i % 41), float(i / 41), colour[page[size_t(i)]]);
      const int sx = int(rng() % 41), sy = int(rng() % 29), bordered = round % 2;
      const uint8_t seed = page[size_t(sy * 41 + sx)], fill = 3;
      std::vector<int> todo{sy * 41 + sx};
      want = page;
      for (std::vector<bool> seen(page.size()); !todo.empty();) {
        const int i = todo.back();
        todo.pop_back();
        if (seen[size_t(i)] || (bordered ? page[size_t(i)] == 1 : page[size_t(i)] != seed || seed == fill)) continue;
        seen[size_t(i)] = true;
        want[size_t(i)] = fill;
        if (i % 41) todo.push_back(i - 1);
        if (i % 41 < 40) todo.push_back(i + 1);
        if (i >= 41) todo.push_back(i - 41);
        if (i < 41 * 28) todo.push_back(i + 41);
      }
      Dirty();
      FloodFill(target, float(sx), float(sy), colour[fill], bordered ? colour[1] : kNoColour);
      const auto span = Dirty();
      for (int i = 0; i < 41 * 29; ++i) {
        ASSERT_EQ(GetPixel(target, float(i % 41), float(i / 41)), colour[want[size_t(i)]]) << round << " i " << i;
        ASSERT_TRUE(target || want[size_t(i)] == page[size_t(i)] || Marked(span, size_t(i / 41)));
      }
    }
    ImageDestroy(image);
  }
  ASSERT_EQ(ScreenMode(21, 8, 1, -1), 0);
  DrawLine(nullptr, 0, 500, 1279, 500, 1, LineShape::Line);
  PutPixel(nullptr, 700, 300, 1);  // stops the whole rows above and below the seed's in mid-row
  FloodFill(nullptr, 700, 900, 2, 1);
  FloodFill(nullptr, 10, 400, 3);
  for (float at : {-1.f, 1280.f, NAN}) FloodFill(nullptr, at, 10, 4);  // outside the view: nothing
  FloodFill(nullptr, 10, 10, 3);                                        // already that colour: nothing
  int counts[5] = {};
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 1280; ++x) ++counts[GetPixel(nullptr, float(x), float(y))];
  EXPECT_EQ(std::vector<int>(counts, counts + 5), std::vector<int>({0, 1281, 523 * 1280, 500 * 1280 - 1, 0}));
}
