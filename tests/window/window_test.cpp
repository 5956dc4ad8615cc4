// Window tests: Screens on the SDL back-end under a private Xvfb, checked from
// the X server's side (the window found by its title, geometry, pixels) and
// driven with real X input (xdotool) and close requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "colours.h"
#include "screen.h"
#include "testing.h"
#include "xserver.h"

// Xlib names a type Screen and one KeyCode, as the screen layer does.
#define Screen XlibScreen
#define KeyCode XlibKeyCode
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

using namespace scr;
#undef Screen
#undef KeyCode

// SDL's X11 key handling reads past one of its buffers; libdbus keeps one for good.
extern "C" const char* __asan_default_suppressions() { return "interceptor_via_lib:libSDL2\n"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

bool WaitUntil(const std::function<bool()>& done) {  // 10 s, however slow each check is (ThreadSanitizer)
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (; std::chrono::steady_clock::now() < end; usleep(2000))
    if (done()) return true;
  return false;
}
auto Box(int x0, int y0, int x1, int y1, uint32_t in, uint32_t out = 0) {
  return [=](int x, int y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1 ? in : out; };
}

class WindowTest : public ::testing::Test {
 protected:
  static inline XvfbServer server;  // one per process, stopped at exit

  void SetUp() override {
    std::string error;
    if (server.Name().empty() && !server.Start(XVFB_PROGRAM, &error)) FAIL() << "Xvfb does not start: " << error;
    setenv("DISPLAY", server.Name().c_str(), 1);
    setenv("SCRBK", "SDL", 1);
    unsetenv("SCRSCALE");
    ResetLayerForTests();
    ASSERT_NE(x_ = XOpenDisplay(server.Name().c_str()), nullptr);
  }
  void TearDown() override {
    ResetLayerForTests();
    if (x_) XCloseDisplay(x_);
  }

  Window ProgramWindow() {  // the shown top-level window titled as this program (0 when none)
    Window root, parent, *children = nullptr, found = 0;
    unsigned n = 0;
    XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &n);
    for (unsigned i = 0; i < n; ++i) {
      XTextProperty name{};
      XWindowAttributes a{};
      const bool named = XGetWMName(x_, children[i], &name) &&
                         std::string(reinterpret_cast<char*>(name.value), name.nitems) == "window_test";
      if (named && XGetWindowAttributes(x_, children[i], &a) && a.map_state == IsViewable)
        found = children[i];
      XFree(name.value);
    }
    XFree(children);
    return found;
  }
  void Open(int32_t flags = 0) {  // a 320 x 200 Screen of mode 7, as mapwalk1 opens, and its window
    ASSERT_EQ(ScreenMode(7, 0, 2, flags, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return (win_ = ProgramWindow()) != 0; })) << "no window";
    XSetInputFocus(x_, win_, RevertToPointerRoot, CurrentTime);
    XSync(x_, False);
  }
  std::vector<int> Geometry() {  // x, y on the screen (no window manager: the root is the parent), width, height
    XWindowAttributes a{};
    XGetWindowAttributes(x_, win_, &a);
    return {a.x, a.y, a.width, a.height};
  }
  // Whether the window shows colour(x, y) at every page pixel (from x0, y0), each as scale x scale pixels.
  bool Shows(const std::function<uint32_t(int, int)>& colour, int scale = 1, int x0 = 0, int y0 = 0, int w = 320,
             int h = 200) {
    XImage* img = XGetImage(x_, win_, x0 * scale, y0 * scale, w * scale, h * scale, AllPlanes, ZPixmap);
    bool same = img != nullptr;
    for (int i = 0; same && i < w * h * scale * scale; ++i) {
      const int x = i % (w * scale), y = i / (w * scale);
      same = (XGetPixel(img, x, y) & 0xFFFFFF) == colour(x0 + x / scale, y0 + y / scale);
    }
    if (img) XDestroyImage(img);
    return same;
  }
  std::string Title() {  // the window's UTF-8 title
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* text = nullptr;
    XGetWindowProperty(x_, win_, XInternAtom(x_, "_NET_WM_NAME", False), 0, 256, False,
                       XInternAtom(x_, "UTF8_STRING", False), &type, &format, &n, &after, &text);
    const std::string title(reinterpret_cast<char*>(text), text ? n : 0);
    XFree(text);
    return title;
  }
  void Xdotool(const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()), 0) << args;
  }
  void CloseRequest() {
    XEvent e{};
    e.xclient = {ClientMessage, 0, True, x_, win_, XInternAtom(x_, "WM_PROTOCOLS", False), 32, {}};
    e.xclient.data.l[0] = long(XInternAtom(x_, "WM_DELETE_WINDOW", False));
    XSendEvent(x_, win_, False, NoEventMask, &e);
    XSync(x_, False);
  }
  static std::vector<KeyString> Keys(size_t n) {  // the next n keys, each waited for
    std::vector<KeyString> keys(n);
    for (KeyString& k : keys) WaitUntil([&] { return !(k = InKey()).empty(); });
    return keys;
  }

  Display* x_ = nullptr;  // the test's own connection
  Window win_ = 0;
};

TEST_F(WindowTest, ShowsThePageTitledWithTheProgramNameAndClosesWithTheLockHeld) {
  Open();
  EXPECT_EQ(BackendName(), "SDL");
  for (int32_t c = 0; c < 16; ++c)  // 16 bars of the 16 colours, before the first pass or just after
    DrawLine(nullptr, float(c * 20), 0, float(c * 20 + 19), 199, uint32_t(c), LineShape::FilledBox);
  EXPECT_TRUE(WaitUntil([&] { return Shows([](int x, int) { return ShownRgb(x / 20); }); }));
  EXPECT_EQ(Geometry(), std::vector<int>({(1024 - 320) / 2, (768 - 200) / 2, 320, 200}));
  ClearScreen(0);
  // A page drawn out of sight and copied to the visible one; then colour 0 turned red.
  SetPages(1, 0);
  DrawLine(nullptr, 200, 100, 319, 199, 2, LineShape::FilledBox);
  EXPECT_EQ(PageCopy(1, 0), 0);
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(200, 100, 319, 199, 0x00AA00)); }));
  SetColor(15, 4, 0);
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(200, 100, 319, 199, 0x00AA00, 0xAA0000)); }));
  // An unbalanced unlock is ignored and the lock counted: the Presenter gets it back and shows the change.
  for (int i = 0; i < 2; ++i) LockScreen();
  for (int i = 0; i < 3; ++i) UnlockScreen(1, 0);
  SetColor(15, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(200, 100, 319, 199, 0x00AA00)); }));
  SetPaletteRgb(Colour::Green, 0x12, 0x34, 0x56);  // any colour for a value, shown at once
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(200, 100, 319, 199, 0x123456)); }));
  SetPaletteRgb(Colour::Green, 0, 170, 0);
  LockScreen();  // closing with the screen lock held, then opening again
  LockScreen();
  ScreenMode(0);
  EXPECT_EQ(ProgramWindow(), 0u);
  setenv("SCRSCALE", "2", 1);  // magnified with whole pixels
  Open();
  PutPixel(nullptr, 319, 199, 15);
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(319, 199, 319, 199, 0xFFFFFF), 2); }));
  EXPECT_EQ(Geometry(), std::vector<int>({(1024 - 640) / 2, (768 - 400) / 2, 640, 400}));
  ScreenMode(0);
  setenv("SCRSCALE", "100", 1);  // cut to the largest whole scale that fits the 1024 x 768 desktop
  Open();
  EXPECT_EQ(Geometry(), std::vector<int>({(1024 - 960) / 2, (768 - 600) / 2, 960, 600}));
}

// Text printed on the visible page shows in the window: the full and half blocks, yellow on black,
// in the first five 8 x 8 cells; then a clear takes it away.
TEST_F(WindowTest, PrintedTextShows) {
  Open();
  SetColor(14, 0);
  Print("\xdb\xdc\xdf\xdd\xde");
  const auto blocks = [](int x, int y) {
    const int cell = x / 8, cx = x % 8;
    const bool ink = y < 8 && (cell == 0 || (cell == 1 && y >= 4) || (cell == 2 && y < 4) || (cell == 3 && cx < 4) ||
                               (cell == 4 && cx >= 4));
    return ink ? ShownRgb(14) : 0u;
  };
  EXPECT_TRUE(WaitUntil([&] { return Shows(blocks, 1, 0, 0, 48, 16); }));
  ClearScreen(0);
  EXPECT_TRUE(WaitUntil([&] { return Shows(Box(0, 0, -1, -1, 0), 1, 0, 0, 48, 16); }));
}

// Losing and regaining the focus, and an expose, show the whole page again over what covered it.
TEST_F(WindowTest, FocusAndExposeRedrawThePage) {
  Open();
  DrawLine(nullptr, 0, 0, 319, 199, 4, LineShape::FilledBox);
  const auto red = [](int, int) { return ShownRgb(4); };
  ASSERT_TRUE(WaitUntil([&] { return Shows(red); }));
  GC gc = XCreateGC(x_, win_, 0, nullptr);
  XSetForeground(x_, gc, 0xFFFFFF);
  for (const char* how : {"expose", "focus"}) {
    XFillRectangle(x_, win_, gc, 0, 0, 320, 200);  // the window's pixels spoilt behind the program's back
    XSync(x_, False);
    ASSERT_TRUE(WaitUntil([&] { return Shows([](int, int) { return 0xFFFFFFu; }); })) << how;
    if (how[0] == 'f') {
      XSetInputFocus(x_, DefaultRootWindow(x_), RevertToPointerRoot, CurrentTime);
      XSync(x_, False);
      usleep(100000);
      XSetInputFocus(x_, win_, RevertToPointerRoot, CurrentTime);
    } else {
      XClearArea(x_, win_, 0, 0, 0, 0, True);
    }
    XSync(x_, False);
    EXPECT_TRUE(WaitUntil([&] { return Shows(red); })) << how;
  }
  XFreeGC(x_, gc);
}

// The flags: FullScreen starts full screen; NoSwitch keeps Alt+Enter from switching; Borderless asks
// for no frame (the Motif hints' decorations 0), OnTop to stay above (_NET_WM_STATE_ABOVE);
// HighPriority raises the Presenter thread (a negative nice value where the system lets it: as root).
TEST_F(WindowTest, ScreenFlags) {
  Open(ScreenFlag::FullScreen);
  EXPECT_TRUE(WaitUntil([&] { return Geometry() == std::vector<int>({0, 0, 1024, 768}); }));
  ScreenMode(0);
  XInternAtom(x_, "_MOTIF_WM_HINTS", False);  // as a window manager has it: SDL sets the hints only then
  Open(ScreenFlag::NoSwitch | ScreenFlag::Borderless | ScreenFlag::OnTop | ScreenFlag::HighPriority);
  Xdotool("key alt+Return 7");
  EXPECT_EQ(Keys(1)[0], "7");
  EXPECT_EQ(Geometry()[2], 320) << "Alt+Enter switched";
  auto property = [&](const char* name) {  // the window's property as 32-bit items
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(x_, win_, XInternAtom(x_, name, False), 0, 64, False, AnyPropertyType, &type, &format, &n,
                       &after, &data);
    std::vector<long> items(n);
    for (unsigned long i = 0; i < n && data; ++i) items[i] = reinterpret_cast<long*>(data)[i];
    XFree(data);
    return items;
  };
  const std::vector<long> hints = property("_MOTIF_WM_HINTS"), state = property("_NET_WM_STATE");
  EXPECT_TRUE(hints.size() >= 3 && (hints[0] & 2) && hints[2] == 0) << "framed " << testing::PrintToString(hints);
  EXPECT_NE(std::find(state.begin(), state.end(), long(XInternAtom(x_, "_NET_WM_STATE_ABOVE", False))), state.end());
  const auto lowest = [] {  // the lowest nice value among this process's threads
    int nice = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      std::ifstream stat(task.path() / "stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      std::istringstream rest(text.substr(text.rfind(')') + 2));
      std::string field;
      for (int i = 3; i <= 19 && rest >> field; ++i) {
      }
      nice = std::min(nice, std::atoi(field.c_str()));
    }
    return nice;
  };
  if (geteuid() == 0) {  // raised while the window has the focus, and only then
    EXPECT_TRUE(WaitUntil([&] { return lowest() < 0; })) << "the Presenter's priority is not raised";
    XSetInputFocus(x_, DefaultRootWindow(x_), RevertToPointerRoot, CurrentTime);
    XSync(x_, False);
    EXPECT_TRUE(WaitUntil([&] { return lowest() == 0; })) << "the priority stays raised without the focus";
  }
}

// Modes 2 and 8 show each page row as two window rows.
TEST_F(WindowTest, LineDoubledModesShowEachRowTwice) {
  for (auto [mode, value, rgb] : {std::tuple{2, 1u, 0xFFFFFFu}, {8, 14u, ShownRgb(14)}}) {
    ASSERT_EQ(ScreenMode(mode, 0, 1, 0, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return (win_ = ProgramWindow()) != 0; })) << "no window";
    EXPECT_EQ(Geometry()[3], 400) << mode;
    DrawLine(nullptr, 0, 10, 639, 10, value, LineShape::Line);
    const auto row10 = [rgb](int, int y) { return y == 20 || y == 21 ? rgb : 0u; };
    EXPECT_TRUE(WaitUntil([&] { return Shows(row10, 1, 0, 18, 640, 6); })) << mode;
    ScreenMode(0);
  }
}

// The close button posts the close key and keeps the window. Alt keys, F10,
// Alt+F4 and a close request while Alt is held give nothing, as the 7 after
// them shows; Alt+Enter switches to full screen and back, posting nothing.
TEST_F(WindowTest, CloseButtonAltEnterTitleAndSystemKeys) {
  Open();
  SetTitle("Score \u2665 3");
  EXPECT_TRUE(WaitUntil([&] { return Title() == "Score \u2665 3"; })) << Title();
  CloseRequest();
  Xdotool("key 7");
  EXPECT_EQ(Keys(2), std::vector<KeyString>({Key::Close, "7"}));
  EXPECT_EQ(Title(), "Score \u2665 3");  // the window stays
  Xdotool("keydown alt");
  CloseRequest();
  Xdotool("keyup alt key alt+x F10 alt+F4 alt alt+Return");
  EXPECT_TRUE(WaitUntil([&] { return Geometry() == std::vector<int>({0, 0, 1024, 768}); }))
      << "not full screen " << ::testing::PrintToString(Geometry());
  Xdotool("key alt+Return 7");
  EXPECT_TRUE(WaitUntil([&] { return Geometry()[2] == 320 && Geometry()[3] == 200; })) << "not back to the window";
  EXPECT_EQ(Keys(1)[0], "7");
  EXPECT_EQ(Title(), "Score \u2665 3");  // kept through both switches
  SetTitle("");  // the program's name again, for this Screen and the next
  EXPECT_TRUE(WaitUntil([&] { return Title() == "window_test"; })) << Title();
}

// The pointer as page pixels through the window's scale, full screen's bars and line doubling (-1, -1 off
// the page), its buttons and running wheel count; SetMouse moves it to a page pixel's centre.
TEST_F(WindowTest, MouseThroughScaleBarsAndLineDoubling) {
  std::vector<int32_t> m(4);
  const auto is = [&](std::vector<int32_t> w) {  // x, y (and wheel, buttons), waited for
    return WaitUntil([&] { return GetMouse(m[0], m[1], m[2], m[3]) == 0 && std::equal(w.begin(), w.end(), &m[0]); });
  };
  const struct { const char* scale; int32_t mode, flags; int left, top, s, m; } kViews[] = {
      {"1", 7, 0, 352, 284, 1, 1}, {"2", 7, 0, 192, 184, 2, 1},
      {"1", 7, ScreenFlag::FullScreen, 32, 84, 3, 1}, {"1", 8, 0, 192, 184, 1, 2}};
  for (const auto& v : kViews) {
    setenv("SCRSCALE", v.scale, 1);
    ASSERT_EQ(ScreenMode(v.mode, 0, 1, v.flags, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return (win_ = ProgramWindow()) && Geometry()[0] == (v.flags ? 0 : v.left); }));
    const int w = v.mode == 8 ? 640 : 320, s = v.s, sy = v.s * v.m;  // window pixels a page pixel covers
    for (auto [dx, dy, x, y] : {std::array{w * s - 1, 200 * sy - 1, w - 1, 199}, {-1, 5, -1, -1}, {w * s, 0, -1, -1},
                                {0, 200 * sy, -1, -1}, {0, 0, 0, 0}, {7 * s, 4 * sy - 1, 7, 3}})
      EXPECT_TRUE((Xdotool("mousemove " + std::to_string(v.left + dx) + " " + std::to_string(v.top + dy)), is({x, y})))
          << v.left << " " << dx << "," << dy << ": " << ::testing::PrintToString(m);
    for (auto [args, wheel, buttons] : {std::tuple{"mousedown 1", 0, 1}, {"mousedown 3 mousedown 2", 0, 7},
                                        {"mouseup 1", 0, 6}, {"mouseup 3 mouseup 2 click 4 click 4", 2, 0},
                                        {"click 5", 1, 0}})
      EXPECT_TRUE((Xdotool(args), is({7, 3, wheel, buttons}))) << args << ": " << ::testing::PrintToString(m);
    for (auto [x, y, ex, ey] : {std::array{100, 50, 100, 50}, {kOmitted, 60, 100, 60}, {-5, 999, 0, 199}}) {
      Window r, c;
      int rx = 0, ry = 0, wx, wy;
      unsigned mask;  // hidden over the window, then shown again
      EXPECT_TRUE(SetMouse(x, y, ey == 199) == 0 && is({ex, ey}) &&
                  XQueryPointer(x_, DefaultRootWindow(x_), &r, &c, &rx, &ry, &wx, &wy, &mask) &&
                  rx == v.left + ex * s + s / 2 && ry == v.top + ey * sy + s / 2) << ex << "," << ey << ": " << rx;
    }
    ScreenMode(0);
  }
}

TEST_F(WindowTest, KeysAndTheKeypadWithAndWithoutNumLock) {
  Open();
  auto numLock = [&](bool on) {  // pressed as a user does, until the server's state follows
    auto state = [&] {
      XkbStateRec st{};
      if (XkbGetState(x_, XkbUseCoreKbd, &st) != 0) return false;
      return (st.locked_mods & XkbKeysymToModifiers(x_, XK_Num_Lock)) != 0;
    };
    if (state() != on) Xdotool("key Num_Lock");
    ASSERT_TRUE(WaitUntil([&] { return state() == on; }));
  };
  numLock(true);
  Xdotool("key 1 Escape Up F12 KP_1 KP_5 KP_9");
  numLock(false);
  Xdotool("key KP_End KP_Begin KP_Prior 7");
  const std::string x = "\xFF";
  EXPECT_EQ(Keys(11),
            std::vector<KeyString>({"1", "\x1B", x + "H", x + "\x86", "1", "5", "9", x + "O", x + "L", x + "I", "7"}));
}

// Each named key is the key string its key gives; a held key reads 1 until it is let go.
TEST_F(WindowTest, NamedAndHeldKeys) {
  Open();
  const std::pair<const char*, const KeyString&> kNamed[] = {
      {"Escape", Key::Esc}, {"Return", Key::Enter}, {"Tab", Key::Tab}, {"BackSpace", Key::Backspace},
      {"Up", Key::Up}, {"Down", Key::Down}, {"Left", Key::Left}, {"Right", Key::Right}, {"Home", Key::Home},
      {"End", Key::End}, {"Prior", Key::PgUp}, {"Next", Key::PgDn}, {"Insert", Key::Ins}, {"Delete", Key::Del},
      {"F1", Key::F1}, {"F2", Key::F2}, {"F3", Key::F3}, {"F4", Key::F4}, {"F5", Key::F5}, {"F6", Key::F6},
      {"F7", Key::F7}, {"F8", Key::F8}, {"F9", Key::F9}, {"F11", Key::F11}, {"F12", Key::F12}};
  for (const auto& [name, key] : kNamed) {
    Xdotool(std::string("key ") + name);
    EXPECT_EQ(Keys(1)[0], key) << name;
  }
  Xdotool("key shift+Tab");
  EXPECT_EQ(Keys(2), std::vector<KeyString>({Key::ShiftTab, Key::Tab}));
  for (auto [name, scan] : {std::pair{"Up", Scan::Up}, {"a", Scan::A}, {"space", Scan::Space}}) {
    Xdotool(std::string("keydown ") + name);
    EXPECT_TRUE(WaitUntil([&] { return KeyHeld(scan) == 1; })) << name << " not held";
    EXPECT_EQ(KeyHeld(Scan::Down), 0);
    Xdotool(std::string("keyup ") + name);
    EXPECT_TRUE(WaitUntil([&] { return KeyHeld(scan) == 0; })) << name << " still held";
  }
  // Edges: a tap of a few milliseconds is one press and one release (Shift both codes); a held key's
  // auto-repeat (keys arriving in the ring) is no second press.
  Xdotool("keydown shift keyup shift");
  EXPECT_TRUE(WaitUntil([&] { return KeyReleased(Scan::RightShift) == 1; }));
  EXPECT_EQ(std::vector<int>({KeyPressed(Scan::LeftShift), KeyPressed(Scan::LeftShift), KeyPressed(Scan::RightShift),
                              KeyReleased(Scan::RightShift), KeyPressed(Scan::Z)}),
            std::vector<int>({1, 0, 1, 0, 0}));
  while (!InKey().empty()) {  // the keys typed so far, so that only repeats of c follow
  }
  Xdotool("keydown c");
  EXPECT_TRUE(WaitUntil([&] { return KeyPressed(Scan::C) == 1; }));
  usleep(1200000);
  size_t repeats = 0;
  while (InKey() == "c") ++repeats;
  EXPECT_GT(repeats, 2u);
  EXPECT_EQ(KeyPressed(Scan::C), 0);
  Xdotool("keyup c");
  EXPECT_TRUE(WaitUntil([&] { return KeyReleased(Scan::C) == 1; }));
}

}  // namespace
