// Number input from numbered text files: token rules, error numbers, slots,
// the input context and unreadable paths.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "screen.h"
#include "state.h"

namespace fs = std::filesystem;

namespace {

class FileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAllFiles();
    gLayer.input = InputContext{};
    SetError(0);
    char pattern[] = "/tmp/fileinput_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    CloseAllFiles();
    gLayer.input = InputContext{};
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // One input statement as the programs write it.
  static int32_t Next(int32_t fileNumber) {
    int32_t value = 12345;  // never a result of the cases below
    BeginInput(fileNumber);
    EXPECT_EQ(InputInt(value), 0);
    return value;
  }

  // Reads `count` numbers, then checks that the input is exhausted.
  std::vector<int32_t> ReadNumbers(const std::string& bytes, size_t count) {
    EXPECT_EQ(OpenInput(Write("numbers.txt", bytes), 2, 0, 0, 1, 0), 0);
    std::vector<int32_t> values;
    for (size_t i = 0; i < count; ++i) values.push_back(Next(1));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Next(1), 0) << "input not exhausted";
    EXPECT_EQ(CloseFile(1), 0);
    return values;
  }

  // Every number of `path` reads as 0 and no error remains after the reads.
  static void ExpectReadsAsZero(const std::string& path, int32_t expectedOpenError) {
    EXPECT_EQ(OpenInput(path, 2, 0, 0, 1, 0), expectedOpenError) << path;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Next(1), 0) << path;
    EXPECT_EQ(ErrorNumber(), 0);
    CloseFile(1);
  }

  fs::path dir_;
};

// --- Token rules: file contents -> the numbers read until the end of the file.

struct TokenCase {
  const char* name;
  std::string bytes;
  std::vector<int32_t> numbers;
};
void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

const std::string kDigits70(70, '1');
const std::string kDigits67(67, '7');

const TokenCase kTokenCases[] = {
    {"line_ends_and_comma", "1 2\r\n3,4\n5", {1, 2, 3, 4, 5}},
    {"blanks_around_comma", "  -7  ,8", {-7, 8}},
    {"tabs_are_blanks", "\t4\t\t5\t", {4, 5}},
    {"blank_then_line_end", "1 \n2 \r\n3 \r4", {1, 2, 3, 4}},
    {"carriage_returns_alone", "1\r2\r\r3", {1, 2, 0, 3}},
    {"empty_line_gives_zero", "1\n\n2\r\n\r\n3", {1, 0, 2, 0, 3}},
    {"empty_fields", "1,,2,", {1, 0, 2}},
    {"only_blanks", "   \t ", {}},
    {"float_rounding_half_even", "2.5 3.5 -2.5 0.5 1.5 2.4999", {2, 4, -2, 0, 2, 2}},
    {"exponents", "1e3 1d3 1E2 2D1 .5e1", {1000, 1000, 100, 20, 5}},
    {"float_out_of_range", "3e9 -3e9 1e400 2147483647.5 2147483646.5 -2147483646.5 2147483647.4",
     {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, 2147483646, -2147483646, 2147483647}},
    {"float_not_a_number", "infinite nan. e .", {INT32_MIN, INT32_MIN, 0, 0}},
    {"prefixes", "&HFF &o17 &B101 &17 &H1E &hd &H1D", {255, 15, 5, 15, 30, 13, 29}},
    {"prefix_edges", "& &H &O9 &9 &B102 &H1FFFFFFFF &H100000000", {0, 0, 0, 0, 2, -1, 0}},
    {"prefix_keeps_dot_integer", "&HE.5 &H1D.5 &HFFFFFFFFE", {14, 29, -2}},
    {"hex_needs_prefix", "0x1F", {0}},
    {"decimal_wraps_to_32_bits", "4294967295 4294967296 -4294967296 -4294967295 +6",
     {-1, -1, -1, 1, 6}},
    {"stops_at_first_non_digit", "12abc abc 7-3", {12, 0, 7}},
    {"quoted_blank_kept", "\"1 2\" 3", {1, 3}},
    {"quoted_comma_kept", "\"1,5\",3", {1, 3}},
    {"quote_inside_token", "1\"2 \"\"5", {1, 5}},
    {"quoted_line_end_ends", "\"4\n5", {4, 5}},
    {"limit_70_digits", kDigits70, {-1, 111}},
    {"limit_then_blank_line_end", kDigits67 + " \n5", {-1, 5}},
    {"limit_then_crlf", kDigits67 + "\r\n5", {-1, 5}},
    {"limit_then_comma", kDigits67 + ",5", {-1, 5}},
    {"limit_counts_quoted_bytes", "\"" + std::string(66, ' ') + "98\"", {9, 8}},
    {"byte_order_mark_spoils_first", "\xEF\xBB\xBF" "12 3", {0, 3}},
    {"zero_byte_ends_conversion", std::string("4\0" "5 6", 5), {4, 6}},
};

class TokenRules : public FileInput, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(TokenRules, ReadsExpectedNumbers) {
  const TokenCase& c = GetParam();
  EXPECT_EQ(ReadNumbers(c.bytes, c.numbers.size()), c.numbers);
}

INSTANTIATE_TEST_SUITE_P(Files, TokenRules, ::testing::ValuesIn(kTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Conversions, StrToIntAndStrToDouble) {
  EXPECT_EQ(StrToInt("  -5"), -5);
  EXPECT_EQ(StrToInt(" \t9"), 9);      // the decimal conversion skips any white space ...
  EXPECT_EQ(StrToInt("\t&b11"), 0);    // ... but only spaces come before the "&" check
  EXPECT_EQ(StrToInt("&"), 0);
  EXPECT_EQ(StrToInt(" &b11"), 3);
  EXPECT_EQ(StrToDouble("&HFF"), 255.0);
  EXPECT_EQ(StrToDouble("&HFFFFFFFFFFFFFFFF"), -1.0);  // 64-bit pattern, signed
  EXPECT_EQ(StrToDouble("0x10"), 0.0);
  EXPECT_EQ(StrToDouble("  1d2"), 100.0);
  EXPECT_EQ(StrToDouble("2.5D-1"), 0.25);
  EXPECT_EQ(StrToDouble("   "), 0.0);
}

// --- Put-back room

TEST_F(FileInput, PutBackHoldsFourBytesAndNeverTheEnd) {
  ASSERT_EQ(OpenInput(Write("p.txt", "9"), 2, 0, 0, 1, 0), 0);
  ASSERT_EQ(BeginInput(1), 0);
  for (char c : std::string("4321")) UnreadInputChar(c);
  EXPECT_EQ(ErrorNumber(), 0);
  UnreadInputChar('5');  // no room: refused and lost
  EXPECT_EQ(ErrorNumber(), 3);
  EXPECT_EQ(Next(1), 12349);  // most recently pushed first, then the stream
  // A line end or the length limit met at the end of the file puts nothing back.
  for (const std::string& bytes : {std::string("1\r"), kDigits67, std::string("1 ")}) {
    ASSERT_EQ(CloseFile(1), 0);
    ASSERT_EQ(OpenInput(Write("e.txt", bytes), 2, 0, 0, 1, 0), 0);
    EXPECT_NE(Next(1), 0);
    EXPECT_EQ(ReadInputChar(), -1);
  }
  gLayer.input = InputContext{};  // no slot: put-back moves the text index
  gLayer.input.text = "ab";
  EXPECT_EQ(ReadInputChar(), 'a');
  UnreadInputChar('a');
  EXPECT_EQ(ReadInputChar(), 'a');
}

// --- Error numbers, file numbers and slots

TEST_F(FileInput, MissingFileErrorSequence) {
  EXPECT_EQ(OpenInput((dir_ / "absent.txt").string(), 2, 0, 0, 1, 0), 2);
  EXPECT_EQ(ErrorNumber(), 2);
  EXPECT_EQ(BeginInput(1), 1);
  EXPECT_EQ(ErrorNumber(), 1);
  int32_t v = 99;
  EXPECT_EQ(InputInt(v), 0);
  EXPECT_EQ(ErrorNumber(), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(FreeFile(), 1);  // the failed open left the slot free
}

TEST_F(FileInput, NumbersOutOfRangeAndSpecialSlots) {
  const std::string path = Write("a.txt", "5 6");
  for (int32_t n : {0, -1, 256, INT32_MIN}) EXPECT_EQ(OpenInput(path, 2, 0, 0, n, 0), 1) << n;
  for (int32_t n : {0, -1, -2, 256}) EXPECT_EQ(BeginInput(n), 1) << n;
  for (int32_t n : {0, -1, 256}) EXPECT_EQ(CloseFile(n), 1) << n;
  // Nothing opens the console slot (0) or the reserved one (-1): move files in.
  ASSERT_EQ(OpenInput(path, 2, 0, 0, 1, 0), 0);
  ASSERT_EQ(OpenInput(Write("b.txt", "7"), 2, 0, 0, 2, 0), 0);
  std::swap(gLayer.files[0], gLayer.files[2]);
  std::swap(gLayer.files[1], gLayer.files[3]);
  EXPECT_EQ(Next(0), 5);
  EXPECT_EQ(Next(-1), 7);
  EXPECT_EQ(CloseFile(0), 1);  // the console's slot is never closed here
  EXPECT_EQ(Next(0), 6);
  EXPECT_EQ(CloseFile(-1), 0);
  EXPECT_EQ(BeginInput(-1), 1);
  std::swap(gLayer.files[0], gLayer.files[2]);
}

TEST_F(FileInput, FreeFileFindsLowestFreeNumberAndLeavesError) {
  const std::string path = Write("a.txt", "1");
  EXPECT_EQ(FreeFile(), 1);
  ASSERT_EQ(OpenInput(path, 2, 0, 0, 1, 0), 0);
  EXPECT_EQ(FreeFile(), 2);
  for (int32_t n = 2; n <= 255; ++n) ASSERT_EQ(OpenInput(path, 2, 0, 0, n, 0), 0) << n;
  SetError(7);
  EXPECT_EQ(FreeFile(), 0);
  EXPECT_EQ(ErrorNumber(), 7);
  ASSERT_EQ(CloseFile(40), 0);
  EXPECT_EQ(FreeFile(), 40);
}

TEST_F(FileInput, OpenFillsSlotAndNeverReplacesAnOpenFile) {
  ASSERT_EQ(OpenInput(Write("a.txt", "1 2"), 2, 0, 0, 3, 0), 0);
  const FileSlot& s = gLayer.files[3 + 1];
  EXPECT_EQ(s.mode, 2);
  EXPECT_EQ(s.recordLength, 128);
  EXPECT_EQ(s.access, 3);
  EXPECT_EQ(s.size, 3);
  EXPECT_EQ(Next(3), 1);
  EXPECT_EQ(OpenInput(Write("b.txt", "8 9"), 2, 1, 0, 3, 64), 1);
  EXPECT_EQ(Next(3), 2);
  ASSERT_EQ(OpenInput(Write("CoN", ""), 2, 1, 0, 4, 64), 0);
  EXPECT_EQ(gLayer.files[4 + 1].access, 1);
  EXPECT_EQ(gLayer.files[4 + 1].recordLength, 64);
  EXPECT_EQ(gLayer.files[4 + 1].kind, 0);  // only the bare name "CON" is the console
}

TEST_F(FileInput, CloseTwiceAndReuse) {
  ASSERT_EQ(OpenInput(Write("a.txt", "1 2"), 2, 0, 0, 1, 0), 0);
  EXPECT_EQ(Next(1), 1);  // leaves the "2" put back
  const int fd = fileno(gLayer.files[2].stream);
  EXPECT_EQ(CloseFile(1), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(CloseFile(1), 1);
  EXPECT_EQ(ErrorNumber(), 1);
  ASSERT_EQ(OpenInput(Write("b.txt", "3"), 2, 0, 0, 1, 0), 0);
  EXPECT_EQ(Next(1), 3);  // the put-back byte went with the close
}

TEST_F(FileInput, CloseAllFilesFreesEverySlot) {
  const std::string path = Write("a.txt", "1");
  for (int32_t n : {1, 7, 255}) ASSERT_EQ(OpenInput(path, 2, 0, 0, n, 0), 0);
  ASSERT_EQ(BeginInput(7), 0);
  const int fd = fileno(gLayer.files[7 + 1].stream);
  CloseAllFiles();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the stream itself was closed
  for (int32_t n : {1, 7, 255}) EXPECT_EQ(BeginInput(n), 1) << n;
  EXPECT_EQ(FreeFile(), 1);
  int32_t v = 5;
  InputInt(v);  // still attached to the closed slot: end of input
  EXPECT_EQ(v, 0);
  CloseAllFiles();  // nothing left to do
}

TEST(FileInputEnd, FilesCloseAtProcessEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: nothing registered yet
  EXPECT_EXIT(
      {
        // Registered before the first open, so it runs after the layer's own close.
        std::atexit([] { _exit(gLayer.files[2].ops == nullptr && !gLayer.filesUsed ? 0 : 3); });
        if (OpenInput("/dev/null", 2, 0, 0, 1, 0) != 0) _exit(4);
        std::exit(1);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- The input context

TEST_F(FileInput, ContextStaysAttachedAndPositionsAreKept) {
  ASSERT_EQ(OpenInput(Write("a.txt", "1 2 3"), 2, 0, 0, 1, 0), 0);
  ASSERT_EQ(OpenInput(Write("b.txt", "10 20 30"), 2, 0, 0, 2, 0), 0);
  EXPECT_EQ(Next(1), 1);
  EXPECT_EQ(Next(2), 10);
  EXPECT_EQ(Next(1), 2);        // each file goes on where it stopped
  EXPECT_EQ(Next(9), 3);        // BeginInput(9) fails: still attached to file 1
  EXPECT_EQ(Next(2), 20);
  ASSERT_EQ(BeginInput(1), 0);
  ASSERT_EQ(CloseFile(1), 0);
  EXPECT_EQ(Next(1), 0);        // attached to closed slot 1, never to file 2
  EXPECT_EQ(ErrorNumber(), 0);
}

// --- Paths that cannot be read as text

TEST_F(FileInput, EmptyDirectoryFifoAndMissingPaths) {
  ExpectReadsAsZero(Write("empty.txt", ""), 0);
  ExpectReadsAsZero(dir_.string(), 2);
  ExpectReadsAsZero((dir_ / "no/such/file").string(), 2);
  ExpectReadsAsZero("", 2);
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ExpectReadsAsZero(fifo, 1);  // opens without waiting; its size cannot be measured
}

TEST_F(FileInput, PermissionDenied) {
  const std::string locked = Write("locked.txt", "5");
  fs::create_directory(dir_ / "closed");
  const std::string hidden = Write("closed/a.txt", "5");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(chmod((dir_ / "closed").c_str(), 0), 0);
  for (const std::string& path : {locked, hidden}) {
    const int probe = open(path.c_str(), O_RDONLY);
    if (probe >= 0) {
      close(probe);
      GTEST_SKIP() << "this user reads despite permissions (root)";
    }
    ExpectReadsAsZero(path, 2);
  }
}

TEST_F(FileInput, BinaryBytesReadAsZeros) {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) {
    const int b = (i * 131 + 7) % 256;
    // No digits, signs, prefixes, quotes or letters ("inf", "nan"): nothing can be a number.
    if (isalnum(b) || b == '+' || b == '-' || b == '&' || b == '"') continue;
    bytes.push_back(static_cast<char>(b));
  }
  ASSERT_EQ(OpenInput(Write("bin", bytes), 2, 0, 0, 1, 0), 0);
  // Every statement consumes at least one byte, so this reaches the end.
  for (size_t i = 0; i <= bytes.size(); ++i) ASSERT_EQ(Next(1), 0);
  EXPECT_EQ(ReadInputChar(), -1);
}

TEST_F(FileInput, HugeSparseFilesOpenWithTheirSize) {
  for (int64_t size : {int64_t{1} << 30, int64_t{5} << 30}) {
    const std::string path = Write("big", "42 7\n");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
    ASSERT_EQ(OpenInput(path, 2, 0, 0, 1, 0), 0);
    EXPECT_EQ(gLayer.files[2].size, size);  // 64-bit, not cut to 32
    EXPECT_EQ(Next(1), 42);
    EXPECT_EQ(Next(1), 7);
    EXPECT_EQ(Next(1), 0);  // a run of zero bytes is no number
    EXPECT_EQ(CloseFile(1), 0);
  }
}

}  // namespace
