// image_test.cpp - image buffers: both header forms byte for byte, ImageCreate
// sizes and fills, GetImage rectangles and extents, PutImage clipping, source
// rectangles, raster modes, and the blit routine sets against a byte-wise
// reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "draw_internal.h"
#include "screen.h"
#include "state.h"

namespace {

constexpr int32_t kWindowless = -1;

uint32_t U32(const void* p, size_t off = 0) {
  uint32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(p) + off, 4);
  return v;
}

class ImageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (ImageBuffer* i : made_) ImageDestroy(i);
    if (gLayer.screen) CloseScreen(false);
  }
  void Open(int32_t w, int32_t h, int32_t depth = 4, int32_t pages = 2, int32_t work = 1) {
    ASSERT_EQ(ScreenRes(w, h, depth, pages, kWindowless, 0), 0);
    SetPages(work, 0);
  }
  ImageBuffer* Make(int32_t w, int32_t h, uint32_t colour = 0, int32_t depth = 0,
                    uint32_t flags = kNoColour, HeaderForm form = HeaderForm::Full) {
    ImageBuffer* i = ImageCreate(w, h, colour, depth, flags, form);
    if (i) made_.push_back(i);
    return i;
  }
  Screen& S() { return *gLayer.screen; }
  uint8_t* Page(int32_t n) { return S().pages[size_t(n)]; }
  uint8_t At(int32_t x, int32_t y, int32_t page = 1) {
    return Page(page)[size_t(y) * S().pitch + size_t(x)];
  }
  std::vector<uint8_t> Copy(int32_t page = 1) {
    return std::vector<uint8_t>(Page(page), Page(page) + size_t(S().pitch) * S().height);
  }
  // Fills the work page with a pattern that differs at every pixel of a row.
  void Pattern(uint32_t seed = 1) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size_t(S().pitch) * S().height; ++i) Page(1)[i] = uint8_t(rng());
  }
  std::vector<ImageBuffer*> made_;
};

// A packed 1-byte image of w x h with the given pixel bytes.
std::vector<uint8_t> Packed(int w, int h, const std::vector<uint8_t>& pixels, int bpp = 1) {
  std::vector<uint8_t> b(4 + pixels.size());
  uint16_t word = uint16_t((w << 3) | bpp);
  std::memcpy(b.data(), &word, 2);
  uint16_t hh = uint16_t(h);
  std::memcpy(b.data() + 2, &hh, 2);
  if (!pixels.empty()) std::memcpy(b.data() + 4, pixels.data(), pixels.size());
  return b;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

// ---------------------------------------------------------------------------
// Header forms byte for byte
// ---------------------------------------------------------------------------

TEST_F(ImageTest, PackedCaptureIsHeaderThenRows) {
  Open(320, 200);
  Pattern();
  std::vector<int32_t> arr(17 * 17, -1);
  BufferExtent ext{arr.data(), 1156};
  ASSERT_EQ(GetImage(nullptr, 1, 1, 16, 16, arr.data(), 0, &ext, HeaderForm::Packed), 0);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(arr.data());
  EXPECT_EQ(b[0], 0x81);
  EXPECT_EQ(b[1], 0x00);
  EXPECT_EQ(b[2], 0x10);
  EXPECT_EQ(b[3], 0x00);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(b[4 + y * 16 + x], At(1 + x, 1 + y));
  EXPECT_EQ(b[260], 0xFF) << "nothing written past the 260 bytes";
  EXPECT_EQ(ErrorNumber(), 0);
}

TEST_F(ImageTest, FullCaptureIsHeaderThenPaddedRowsLeavingReservedAndPadding) {
  Open(64, 40);
  Pattern(5);
  std::vector<uint8_t> buf(32 + 16 * 3 + 8, 0xEE);
  ASSERT_EQ(GetImage(nullptr, 10, 2, 19, 4, buf.data(), 0, nullptr, HeaderForm::Full), 0);
  EXPECT_EQ(U32(buf.data(), 0), 7u);
  EXPECT_EQ(U32(buf.data(), 4), 1u);
  EXPECT_EQ(U32(buf.data(), 8), 10u);
  EXPECT_EQ(U32(buf.data(), 12), 3u);
  EXPECT_EQ(U32(buf.data(), 16), 16u);
  for (int i = 20; i < 32; ++i) EXPECT_EQ(buf[i], 0xEE) << "reserved byte " << i;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(buf[32 + y * 16 + x], At(10 + x, 2 + y));
    for (int x = 10; x < 16; ++x) EXPECT_EQ(buf[32 + y * 16 + x], 0xEE) << "padding";
  }
  EXPECT_EQ(buf[32 + 48], 0xEE);
}

TEST_F(ImageTest, WiderPixelsCaptureLittleEndian) {
  Open(8, 8, 32);
  PutPixel(nullptr, 2, 3, 0x11223344);
  PutPixel(nullptr, 3, 3, 0xA0B0C0D0);
  std::vector<uint8_t> buf(4 + 8, 0);
  ASSERT_EQ(GetImage(nullptr, 2, 3, 3, 3, buf.data()), 0);
  const uint8_t expect[] = {(2 << 3) | 4, 0, 1, 0, 0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0};
  EXPECT_EQ(0, std::memcmp(buf.data(), expect, sizeof expect));
}

TEST_F(ImageTest, ReversedCornersCaptureTheSameImage) {
  Open(320, 200);
  Pattern(9);
  std::vector<uint8_t> a(260), b(260);
  ASSERT_EQ(GetImage(nullptr, 1, 1, 16, 16, a.data()), 0);
  ASSERT_EQ(GetImage(nullptr, 16, 16, 1, 1, b.data()), 0);
  EXPECT_EQ(a, b);
  ASSERT_EQ(GetImage(nullptr, 16, 1, 1, 16, b.data()), 0);
  EXPECT_EQ(a, b);
}

TEST_F(ImageTest, CaptureThenPutRoundTrips) {
  Open(64, 64);
  Pattern(11);
  std::vector<uint8_t> img(4 + 20 * 9);
  ASSERT_EQ(GetImage(nullptr, 3, 7, 22, 15, img.data()), 0);
  std::vector<uint8_t> src = Copy();
  std::memset(Page(1), 0, src.size());
  ASSERT_EQ(PutImage(nullptr, 3, 7, img.data(), kOmitted, kOmitted, kOmitted, kOmitted, 0,
                     RasterMode::Or),
            0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      bool in = x >= 3 && x <= 22 && y >= 7 && y <= 15;
      ASSERT_EQ(At(x, y), in ? src[y * 64 + x] : 0);
    }
}

// ---------------------------------------------------------------------------
// GetImage: the view, the extent, and ImageCreate blocks as their own extent
// ---------------------------------------------------------------------------

TEST_F(ImageTest, ExtentOneByteShortFailsAndWritesNothing) {
  Open(320, 200);
  Pattern();
  std::vector<uint8_t> buf(300, 0xAB);
  BufferExtent shortExt{buf.data(), 259};
  EXPECT_EQ(GetImage(nullptr, 1, 1, 16, 16, buf.data(), 0, &shortExt), 1);
  EXPECT_EQ(ErrorNumber(), 1);
  for (uint8_t b : buf) ASSERT_EQ(b, 0xAB);
  BufferExtent exact{buf.data(), 260};
  EXPECT_EQ(GetImage(nullptr, 1, 1, 16, 16, buf.data(), 0, &exact), 0);
  EXPECT_EQ(buf[259], At(16, 16));
  EXPECT_EQ(buf[260], 0xAB);
}

TEST_F(ImageTest, ExtentCountsFromItsStartNotTheDestination) {
  Open(32, 32);
  std::vector<uint8_t> buf(300, 0xAB);
  BufferExtent ext{buf.data(), 264};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 15, 15, buf.data() + 4, 0, &ext), 0);
  EXPECT_EQ(GetImage(nullptr, 0, 0, 15, 15, buf.data() + 5, 0, &ext), 1);
  BufferExtent after{buf.data() + 10, 280};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 1, 1, buf.data(), 0, &after), 1)
      << "a destination before the block";
  BufferExtent unknown{buf.data(), 0};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 15, 15, buf.data(), 0, &unknown), 0);
}

TEST_F(ImageTest, FullHeaderExtentIncludesTheLastRowsPadding) {
  Open(32, 32);
  std::vector<uint8_t> buf(200, 0);
  BufferExtent tight{buf.data(), 32 + 2 * 16 - 1};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 9, 1, buf.data(), 0, &tight, HeaderForm::Full), 1);
  BufferExtent exact{buf.data(), 32 + 2 * 16};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 9, 1, buf.data(), 0, &exact, HeaderForm::Full), 0);
}

TEST_F(ImageTest, RectangleMustLieWhollyInsideTheView) {
  Open(320, 200);
  std::vector<uint8_t> buf(5000, 0x5C);
  EXPECT_EQ(GetImage(nullptr, 0, 0, 320, 10, buf.data()), 1);
  EXPECT_EQ(GetImage(nullptr, -1, 0, 10, 10, buf.data()), 1);
  EXPECT_EQ(GetImage(nullptr, 0, -1, 10, 10, buf.data()), 1);
  EXPECT_EQ(GetImage(nullptr, 0, 190, 10, 200, buf.data()), 1);
  for (uint8_t b : buf) ASSERT_EQ(b, 0x5C);
  EXPECT_EQ(GetImage(nullptr, 310, 190, 319, 199, buf.data()), 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(GetImage(nullptr, nan, 0, 1, 1, buf.data()), 1);
  EXPECT_EQ(GetImage(nullptr, 0, 0, std::numeric_limits<float>::infinity(), 1, buf.data()), 1);
  EXPECT_EQ(GetImage(nullptr, 0, 0, 1, 1, nullptr), 1);
}

TEST_F(ImageTest, ImageCreateBlockServesAsItsOwnExtent) {
  Open(64, 64);
  Pattern(3);
  ImageBuffer* img = Make(16, 16);
  ASSERT_NE(img, nullptr);
  uint8_t* b = reinterpret_cast<uint8_t*>(img);
  std::vector<uint8_t> before(b, b + 32 + 256);
  EXPECT_EQ(GetImage(nullptr, 0, 0, 16, 16, img, 0, nullptr, HeaderForm::Full), 1)
      << "17 rows of 32 bytes do not fit a 16 x 16 block";
  EXPECT_EQ(0, std::memcmp(b, before.data(), before.size()));
  EXPECT_EQ(GetImage(nullptr, 0, 0, 15, 15, img, 0, nullptr, HeaderForm::Full), 0);
  EXPECT_EQ(b[32 + 15 * 16 + 15], At(15, 15));
  BufferExtent unknown{img, 0};
  EXPECT_EQ(GetImage(nullptr, 0, 0, 40, 40, img, 0, &unknown, HeaderForm::Full), 1);
}

TEST_F(ImageTest, ImageCreateBlockExtentEndsExactlyAtTheBlockEnd) {
  Open(320, 8);
  ImageBuffer* img = Make(16, 16);  // block of 16 * 16 + 50 bytes
  ASSERT_NE(img, nullptr);
  uint8_t* block;
  std::memcpy(&block, reinterpret_cast<uint8_t*>(img) - sizeof(void*), sizeof(void*));
  const long room = long(block + 16 * 16 + 50 - reinterpret_cast<uint8_t*>(img));
  ASSERT_GT(room, 4 + 1);
  ASSERT_LT(room, 320);
  // A one-row packed capture of w pixels needs 4 + w bytes.
  EXPECT_EQ(GetImage(nullptr, 0, 0, float(room - 4), 0, img), 1) << "one byte past the block";
  EXPECT_EQ(GetImage(nullptr, 0, 0, float(room - 5), 0, img), 0) << "reaching the end exactly";
}

TEST_F(ImageTest, CaptureFromAnImageTarget) {
  Open(32, 32);
  ImageBuffer* img = Make(8, 4, 0x21, 0, 0);
  PutPixel(img, 7, 3, 0x42);
  std::vector<uint8_t> out(4 + 32, 0);
  ASSERT_EQ(GetImage(img, 0, 0, 7, 3, out.data()), 0);
  EXPECT_EQ(out[4], 0x21);
  EXPECT_EQ(out[4 + 31], 0x42);
  EXPECT_EQ(GetImage(img, 0, 0, 8, 3, out.data()), 1) << "the image is the view";
}

TEST_F(ImageTest, GetImageSetsLastPoint) {
  Open(32, 32);
  std::vector<uint8_t> out(400);
  GetImage(nullptr, 2, 3, 4, 5, out.data());
  EXPECT_EQ(gLayer.draw.lastX, 4);
  EXPECT_EQ(gLayer.draw.lastY, 5);
  ASSERT_EQ(GetImage(nullptr, 1, 1, 2, 2, out.data(), CoordForm::BothRelative), 0);
  EXPECT_EQ(out[0], (3 << 3) | 1);  // (5,6)-(7,8): 3 x 3
  EXPECT_EQ(out[2], 3);
}

// ---------------------------------------------------------------------------
// ImageCreate and ImageDestroy
// ---------------------------------------------------------------------------

TEST_F(ImageTest, CreateFullHeaderAlignedAndZeroFilled) {
  Open(320, 200);
  std::memset(Page(1), 0x77, 320 * 200);
  SetError(3);
  ImageBuffer* img = Make(16, 16, 0, 0, 0x80000000u);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(ErrorNumber(), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(img) % 16, 0u);
  EXPECT_EQ(U32(img, 0), 7u);
  EXPECT_EQ(U32(img, 4), 1u);
  EXPECT_EQ(U32(img, 8), 16u);
  EXPECT_EQ(U32(img, 12), 16u);
  EXPECT_EQ(U32(img, 16), 16u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(img);
  for (int i = 24; i < 32; ++i) EXPECT_EQ(b[i], 0);
  for (int i = 32; i < 32 + 256; ++i) ASSERT_EQ(b[i], 0);
  EXPECT_EQ(At(0, 0), 0x77) << "the fill went to the image, not the page";
}

TEST_F(ImageTest, CreatePadsRowsToSixteenAndFillsPadding) {
  Open(32, 32);
  ImageBuffer* img = Make(10, 2, 0x1A5, 0, 0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(U32(img, 16), 16u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(img);
  for (int i = 32; i < 32 + 32; ++i) EXPECT_EQ(b[i], 0xA5) << i;
  ImageBuffer* z = Make(10, 2);
  for (int i = 32; i < 64; ++i) EXPECT_EQ(reinterpret_cast<const uint8_t*>(z)[i], 0);
}

TEST_F(ImageTest, CreateDefaultAndGivenColoursPerPixelSize) {
  Open(8, 8, 8);
  ImageBuffer* two = Make(3, 1, 0, 16, kNoColour);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(U32(two, 4), 2u);
  EXPECT_EQ(U32(two, 16), 16u);
  for (int i = 0; i < 8; ++i) {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<uint8_t*>(two) + 32 + 2 * i, 2);
    EXPECT_EQ(v, 0xF81F);
  }
  ImageBuffer* four = Make(5, 2, 0, 32, kNoColour);
  EXPECT_EQ(U32(four, 16), 32u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(U32(four, 32 + 4 * i), 0xFFFF00FFu);
  ImageBuffer* given2 = Make(2, 2, 0x00FF00, 9, 0);  // depth 9..16: 2 bytes, 5-6-5
  uint16_t g;
  std::memcpy(&g, reinterpret_cast<uint8_t*>(given2) + 32, 2);
  EXPECT_EQ(g, 0x07E0);
  ImageBuffer* given4 = Make(2, 2, 0x12345678, 25, 0);
  EXPECT_EQ(U32(given4, 32), 0x12345678u);
  ImageBuffer* one = Make(2, 2, 0x1234, 1, 0);
  EXPECT_EQ(U32(one, 4), 1u);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(one)[32], 0x34);
}

TEST_F(ImageTest, CreatePackedForm) {
  Open(8, 8, 8);
  ImageBuffer* img = Make(5, 3, 0x3C, 0, 0, HeaderForm::Packed);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(img) % 16, 0u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(img);
  EXPECT_EQ(b[0], (5 << 3) | 1);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 0);
  for (int i = 4; i < 4 + 15; ++i) EXPECT_EQ(b[i], 0x3C);
  EXPECT_EQ(GetPixel(img, 4, 2), 0x3C);
  EXPECT_EQ(GetPixel(img, 5, 2), -1);
}

TEST_F(ImageTest, CreateRefusals) {
  SetError(0);
  EXPECT_EQ(ImageCreate(16, 16, 0, 0, kNoColour), nullptr) << "no Screen";
  EXPECT_EQ(ErrorNumber(), 1);
  Open(8, 8, 8);
  struct Bad {
    int32_t w, h, depth;
  } bad[] = {{0, 16, 0}, {16, 0, 0}, {-3, 4, 0}, {4, -3, 0}, {16, 16, 24}, {16, 16, 17},
             {16, 16, 33}, {16, 16, 0x7FFFFFFF}};
  for (const Bad& b : bad) {
    SetError(0);
    EXPECT_EQ(ImageCreate(b.w, b.h, 0, b.depth, kNoColour), nullptr) << b.w << " " << b.depth;
    EXPECT_EQ(ErrorNumber(), 1);
  }
}

TEST_F(ImageTest, OverflowingSizesGiveErrorNotAShortBlock) {
  Open(8, 8, 8);
  const int32_t big = std::numeric_limits<int32_t>::max();
  struct Huge {
    int32_t w, h, depth;
    HeaderForm form;
  } huge[] = {{big, big, 32, HeaderForm::Full},      {big, 1, 32, HeaderForm::Full},
              {1, big, 0, HeaderForm::Full},         {1 << 20, 1 << 20, 32, HeaderForm::Full},
              {1 << 26, 1 << 26, 0, HeaderForm::Full}, {8192, 1, 0, HeaderForm::Packed},
              {1, 65536, 0, HeaderForm::Packed},     {big, big, 0, HeaderForm::Packed}};
  for (const Huge& h : huge) {
    SetError(0);
    EXPECT_EQ(ImageCreate(h.w, h.h, 0, h.depth, kNoColour, h.form), nullptr) << h.w << "x" << h.h;
    EXPECT_TRUE(ErrorNumber() == 1 || ErrorNumber() == 4) << ErrorNumber();
  }
  ImageBuffer* edge = Make(8191, 2, 0, 0, kNoColour, HeaderForm::Packed);
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(GetPixel(edge, 8190, 1), 0);
}

TEST_F(ImageTest, DestroyIsSafeAndForgetsTheTarget) {
  Open(8, 8, 8);
  ImageDestroy(nullptr);
  ImageBuffer* a = ImageCreate(8, 8, 0, 0, kNoColour);
  ASSERT_NE(a, nullptr);
  PutPixel(a, 1, 1, 3);
  ImageDestroy(a);
  ImageDestroy(a);  // a second release is ignored
  std::vector<uint8_t> foreign(64, 0);
  ImageDestroy(reinterpret_cast<ImageBuffer*>(foreign.data() + 16));  // not ImageCreate's
  ImageBuffer* b = ImageCreate(3, 2, 0, 0, kNoColour);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetPixel(b, 2, 1), 0);
  EXPECT_EQ(GetPixel(b, 3, 1), -1);
  PutPixel(nullptr, 7, 7, 5);
  EXPECT_EQ(GetPixel(nullptr, 7, 7), 5);
  ImageDestroy(b);
}

TEST_F(ImageTest, ImagesSurviveScreenChanges) {
  Open(8, 8, 8);
  ImageBuffer* img = Make(4, 4, 0x33, 0, 0);
  ASSERT_EQ(ScreenRes(16, 16, 8, 1, kWindowless, 0), 0);
  ASSERT_EQ(PutImage(nullptr, 0, 0, img, kOmitted, kOmitted, kOmitted, kOmitted, 0,
                     RasterMode::Or),
            0);
  EXPECT_EQ(GetPixel(nullptr, 3, 3), 0x33);
}

// ---------------------------------------------------------------------------
// PutImage
// ---------------------------------------------------------------------------

int32_t Put(float x, float y, const void* img, int32_t mode = RasterMode::Xor,
            int32_t sx1 = kOmitted, int32_t sy1 = kOmitted, int32_t sx2 = kOmitted,
            int32_t sy2 = kOmitted, int32_t form = 0) {
  return PutImage(nullptr, x, y, img, sx1, sy1, sx2, sy2, form, mode);
}

TEST_F(ImageTest, XorOfZerosAndXorTwiceLeaveThePage) {
  Open(64, 48);
  Pattern(21);
  const std::vector<uint8_t> before = Copy();
  auto zeros = Packed(16, 16, std::vector<uint8_t>(256, 0));
  EXPECT_EQ(Put(10, 10, zeros.data()), 0);
  EXPECT_EQ(Copy(), before);
  auto tile = Packed(16, 16, RandomBytes(256, 4));
  std::mt19937 rng(8);
  for (int i = 0; i < 50; ++i) {
    float x = float(int(rng() % 90) - 20), y = float(int(rng() % 70) - 20);
    EXPECT_EQ(Put(x, y, tile.data()), 0);
    EXPECT_EQ(Put(x, y, tile.data()), 0);
    ASSERT_EQ(Copy(), before) << x << "," << y;
  }
  EXPECT_EQ(Put(20, 20, tile.data()), 0);
  EXPECT_NE(Copy(), before);
}

TEST_F(ImageTest, OrCombinesBits) {
  Open(16, 16);
  PutPixel(nullptr, 5, 5, 3);
  auto one = Packed(1, 1, {4});
  EXPECT_EQ(Put(5, 5, one.data(), RasterMode::Or), 0);
  EXPECT_EQ(GetPixel(nullptr, 5, 5), 7);
  auto zero = Packed(1, 1, {0});
  EXPECT_EQ(Put(5, 5, zero.data(), RasterMode::Or), 0);
  EXPECT_EQ(GetPixel(nullptr, 5, 5), 7);
}

TEST_F(ImageTest, NegativePositionDrawsTheBottomRightQuarter) {
  Open(320, 200);
  std::vector<uint8_t> px(256);
  for (int i = 0; i < 256; ++i) px[i] = uint8_t(i);
  auto tile = Packed(16, 16, px);
  EXPECT_EQ(Put(-8, -8, tile.data(), RasterMode::Or), 0);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      int want = (x < 8 && y < 8) ? (y + 8) * 16 + (x + 8) : 0;
      ASSERT_EQ(At(x, y), want) << x << "," << y;
    }
  const std::vector<uint8_t> before = Copy();
  SetError(5);
  EXPECT_EQ(Put(320, 0, tile.data()), 0);
  EXPECT_EQ(ErrorNumber(), 0);
  EXPECT_EQ(Put(0, 200, tile.data()), 0);
  EXPECT_EQ(Put(-16, 0, tile.data()), 0);
  EXPECT_EQ(Put(0, -16, tile.data()), 0);
  EXPECT_EQ(Copy(), before);
}

TEST_F(ImageTest, SourceRectangleIsSortedAndClamped) {
  Open(64, 64);
  std::vector<uint8_t> px(256);
  for (int i = 0; i < 256; ++i) px[i] = uint8_t(i | 1);
  auto tile = Packed(16, 16, px);
  EXPECT_EQ(Put(0, 0, tile.data(), RasterMode::Or, 4, 4, 100, 100), 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(At(x, y), (x < 12 && y < 12) ? px[(y + 4) * 16 + x + 4] : 0);
  std::memset(Page(1), 0, 64 * 64);
  EXPECT_EQ(Put(10, 10, tile.data(), RasterMode::Or, 5, 9, 2, 3), 0);  // (2,3)-(5,9)
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      bool in = x >= 10 && x < 14 && y >= 10 && y < 17;
      ASSERT_EQ(At(x, y), in ? px[(y - 10 + 3) * 16 + x - 10 + 2] : 0);
    }
  std::memset(Page(1), 0, 64 * 64);
  EXPECT_EQ(Put(0, 0, tile.data(), RasterMode::Or, -50, -50, -10, -10), 0);  // pixel (0,0)
  EXPECT_EQ(At(0, 0), px[0]);
  EXPECT_EQ(At(1, 0), 0);
}

TEST_F(ImageTest, FormsMoveThePositionAndTheSourceCorner) {
  Open(64, 64);
  std::vector<uint8_t> px(256);
  for (int i = 0; i < 256; ++i) px[i] = uint8_t(i | 1);
  auto tile = Packed(16, 16, px);
  gLayer.draw.lastX = 20, gLayer.draw.lastY = 30;
  EXPECT_EQ(Put(1, 2, tile.data(), RasterMode::Or, 2, 3, 1, 1, 3), 0);  // (21,32), src (2,3)-(3,4)
  EXPECT_EQ(gLayer.draw.lastX, 21);
  EXPECT_EQ(gLayer.draw.lastY, 32);
  int count = 0;
  for (uint8_t b : Copy()) count += b != 0;
  EXPECT_EQ(count, 4);
  EXPECT_EQ(At(21, 32), px[3 * 16 + 2]);
  EXPECT_EQ(At(22, 33), px[4 * 16 + 3]);
  EXPECT_EQ(Put(0, 0, tile.data(), RasterMode::Or, 0, 0, 0, 0, 4), 1);
  EXPECT_EQ(Put(0, 0, tile.data(), RasterMode::Or, 0, 0, 0, 0, -1), 1);
}

TEST_F(ImageTest, RefusalsDrawNothing) {
  Open(32, 32);
  Pattern(2);
  const std::vector<uint8_t> before = Copy();
  auto tile = Packed(4, 4, std::vector<uint8_t>(16, 0xFF));
  std::vector<uint8_t> wide(4 + 32, 0xFF);
  wide[0] = (4 << 3) | 2, wide[1] = 0, wide[2] = 4, wide[3] = 0;
  SetError(0);
  EXPECT_EQ(Put(0, 0, wide.data()), 1) << "2-byte image on a 1-byte page";
  EXPECT_EQ(Put(0, 0, nullptr), 1);
  for (int mode : {0, 1, 2, 3, 6, 7, 8, 9, 10, -1, 1000}) {
    SetError(0);
    EXPECT_EQ(Put(0, 0, tile.data(), mode), 1) << mode;
    EXPECT_EQ(ErrorNumber(), 1);
  }
  EXPECT_EQ(Put(std::numeric_limits<float>::quiet_NaN(), 0, tile.data()), 1);
  uint32_t hdr[8] = {7, 1, 0x40000000, 4, 0x40000000, 0, 0, 0};  // huge width and pitch
  EXPECT_EQ(Put(0, 0, hdr), 1);
  uint32_t shortPitch[8] = {7, 1, 4, 4, 3, 0, 0, 0};
  EXPECT_EQ(Put(0, 0, shortPitch), 1);
  uint32_t negative[8] = {7, 1, uint32_t(-4), 4, 16, 0, 0, 0};
  EXPECT_EQ(Put(0, 0, negative), 1);
  std::vector<uint8_t> three = Packed(2, 2, std::vector<uint8_t>(12, 1), 3);
  EXPECT_EQ(Put(0, 0, three.data()), 1);
  EXPECT_EQ(Copy(), before);
  EXPECT_EQ(S().lockCount, 0);
}

TEST_F(ImageTest, EmptyImagesDrawNothingWithoutError) {
  Open(16, 16);
  auto empty = Packed(0, 5, {});
  SetError(1);
  EXPECT_EQ(Put(0, 0, empty.data()), 0);
  auto flat = Packed(5, 0, {});
  EXPECT_EQ(Put(0, 0, flat.data()), 0);
}

TEST_F(ImageTest, PackedPixelSizeZeroMeansTheTargets) {
  Open(8, 8, 16);
  std::vector<uint8_t> img = Packed(2, 1, {0x34, 0x12, 0x00, 0xF8}, 0);
  ASSERT_EQ(Put(1, 1, img.data(), RasterMode::Or), 0);
  uint16_t v;
  std::memcpy(&v, Page(1) + S().pitch + 2, 2);
  EXPECT_EQ(v, 0x1234);
  std::memcpy(&v, Page(1) + S().pitch + 4, 2);
  EXPECT_EQ(v, 0xF800);
}

TEST_F(ImageTest, AlphaByteModeWritesTheTopByteOfFourBytePixels) {
  Open(8, 8, 32);
  PutPixel(nullptr, 2, 2, 0x11223344);
  PutPixel(nullptr, 3, 2, 0xAABBCCDD);
  auto alpha = Packed(2, 1, {0x80, 0x00});
  ASSERT_EQ(Put(2, 2, alpha.data(), RasterMode::AlphaByte), 0);
  EXPECT_EQ(uint32_t(GetPixel(nullptr, 2, 2)), 0x80223344u);
  EXPECT_EQ(uint32_t(GetPixel(nullptr, 3, 2)), 0x00BBCCDDu);
  std::vector<uint8_t> four(4 + 4, 0);
  four[0] = (1 << 3) | 4, four[2] = 1;
  EXPECT_EQ(Put(0, 0, four.data(), RasterMode::AlphaByte), 1) << "same sizes: no such routine";
}

TEST_F(ImageTest, AlphaByteNeedsAFourByteTarget) {
  Open(8, 8, 8);
  auto alpha = Packed(2, 1, {0x80, 0x00});
  EXPECT_EQ(Put(0, 0, alpha.data(), RasterMode::AlphaByte), 1);
}

TEST_F(ImageTest, PutImageFlagsTheClippedRowsOfTheVisiblePage) {
  Open(32, 32, 4, 2, 0);
  std::fill(S().dirtyRows.begin(), S().dirtyRows.end(), 0);
  auto tile = Packed(4, 6, std::vector<uint8_t>(24, 1));
  ASSERT_EQ(Put(3, 29, tile.data()), 0);
  std::vector<int> rows;
  for (size_t i = 0; i < S().dirtyRows.size(); ++i)
    if (S().dirtyRows[i]) rows.push_back(int(i));
  EXPECT_EQ(rows, std::vector<int>({29, 30, 31}));
  SetPages(1, -1);
  std::fill(S().dirtyRows.begin(), S().dirtyRows.end(), 0);
  ASSERT_EQ(Put(3, 3, tile.data()), 0);
  for (uint8_t f : S().dirtyRows) ASSERT_EQ(f, 0);
}

TEST_F(ImageTest, PutIntoAnImageTarget) {
  Open(32, 32);
  ImageBuffer* dst = Make(8, 8, 0x10, 0, 0);
  auto tile = Packed(2, 2, {1, 2, 3, 4});
  ASSERT_EQ(PutImage(dst, 7, 7, tile.data(), kOmitted, kOmitted, kOmitted, kOmitted, 0,
                     RasterMode::Or),
            0);
  EXPECT_EQ(GetPixel(dst, 7, 7), 0x11);
  EXPECT_EQ(GetPixel(dst, 6, 6), 0x10);
  EXPECT_EQ(GetPixel(nullptr, 7, 7), 0);
}

TEST_F(ImageTest, AHeaderClaimingMoreThanItsBlockIsRefused) {
  Open(32, 32);
  ImageBuffer* img = Make(4, 4);
  uint32_t bigger = 100;
  std::memcpy(reinterpret_cast<uint8_t*>(img) + 12, &bigger, 4);  // height 100
  EXPECT_EQ(Put(0, 0, img), 1);
  PutPixel(img, 0, 90, 1);  // would land far past the block
  EXPECT_EQ(GetPixel(img, 0, 90), -1);
  std::vector<uint8_t> out(100);
  EXPECT_EQ(GetImage(img, 0, 0, 1, 1, out.data()), 1);
}

// Random clip positions against a per-pixel reference on 1-, 2- and 4-byte pages.
TEST_F(ImageTest, ClippedBlitsMatchAPerPixelReference) {
  std::mt19937 rng(99);
  for (int depth : {8, 16, 32}) {
    Open(37, 23, depth);
    const int bpp = S().bytesPerPixel;
    for (int round = 0; round < 300; ++round) {
      const int w = 1 + int(rng() % 20), h = 1 + int(rng() % 12);
      std::vector<uint8_t> img(32 + size_t(h) * ((w * bpp + 15) & ~15));
      ImageBuffer* made = nullptr;
      const bool full = round % 2;
      if (full) {
        made = Make(w, h, 0, 0, kNoColour);
        ASSERT_NE(made, nullptr);
        uint8_t* p = reinterpret_cast<uint8_t*>(made) + 32;
        int pitch = int(U32(made, 16));
        for (int i = 0; i < h * pitch; ++i) p[i] = uint8_t(rng());
      } else {
        img = Packed(w, h, RandomBytes(size_t(w) * h * bpp, rng()), bpp);
      }
      const void* src = full ? static_cast<const void*>(made) : img.data();
      const uint8_t* pixels = static_cast<const uint8_t*>(src) + (full ? 32 : 4);
      const int pitch = full ? int(U32(made, 16)) : w * bpp;
      const int x = int(rng() % 70) - 25, y = int(rng() % 50) - 18;
      const int mode = (rng() & 1) ? RasterMode::Or : RasterMode::Xor;
      int sx1 = kOmitted, sy1 = 0, sx2 = 0, sy2 = 0;
      int ox = 0, oy = 0, dw = w, dh = h;
      if (rng() % 3 == 0) {
        sx1 = int(rng() % 30) - 5, sy1 = int(rng() % 20) - 5;
        sx2 = int(rng() % 30) - 5, sy2 = int(rng() % 20) - 5;
        int a = std::clamp(std::min(sx1, sx2), 0, w - 1), b = std::clamp(std::max(sx1, sx2), 0, w - 1);
        int c = std::clamp(std::min(sy1, sy2), 0, h - 1), d = std::clamp(std::max(sy1, sy2), 0, h - 1);
        ox = a, oy = c, dw = b - a + 1, dh = d - c + 1;
      }
      for (size_t i = 0; i < size_t(S().pitch) * S().height; ++i) Page(1)[i] = uint8_t(rng());
      std::vector<uint8_t> expect = Copy();
      for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
          int tx = x + i, ty = y + j;
          if (tx < 0 || ty < 0 || tx >= 37 || ty >= 23) continue;
          for (int k = 0; k < bpp; ++k) {
            uint8_t s = pixels[(oy + j) * pitch + (ox + i) * bpp + k];
            uint8_t& d = expect[size_t(ty) * S().pitch + size_t(tx) * bpp + k];
            d = mode == RasterMode::Or ? uint8_t(d | s) : uint8_t(d ^ s);
          }
        }
      ASSERT_EQ(PutImage(nullptr, float(x), float(y), src, sx1, sy1, sx2, sy2, 0, mode), 0);
      ASSERT_EQ(Copy(), expect) << "depth " << depth << " round " << round;
    }
  }
}

// ---------------------------------------------------------------------------
// Blit routine sets
// ---------------------------------------------------------------------------

TEST_F(ImageTest, BlitTablesAreCachedPerModeAndEmptiedOnRebuild) {
  Open(16, 16);
  auto tile = Packed(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(gLayer.draw.blitCache[RasterMode::Xor], nullptr);
  ASSERT_EQ(Put(0, 0, tile.data(), RasterMode::Xor), 0);
  const BlitTable* expected = draw_detail::HaveWideUnits() ? draw_detail::WideBlitTable(5)
                                                           : draw_detail::PlainBlitTable(5);
  EXPECT_EQ(gLayer.draw.blitCache[RasterMode::Xor], expected);
  EXPECT_EQ(gLayer.draw.blitCache[RasterMode::Or], nullptr);
  Open(16, 16);
  EXPECT_EQ(gLayer.draw.blitCache[RasterMode::Xor], nullptr);
}

TEST(BlitRoutines, BothUnitSetsEqualAByteWiseReference) {
  std::mt19937 rng(2024);
  for (int mode : {RasterMode::Or, RasterMode::Xor}) {
    const BlitTable* plain = draw_detail::PlainBlitTable(mode);
    const BlitTable* wide = draw_detail::WideBlitTable(mode);
    for (int bpp : {1, 2, 4}) {
      ASSERT_NE(plain->byPixelSize[bpp], nullptr);
      ASSERT_NE(wide->byPixelSize[bpp], nullptr);
      ASSERT_NE(plain->byPixelSize[bpp], wide->byPixelSize[bpp]);
      for (int round = 0; round < 400; ++round) {
        const int w = int(rng() % 41), h = 1 + int(rng() % 6);
        const int srcOff = int(rng() % 16), dstOff = int(rng() % 16);
        const int srcPitch = w * bpp + int(rng() % 9), dstPitch = w * bpp + int(rng() % 9);
        std::vector<uint8_t> src = RandomBytes(size_t(srcOff + srcPitch * h + 8), rng());
        std::vector<uint8_t> base = RandomBytes(size_t(dstOff + dstPitch * h + 8), rng());
        std::vector<uint8_t> ref = base;
        for (int y = 0; y < h; ++y)
          for (int i = 0; i < w * bpp; ++i) {
            uint8_t s = src[size_t(srcOff + y * srcPitch + i)];
            uint8_t& d = ref[size_t(dstOff + y * dstPitch + i)];
            d = mode == RasterMode::Or ? uint8_t(d | s) : uint8_t(d ^ s);
          }
        for (const BlitTable* t : {plain, wide}) {
          std::vector<uint8_t> dst = base;
          t->byPixelSize[bpp](src.data() + srcOff, dst.data() + dstOff, w, h, srcPitch, dstPitch,
                              -1, nullptr, nullptr);
          ASSERT_EQ(dst, ref) << "mode " << mode << " bpp " << bpp << " w " << w
                              << (t == plain ? " plain" : " wide");
        }
      }
    }
  }
}

TEST(BlitRoutines, OnlyOrXorAndTheAlphaByteCaseHaveRoutines) {
  for (int mode = 0; mode < 10; ++mode) {
    for (const BlitTable* t : {draw_detail::PlainBlitTable(mode), draw_detail::WideBlitTable(mode)}) {
      EXPECT_EQ(t->byPixelSize[3], nullptr);
      EXPECT_EQ(t->byPixelSize[0], nullptr);
      const bool orXor = mode == 4 || mode == 5;
      EXPECT_EQ(t->byPixelSize[1] != nullptr, orXor) << mode;
      EXPECT_EQ(t->byPixelSize[2] != nullptr, orXor) << mode;
      EXPECT_EQ(t->byPixelSize[4] != nullptr, orXor || mode == 6) << mode;
    }
  }
}

}  // namespace
