// gif.cpp - the GIF writer for recordings: a small one of its own, the same
// in the Linux, Windows and browser builds (none of which then needs a
// library built for it), writing GIF89a with an endless loop, one graphic
// control block a frame (no disposal, so a frame need only hold what
// changed) and LZW with the usual 12-bit code limit.
#include "gif.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace scr {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

// `colours` entries of the palette, then black up to `size`.
void PutTable(std::vector<uint8_t>& out, const uint32_t* palette, int32_t colours, int32_t size) {
  for (int32_t i = 0; i < colours; ++i) {
    out.push_back(uint8_t(palette[i] >> 16));
    out.push_back(uint8_t(palette[i] >> 8));
    out.push_back(uint8_t(palette[i]));
  }
  out.resize(out.size() + 3 * size_t(size - colours), 0);
}

// LZW as GIF uses it: codes of growing width, least significant bit first,
// in blocks of at most 255 bytes. The table of strings is a hash of
// (prefix code, next pixel) -> code.
class LzwEncoder {
 public:
  LzwEncoder(std::vector<uint8_t>& out, int32_t minBits) : out_(out), minBits_(minBits) {
    out_.push_back(uint8_t(minBits));
    blockAt_ = out_.size();
    out_.push_back(0);
    Reset();
    Emit(clear_);
  }

  void Add(uint8_t pixel) {
    if (prefix_ < 0) {
      prefix_ = pixel;
      return;
    }
    const uint32_t key = uint32_t(prefix_) << 8 | pixel;
    size_t h = (key * 2654435761u) >> (32 - kHashBits);
    for (; keys_[h] != kEmpty; h = (h + 1) & (kHashSize - 1))
      if (keys_[h] == key) {
        prefix_ = codes_[h];
        return;
      }
    Emit(uint32_t(prefix_));
    keys_[h] = key;
    codes_[h] = uint16_t(next_++);
    if (next_ > (1u << bits_) && bits_ < 12) ++bits_;  // the decoder widens one code later
    if (next_ == 4096) {  // the table is full: start it again
      Emit(clear_);
      Reset();
    }
    prefix_ = pixel;
  }

  void Finish() {
    if (prefix_ >= 0) Emit(uint32_t(prefix_));
    Emit(clear_ + 1);  // end of information
    if (held_ > 0) Byte(uint8_t(bitBuffer_));
    if (out_[blockAt_] == 0) out_.pop_back();  // no empty block before the terminator
    out_.push_back(0);
  }

 private:
  static constexpr int kHashBits = 13;
  static constexpr size_t kHashSize = size_t(1) << kHashBits;
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;

  void Reset() {
    std::fill(keys_.begin(), keys_.end(), kEmpty);
    clear_ = 1u << minBits_;
    next_ = clear_ + 2;
    bits_ = minBits_ + 1;
  }
  void Emit(uint32_t code) {
    bitBuffer_ |= code << held_;
    held_ += bits_;
    while (held_ >= 8) {
      Byte(uint8_t(bitBuffer_));
      bitBuffer_ >>= 8;
      held_ -= 8;
    }
  }
  void Byte(uint8_t b) {
    if (out_[blockAt_] == 255) {
      blockAt_ = out_.size();
      out_.push_back(0);
    }
    out_.push_back(b);
    ++out_[blockAt_];
  }

  std::vector<uint8_t>& out_;
  const int32_t minBits_;
  size_t blockAt_ = 0;
  std::vector<uint32_t> keys_ = std::vector<uint32_t>(kHashSize);  // on the heap: a browser's stack is small
  std::vector<uint16_t> codes_ = std::vector<uint16_t>(kHashSize);
  uint32_t clear_ = 0, next_ = 0, bitBuffer_ = 0;
  int32_t bits_ = 0, held_ = 0, prefix_ = -1;
};

}  // namespace

int32_t GifWriter::Open(const char* path, int32_t width, int32_t height, int32_t colours) {
  Close(-1);
  if (width < 1 || height < 1 || width > 65535 || height > 65535 || colours < 2 || colours > 256 ||
      (colours & (colours - 1)) != 0)
    return 2;
  file_ = std::fopen(path, "wb");
  if (!file_) return 2;
  width_ = width;
  height_ = height;
  colours_ = colours;
  tableBits_ = 1;  // room for one index more than the colours, for "as before", when there is room
  while ((1 << tableBits_) < (colours < 256 ? colours + 1 : colours)) ++tableBits_;
  last_.clear();
  global_.clear();
  delayAt_ = -1;
  failed_ = false;
  return 0;
}

int32_t GifWriter::Add(const uint8_t* pixels, const uint32_t* palette, int64_t centiseconds) {
  if (!file_ || failed_) return 3;
  const size_t n = size_t(width_) * size_t(height_);
  bool newPalette = shown_.empty() || !std::equal(shown_.begin(), shown_.end(), palette);
  if (!last_.empty() && std::memcmp(last_.data(), pixels, n) == 0) {
    // The same pixels: the same picture unless a colour they use changed.
    bool usedChanged = false;
    for (size_t i = 0; newPalette && !usedChanged && i < n; ++i) usedChanged = shown_[pixels[i]] != palette[pixels[i]];
    if (!usedChanged) return 0;
  }
  if (!last_.empty() && !PatchDelay(centiseconds)) return failed_ = true, 3;
  if (!WriteFrame(pixels, palette, newPalette)) return failed_ = true, 3;
  last_.assign(pixels, pixels + n);
  shown_.assign(palette, palette + colours_);
  lastTime_ = centiseconds;
  return 0;
}

int32_t GifWriter::Close(int64_t centiseconds) {
  if (!file_) return 0;
  bool ok = !failed_;
  if (ok && centiseconds >= 0 && !last_.empty()) ok = PatchDelay(centiseconds);
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok ? 0 : 3;
}

// Sets the last frame's delay to the time from its start to `centiseconds`
// (at least 2: players show shorter delays as 10).
bool GifWriter::PatchDelay(int64_t centiseconds) {
  const int64_t delay = std::clamp<int64_t>(centiseconds - lastTime_, 2, 65535);
  const uint8_t bytes[2] = {uint8_t(delay), uint8_t(delay >> 8)};
  const long end = std::ftell(file_);
  return end >= 0 && std::fseek(file_, delayAt_, SEEK_SET) == 0 && std::fwrite(bytes, 1, 2, file_) == 2 &&
         std::fseek(file_, end, SEEK_SET) == 0;
}

// An index no pixel of the rectangle uses, or -1.
int32_t GifWriter::UnusedIndex(const uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
  bool used[256] = {};
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) used[pixels[size_t(y) * size_t(width_) + size_t(x)]] = true;
  const bool* free = std::find(used, used + 256, false);
  return free == used + 256 ? -1 : int32_t(free - used);
}

bool GifWriter::WriteFrame(const uint8_t* pixels, const uint32_t* palette, bool newPalette) {
  std::vector<uint8_t> out;
  const bool first = last_.empty();
  if (first) {
    global_.assign(palette, palette + colours_);
    out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, uint32_t(width_));
    Put16(out, uint32_t(height_));
    out.push_back(uint8_t(0xF0 | (tableBits_ - 1)));  // a global table, 8-bit colour
    out.push_back(0);
    out.push_back(0);
    PutTable(out, palette, colours_, 1 << tableBits_);
    const uint8_t loop[] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
    out.insert(out.end(), loop, loop + sizeof loop);
  }
  // The rectangle that changed; all of the picture when the colours changed.
  int32_t x0 = 0, y0 = 0, x1 = width_ - 1, y1 = height_ - 1;
  if (!first && !newPalette) {
    const auto rowDiffers = [&](int32_t y) {
      const size_t at = size_t(y) * size_t(width_);
      return std::memcmp(pixels + at, last_.data() + at, size_t(width_)) != 0;
    };
    while (!rowDiffers(y0)) ++y0;  // some row differs: the pictures are not equal
    while (!rowDiffers(y1)) --y1;
    x0 = width_;
    x1 = -1;
    for (int32_t y = y0; y <= y1; ++y) {
      const uint8_t *now = pixels + size_t(y) * size_t(width_), *before = last_.data() + size_t(y) * size_t(width_);
      for (int32_t x = 0; x < x0; ++x)
        if (now[x] != before[x]) x0 = x;
      for (int32_t x = width_ - 1; x > x1; --x)
        if (now[x] != before[x]) x1 = x;
    }
  }
  // Pixels as they were become one index, the transparent one: runs of it
  // cost little, where a scrolled or redrawn picture repeats what it showed.
  int32_t asBefore = -1;
  if (!first && !newPalette) asBefore = colours_ < 256 ? colours_ : UnusedIndex(pixels, x0, y0, x1, y1);
  const bool local = !std::equal(global_.begin(), global_.end(), palette);
  const size_t gce = out.size();
  // "do not dispose", a delay patched later
  const uint8_t control[] = {0x21, 0xF9, 4, uint8_t(asBefore >= 0 ? 0x05 : 0x04), 2, 0, uint8_t(asBefore), 0};
  out.insert(out.end(), control, control + sizeof control);
  out.push_back(0x2C);
  Put16(out, uint32_t(x0));
  Put16(out, uint32_t(y0));
  Put16(out, uint32_t(x1 - x0 + 1));
  Put16(out, uint32_t(y1 - y0 + 1));
  out.push_back(local ? uint8_t(0x80 | (tableBits_ - 1)) : 0);
  if (local) PutTable(out, palette, colours_, 1 << tableBits_);
  LzwEncoder lzw(out, std::max(tableBits_, 2));
  for (int32_t y = y0; y <= y1; ++y) {
    const size_t at = size_t(y) * size_t(width_);
    for (int32_t x = x0; x <= x1; ++x)
      lzw.Add(asBefore >= 0 && pixels[at + x] == last_[at + x] ? uint8_t(asBefore) : pixels[at + x]);
  }
  lzw.Finish();
  out.push_back(0x3B);  // the trailer, overwritten by the next frame
  const long start = std::ftell(file_);
  if (start < 0 || std::fwrite(out.data(), 1, out.size(), file_) != out.size() || std::fflush(file_) != 0 ||
      std::fseek(file_, -1, SEEK_CUR) != 0)
    return false;
  delayAt_ = start + long(gce) + 4;
  return true;
}

uint8_t DeepColourIndex(uint32_t rgb) {
  const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return uint8_t(((r * 5 + 127) / 255) * 42 + ((g * 6 + 127) / 255) * 6 + (b * 5 + 127) / 255);
}

const uint32_t* DeepPalette() {
  static const std::array<uint32_t, 256> kCube = [] {
    std::array<uint32_t, 256> p{};
    for (uint32_t r = 0; r < 6; ++r)
      for (uint32_t g = 0; g < 7; ++g)
        for (uint32_t b = 0; b < 6; ++b) p[r * 42 + g * 6 + b] = (r * 51) << 16 | (g * 255 / 6) << 8 | b * 51;
    return p;
  }();
  return kCube.data();
}

}  // namespace scr
