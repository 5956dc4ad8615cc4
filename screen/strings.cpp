// strings.cpp - the string operations on byte strings (key strings and literals).
#include <cstdint>
#include <cstring>
#include <vector>

#include "screen.h"

namespace scr {

int32_t Len(const KeyString& s) { return static_cast<int32_t>(s.size()); }

KeyString Blanks(int32_t n) {
  if (n < 1) return KeyString();
  return KeyString(static_cast<size_t>(n), ' ');
}

int32_t StrCompare(const KeyString& a, const KeyString& b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<uint8_t>(a[i]);
    const auto y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() > b.size() ? 1 : -1;
}

void StrAssign(KeyString& var, const KeyString& value) {
  if (&var != &value) var.assign(value.data(), value.size());
}

namespace {

// Boyer-Moore search of p (length >= 2) in s from index `from`; -1 when absent.
// Bad-character rule: shift the last occurrence of the mismatched text byte
// under it. Good-suffix rule: shift the matched suffix onto its next
// occurrence in p (or the longest prefix of p that is a suffix of it).
int64_t BoyerMoore(const uint8_t* s, size_t n, const uint8_t* p, size_t m, size_t from) {
  int64_t last[256];
  for (int64_t& v : last) v = -1;
  for (size_t i = 0; i < m; ++i) last[p[i]] = static_cast<int64_t>(i);

  // suffix[i]: length of the longest substring ending at i that is a suffix of p
  // (computed in linear time, reusing the last suffix match [g+1, f]).
  const int64_t mm = static_cast<int64_t>(m);
  std::vector<int64_t> suffix(m);
  std::vector<size_t> shift(m + 1, m);
  suffix[m - 1] = mm;
  int64_t g = mm - 1, f = 0;
  for (int64_t i = mm - 2; i >= 0; --i) {
    if (i > g && suffix[static_cast<size_t>(i + mm - 1 - f)] < i - g) {
      suffix[static_cast<size_t>(i)] = suffix[static_cast<size_t>(i + mm - 1 - f)];
    } else {
      if (i < g) g = i;
      f = i;
      while (g >= 0 && p[g] == p[g + mm - 1 - f]) --g;
      suffix[static_cast<size_t>(i)] = f - g;
    }
  }
  // shift[j]: how far to move when p[j] mismatched after p[j+1..m-1] matched.
  // Case 2 first: a prefix of p that is also a suffix of it.
  size_t j = 0;
  for (size_t i = m; i-- > 0;) {
    if (suffix[i] == static_cast<int64_t>(i) + 1) {
      for (; j < m - 1 - i; ++j)
        if (shift[j] == m) shift[j] = m - 1 - i;
    }
  }
  // Case 1: the matched suffix occurs elsewhere in p.
  for (size_t i = 0; i + 1 < m; ++i) shift[m - 1 - static_cast<size_t>(suffix[i])] = m - 1 - i;

  size_t at = from;
  while (at + m <= n) {
    int64_t i = static_cast<int64_t>(m) - 1;
    while (i >= 0 && p[i] == s[at + static_cast<size_t>(i)]) --i;
    if (i < 0) return static_cast<int64_t>(at);
    const int64_t bad = i - last[s[at + static_cast<size_t>(i)]];
    const int64_t good = static_cast<int64_t>(shift[static_cast<size_t>(i)]);
    const int64_t step = bad > good ? bad : good;
    at += static_cast<size_t>(step > 0 ? step : 1);
  }
  return -1;
}

}  // namespace

int32_t InStr(int32_t start, const KeyString& s, const KeyString& p) {
  const size_t n = s.size(), m = p.size();
  if (n == 0 || m == 0 || start < 1 || static_cast<size_t>(start) > n || m > n) return 0;
  const size_t from = static_cast<size_t>(start) - 1;
  const auto* sb = reinterpret_cast<const uint8_t*>(s.data());
  const auto* pb = reinterpret_cast<const uint8_t*>(p.data());
  if (m == 1) {
    const void* hit = std::memchr(sb + from, pb[0], n - from);
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - sb) + 1 : 0;
  }
  const int64_t at = BoyerMoore(sb, n, pb, m, from);
  return at < 0 ? 0 : static_cast<int32_t>(at) + 1;
}

}  // namespace scr
