// wine_test.cpp - the Windows build (make windows) under Wine, each case with
// a private Xvfb: headless runs with piped keys and their SCRSHOT, the
// console left bright white on blue (in tmux), each back-end's window frames
// against the reference frames for the same keys, its close button and ESC,
// the window's keys from raw X key codes (XTEST: xdotool would toggle Num
// Lock around keypad keys), each back-end opening as named, showing the
// flags and redrawing after focus changes and exposes, and its pointer.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <mapwalk/screen.h>

#include "programs.h"
#include "xserver.h"

#include <X11/Xlib.h>  // after gtest, whose names Xlib's macros (None) would spoil
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Each case runs Wine in a copy of the fixture's prefix (hard links, made at
// once), so it has its own Wine server: one server's windows all go to one
// display. The registry files are copied whole: Wine writes into a file that
// has other links in place, so the cases running at once would write into one
// another's registry (and the fixture's) while it is read. Wine asks to
// install nothing.
class Prefix {
 public:
  explicit Prefix(const std::string& dir) : path_(dir + "/prefix") {
    const std::string from = WINE_PREFIX, links = "cp -al " + from + " " + path_;
    EXPECT_EQ(std::system((links + " && cp --remove-destination " + from + "/*.reg " + path_).c_str()), 0);
  }
  ~Prefix() { std::system((Env() + "wineserver -k 2>/dev/null").c_str()); }
  std::string Env() const { return "env WINEPREFIX=" + path_ + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=;mshtml=' "; }
  std::string Wine() const { return Env() + "wine "; }

 private:
  std::string path_;
};

// Raw X key codes through XTEST: "+64" presses, "-64" releases, "9" both.
void XKeys(const std::string& display, std::initializer_list<const char*> keys) {
  static void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
  ASSERT_TRUE(xtst) << "libXtst missing";
  auto fake = reinterpret_cast<int (*)(Display*, unsigned, int, unsigned long)>(dlsym(xtst, "XTestFakeKeyEvent"));
  Display* d = XOpenDisplay(display.c_str());
  ASSERT_NE(d, nullptr);
  for (const char* k : keys) {
    const unsigned code = unsigned(std::abs(atoi(k)));
    if (k[0] != '-') fake(d, code, 1, 0);
    if (k[0] != '+') fake(d, code, 0, 0);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  XCloseDisplay(d);
}

// Gives key code 47 (";" on the US layout, a key with a scan code of its own) the symbol `sym`; done
// before Wine starts, Wine reads it with the rest of the keymap.
void MapKey47(const std::string& display, KeySym sym) {
  Display* d = XOpenDisplay(display.c_str());
  ASSERT_NE(d, nullptr);
  KeySym both[2] = {sym, sym};
  XChangeKeyboardMapping(d, 47, 2, both, 1);
  XSync(d, False);
  XCloseDisplay(d);
}

template <typename Check>
bool Within(std::chrono::seconds limit, Check check) {
  for (const auto end = Clock::now() + limit; Clock::now() < end;) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return check();
}

// A program under Wine in a window on its own Xvfb, in a directory of the
// test's asset files, its output in a file.
class WineWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(dir), nullptr);
    prefix = std::make_unique<Prefix>(dir);
  }
  void TearDown() override {
    if (pid > 0) kill(-pid, SIGKILL), waitpid(pid, nullptr, 0);
    prefix.reset();
    fs::remove_all(dir);
  }
  std::string X(const std::string& command) { return Shell("DISPLAY=" + x.Name() + " " + command); }
  void Launch(const std::string& exe, const char* backend, const std::string& title,
              const char* screen = "1024x768x24") {
    std::string error;
    ASSERT_TRUE(x.Start("Xvfb", &error, screen)) << error;
    if (key47) {
      ASSERT_NO_FATAL_FAILURE(MapKey47(x.Name(), key47));
    }
    const std::string command = "cd " + std::string(dir) + " && DISPLAY=" + x.Name() + " SCRBK=" + backend + " " +
                                env + prefix->Wine() + exe + " </dev/null >out.txt 2>/dev/null";
    if ((pid = fork()) == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    Within(std::chrono::seconds(20), [&] {
      window = X("xdotool search --onlyvisible --name '^" + title + "$' | head -1");
      if (window.empty() && waitpid(pid, &status, WNOHANG) == pid) pid = -1;  // it ended
      return !window.empty() || pid < 0;
    });
    ASSERT_FALSE(window.empty()) << title << " showed no window under " << backend << " (status " << status << ")";
    window.pop_back();
  }
  std::vector<uint32_t> Capture(int32_t w, int32_t h) { return XwdArea(X("xwd -silent -id " + window), w, h); }
  // The close button Wine draws at the caption's right end.
  void ClickClose() {
    const std::string size = X("xdotool getwindowgeometry " + window);
    const size_t at = size.find("Geometry: ");
    ASSERT_NE(at, std::string::npos);
    const int width = atoi(size.c_str() + at + 10);
    X("xdotool mousemove --window " + window + " " + std::to_string(width - 12) + " 12 click 1");
  }
  // ESC ends the program with exit code 0 within 10 s.
  void EndsOnEscape() {
    XKeys(x.Name(), {"9"});
    int status = -1;
    ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return waitpid(pid, &status, WNOHANG) == pid; }));
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  std::string Output() {  // without the carriage returns of Windows text output
    std::ifstream in(fs::path(dir) / "out.txt");
    std::string text(std::istreambuf_iterator<char>(in), {});
    return std::erase(text, '\r'), text;
  }

  char dir[32] = "/tmp/wine_test.XXXXXX";
  std::string env;  // more of the program's environment, "NAME=value " each
  KeySym key47 = 0;  // the symbol of key code 47 while the program runs, when not 0
  std::unique_ptr<Prefix> prefix;
  XvfbServer x;
  std::string window;
  pid_t pid = -1;
};

// Each back-end on both screen sizes (mapwalk1's 320 x 200, mapwalk2's
// 640 x 480; mapwalk3 shows its pages the same way as mapwalk2): the start
// frame, a move, a refused move (the brick at (3, 3)), the close button
// changing nothing, ESC.
class Backends : public WineWindow, public ::testing::WithParamInterface<std::tuple<const char*, ProgramInfo>> {};

TEST_P(Backends, FramesEqualTheReferenceCloseDoesNothingEscEnds) {
  const auto [backend, p] = GetParam();
  Assets a{.offset = p.offset};
  a.Scenery(), a.WriteAll(dir);
  ASSERT_NO_FATAL_FAILURE(Launch(std::string(EXE_DIR) + "/" + p.name + ".exe", backend, p.name));
  auto showsSoon = [&](int32_t px, int32_t py) {
    return Within(std::chrono::seconds(10), [&] { return Shows(a, p, px, py, Capture(p.width, p.height)); });
  };
  EXPECT_TRUE(showsSoon(2, 2));
  XKeys(x.Name(), {"15"});  // 6
  EXPECT_TRUE(showsSoon(3, 2));
  ClickClose();
  XKeys(x.Name(), {"13", "12"});  // 4 then 3: into the brick, refused
  EXPECT_TRUE(showsSoon(2, 2));
  EXPECT_NE(X("xdotool search --onlyvisible --name '^" + std::string(p.name) + "$'"), "") << "the window went";
  EndsOnEscape();
}

INSTANTIATE_TEST_SUITE_P(Wine, Backends,
                         ::testing::Combine(::testing::Values("DirectX", "GDI", "OpenGL"),
                                            ::testing::Values(kPrograms[0], kPrograms[1])),
                         [](const auto& i) {
                           return std::string(std::get<0>(i.param)) + "_" + std::get<1>(i.param).name;
                         });

// Each back-end, named by SCRBK, is the one that opens (keyecho's first line: no silent fall-back to
// GDI). Each shows a flag as Wine shows it with no window manager: FullScreen the whole screen at
// start, Borderless the page without a frame, NoSwitch Alt+Enter doing nothing (where without it
// Alt+Enter switches between window and full screen). The whole picture shows again over what the
// test paints behind the program's back when the focus goes to the root window, when a click brings
// it back and on an expose. (Wine may repaint a GDI window from its own copy; the OpenGL and
// DirectDraw pictures are in a child window that only the program repaints.)
namespace F = scr::ScreenFlag;
class Screens : public WineWindow, public ::testing::WithParamInterface<std::pair<const char*, int32_t>> {};

TEST_P(Screens, OpenAsNamedShowTheirFlagAndRedrawAfterFocusAndExpose) {
  const auto [backend, flags] = GetParam();
  const bool borderless = flags & F::Borderless, switches = !(flags & F::NoSwitch);
  bool full = flags & F::FullScreen;
  ASSERT_NO_FATAL_FAILURE(Launch(KEYECHO_EXE + (" " + std::to_string(flags)), backend, "keyecho"));
  EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return Output() == backend + std::string("\n"); })) << Output();
  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.Name().c_str()), XCloseDisplay);
  Display* d = display.get();
  ASSERT_NE(d, nullptr);
  const ::Window w = std::stoul(window);
  const auto geometry = [&] {
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    return std::vector<int>{a.x, a.y, a.width, a.height};
  };
  const auto placed = [&] {  // the whole screen, the page alone, or the page in Wine's frame
    const std::vector<int> g = geometry();
    if (full) return g == std::vector<int>{0, 0, 1024, 768};
    return borderless ? g[2] == 320 && g[3] == 200 : g[2] > 320 && g[3] > 200 && g[2] < 400;
  };
  EXPECT_TRUE(Within(std::chrono::seconds(5), placed)) << ::testing::PrintToString(geometry());
  ASSERT_TRUE(Within(std::chrono::seconds(5), [&] {  // Wine has given the window the X focus
    ::Window focus = 0;
    int revert = 0;
    return XGetInputFocus(d, &focus, &revert), focus == w;
  }));
  // Whether the client area is all white, or the blue page at the largest whole scale, black around it.
  const auto shows = [&](bool white) {
    const std::vector<int> g = geometry();
    const int cw = full ? 1024 : 320, ch = full ? 768 : 200, border = (g[2] - cw) / 2;
    const int scale = std::min(cw / 320, ch / 200), left = (cw - 320 * scale) / 2, top = (ch - 200 * scale) / 2;
    XImage* image = XGetImage(d, w, border, g[3] - ch - border, cw, ch, AllPlanes, ZPixmap);
    bool same = image != nullptr;
    for (int i = 0; same && i < cw * ch; ++i) {
      const int col = i % cw - left, row = i / cw - top;
      const bool page = col >= 0 && col < 320 * scale && row >= 0 && row < 200 * scale;
      same = (XGetPixel(image, i % cw, i / cw) & 0xFFFFFF) == (white ? 0xFFFFFFu : page ? 0x0000AAu : 0u);
    }
    if (image) XDestroyImage(image);
    return same;
  };
  GC gc = XCreateGC(d, w, 0, nullptr);  // freed with the connection
  XSetForeground(d, gc, 0xFFFFFF);
  XSetSubwindowMode(d, gc, IncludeInferiors);  // over the child windows too
  const std::pair<const char*, std::function<void()>> kSpoilt[] = {
      {"focus lost", [&] { XSetInputFocus(d, DefaultRootWindow(d), RevertToPointerRoot, CurrentTime); }},
      {"focus regained", [&] { X("xdotool mousemove --window " + window + " 160 100 click 1"); }},
      {"exposed", [&] {
         ::Window root, parent, *children = nullptr;
         unsigned n = 0;
         XQueryTree(d, w, &root, &parent, &children, &n);
         XClearArea(d, w, 0, 0, 0, 0, True);
         for (unsigned i = 0; i < n; ++i) XClearArea(d, children[i], 0, 0, 0, 0, True);
         XFree(children);
       }}};
  for (const auto& [how, spoil] : kSpoilt) {
    const auto spoilt = [&] { return XFillRectangle(d, w, gc, 0, 0, 1024, 768), XSync(d, False), shows(true); };
    ASSERT_TRUE(Within(std::chrono::seconds(5), spoilt)) << how;  // again while a late pass paints over it
    spoil();
    XSync(d, False);
    EXPECT_TRUE(Within(std::chrono::seconds(5), [&] { return shows(false); })) << how;
  }
  XKeys(x.Name(), {"+64", "36", "-64", "11"});  // Alt+Enter, 2
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] { return Output().ends_with("50\n"); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a switch would be under way by now
  full = full != switches;
  EXPECT_TRUE(Within(std::chrono::seconds(5), placed)) << "Alt+Enter " << ::testing::PrintToString(geometry());
  ASSERT_NO_FATAL_FAILURE(EndsOnEscape());
  EXPECT_EQ(Output(), backend + std::string("\n50\n27\n"));
}

INSTANTIATE_TEST_SUITE_P(Wine, Screens,
                         ::testing::Values(std::pair{"DirectX", 0}, std::pair{"GDI", F::Borderless | F::NoSwitch},
                                           std::pair{"OpenGL", F::FullScreen}),
                         [](const auto& i) { return std::string(i.param.first); });

// The pointer and held keys as keyecho writes GetMouse's and KeyHeld's answers, at the window's scale or in
// full screen (3x, with bars): the page pixel under the pointer, -1, -1 off the page (the window's frame, a
// bar, beyond the window); buttons 1 left, 2 right, 4 middle; wheel steps, up adding 1; a release beyond the
// window still seen (the mouse is captured). "p" puts the pointer on page pixel 100, 50's centre and hides
// it, "o" shows it again. A held digit 2 holds scan code 3, either Shift both Shift codes, 42 and 54.
struct Input {
  const char* backend;
  int32_t flags, scale;
};
class Inputs : public WineWindow, public ::testing::WithParamInterface<Input> {};

TEST_P(Inputs, PointerAndHeldKeys) {
  const auto [backend, flags, s] = GetParam();
  const bool full = flags & F::FullScreen;
  env = "SCRSCALE=" + std::to_string(s) + " ";
  ASSERT_NO_FATAL_FAILURE(Launch(KEYECHO_EXE + (" " + std::to_string(flags) + " watch"), backend, "keyecho"));
  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(x.Name().c_str()), XCloseDisplay);
  Display* d = display.get();
  ASSERT_NE(d, nullptr);
  const ::Window w = std::stoul(window);
  XWindowAttributes a{};
  ASSERT_TRUE(Within(std::chrono::seconds(5), [&] {
    return XGetWindowAttributes(d, w, &a), full ? a.width == 1024 : a.width > 320 * s && a.width < 400 * s;
  })) << a.width;
  const int cw = full ? 1024 : 320 * s, ch = full ? 768 : 200 * s, border = (a.width - cw) / 2;
  const int left = border + (cw - 320 * s) / 2, top = a.height - ch - border + (ch - 200 * s) / 2;  // the page's
  std::string seen;
  const auto shows = [&](const std::string& want) {  // keyecho's last line of want's kind, "M" or "H", waited for
    return Within(std::chrono::seconds(5), [&] {
      const std::string out = "\n" + Output();
      const size_t at = out.rfind("\n" + want.substr(0, 1));
      return (seen = at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at + 1) - at - 1)) == want;
    });
  };
  const auto to = [&](int dx, int dy) {
    return X("xdotool mousemove --window " + window + " " + std::to_string(left + dx) + " " + std::to_string(top + dy));
  };
  for (auto [dx, dy, want] : {std::tuple{320 * s - 1, 200 * s - 1, "M 319,199,0,0"}, {-1, 5, "M -1,-1,0,0"},
                              {0, 0, "M 0,0,0,0"}, {s * 320, 0, "M -1,-1,0,0"}, {7 * s, 4 * s - 1, "M 7,3,0,0"}})
    EXPECT_TRUE((to(dx, dy), shows(want))) << dx << "," << dy << ": " << seen;
  const auto hidden = [&] {  // the X cursor over the window has no pixel to show
    XFixesCursorImage* c = XFixesGetCursorImage(d);
    bool none = c != nullptr;
    for (int i = 0; none && i < c->width * c->height; ++i) none = (c->pixels[i] >> 24) == 0;
    return XFree(c), none;
  };
  // The arrow, looked at before a click: a click makes Wine confine the pointer to a full-screen DirectDraw
  // window, whose cursor it then shows only from the next change of the program's cursor on.
  EXPECT_FALSE(hidden()) << "no arrow over the window";
  for (auto [args, want] : {std::pair{"mousedown 1", "M 7,3,0,1"}, {"mousedown 3", "M 7,3,0,3"},
                            {"mousedown 2", "M 7,3,0,7"}, {"mouseup 1", "M 7,3,0,6"}, {"mouseup 3", "M 7,3,0,4"},
                            {"mouseup 2 click 4 click 4", "M 7,3,2,0"}, {"click 5", "M 7,3,1,0"},
                            {"mousedown 1 mousemove 2 2", "M -1,-1,1,1"}, {"mouseup 1", "M -1,-1,1,0"}})
    EXPECT_TRUE((X(std::string("xdotool ") + args), shows(want))) << args << ": " << seen;
  XKeys(x.Name(), {"33"});  // p
  ::Window root, child;
  int rx, ry, wx = 0, wy = 0;
  unsigned mask;
  EXPECT_TRUE(shows("M 100,50,1,0") && XQueryPointer(d, w, &root, &child, &rx, &ry, &wx, &wy, &mask) &&
              wx == left + 100 * s + s / 2 && wy == top + 50 * s + s / 2) << seen << " at " << wx << "," << wy;
  X("xdotool mousemove_relative 1 1");  // still hidden as the pointer moves on
  EXPECT_TRUE(Within(std::chrono::seconds(5), hidden)) << "shown";
  XKeys(x.Name(), {"32"});  // o
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] { return !hidden(); })) << "hidden";
  for (auto [key, want] : {std::pair{"+11", "H 3"}, {"+50", "H 3 42 54"}, {"-11", "H 42 54"}, {"-50", "H"},
                           {"+62", "H 42 54"}, {"-62", "H"}})  // 2, left Shift, right Shift
    EXPECT_TRUE((XKeys(x.Name(), {key}), shows(want))) << key << ": " << seen;
  EndsOnEscape();
}

INSTANTIATE_TEST_SUITE_P(Wine, Inputs,
                         ::testing::Values(Input{"GDI", 0, 1}, Input{"GDI", 0, 2}, Input{"OpenGL", 0, 2},
                                           Input{"DirectX", F::FullScreen, 3}),
                         [](const auto& i) { return i.param.backend + ("_" + std::to_string(i.param.scale)); });

// The window's keys as InKey gives them, one key a line after the back-end's
// name: main-row digits; the keypad with Num Lock off then on; Shift+Tab its
// code before its character; Alt+F4 and F10 nothing; the close button 255,
// "k"; "t" a UTF-8 title; é through the system's conversion, code page 437's 130.
TEST_F(WineWindow, KeysOfTheWindowAndTheTitle) {
  key47 = XK_eacute;
  ASSERT_NO_FATAL_FAILURE(Launch(KEYECHO_EXE, "GDI", "keyecho"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window takes the focus
  XKeys(x.Name(), {"10", "11", "12", "13", "14", "15", "16", "17", "18"});  // 1 to 9
  XKeys(x.Name(), {"87", "80", "77", "87", "80", "77"});                    // KP_1, KP_8, Num Lock, again, Num Lock
  XKeys(x.Name(), {"+50", "23", "-50", "+64", "70", "-64", "76"});          // Shift+Tab, Alt+F4, F10
  ClickClose();
  XKeys(x.Name(), {"28", "47"});  // t, é
  const auto titled = [&] { return X("xdotool getwindowname " + window) == "keyecho \u2665\n"; };
  EXPECT_TRUE(Within(std::chrono::seconds(5), titled));
  ASSERT_NO_FATAL_FAILURE(EndsOnEscape());
  EXPECT_EQ(Output(), "GDI\n49\n50\n51\n52\n53\n54\n55\n56\n57\n255,79\n255,72\n49\n56\n255,15\n9\n255,107\n116\n130\n27\n");
}

// Keys piped in, no window: each program writes its SCRSHOT and ends with 0.
TEST(WineHeadless, PipedKeysWriteTheScreenshot) {
  for (const ProgramInfo& p : kPrograms) {
    SCOPED_TRACE(p.name);
    char dir[32] = "/tmp/wine_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    {
      const Prefix prefix(dir);
      Assets a{.offset = p.offset};
      a.Scenery(), a.WriteAll(dir);
      const std::string command = "cd " + std::string(dir) + " && printf '6\\033' | SCRBK=null SCRSHOT=shot.png " +
                                  "timeout 60 " + prefix.Wine() + EXE_DIR + "/" + p.name + ".exe >/dev/null 2>&1";
      const int status = std::system(command.c_str());
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
      EXPECT_TRUE(Shows(a, p, 3, 2, ReadPng(fs::path(dir) / "shot.png")));
    }
    fs::remove_all(dir);
  }
}

// In a terminal, Wine's console shows its attributes as terminal colours: at
// the end the console is bright white on blue.
TEST(WineConsole, LeftBrightWhiteOnBlue) {
  char dir[32] = "/tmp/wine_test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  auto prefix = std::make_unique<Prefix>(dir);
  Assets a;
  a.Scenery(), a.WriteAll(dir);
  const std::string tmux = "tmux -L wine_test_" + std::to_string(getpid()) + " ";
  Shell(tmux + "new-session -d -x 80 -y 25 \"cd " + dir + " && printf '\\033' | SCRBK=null " + prefix->Wine() +
        EXE_DIR + "/mapwalk1.exe; echo ended \\$?; sleep 60\"");
  std::string screen;
  EXPECT_TRUE(Within(std::chrono::seconds(20), [&] {
    return (screen = Shell(tmux + "capture-pane -e -p")).find("ended") != std::string::npos;
  }));
  Shell(tmux + "kill-server");
  prefix.reset();
  // The cleared cells keep the attribute (the shell's line may or may not).
  EXPECT_TRUE(screen.find("ended 0") != std::string::npos && screen.find("\x1b[97m\x1b[44m") != std::string::npos)
      << ::testing::PrintToString(screen);
  fs::remove_all(dir);
}

// On a display of 144 or 192 dots an inch (the prefix's LogPixels) the window is DPI aware and its client
// area is the page at 2x, each page pixel a solid block; on a 16-bit desktop DirectX, whose Blt converts no
// pixel formats, gives way to GDI. Each shows the reference frame (as 5-6-5 shows it on 16 bits).
struct Desktop {
  int dpi;
  const char* backend;
  const char* screen;
};
class Desktops : public WineWindow, public ::testing::WithParamInterface<Desktop> {};

TEST_P(Desktops, ShowTheFrameInWholePixels) {
  const auto [dpi, backend, screen] = GetParam();
  const size_t scale = size_t(dpi + 48) / 96, w = 320 * scale;
  const std::string set = " /v LogPixels /t REG_DWORD /f /d ";  // in the case's own copy of the registry
  ASSERT_EQ(std::system((prefix->Wine() + "reg add 'HKCU\\Control Panel\\Desktop'" + set + std::to_string(dpi) +
                         " >/dev/null 2>&1 && " + prefix->Env() + "wineserver -w").c_str()), 0);
  Assets a;
  a.Scenery(), a.WriteAll(dir);
  ASSERT_NO_FATAL_FAILURE(Launch(std::string(EXE_DIR) + "/mapwalk1.exe", backend, "mapwalk1", screen));
  std::vector<uint32_t> page;
  const bool shows = Within(std::chrono::seconds(10), [&] {
    const std::vector<uint32_t> got = XwdArea(X("xwd -silent -id " + window), int32_t(w), int32_t(200 * scale));
    page.clear();
    for (size_t i = 0; i < got.size() && got.size() == w * 200 * scale; ++i) {
      if (got[i] != got[(i / w - i / w % scale) * w + i % w - i % w % scale]) return false;  // its block's corner
      if (i % w % scale == 0 && i / w % scale == 0) page.push_back(got[i]);
    }
    for (int phase : {0, 1}) {
      std::vector<uint32_t> want = Shown(ReferenceFrame(a, 2, 2, phase, true, 320, 200));
      for (uint32_t& c : want) c = std::string(screen).ends_with("x16") ? FiveSixFive(c) : c;
      if (want == page) return true;
    }
    return false;
  });
  EXPECT_TRUE(shows) << "not the frame at " << scale << "x in whole pixels (" << page.size() << " page pixels)";
  EndsOnEscape();
}

INSTANTIATE_TEST_SUITE_P(Wine, Desktops,
                         ::testing::Values(Desktop{144, "GDI", "1024x768x24"}, Desktop{192, "DirectX", "1024x768x24"},
                                           Desktop{96, "DirectX", "1024x768x16"}),
                         [](const auto& i) { return i.param.backend + ("_" + std::to_string(i.param.dpi)) +
                                                    (std::string(i.param.screen).ends_with("x16") ? "_16bit" : ""); });

}  // namespace
