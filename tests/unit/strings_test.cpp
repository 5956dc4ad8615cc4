// InStr, StrCompare and StrAssign against plain references on random byte strings with 0, 255 and bytes above 127.
#include <gtest/gtest.h>

#include <random>

#include "screen.h"

using namespace scr;

namespace {

KeyString RandomString(std::mt19937& rng, int maxLen, int alphabet) {
  static const char kBytes[] = {'a', 'b', '\xff', 0, 'c', '\x80', 127, 1, '\xc8', ' '};
  KeyString s(std::uniform_int_distribution<size_t>(0, maxLen)(rng), '\0');
  for (char& c : s) c = kBytes[std::uniform_int_distribution<int>(0, alphabet - 1)(rng)];
  return s;
}

int PlainInStr(int start, const KeyString& s, const KeyString& p) {
  for (int at = start - 1; start >= 1 && !p.empty() && at + p.size() <= s.size(); ++at)
    if (s.compare(at, p.size(), p) == 0) return at + 1;
  return 0;
}

TEST(Strings, InStrStrCompareAndStrAssignMatchPlainReferences) {
  std::mt19937 rng(99);
  for (int i = 0; i < 60000; ++i) {
    // Small alphabets give many partial matches; long patterns over two bytes are periodic.
    const KeyString s = RandomString(rng, 40, 1 + i % 4), p = RandomString(rng, i % 3 ? 7 : i % 2 ? 2 : 16, 1 + i % 4);
    const int start = std::uniform_int_distribution<int>(-2, 42)(rng);
    ASSERT_EQ(InStr(start, s, p), PlainInStr(start, s, p)) << i << " start " << start;
    const KeyString a = RandomString(rng, 6, 1 + i % 10), b = RandomString(rng, 6, 1 + i % 10);
    const int want = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                  [](char x, char y) { return uint8_t(x) < uint8_t(y); })
                         ? -1 : a == b ? 0 : 1;
    ASSERT_EQ(StrCompare(a, b), want) << i;
    KeyString var = b;
    StrAssign(var, a);
    StrAssign(var, var);
    ASSERT_EQ(var, a) << i;
  }
  EXPECT_EQ(Blanks(3), "   ");
  EXPECT_EQ(Blanks(-1), "");
}

}  // namespace
