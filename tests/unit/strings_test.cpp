// String operations on byte strings: Len, Blanks, StrCompare, StrAssign,
// InStr, each against a plain reference on random inputs.
#include <gtest/gtest.h>

#include <random>

#include "screen.h"

namespace {

KeyString Bytes(std::initializer_list<int> bytes) {
  KeyString s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Random byte string of length 0..maxLen over the first `alphabet` bytes of
// a set that includes 0, 255 and bytes above 127 (signedness traps).
KeyString RandomString(std::mt19937& rng, int maxLen, int alphabet) {
  static const uint8_t kBytes[] = {'a', 'b', 255, 0, 'c', 128, 127, 1, 200, ' '};
  std::uniform_int_distribution<int> len(0, maxLen), pick(0, alphabet - 1);
  KeyString s(static_cast<size_t>(len(rng)), '\0');
  for (char& c : s) c = static_cast<char>(kBytes[pick(rng)]);
  return s;
}

int RefCompare(const KeyString& a, const KeyString& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x < y) return -1;
    if (x > y) return 1;
  }
  if (a.size() < b.size()) return -1;
  if (a.size() > b.size()) return 1;
  return 0;
}

int RefInStr(int start, const KeyString& s, const KeyString& p) {
  const int n = static_cast<int>(s.size()), m = static_cast<int>(p.size());
  if (n == 0 || m == 0 || start < 1 || start > n || m > n) return 0;
  for (int at = start - 1; at + m <= n; ++at) {
    bool same = true;
    for (int k = 0; k < m && same; ++k) same = s[at + k] == p[k];
    if (same) return at + 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------

TEST(Len, CountsBytesIncludingZeroBytes) {
  EXPECT_EQ(Len(""), 0);
  EXPECT_EQ(Len("123"), 3);
  EXPECT_EQ(Len(Bytes({255, 0, 'k'})), 3);
}

TEST(Blanks, NoneBelowOne) {
  EXPECT_EQ(Blanks(0), "");
  EXPECT_EQ(Blanks(-1), "");
  EXPECT_EQ(Blanks(static_cast<int32_t>(0x80000000u)), "");
}

TEST(Blanks, ThatManyBlanks) {
  EXPECT_EQ(Blanks(1), " ");
  for (int n = 1; n < 300; n += 37) {
    const KeyString s = Blanks(n);
    ASSERT_EQ(Len(s), n);
    for (char c : s) ASSERT_EQ(c, ' ');
  }
}

TEST(StrCompare, Examples) {
  EXPECT_EQ(StrCompare(Bytes({27}), "\x1b"), 0);
  EXPECT_EQ(StrCompare("a", "ab"), -1);
  EXPECT_EQ(StrCompare("ab", "a"), 1);
  EXPECT_EQ(StrCompare("", ""), 0);
  EXPECT_EQ(StrCompare("", "a"), -1);
  EXPECT_EQ(StrCompare("b", "ab"), 1);
  // Bytes compare unsigned: 255 is above every other byte.
  EXPECT_EQ(StrCompare(Bytes({255, 'H'}), "9"), 1);
  EXPECT_EQ(StrCompare(Bytes({0}), ""), 1);
}

TEST(StrCompare, MatchesReferenceOnRandomStrings) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 20000; ++i) {
    const int alphabet = 1 + i % 10;
    const KeyString a = RandomString(rng, 6, alphabet), b = RandomString(rng, 6, alphabet);
    ASSERT_EQ(StrCompare(a, b), RefCompare(a, b)) << i;
    ASSERT_EQ(StrCompare(b, a), -RefCompare(a, b)) << i;
  }
}

TEST(StrAssign, CopiesTheValue) {
  KeyString var = "old";
  const KeyString value = Bytes({255, 0, 'k'});
  StrAssign(var, value);
  EXPECT_EQ(var, value);
  var[0] = 'x';  // a copy: the value is untouched
  EXPECT_EQ(static_cast<uint8_t>(value[0]), 255);
  StrAssign(var, "");
  EXPECT_EQ(var, "");
}

TEST(StrAssign, ToItself) {
  KeyString var = "same";
  StrAssign(var, var);
  EXPECT_EQ(var, "same");
}

TEST(InStr, Examples) {
  EXPECT_EQ(InStr(1, "123", ""), 0);
  EXPECT_EQ(InStr(1, "123", " "), 0);
  EXPECT_EQ(InStr(1, "123", Bytes({255, 'H'})), 0);
  EXPECT_EQ(InStr(1, "123", Bytes({255, 'k'})), 0);
  EXPECT_EQ(InStr(1, "123", "2"), 2);
  EXPECT_EQ(InStr(1, "123456789", "5"), 5);
  EXPECT_EQ(InStr(1, "123", "23"), 2);
  EXPECT_EQ(InStr(3, "123", "23"), 0);
  EXPECT_EQ(InStr(1, "", "1"), 0);
  EXPECT_EQ(InStr(0, "123", "1"), 0);
  EXPECT_EQ(InStr(4, "123", "3"), 0);
  EXPECT_EQ(InStr(1, "12", "123"), 0);
  EXPECT_EQ(InStr(2, "abcabc", "abc"), 4);
  EXPECT_EQ(InStr(1, "aaaa", "aa"), 1);
  EXPECT_EQ(InStr(2, "aaaa", "aa"), 2);
  EXPECT_EQ(InStr(1, Bytes({'x', 0, 'y', 0, 'z'}), Bytes({0, 'z'})), 4);
}

TEST(InStr, MatchesReferenceOnRandomInputs) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> startPick(-2, 40);
  for (int i = 0; i < 60000; ++i) {
    const int alphabet = 1 + i % 4;  // small alphabets: many partial matches
    const KeyString s = RandomString(rng, 32, alphabet);
    const KeyString p = RandomString(rng, i % 3 == 0 ? 2 : 7, alphabet);
    const int start = startPick(rng);
    ASSERT_EQ(InStr(start, s, p), RefInStr(start, s, p))
        << "case " << i << " start " << start << " len s " << s.size() << " len p " << p.size();
  }
}

TEST(InStr, PeriodicAndLongPatterns) {
  // Good-suffix shifts matter on periodic patterns; take every start.
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const KeyString unit = RandomString(rng, 3, 2) + "a";
    KeyString p, s;
    const int reps = 1 + i % 5;
    for (int r = 0; r < reps; ++r) p += unit;
    p += RandomString(rng, 2, 2);
    s = RandomString(rng, 10, 3);
    for (int r = 0; r < 3; ++r) s += unit + RandomString(rng, 2, 2);
    s += p + RandomString(rng, 5, 2);
    for (int start = 1; start <= Len(s); ++start)
      ASSERT_EQ(InStr(start, s, p), RefInStr(start, s, p)) << i << " start " << start;
  }
}

TEST(InStr, FindsEveryOccurrenceInTurn) {
  const KeyString s = "abababcabababcab";
  const KeyString p = "ababc";
  std::vector<int> found;
  for (int at = InStr(1, s, p); at != 0; at = at < Len(s) ? InStr(at + 1, s, p) : 0)
    found.push_back(at);
  EXPECT_EQ(found, (std::vector<int>{3, 10}));
}

}  // namespace
