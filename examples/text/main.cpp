// Text on the screen layer: a title screen in the 8 x 16 font, then a score
// line redrawn every frame with DrawText at scale 2, a menu moved with the
// arrow keys or the mouse's wheel and chosen with Enter or a click, and a
// message log that scrolls in a text view; the window's title counts the
// hellos. Esc ends it. In a browser page the same frame runs once per
// animation frame instead of in a loop.
#include <mapwalk/screen.h>

#include <string>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

using namespace scr;

namespace {

constexpr int kLogTop = 15, kLogBottom = 29;  // the log's text view (80 x 30 cells of 8 x 16)
const char* const kMenu[] = {"Say hello", "Roll a die", "Change the log's colour", "Clear the log", "Quit"};
constexpr int kItems = 5;

struct Demo {
  bool title = true;
  int selected = 0, colour = 0, said = 0;
  int32_t wheel = 0, buttons = 0;  // the mouse's, as last seen
  int32_t x = -1, y = -1;          // where the left button was last seen held
  double start = 0;
};

// The first screen: a large title and a line to go on, centred.
void DrawTitle() {
  ClearScreen(0);
  const KeyString name = "TEXT";
  DrawText(nullptr, float((640 - TextWidth(name, 6)) / 2), 120, name, 14, 6);  // 6 x 6 pixels a glyph pixel
  const KeyString hint = FromUtf8("── press any key ──");
  DrawText(nullptr, float((640 - TextWidth(hint)) / 2), 300, hint, 7);
}

// The second screen's fixed parts: a heading, the log's frame and its text view.
void DrawPlayfield() {
  SetColor(15, 0);
  ClearScreen(0);
  SetColor(0, 3);
  Locate(1, 1);
  Print(FromUtf8(" Text demo  ·  ↑ ↓ choose  ·  Enter do it  ·  Esc end") + Blanks(26));
  SetColor(8, 0);
  Locate(kLogTop - 1, 1);
  Print(FromUtf8("═ log ") + KeyString(74, '\xcd'));  // 205, the double horizontal line
  SetTextView(kLogTop, kLogBottom);
  SetColor(7, 0);
}

// The parts drawn every frame, as pixels over the page: the score at scale 2
// and the menu, the chosen item on a yellow bar.
void DrawFrame(const Demo& d) {
  DrawLine(nullptr, 0, 16, 639, 207, 0, LineShape::FilledBox);
  const int score = int((Timer() - d.start) * 10);
  DrawText(nullptr, 16, 32, "SCORE " + std::to_string(score), 10, 2);
  for (int i = 0; i < kItems; ++i) {
    const float y = float(96 + 20 * i);
    if (i == d.selected) DrawLine(nullptr, 28, y - 2, 259, y + 17, 14, LineShape::FilledBox);
    DrawText(nullptr, 40, y, kMenu[i], i == d.selected ? 0 : 15);
  }
}

// One line at the bottom of the log; the log scrolls up when it is full.
void Log(const Demo& d, const KeyString& text) {
  static const uint32_t kColours[] = {7, 11, 10, 13};
  SetColor(kColours[d.colour], 0);
  Print(text + "\n");
}

// One frame: keys, then the picture. False once the program should end.
bool Frame(Demo& d) {
  const KeyString k = InKey();
  if (k == Key::Esc) return false;
  int32_t x, y, wheel, buttons;
  GetMouse(x, y, wheel, buttons);
  // Letting go of the left button (a finger: it leaves the page then) over a menu item (see DrawFrame)
  // chooses it and does it.
  if (buttons & 1) d.x = x, d.y = y;
  const int item = d.x >= 28 && d.x <= 259 && d.y >= 94 ? (d.y - 94) / 20 : kItems;
  const bool clicked = (d.buttons & 1) && !(buttons & 1) && item < kItems;
  const int steps = wheel - d.wheel;  // up: the item above
  d.wheel = wheel, d.buttons = buttons;
  if (d.title) {
    if (!k.empty()) {
      d.title = false;
      d.start = Timer();
      DrawPlayfield();
      Log(d, "Welcome. The log scrolls when it is full.");
    }
  } else if (k == Key::Up || k == Key::Down || steps != 0) {
    const int move = (k == Key::Up ? -1 : k == Key::Down ? 1 : 0) - steps;
    d.selected = ((d.selected + move) % kItems + kItems) % kItems;
  } else if (k == Key::Enter || clicked) {
    if (clicked) d.selected = item;
    switch (d.selected) {
      case 0:
        Log(d, "Hello number " + std::to_string(++d.said) + FromUtf8(" ☺"));
        SetTitle("Text demo: hello \u00d7 " + std::to_string(d.said));  // UTF-8, as window titles are
        break;
      case 1: Log(d, "The die shows " + std::to_string(1 + int(Timer() * 1000) % 6) + "."); break;
      case 2: d.colour = (d.colour + 1) % 4; Log(d, "New colour."); break;
      case 3: ClearScreen(2); break;  // the text view only
      default: return false;
    }
  }
  if (!d.title) DrawFrame(d);
  PageCopy(1, 0);  // show the finished frame
  return true;
}

Demo gDemo;

void End() {
  ScreenMode(0);
  EndProgram(0);
}

}  // namespace

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  SetTitle("Text demo");  // in place of the program's file name
  ScreenMode(12, 0, 2);  // 640 x 480, 16 colours, 80 x 30 cells of 8 x 16, 2 pages
  SetPages(1, 0);        // draw on page 1, show page 0
  DrawTitle();
#ifdef __EMSCRIPTEN__
  emscripten_set_main_loop([] {
    if (!Frame(gDemo)) {
      emscripten_cancel_main_loop();
      End();
    }
  }, 0, 1);
#else
  while (Frame(gDemo)) WaitFrame();
  End();
#endif
}
