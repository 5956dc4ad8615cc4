// Terminal keys: decoding, raw mode on a pseudo-terminal restored at exit, on signals and on a hang-up.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <random>
#include <thread>
#include <vector>

#include "screen.h"
#include "platform/terminal.h"
#include "keys.h"

using namespace scr;

namespace {

constexpr KeyCode Ext(int c) { return (c << 8) + 255; }
using Codes = std::vector<KeyCode>;
Codes E(std::initializer_list<int> extended) {
  Codes out(extended);
  for (KeyCode& c : out) c = Ext(c);
  return out;
}

// Decodes `bytes` fed at once or one at a time, then ends the input.
Codes Decode(const std::string& bytes, bool byteByByte = false) {
  TermKeyDecoder d;
  Codes out;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0, step = byteByByte ? 1 : bytes.size(); i < bytes.size(); i += step) d.Feed(data + i, step, out);
  d.Flush(out);
  return out;
}

// Bytes -> keys, fed at once and byte by byte; each ends with the end of input.
TEST(DecodeBytes, Sequences) {
  const std::pair<std::string, Codes> kCases[] = {
      {"\x1b[A\x1b[B\x1b[C\x1b[D\x1bOA\x1bOD", E({72, 80, 77, 75, 72, 75})},  // arrows
      {"\x1b[H\x1b[F\x1bOH\x1bOF\x1b[1~\x1b[4~\x1b[7~\x1b[8~", E({71, 79, 71, 79, 71, 79, 71, 79})},  // Home, End
      {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~\x1b[E\x1b[G", E({82, 83, 73, 81, 76, 76})},  // Ins Del PgUp PgDn, keypad 5
      {"\x1bOP\x1bOQ\x1bOR\x1bOS\x1b[11~\x1b[14~\x1b[[A\x1b[[E", E({59, 60, 61, 62, 59, 62, 59, 63})},
      {"\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~", E({63, 64, 65, 66, 67, 68, 133, 134})},
      {"\x1b[1;5A\x1b[1;2A\x1b[1;3A\x1b[1;5H\x1b[5;5~\x1b[3;3~\x1b[1;2P\x1bO5P\x1b[24;5~\x1b[15;2~\x1b[1;9C",
       E({141, 72, 152, 119, 132, 163, 84, 94, 138, 88, 157})},  // with modifiers
      {"\x1b[1;3S\x1b\x1b[A\x1b\x1bOP", E({'k', 152, 104})},  // Alt+F4 is the close key; ESC as an Alt prefix
      {"\x1b!\x1b\x01\x1bx\x1bX\x1b" "1\x1b\r\x1b\x7f", E({45, 45, 120, 28, 224})},  // Alt + a key (not punctuation)
      {"\x1bOp\x1bOq\x1bOu\x1bOy\x1bOM\x1bOj\x1bOk\x1bOn\x1bOo", {'0', '1', '5', '9', 13, '*', '+', '.', '/'}},
      {"\x1b[I\x1b[O\x1b[?1;2c\x1b[M !!\x1b[99~\x1b[12;40R\x1b[12;4R\x1b[1;5;2A" "7", {'7'}},  // reports: no key
      {"\x1b[<0;10;5M\x1b[<35;1;1M\x1b[<64;2;2M\x1b[<2;3;3m" "7", {'7'}},  // mouse reports: no key
      {std::string("\r\n\t\x7f\x08\x01\x1a\0" "9", 9), {13, 10, 9, 8, 8, 1, 26, '9'}},
      {"\xc3\xa9\xe2\x96\x91\xc2\xa0\xe2\x82\xac\xf0\x9f\x98\x80\x1b\xc3\xa9" "z", {-126, -80, -1, 'z'}},  // UTF-8
      {"\xc3" "a\x80\xbf" "b\xc0\xaf" "c\xed\xa0\x80" "d", {'a', 'b', 'c', 'd'}},  // bad UTF-8
      {"\x1b", {27}}, {"\x1b\x1b", {27, 27}}, {"\x1b\x1bx", {27, Ext(45)}}, {"\x1b[", {Ext(26)}}, {"\x1bO", {Ext(24)}},
      {"\x1b[1;", {}}, {"\x1b[Z", {Ext(15), 9}}, {"6\x1b[A6\x1b", {'6', Ext(72), '6', 27}},
  };
  for (const auto& [bytes, codes] : kCases)
    EXPECT_TRUE(Decode(bytes) == codes && Decode(bytes, true) == codes) << testing::PrintToString(bytes);
}

TEST(DecodeBytes, AsciiIsItselfAndRandomBytesGiveValidCodesAlikeWholeAndByteByByte) {
  for (int c = 1; c < 127; ++c) EXPECT_EQ(Decode(std::string(1, static_cast<char>(c))), Codes{c}) << c;
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 40), pick(0, 5);
  const char* kPieces[] = {"\x1b", "[", "O", ";", "1", "~"};
  for (int i = 0; i < 5000; ++i) {
    std::string bytes;
    for (int k = 0, n = len(rng); k < n; ++k) k % 2 ? bytes += kPieces[pick(rng)] : bytes += char(byte(rng));
    const Codes whole = Decode(bytes);
    for (KeyCode c : whole)  // a character, or an extended key 255 + byte 1..255
      ASSERT_TRUE((c >= -128 && c <= 127 && c != 0) || (c > 255 && (c & 0xFF) == 255 && c <= 0xFFFF))
          << c;
    ASSERT_EQ(Decode(bytes, true), whole) << i;
  }
  // An endless sequence is dropped and decoding goes on.
  EXPECT_EQ(Decode("\x1b[" + std::string(500, '1') + "A7").back(), '7');
}

class PtyReader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0); }
  void TearDown() override { for (int fd : {master_, slave_}) close(fd); }
  bool Canonical() {
    termios t{};
    tcgetattr(slave_, &t);
    return (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
  }
  int master_ = -1, slave_ = -1;
};

volatile int gDepthLimit = INT32_MAX;
int Deep(int depth) {
  volatile char frame[4096];
  frame[0] = char(depth);
  return depth < gDepthLimit ? Deep(depth + 1) + frame[0] : 0;
}

// A child's console reader puts the pty into raw mode (seen from here); ended by a signal, an uncaught
// exception (through std::terminate, whose message follows the restore) or exiting, it leaves the pty as
// it was, writes its restore bytes (at most 255) and ends as it would have anyway.
TEST_F(PtyReader, RawModeRestoredOnSignalsAndAtExit) {
  const struct { int sig; std::string bytes, written; bool throws = false; } kCases[] = {  // sig 0: a normal exit
      {SIGINT, "\x1b[?25h<restored>", "\x1b[?25h<restored>"}, {SIGTERM, std::string(1000, 'x'), std::string(255, 'x')},
      {SIGHUP, "", ""}, {0, "<exit>", "<exit>"}, {SIGABRT, "<thrown>", "<thrown>", true},
      {SIGSEGV, "<overflow>", "<overflow>"}};
  for (const auto& c : kCases) {
    int out[2], go[2];
    ASSERT_TRUE(pipe(out) == 0 && pipe(go) == 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(out[1], STDOUT_FILENO);
      signal(SIGSEGV, SIG_DFL);
      TermSetConsoleInput(slave_, true);
      InKey();
      TermSetRestoreBytes("stale");
      TermSetRestoreBytes(c.bytes.c_str());
      char b;
      if (write(out[1], "r", 1) != 1 || read(go[0], &b, 1) != 1) _exit(3);
      dup2(out[1], STDERR_FILENO);
      if (c.throws) std::thread([] { throw 1; }).join();
      if (c.sig == SIGSEGV) Deep(0);  // a stack overflow (a sanitizer's own handler was put aside above)
      if (c.sig) raise(c.sig);
      std::exit(c.sig ? 4 : 0);
    }
    close(out[1]);
    char b = 0;
    EXPECT_TRUE(read(out[0], &b, 1) == 1 && !Canonical()) << "the console reader did not enter raw mode";
    ASSERT_EQ(write(go[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(c.sig ? WIFSIGNALED(status) && WTERMSIG(status) == c.sig : WIFEXITED(status) && !WEXITSTATUS(status))
        << c.sig << ": status " << status;
    EXPECT_TRUE(Canonical()) << c.sig;
    std::string written;
    char buf[64];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) written.append(buf, size_t(n));
    for (int fd : {out[0], go[0], go[1]}) close(fd);
    const size_t message = written.find("terminate called");
    EXPECT_EQ(written.substr(0, message), c.written) << c.sig;
    EXPECT_EQ(message != std::string::npos, c.throws) << c.sig;
  }
}

}  // namespace
