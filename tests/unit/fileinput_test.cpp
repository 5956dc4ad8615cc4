// Number input from text files: token rules, conversions, error numbers, the input context, odd paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "screen.h"
#include "testing.h"

using namespace scr;

namespace {

class FileInput : public ::testing::Test {
 protected:
  void SetUp() override { ResetLayerForTests(); }
  void TearDown() override {
    ResetLayerForTests();
    for (const char* name : {"numbers.txt", "absent.txt", "a.txt", "b.txt", "c.txt", "empty.txt", "fifo"})
      unlink((dir_ + name).c_str());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
    return dir_ + name;
  }
  // One input statement as the programs write it.
  static int32_t Next(int32_t fileNumber) {
    int32_t value = 12345;  // never a result of the cases below
    BeginInput(fileNumber);
    EXPECT_EQ(InputInt(value), 0);
    return value;
  }
  const std::string dir_ = testing::TempDir() + "fileinput_test_" + std::to_string(getpid()) + "_";
};

// File contents -> the numbers read; after them the input reads as zeros.
TEST_F(FileInput, TokenRules) {
  const std::string k67(67, '7');
  const int32_t kMin = INT32_MIN;
  const struct { std::string bytes; std::vector<int32_t> numbers; } kCases[] = {
      {"1 2\r\n3,4\n5", {1, 2, 3, 4, 5}}, {"  -7  ,8", {-7, 8}}, {"\t4\t\t5\t", {4, 5}}, {"   \t ", {}},
      {"1 \n2 \r\n3 \r4", {1, 2, 3, 4}}, {"1\r2\r\r3", {1, 2, 0, 3}}, {"1\n\n2\r\n\r\n3", {1, 0, 2, 0, 3}},
      {"1,,2,", {1, 0, 2}}, {"2.5 3.5 -2.5 0.5 1.5 2.4999", {2, 4, -2, 0, 2, 2}},  // floats round half to even
      {"1e3 1d3 1E2 2D1 .5e1", {1000, 1000, 100, 20, 5}}, {"infinite nan. e .", {kMin, kMin, 0, 0}},
      {"3e9 -3e9 1e400 2147483647.5 2147483646.5 -2147483646.5 2147483647.4",
       {kMin, kMin, kMin, kMin, 2147483646, -2147483646, 2147483647}},
      {"&HFF &o17 &B101 &17 &H1E &hd &H1D", {255, 15, 5, 15, 30, 13, 29}}, {"0x1F", {0}},
      {"& &H &O9 &9 &B102 &H1FFFFFFFF &H100000000", {0, 0, 0, 0, 2, -1, 0}}, {"&HE.5 &H1D.5 &HFFFFFFFFE", {14, 29, -2}},
      {"4294967295 4294967296 -4294967296 -4294967295 +6", {-1, -1, -1, 1, 6}}, {"12abc abc 7-3", {12, 0, 7}},
      {"\"1 2\" 3", {1, 3}}, {"\"1,5\",3", {1, 3}}, {"1\"2 \"\"5", {1, 5}}, {"\"4\n5", {4, 5}},  // quotes
      {std::string(70, '1'), {-1, 111}}, {k67 + " \n5", {-1, 5}}, {k67 + "\r\n5", {-1, 5}},  // the length limit
      {k67 + ",5", {-1, 5}}, {k67, {-1}}, {"\"" + std::string(66, ' ') + "98\"", {9, 8}},
      {"\xEF\xBB\xBF" "12 3", {0, 3}}, {std::string("4\0" "5 6", 5), {4, 6}},
      {"\x01\x02!#$%()*/:;<=>?@[]^_{|}~\x7f\x80\xfe\xff", {0, 0, 0, 0}},
  };
  for (const auto& c : kCases) {
    ASSERT_EQ(OpenInput(Write("numbers.txt", c.bytes), 2, 0, 0, 1, 0), 0);
    std::vector<int32_t> got;
    for (size_t i = 0; i < c.numbers.size() + 2; ++i) got.push_back(Next(1));
    std::vector<int32_t> want = c.numbers;
    want.insert(want.end(), {0, 0});
    EXPECT_EQ(got, want) << c.bytes;
    EXPECT_EQ(ErrorNumber(), 0);
    EXPECT_EQ(CloseFile(1), 0);
  }
}

TEST(Conversions, StrToIntAndStrToDouble) {
  // The decimal conversion skips any white space, but only spaces come before the "&" check.
  const std::pair<const char*, int32_t> kInts[] = {{"  -5", -5}, {" \t9", 9}, {"\t&b11", 0}, {"&", 0}, {" &b11", 3}};
  for (const auto& [token, want] : kInts) EXPECT_EQ(StrToInt(token), want) << token;
  const std::pair<const char*, double> kDoubles[] = {{"&HFF", 255}, {"&HFFFFFFFFFFFFFFFF", -1}, {"0x10", 0},
                                                     {"  1d2", 100}, {"2.5D-1", 0.25}, {"   ", 0}};
  for (const auto& [token, want] : kDoubles) EXPECT_EQ(StrToDouble(token), want) << token;
}

TEST_F(FileInput, ErrorNumbersFileNumbersAndTheInputContext) {
  EXPECT_EQ(OpenInput(dir_ + "absent.txt", 2, 0, 0, 1, 0), 2);
  EXPECT_TRUE(BeginInput(1) == 1 && ErrorNumber() == 1);
  EXPECT_EQ(FreeFile(), 1);  // the failed open left the number free
  const std::string path = Write("a.txt", "1 2 3");
  for (int32_t n : {0, -1, 256, INT32_MIN}) EXPECT_EQ(OpenInput(path, 2, 0, 0, n, 0), 1) << n;
  for (int32_t n : {0, -1, -2, 256}) EXPECT_TRUE(BeginInput(n) == 1 && CloseFile(n) == 1) << n;
  ASSERT_EQ(OpenInput(path, 2, 0, 0, 1, 0), 0);
  ASSERT_EQ(OpenInput(Write("b.txt", "10 20 30"), 2, 0, 0, 2, 0), 0);
  EXPECT_EQ(OpenInput(Write("c.txt", "8 9"), 2, 1, 0, 2, 64), 1);  // never replaces an open file
  EXPECT_EQ(FreeFile(), 3);
  std::vector<int32_t> got;
  for (int32_t n : {1, 2, 1, 9, 2}) got.push_back(Next(n));  // 9 fails: still attached to file 1
  EXPECT_EQ(got, (std::vector<int32_t>{1, 10, 2, 3, 20}));  // each file goes on where it stopped
  EXPECT_EQ(CloseFile(2), 0);
  EXPECT_TRUE(CloseFile(2) == 1 && ErrorNumber() == 1);
  ASSERT_EQ(OpenInput(dir_ + "c.txt", 2, 0, 0, 2, 0), 0);
  EXPECT_EQ(Next(2), 8);  // what file 2 had read ahead went with its close
  ASSERT_EQ(BeginInput(2), 0);
  CloseAllFiles();
  for (int32_t n : {1, 2}) EXPECT_EQ(BeginInput(n), 1) << n;
  EXPECT_EQ(FreeFile(), 1);
  EXPECT_EQ(Next(1), 0);  // attached to closed file 2, never to another
}

// Paths that cannot be read as text: every number reads as 0, no error after.
TEST_F(FileInput, EmptyDirectoryFifoAndMissingPaths) {
  ASSERT_EQ(mkfifo((dir_ + "fifo").c_str(), 0600), 0);
  const std::pair<std::string, int32_t> kCases[] = {
      {Write("empty.txt", ""), 0}, {testing::TempDir(), 2}, {dir_ + "no/such", 2}, {"", 2},
      {dir_ + "fifo", 1}};  // a fifo opens without waiting; its size cannot be measured
  for (const auto& [path, openError] : kCases) {
    EXPECT_EQ(OpenInput(path, 2, 0, 0, 1, 0), openError) << path;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Next(1), 0) << path;
    EXPECT_EQ(ErrorNumber(), 0);
    CloseFile(1);
  }
}

}  // namespace
