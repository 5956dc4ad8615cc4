// term_picture.cpp - the terminal picture encoder (see term_picture.h).
#include "backend/term_picture.h"

#include <algorithm>

namespace scr {

namespace termpic {

namespace {

constexpr int32_t kCubeLevels[6] = {0, 95, 135, 175, 215, 255};
// The upper-half-block character in UTF-8.
constexpr char kHalfBlock[] = "\xE2\x96\x80";
constexpr size_t kHalfBlockBytes = 3;
// Longest stretch of unchanged cells rewritten to join two changed runs.
constexpr int32_t kMaxBridge = 8;

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

void AppendNumber(std::string& out, uint32_t v) {
  char buf[10];
  int n = 0;
  do {
    buf[n++] = char('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out.push_back(buf[--n]);
}

size_t Digits(uint32_t v) {
  size_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

int32_t NearestLevel(int32_t v) {
  int32_t best = 0, bestDist = 1 << 30;
  for (int32_t i = 0; i < 6; ++i) {
    int32_t d = v - kCubeLevels[i];
    if (d < 0) d = -d;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

int32_t SquaredDistance(uint32_t a, uint32_t b) {
  int32_t dr = int32_t((a >> 16) & 0xFF) - int32_t((b >> 16) & 0xFF);
  int32_t dg = int32_t((a >> 8) & 0xFF) - int32_t((b >> 8) & 0xFF);
  int32_t db = int32_t(a & 0xFF) - int32_t(b & 0xFF);
  return dr * dr + dg * dg + db * db;
}

// Bytes of the colour code that takes the terminal from (fg, bg) to `cell`.
size_t CodeCost(uint32_t fg, uint32_t bg, uint32_t cellFg, uint32_t cellBg, bool trueColour) {
  bool f = cellFg != fg, b = cellBg != bg;
  if (!f && !b) return 0;
  auto part = [&](uint32_t c) -> size_t {
    if (trueColour)
      return 5 + Digits((c >> 16) & 0xFF) + 1 + Digits((c >> 8) & 0xFF) + 1 + Digits(c & 0xFF);
    return 5 + Digits(c);
  };
  size_t n = 3;  // ESC [ ... m
  if (f) n += part(cellFg);
  if (b) n += part(cellBg);
  if (f && b) n += 1;  // separator
  return n;
}

}  // namespace

Layout ComputeLayout(int32_t width, int32_t height, int32_t termColumns, int32_t termRows) {
  Layout l;
  if (termColumns <= 0 || termRows <= 0) {
    termColumns = 80;
    termRows = 24;
  }
  if (width <= 0 || height <= 0) return l;
  // ceil(w / f) <= C  <=>  f >= w / C;  ceil(ceil(h / f) / 2) <= R  <=>  f >= h / (2R).
  l.factor = std::max({1, CeilDiv(width, termColumns), CeilDiv(height, 2 * termRows)});
  l.columns = CeilDiv(width, l.factor);
  l.rows = CeilDiv(CeilDiv(height, l.factor), 2);
  l.left = (termColumns - l.columns) / 2;
  l.top = (termRows - l.rows) / 2;
  return l;
}

uint32_t MajorityColour(const uint32_t* image, int32_t stride, int32_t x0, int32_t y0, int32_t w,
                        int32_t h, std::vector<uint32_t>& scratch) {
  if (w <= 0 || h <= 0) return 0;
  const uint32_t* origin = image + size_t(y0) * size_t(stride) + size_t(x0);
  const uint32_t first = origin[0];
  bool uniform = true;
  for (int32_t y = 0; y < h && uniform; ++y) {
    const uint32_t* row = origin + size_t(y) * size_t(stride);
    for (int32_t x = 0; x < w; ++x) {
      if (row[x] != first) {
        uniform = false;
        break;
      }
    }
  }
  if (uniform) return first;

  scratch.clear();
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* row = origin + size_t(y) * size_t(stride);
    scratch.insert(scratch.end(), row, row + w);
  }
  std::sort(scratch.begin(), scratch.end());
  // Longest run of equal values; the tied winners are moved to the front.
  size_t best = 0, ties = 0;
  for (size_t i = 0; i < scratch.size();) {
    size_t j = i + 1;
    while (j < scratch.size() && scratch[j] == scratch[i]) ++j;
    size_t run = j - i;
    if (run > best) {
      best = run;
      ties = 0;
    }
    if (run == best) scratch[ties++] = scratch[i];
    i = j;
  }
  if (ties == 1) return scratch[0];
  // Several values share the highest count: the first met in the block wins.
  auto tiedEnd = scratch.begin() + std::ptrdiff_t(ties);
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* row = origin + size_t(y) * size_t(stride);
    for (int32_t x = 0; x < w; ++x)
      if (std::binary_search(scratch.begin(), tiedEnd, row[x])) return row[x];
  }
  return scratch[0];
}

uint32_t Palette256Rgb(int32_t index) {
  if (index >= 16 && index < 232) {
    int32_t i = index - 16;
    return uint32_t(kCubeLevels[i / 36]) << 16 | uint32_t(kCubeLevels[(i / 6) % 6]) << 8 |
           uint32_t(kCubeLevels[i % 6]);
  }
  if (index >= 232 && index < 256) {
    uint32_t g = uint32_t(8 + 10 * (index - 232));
    return g << 16 | g << 8 | g;
  }
  return 0;
}

uint8_t Nearest256(uint32_t rgb) {
  rgb &= 0xFFFFFF;
  int32_t r = NearestLevel(int32_t((rgb >> 16) & 0xFF));
  int32_t g = NearestLevel(int32_t((rgb >> 8) & 0xFF));
  int32_t b = NearestLevel(int32_t(rgb & 0xFF));
  int32_t cube = 16 + 36 * r + 6 * g + b;
  int32_t cubeDist = SquaredDistance(rgb, Palette256Rgb(cube));
  int32_t grey = 232, greyDist = 1 << 30;
  for (int32_t i = 232; i < 256; ++i) {
    int32_t d = SquaredDistance(rgb, Palette256Rgb(i));
    if (d < greyDist) {
      greyDist = d;
      grey = i;
    }
  }
  return uint8_t(greyDist < cubeDist ? grey : cube);
}

void Encoder::Configure(int32_t width, int32_t height, int32_t termColumns, int32_t termRows,
                        bool trueColour) {
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  trueColour_ = trueColour;
  layout_ = ComputeLayout(width_, height_, termColumns, termRows);
  termColumns_ = termColumns > 0 && termRows > 0 ? termColumns : 80;
  shown_.assign(size_t(layout_.columns) * size_t(layout_.rows), Cell{kUnknown, kUnknown});
  next_.assign(size_t(layout_.columns) * size_t(layout_.rows), Cell{0, 0});
  std::fill(std::begin(cacheUsed_), std::end(cacheUsed_), false);
  lastRgb_ = kUnknown;
  Invalidate();
}

void Encoder::Invalidate() { repaint_ = true; }

uint32_t Encoder::TerminalColour(uint32_t rgb) {
  rgb &= 0xFFFFFF;
  if (trueColour_) return rgb;
  if (rgb == lastRgb_) return lastIndex_;
  lastRgb_ = rgb;
  uint32_t slot = (rgb ^ (rgb >> 6) ^ (rgb >> 12) ^ (rgb >> 18)) & 63;
  if (!cacheUsed_[slot] || cacheKey_[slot] != rgb) {
    cacheUsed_[slot] = true;
    cacheKey_[slot] = rgb;
    cacheValue_[slot] = Nearest256(rgb);
  }
  lastIndex_ = cacheValue_[slot];
  return lastIndex_;
}

uint32_t Encoder::BlockColour(const uint32_t* image, int32_t bx, int32_t by) {
  const int32_t f = layout_.factor;
  const int32_t x0 = bx * f, y0 = by * f;
  if (y0 >= height_ || x0 >= width_) return TerminalColour(0);  // below the picture: black
  if (f == 1) return TerminalColour(image[size_t(y0) * size_t(width_) + size_t(x0)]);
  const int32_t w = std::min(f, width_ - x0), h = std::min(f, height_ - y0);
  return TerminalColour(MajorityColour(image, width_, x0, y0, w, h, scratch_));
}

void Encoder::AppendColour(std::string& out, const Cell& cell) {
  const bool f = cell.fg != curFg_, b = cell.bg != curBg_;
  if (!f && !b) return;
  out += "\x1b[";
  auto part = [&](uint32_t c, char layer) {
    out.push_back(layer);
    if (trueColour_) {
      out += "8;2;";
      AppendNumber(out, (c >> 16) & 0xFF);
      out.push_back(';');
      AppendNumber(out, (c >> 8) & 0xFF);
      out.push_back(';');
      AppendNumber(out, c & 0xFF);
    } else {
      out += "8;5;";
      AppendNumber(out, c);
    }
  };
  if (f) part(cell.fg, '3');
  if (f && b) out.push_back(';');
  if (b) part(cell.bg, '4');
  out.push_back('m');
  curFg_ = cell.fg;
  curBg_ = cell.bg;
}

void Encoder::AppendMove(std::string& out, int32_t row, int32_t column) {
  out += "\x1b[";
  AppendNumber(out, uint32_t(row + 1));
  out.push_back(';');
  AppendNumber(out, uint32_t(column + 1));
  out.push_back('H');
}

size_t Encoder::Encode(const uint32_t* image, int32_t firstRow, int32_t lastRow,
                       std::string& out) {
  if (!configured() || layout_.columns <= 0 || image == nullptr) return 0;
  const size_t start = out.size();
  if (repaint_) {
    // Default colours outside the picture; every cell is written afresh.
    out += "\x1b[0m\x1b[2J";
    curFg_ = curBg_ = kDefault;
    std::fill(shown_.begin(), shown_.end(), Cell{kBlank, kDefault});
    firstRow = 0;
    lastRow = height_ - 1;
    repaint_ = false;
  }
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, height_ - 1);
  if (firstRow > lastRow) return out.size() - start;

  const int32_t f = layout_.factor, cols = layout_.columns;
  const int32_t rowFirst = firstRow / (2 * f);
  const int32_t rowLast = std::min(lastRow / (2 * f), layout_.rows - 1);
  for (int32_t r = rowFirst; r <= rowLast; ++r) {
    Cell* next = &next_[size_t(r) * size_t(cols)];
    for (int32_t c = 0; c < cols; ++c) {
      next[c].fg = BlockColour(image, c, 2 * r);
      next[c].bg = BlockColour(image, c, 2 * r + 1);
    }
  }
  for (int32_t r = rowFirst; r <= rowLast; ++r) {
    const Cell* next = &next_[size_t(r) * size_t(cols)];
    Cell* shown = &shown_[size_t(r) * size_t(cols)];
    int32_t c = 0;
    while (c < cols) {
      if (next[c] == shown[c]) {
        ++c;
        continue;
      }
      // A run of changed cells, joined across short unchanged stretches when
      // rewriting them costs less than moving the cursor.
      AppendMove(out, layout_.top + r, layout_.left + c);
      for (;;) {
        AppendColour(out, next[c]);
        out.append(kHalfBlock, kHalfBlockBytes);
        shown[c] = next[c];
        ++c;
        int32_t n = c;
        while (n < cols && n - c <= kMaxBridge && next[n] == shown[n]) ++n;
        if (n >= cols || n - c > kMaxBridge) break;
        if (n == c) continue;
        size_t bridge = 0;
        uint32_t fg = curFg_, bg = curBg_;
        for (int32_t k = c; k < n; ++k) {
          bridge += CodeCost(fg, bg, next[k].fg, next[k].bg, trueColour_) +
                    kHalfBlockBytes;
          fg = next[k].fg;
          bg = next[k].bg;
        }
        const size_t move = 4 + Digits(uint32_t(layout_.top + r + 1)) +
                            Digits(uint32_t(layout_.left + n + 1));
        if (bridge > move) break;
        for (; c < n; ++c) {
          AppendColour(out, next[c]);
          out.append(kHalfBlock, kHalfBlockBytes);
        }
      }
    }
  }
  return out.size() - start;
}

}  // namespace termpic

}  // namespace scr
