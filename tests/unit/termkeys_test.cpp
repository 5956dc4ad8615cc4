// The terminal keyboard: byte and escape-sequence decoding, the reader on a
// pseudo-terminal and on pipes, raw mode and its restoring on exit and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "screen.h"
#include "termkeys.h"

namespace {

namespace VK = VirtualKey;
namespace CKS = ControlKeyState;

constexpr KeyCode Ext(int c) { return (c << 8) + 255; }
using Codes = std::vector<KeyCode>;

Codes Decode(const std::string& bytes) {
  TermKeyDecoder d;
  Codes out;
  d.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
  d.Flush(out);
  return out;
}

Codes DecodeByteByByte(const std::string& bytes) {
  TermKeyDecoder d;
  Codes out;
  for (char c : bytes) {
    const uint8_t b = static_cast<uint8_t>(c);
    d.Feed(&b, 1, out);
  }
  d.Flush(out);
  return out;
}

// What a window posts for a key-down (codes above 255) plus its character
// event, for comparison with the terminal path.
Codes WindowPosts(int ch, int scan, int vk, uint32_t state, int character) {
  Codes out;
  const KeyCode code = TranslateKey(ch, scan, vk, state, 0);
  if (code > 255) out.push_back(code);
  if (character) out.push_back(character);
  return out;
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

struct SequenceCase {
  const char* name;
  std::string bytes;
  Codes codes;
};

const SequenceCase kSequences[] = {
    {"up", "\x1b[A", {Ext(72)}},
    {"down", "\x1b[B", {Ext(80)}},
    {"right", "\x1b[C", {Ext(77)}},
    {"left", "\x1b[D", {Ext(75)}},
    {"up_ss3", "\x1bOA", {Ext(72)}},
    {"left_ss3", "\x1bOD", {Ext(75)}},
    {"home_csi", "\x1b[H", {Ext(71)}},
    {"end_csi", "\x1b[F", {Ext(79)}},
    {"home_ss3", "\x1bOH", {Ext(71)}},
    {"end_ss3", "\x1bOF", {Ext(79)}},
    {"home_1", "\x1b[1~", {Ext(71)}},
    {"ins", "\x1b[2~", {Ext(82)}},
    {"del", "\x1b[3~", {Ext(83)}},
    {"end_4", "\x1b[4~", {Ext(79)}},
    {"pgup", "\x1b[5~", {Ext(73)}},
    {"pgdn", "\x1b[6~", {Ext(81)}},
    {"home_7", "\x1b[7~", {Ext(71)}},
    {"end_8", "\x1b[8~", {Ext(79)}},
    {"f1_ss3", "\x1bOP", {Ext(59)}},
    {"f2_ss3", "\x1bOQ", {Ext(60)}},
    {"f3_ss3", "\x1bOR", {Ext(61)}},
    {"f4_ss3", "\x1bOS", {Ext(62)}},
    {"f1_11", "\x1b[11~", {Ext(59)}},
    {"f4_14", "\x1b[14~", {Ext(62)}},
    {"f5", "\x1b[15~", {Ext(63)}},
    {"f6", "\x1b[17~", {Ext(64)}},
    {"f7", "\x1b[18~", {Ext(65)}},
    {"f8", "\x1b[19~", {Ext(66)}},
    {"f9", "\x1b[20~", {Ext(67)}},
    {"f10", "\x1b[21~", {Ext(68)}},
    {"f11", "\x1b[23~", {Ext(133)}},
    {"f12", "\x1b[24~", {Ext(134)}},
    {"linux_f1", "\x1b[[A", {Ext(59)}},
    {"linux_f5", "\x1b[[E", {Ext(63)}},
    {"center", "\x1b[E", {Ext(76)}},
    {"center_linux", "\x1b[G", {Ext(76)}},
    {"shift_tab", "\x1b[Z", {Ext(15), 9}},
    {"ctrl_up", "\x1b[1;5A", {Ext(141)}},
    {"shift_up", "\x1b[1;2A", {Ext(72)}},
    {"alt_up", "\x1b[1;3A", {Ext(152)}},
    {"ctrl_home", "\x1b[1;5H", {Ext(119)}},
    {"ctrl_pgup", "\x1b[5;5~", {Ext(132)}},
    {"alt_del", "\x1b[3;3~", {Ext(163)}},
    {"shift_f1", "\x1b[1;2P", {Ext(84)}},
    {"ctrl_f1_ss3", "\x1bO5P", {Ext(94)}},
    {"alt_f4", "\x1b[1;3S", {CloseKey}},
    {"ctrl_f12", "\x1b[24;5~", {Ext(138)}},
    {"shift_f5", "\x1b[15;2~", {Ext(88)}},
    {"meta_right", "\x1b[1;9C", {Ext(157)}},
    {"alt_prefix_up", "\x1b\x1b[A", {Ext(152)}},
    {"alt_prefix_f1", "\x1b\x1bOP", {Ext(104)}},
    {"kp_0", "\x1bOp", {'0'}},
    {"kp_1", "\x1bOq", {'1'}},
    {"kp_5", "\x1bOu", {'5'}},
    {"kp_9", "\x1bOy", {'9'}},
    {"kp_enter", "\x1bOM", {13}},
    {"kp_mul", "\x1bOj", {'*'}},
    {"kp_add", "\x1bOk", {'+'}},
    {"kp_sub", "\x1bOm", {'-'}},
    {"kp_dot", "\x1bOn", {'.'}},
    {"kp_div", "\x1bOo", {'/'}},
    {"alt_x", "\x1bx", {Ext(45)}},
    {"alt_shift_x", "\x1bX", {Ext(45)}},
    {"alt_1", "\x1b" "1", {Ext(120)}},
    {"alt_enter", "\x1b\r", {Ext(28)}},
    {"alt_backspace", "\x1b\x7f", {Ext(224)}},
    {"alt_bang", "\x1b!", {}},
    {"alt_ctrl_a", "\x1b\x01", {}},
    {"lone_esc", "\x1b", {27}},
    {"esc_esc", "\x1b\x1b", {27, 27}},
    {"esc_esc_x", "\x1b\x1bx", {27, Ext(45)}},
    {"esc_bracket_alone", "\x1b[", {Ext(26)}},
    {"esc_o_alone", "\x1bO", {Ext(24)}},
    {"cut_csi", "\x1b[1;", {}},
    {"focus_report", "\x1b[I\x1b[O", {}},
    {"device_attributes", "\x1b[?1;2c", {}},
    {"mouse_x10", "\x1b[M !!", {}},
    {"unknown_tilde", "\x1b[99~", {}},
    {"plain_cursor_report", "\x1b[12;40R", {}},
    {"cursor_report_small", "\x1b[12;4R", {}},
    {"three_params", "\x1b[1;5;2A", {}},
    {"digits", "123456789", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}},
    {"enter", "\r", {13}},
    {"linefeed", "\n", {10}},
    {"tab", "\t", {9}},
    {"backspace_del", "\x7f", {8}},
    {"backspace_bs", "\x08", {8}},
    {"ctrl_a", "\x01", {1}},
    {"ctrl_z", "\x1a", {26}},
    {"nul", std::string(1, '\0'), {}},
    {"utf8_e_acute", "\xc3\xa9", {static_cast<int8_t>(0x82)}},
    {"utf8_shade", "\xe2\x96\x91", {static_cast<int8_t>(0xB0)}},
    {"utf8_nbsp", "\xc2\xa0", {-1}},
    {"utf8_euro_has_none", "\xe2\x82\xac", {}},
    {"utf8_emoji_has_none", "\xf0\x9f\x98\x80", {}},
    {"utf8_alt_e_acute", "\x1b\xc3\xa9", {}},
    {"bad_utf8_then_a", "\xc3" "a", {'a'}},
    {"stray_continuation", "\x80\xbf" "b", {'b'}},
    {"overlong", "\xc0\xaf" "c", {'c'}},
    {"surrogate", "\xed\xa0\x80" "d", {'d'}},
    {"mixed", "6\x1b[A6\x1b", {'6', Ext(72), '6', 27}},
};

class DecodeSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(DecodeSequence, WholeAndByteByByte) {
  const SequenceCase& c = GetParam();
  EXPECT_EQ(Decode(c.bytes), c.codes);
  EXPECT_EQ(DecodeByteByByte(c.bytes), c.codes);
}

INSTANTIATE_TEST_SUITE_P(Terminal, DecodeSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeBytes, EveryAsciiCharacterIsItself) {
  for (int c = 1; c < 127; ++c) {
    if (c == 27) continue;
    EXPECT_EQ(Decode(std::string(1, static_cast<char>(c))), Codes{c}) << c;
  }
}

TEST(DecodeBytes, SameCodesAsTheWindowPath) {
  // Each terminal form against the key-down + character a window would get.
  EXPECT_EQ(Decode("\x1b[A"), WindowPosts(0, 72, VK::Up, CKS::Enhanced, 0));
  EXPECT_EQ(Decode("\x1b[1;5D"), WindowPosts(0, 75, VK::Left, CKS::Enhanced | CKS::LeftCtrl, 0));
  EXPECT_EQ(Decode("\x1bOP"), WindowPosts(0, 59, VK::F1, 0, 0));
  EXPECT_EQ(Decode("7"), WindowPosts('7', 8, '7', 0, '7'));
  EXPECT_EQ(Decode("\x1bOw"), WindowPosts('7', 71, VK::Numpad0 + 7, 0, '7'));
  EXPECT_EQ(Decode("A"), WindowPosts('A', 30, 'A', CKS::Shift, 'A'));
  EXPECT_EQ(Decode("\x1b"), WindowPosts(27, 1, VK::Escape, 0, 27));
  EXPECT_EQ(Decode("\x1b" "a"), WindowPosts('a', 30, 'A', CKS::LeftAlt, 0));
}

TEST(DecodeBytes, AllInOneFeed) {
  std::string all;
  Codes want;
  for (const SequenceCase& c : kSequences) {
    // Cases that only mean what they mean at the end of input stay out.
    const std::string n = c.name;
    if (n == "lone_esc" || n == "esc_bracket_alone" || n == "esc_o_alone" || n == "cut_csi" ||
        n == "esc_esc" || n == "mixed" || n.rfind("bad_", 0) == 0 || n == "stray_continuation" ||
        n == "overlong" || n == "surrogate")
      continue;
    all += c.bytes;
    want.insert(want.end(), c.codes.begin(), c.codes.end());
  }
  EXPECT_EQ(Decode(all), want);
}

TEST(DecodeBytes, LoneEscWaitsForMoreBytes) {
  TermKeyDecoder d;
  Codes out;
  const uint8_t esc = 27;
  d.Feed(&esc, 1, out, 10.0);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(d.Pending());
  EXPECT_DOUBLE_EQ(d.PendingSince(), 10.0);
  d.FlushStale(10.0 + TermKeyDecoder::kEscWait / 2, out);
  EXPECT_TRUE(out.empty());
  // The rest of the sequence arrives: it was an arrow, not ESC.
  const uint8_t rest[] = {'[', 'B'};
  d.Feed(rest, 2, out, 10.02);
  EXPECT_EQ(out, Codes{Ext(80)});
  EXPECT_FALSE(d.Pending());
}

TEST(DecodeBytes, LoneEscCompletesAfterTheWait) {
  TermKeyDecoder d;
  Codes out;
  const uint8_t esc = 27;
  d.Feed(&esc, 1, out, 5.0);
  d.FlushStale(5.0 + TermKeyDecoder::kEscWait, out);
  EXPECT_EQ(out, Codes{27});
  EXPECT_FALSE(d.Pending());
}

TEST(DecodeBytes, EndlessSequenceIsDroppedAndDecodingGoesOn) {
  std::string junk = "\x1b[";
  junk += std::string(500, '1');
  junk += "A7";
  const Codes got = Decode(junk);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), '7');
}

TEST(DecodeBytes, RandomBytesGiveOnlyValidCodes) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 40), pick(0, 5);
  const char* kPieces[] = {"\x1b", "[", "O", ";", "1", "~"};
  for (int i = 0; i < 5000; ++i) {
    std::string bytes;
    const int n = len(rng);
    for (int k = 0; k < n; ++k) {
      if (k % 2) bytes += kPieces[pick(rng)];
      else bytes.push_back(static_cast<char>(byte(rng)));
    }
    const Codes whole = Decode(bytes);
    for (KeyCode c : whole) {
      const bool character = (c >= 1 && c <= 127) || (c >= -128 && c <= -1);
      const bool extended = c > 255 && (c & 0xFF) == 255 && (c >> 8) >= 1 && (c >> 8) <= 255;
      ASSERT_TRUE(character || extended) << c;
    }
    ASSERT_EQ(DecodeByteByByte(bytes), whole) << i;
  }
}

// ---------------------------------------------------------------------------
// Reader on pipes
// ---------------------------------------------------------------------------

class PipeReader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe(fds_), 0); }
  void TearDown() override {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  void Write(const std::string& s) {
    ASSERT_EQ(write(fds_[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  void CloseWriter() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  static Codes TakeAll(TermKeyReader& r) {
    Codes out;
    for (KeyCode c; r.Take(c);) out.push_back(c);
    return out;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(PipeReader, BytesThenEndOfInput) {
  TermKeyReader reader(fds_[0]);
  Write("66\x1b");
  reader.Poll();
  EXPECT_EQ(TakeAll(reader), (Codes{'6', '6'}));  // the ESC might start a sequence
  EXPECT_FALSE(reader.Ended());
  CloseWriter();
  reader.Poll();
  EXPECT_EQ(TakeAll(reader), Codes{27});
  EXPECT_TRUE(reader.Ended());
  EXPECT_FALSE(reader.HungUp());
  reader.Poll();  // polling past the end is harmless
  EXPECT_EQ(reader.Queued(), 0u);
}

TEST_F(PipeReader, NothingReadyReturnsAtOnce) {
  TermKeyReader reader(fds_[0]);
  for (int i = 0; i < 100; ++i) reader.Poll();
  KeyCode c;
  EXPECT_FALSE(reader.Take(c));
  EXPECT_FALSE(reader.Ended());
}

TEST_F(PipeReader, HeldEscCompletesAfterTheWait) {
  TermKeyReader reader(fds_[0]);
  Write("\x1b");
  reader.Poll();
  EXPECT_EQ(reader.Queued(), 0u);
  std::this_thread::sleep_for(std::chrono::duration<double>(TermKeyDecoder::kEscWait * 1.5));
  reader.Poll();
  EXPECT_EQ(TakeAll(reader), Codes{27});
}

TEST_F(PipeReader, ClosedDescriptorEndsInput) {
  TermKeyReader reader(-1);
  reader.Poll();
  EXPECT_TRUE(reader.Ended());
  TermKeyReader badFd(1000);
  badFd.Poll();
  EXPECT_TRUE(badFd.Ended());
}

TEST_F(PipeReader, ManyBytesAreNotLost) {
  TermKeyReader reader(fds_[0]);
  std::string big;
  for (int i = 0; i < 3000; ++i) big += static_cast<char>('0' + i % 10);
  Write(big);
  CloseWriter();
  Codes got;
  for (int i = 0; i < 100 && !reader.Ended(); ++i) {
    reader.Poll();
    const Codes part = TakeAll(reader);
    got.insert(got.end(), part.begin(), part.end());
  }
  const Codes rest = TakeAll(reader);
  got.insert(got.end(), rest.begin(), rest.end());
  ASSERT_EQ(got.size(), big.size());
  for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(got[i], big[i]);
}

// ---------------------------------------------------------------------------
// Reader on a pseudo-terminal
// ---------------------------------------------------------------------------

class PtyReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(slave_, &t), 0);
    ASSERT_NE(t.c_lflag & ICANON, 0u);  // a fresh pty is canonical
  }
  void TearDown() override {
    TermLeaveRaw();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  void Type(const std::string& s) {
    ASSERT_EQ(write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  // Polls until `count` keys are queued (the pty passes bytes on asynchronously).
  Codes Read(TermKeyReader& r, size_t count) {
    Codes out;
    for (int i = 0; i < 200 && out.size() < count; ++i) {
      r.Poll();
      for (KeyCode c; r.Take(c);) out.push_back(c);
      if (out.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return out;
  }
  tcflag_t SlaveLflag() {
    termios t{};
    tcgetattr(slave_, &t);
    return t.c_lflag;
  }
  int master_ = -1, slave_ = -1;
};

TEST_F(PtyReader, RawModeOnFirstPollAndRestoredAfter) {
  TermKeyReader reader(slave_);
  reader.Poll();
  EXPECT_TRUE(TermIsRaw());
  EXPECT_EQ(SlaveLflag() & (ICANON | ECHO), 0u);
  TermLeaveRaw();
  EXPECT_FALSE(TermIsRaw());
  EXPECT_NE(SlaveLflag() & ICANON, 0u);
  EXPECT_NE(SlaveLflag() & ECHO, 0u);
}

TEST_F(PtyReader, RawModeEnteredAgainAfterSomeoneLeftIt) {
  TermKeyReader reader(slave_);
  reader.Poll();
  TermLeaveRaw();
  EXPECT_NE(SlaveLflag() & ICANON, 0u);
  reader.Poll();
  EXPECT_TRUE(TermIsRaw());
  EXPECT_EQ(SlaveLflag() & ICANON, 0u);
}

TEST_F(PtyReader, RealEscapeSequences) {
  TermKeyReader reader(slave_);
  reader.Poll();  // enter raw mode before typing, as a program does
  Type("\x1b[A\x1bOB\x1b[5~\x1b[1;5C\x1bOP\x1b[24~5\r\x7f\x1bOq\xc3\xa9");
  const Codes want = {Ext(72), Ext(80), Ext(73),  Ext(116), Ext(59),  Ext(134), '5',
                      13,      8,       '1',      static_cast<int8_t>(0x82)};
  EXPECT_EQ(Read(reader, want.size()), want);
}

TEST_F(PtyReader, EnterArrivesAsCarriageReturn) {
  TermKeyReader reader(slave_);
  reader.Poll();
  Type("\r");
  EXPECT_EQ(Read(reader, 1), Codes{13});
}

TEST_F(PtyReader, LoneEscAfterTheWait) {
  TermKeyReader reader(slave_);
  reader.Poll();
  Type("\x1b");
  EXPECT_EQ(Read(reader, 1), Codes{27});
}

TEST_F(PtyReader, NoEchoWhileRaw) {
  TermKeyReader reader(slave_);
  reader.Poll();
  Type("abc");
  EXPECT_EQ(Read(reader, 3), (Codes{'a', 'b', 'c'}));
  pollfd p{master_, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 20), 0) << "typed bytes were echoed";
}

TEST_F(PtyReader, HangUpIsReported) {
  TermKeyReader reader(slave_);
  reader.Poll();
  Type("7");
  EXPECT_EQ(Read(reader, 1), Codes{'7'});
  close(master_);
  master_ = -1;
  for (int i = 0; i < 100 && !reader.Ended(); ++i) {
    reader.Poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(reader.Ended());
  EXPECT_TRUE(reader.HungUp());
}

TEST_F(PtyReader, ConsoleHangUpEndsTheProgram) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(master_);
    TermSetConsoleInput(slave_, true);
    for (int i = 0; i < 2000; ++i) {
      InKey();
      usleep(1000);
    }
    _exit(5);  // still running: the hang-up was missed
  }
  // The child's console is the pty; taking the master away hangs it up.
  close(master_);
  master_ = -1;
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGHUP);
}

TEST_F(PtyReader, NotRawWhenNotAsked) {
  TermKeyReader reader(slave_, false);
  reader.Poll();
  EXPECT_FALSE(TermIsRaw());
  EXPECT_NE(SlaveLflag() & ICANON, 0u);
}

// A child enters raw mode on the pty, sets restore bytes, and is ended by a
// signal: the pty must be back to its settings, the bytes written, and the
// child must end by that same signal.
class SignalRestore : public PtyReader, public ::testing::WithParamInterface<int> {};

TEST_P(SignalRestore, SettingsBackAndSignalStatusKept) {
  const int sig = GetParam();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    if (!TermEnterRaw(slave_)) _exit(3);
    TermSetRestoreBytes("\x1b[?25h<restored>");
    raise(sig);
    _exit(4);  // not reached: the signal ends the child
  }
  close(out[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), sig);
  EXPECT_NE(SlaveLflag() & ICANON, 0u);
  EXPECT_NE(SlaveLflag() & ECHO, 0u);
  std::string written;
  char buf[64];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) written.append(buf, static_cast<size_t>(n));
  close(out[0]);
  EXPECT_EQ(written, "\x1b[?25h<restored>");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalRestore, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(strsignal(info.param)).substr(0, 4) + std::to_string(info.param); });

TEST_F(PtyReader, RestoredAtExit) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!TermEnterRaw(slave_)) _exit(3);
    std::exit(0);  // atexit restores
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(SlaveLflag() & ICANON, 0u);
}

TEST_F(PtyReader, RestoreBytesLimitedAndClearable) {
  std::string longBytes(1000, 'x');
  TermSetRestoreBytes(longBytes.c_str());  // kept, cut to the buffer
  TermSetRestoreBytes(nullptr);
  TermSetRestoreBytes("");
  SUCCEED();
}

}  // namespace
