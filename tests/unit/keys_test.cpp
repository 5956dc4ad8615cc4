// Keys: InKey from the console (a pipe) and a Screen's window ring, console key records, TranslateKey,
// the key-state table; the clock.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "screen.h"
#include "platform/terminal.h"
#include "backend/vkstate.h"
#include "keys.h"
#include "testing.h"

using namespace scr;

namespace {

namespace VK = VirtualKey;
namespace CKS = ControlKeyState;

constexpr KeyCode Ext(int c) { return (c << 8) + 255; }
using Strings = std::vector<KeyString>;
KeyString Ext2(int c) { return KeyString{'\xff', static_cast<char>(c)}; }

ConsoleKeyRecord Press(int ch, int scan, int vk, uint32_t state, int n = 1) { return {true, ch, scan, vk, state, n}; }
ConsoleKeyRecord Release(int ch, int scan, int vk, uint32_t state) { return {false, ch, scan, vk, state, 1}; }

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLayerForTests();
    ASSERT_EQ(pipe(pipe_), 0);
    TermSetConsoleInput(pipe_[0], false);
  }
  void TearDown() override {
    ResetLayerForTests();
    TermSetConsoleInput(-1, false);
    for (int fd : pipe_) close(fd);
  }
  void Type(const KeyString& b) { ASSERT_EQ(write(pipe_[1], b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  // InKey until it gives "" (at most 600 keys).
  static Strings Keys() {
    Strings got;
    for (KeyString k; got.size() < 600 && !(k = InKey()).empty();) got.push_back(k);
    return got;
  }
  int pipe_[2] = {-1, -1};
};

// The console ring keeps the newest 511 keys; a lone ESC is held until the wait is over or the input ends.
TEST_F(KeysTest, ConsoleReadsPipedKeysIntoItsRing) {
  Strings want(506, "7");
  Type(std::string(600, '7') + "6\x1b[A\x1b[24~\x1bOq\xc3\xa9\x1b");  // é is 130 in code page 437
  want.insert(want.end(), {"6", Ext2('H'), Ext2(134), "1", "\x82"});
  EXPECT_EQ(Keys(), want);  // the ESC might start a sequence
  Strings esc;
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
       esc.empty() && std::chrono::steady_clock::now() < end; usleep(1000))
    esc = Keys();
  EXPECT_EQ(esc, Strings{"\x1b"}) << "once the wait is over";
  Type("\x1b");
  close(pipe_[1]);
  pipe_[1] = -1;
  EXPECT_EQ(Keys(), Strings{"\x1b"});  // at the end of input at once
}

// While a Screen is open keys follow a window's rules: Alt+F4, Alt+Q and F10 give nothing.
TEST_F(KeysTest, AScreenReadsItsWindowRingAndNotTheConsoleRing) {
  ASSERT_EQ(ScreenRes(320, 200, 8, 1, -1, 0), 0);
  Type("ab\x1b[1;3S\x1bq\x1b[21~c");
  HandleConsoleKeyRecord(Press('5', 6, '5', 0));  // into the console ring
  EXPECT_EQ(Keys(), (Strings{"a", "b", "c"}));
  ASSERT_EQ(ScreenMode(0), 0);
  EXPECT_EQ(Keys(), Strings{"5"});
}

ConsoleKeyRecord AltPad(int digit, bool down = true) { return {down, 0, 0, VK::Numpad0 + digit, CKS::LeftAlt, 1}; }

// Console key records -> the keys InKey gives; a plain "z" ends each case, to show the ring is read.
TEST_F(KeysTest, ConsoleRecordsRepeatCountsAndAltNumpad) {
  const ConsoleKeyRecord altUp = Release(0, 56, VK::Menu, 0);
  const std::pair<std::vector<ConsoleKeyRecord>, Strings> kCases[] = {
      {{Press(0, 72, VK::Up, CKS::Enhanced, 3)}, {Ext2('H'), Ext2('H'), Ext2('H')}}, {{Press('a', 30, 'A', 0, 0)}, {}},
      {{Press('5', 6, '5', 0), Release('5', 6, '5', 0)}, {"5"}},  // a release posts nothing
      {{Press(0, 56, VK::Menu, CKS::LeftAlt), AltPad(6), AltPad(6, false), AltPad(5), altUp}, {"A"}},
      {{AltPad(4), AltPad(6), AltPad(6), altUp}, {"\xd2"}},  // 466 wraps to 210
      {{AltPad(2), AltPad(5), AltPad(6), altUp}, {KeyString(1, '\0')}},
      {{AltPad(6), Press('x', 45, 'X', CKS::LeftAlt), altUp}, {Ext2(45)}},  // another Alt key clears the number
      {{Press(0, 77, VK::Numpad0 + 6, CKS::LeftAlt | CKS::Shift), altUp}, {}},  // Alt and Shift: no number
      {{AltPad(2), Press(0, 42, VK::Shift, CKS::LeftAlt | CKS::Shift)}, {"\x02"}},  // a press giving no key ends it
  };
  for (const auto& [records, keys] : kCases) {
    for (const ConsoleKeyRecord& r : records) HandleConsoleKeyRecord(r);
    HandleConsoleKeyRecord(Press('z', 44, 'Z', 0));
    Strings want = keys;
    want.push_back("z");
    EXPECT_EQ(Keys(), want) << testing::PrintToString(want);
  }
}

// What terminal bytes cannot reach: right-hand modifiers, the Ctrl column, grey keys, bytes, far scan codes.
TEST(TranslateKey, CasesAndTheKeypadWithNumLockOffAndOn) {
  const uint32_t Alt = CKS::LeftAlt, Ctrl = CKS::LeftCtrl, Shift = CKS::Shift, Enh = CKS::Enhanced;
  const struct { int ch, scan, vk; uint32_t state; KeyCode want; } kCases[] = {
      {0, 59, VK::F1, Shift | CKS::RightCtrl, Ext(94)}, {0, 59, VK::F1, Shift | Ctrl | CKS::RightAlt, Ext(104)},
      {0, 87, VK::F11, Alt, Ext(139)}, {'!', 2, '1', Alt | Shift, '!'}, {0, 3, 0, Ctrl, Ext(3)},
      {9, 15, VK::Tab, Ctrl, Ext(148)}, {1, 30, 'A', Ctrl, 1}, {0, 30, 'A', Ctrl, -1}, {-126, 0, 0, 0, 130},
      {0x100, 0, 0, 0, -1}, {'x', 120, 0, Alt, 'x'}, {'x', -5, 0, Alt, 'x'},
      {0, 1 << 24, 0, Alt, -1}, {0, -(1 << 24), 0, Ctrl, -1}, {0, 76, 0x0C, Shift, -1},
      {0, 83, VK::Delete, CKS::RightCtrl, Ext(147)}, {0, 72, VK::Up, Enh | CKS::RightAlt, Ext(152)},
      {0, 28, VK::Return, Enh | Ctrl, 10}, {0, 28, VK::Return, Enh | Alt, Ext(166)}, {0, 53, VK::Divide, Enh, 47},
      {0, 53, VK::Divide, Enh | Shift, 63}, {0, 53, VK::Divide, Enh | Ctrl, Ext(149)}, {0, 59, VK::F1, Enh, -1},
  };
  for (const auto& c : kCases) EXPECT_EQ(TranslateKey(c.ch, c.scan, c.vk, c.state), c.want) << c.ch << " " << c.scan;
  EXPECT_EQ(TranslateKey('a', 30, 'A', 0, 1), -1);  // enhanced keys only
  EXPECT_EQ(TranslateKey(0, 59, VK::F1, 0, 1), Ext(59));
  // A code is one byte up to 255 (character 255 included), two bytes above.
  EXPECT_EQ(Strings({KeyStringOf(255), KeyStringOf(0x3BFF), KeyStringOf(0)}), Strings({"\xFF", "\xFF;", ""}));
  const int scans[9] = {79, 80, 81, 75, 76, 77, 71, 72, 73};
  const int nav[9] = {VK::End, VK::Down, VK::Next, VK::Left, 0x0C, VK::Right, VK::Home, VK::Up, VK::Prior};
  for (int d = 1; d <= 9; ++d) {
    EXPECT_EQ(KeyStringOf(TranslateKey(0, scans[d - 1], nav[d - 1], 0)), Ext2("OPQKLMGHI"[d - 1]));
    EXPECT_EQ(KeyStringOf(TranslateKey('0' + d, scans[d - 1], VK::Numpad0 + d, 0)), KeyString(1, '0' + d));
  }
}

}  // namespace

// The key-state table from a keyboard state: each key sets its scan code;
// the keypad's two keys and both Shifts share theirs; keys outside the 86
// scan codes (keypad 5 and minus's own codes, Print Screen) set nothing.
// From a device state by scan code, a grey key sets its plain twin.
// One key down, by its virtual key and by its device scan code (grey keys at scan + 128): both
// tables hold the same codes.
TEST(KeyStates, FromVirtualKeysAndFromScanCodes) {
  const struct { int vk, device; std::vector<int> held; } kKeys[] = {
      {VirtualKey::Escape, 1, {1}}, {'A', 30, {30}}, {VirtualKey::Numpad0 + 8, 72, {72}},
      {VirtualKey::Up, 72 + 128, {72}}, {VirtualKey::Subtract, 74, {12}}, {VirtualKey::Divide, 53 + 128, {53}},
      {VirtualKey::Shift, 42, {42, 54}}, {VirtualKey::Shift, 54, {42, 54}}, {VirtualKey::Control, 29 + 128, {29}},
      {VirtualKey::F12, 88, {88}}, {VirtualKey::Apps, 93 + 128, {93}}, {VirtualKey::Numpad0 + 5, 76, {}},
      {VirtualKey::Snapshot, 55 + 128, {}}, {VirtualKey::Pause, 69 + 128, {}},
  };
  for (const auto& c : kKeys) {
    uint8_t vk[256] = {}, device[256] = {}, byVk[128], byDevice[128];
    vk[c.vk] = device[c.device] = 0x80;
    KeyStatesFromVirtualKeys(vk, byVk);
    KeyStatesFromScanCodes(device, byDevice);
    std::vector<int> got, gotByDevice;
    for (int s = 0; s < 128; ++s) {
      if (byVk[s]) got.push_back(s);
      if (byDevice[s]) gotByDevice.push_back(s);
    }
    EXPECT_EQ(got, c.held) << "virtual key " << c.vk;
    EXPECT_EQ(gotByDevice, c.held) << "scan code " << c.device;
  }
}

// Timer counts seconds at the rate of the system's steady clock, in steps finer than the tick
// count's millisecond.
TEST(Clock, TimerCountsSecondsInStepsFinerThanAMillisecond) {
  const auto start = std::chrono::steady_clock::now(), end = start + std::chrono::seconds(1);
  const double first = Timer();
  double step = 1;  // the smallest change seen between two readings
  for (double last = first, now; step >= 1e-3 && std::chrono::steady_clock::now() < end; last = now)
    if ((now = Timer()) > last) step = std::min(step, now - last);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double counted = Timer() - first;
  const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NEAR(counted, real, 0.05 + real / 4);  // wide: a busy machine may stop the test between readings
  EXPECT_LT(step, 1e-3);
}

// WaitFrame paces a loop at the Screen's refresh and sleeps meanwhile: 20 frames at 50 Hz take at
// least 19 periods of wall time, and the thread's processor time is well under it (lower bounds
// only: load can only lengthen the wall time).
TEST(Clock, WaitFramePacesAtTheRefreshAndSleeps) {
  ResetLayerForTests();
  ASSERT_EQ(ScreenRes(64, 48, 8, 1, -1, 50), 0);
  timespec cpu0{}, cpu1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
  const auto start = std::chrono::steady_clock::now();
  for (int frame = 0; frame < 20; ++frame) WaitFrame();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
  const double cpu = double(cpu1.tv_sec - cpu0.tv_sec) + double(cpu1.tv_nsec - cpu0.tv_nsec) * 1e-9;
  EXPECT_GE(wall, 19 * 0.020 - 0.002);
  EXPECT_LT(cpu, wall / 4) << "the wait spins";
  ResetLayerForTests();
}
