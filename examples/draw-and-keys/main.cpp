// A small program on the screen layer: opens a 320 x 200 screen, paints on a
// canvas page (O draws a circle around the diamond, F flood-fills the shape
// under it with the next colour), draws each frame on a hidden page, stamps a
// captured image with XOR, shows each finished frame, moves the image with the
// arrow keys, prints the last key it read and where the pointer is, paces its
// frames and ends on ESC.
#include <mapwalk/screen.h>

#include <cstdint>
#include <string>

using namespace scr;

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 3, 0, 0);
  SetPages(2, 0);  // the canvas, page 2: a blue background in a white frame
  DrawLine(nullptr, 0, 0, 319, 199, 1, LineShape::FilledBox);
  DrawLine(nullptr, 10, 10, 309, 189, 15, LineShape::Box);
  SetPages(1, 0);  // draw on page 1, show page 0

  // A 16 x 16 diamond, drawn once and captured into an image.
  ImageBuffer* diamond = ImageCreate(16, 16, 0, 0, kNoColour);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if ((x > 7 ? x - 8 : 7 - x) + (y > 7 ? y - 8 : 7 - y) < 8) PutPixel(nullptr, x, y, 14);
  GetImage(nullptr, 0, 0, 15, 15, diamond, 0, nullptr, HeaderForm::Full);

  SetColor(14, 1);  // text in yellow; in this mode the background colour shows for pixel value 0
  int x = 152, y = 92;
  uint32_t paint = 2;  // the next fill colour
  KeyString last = "none yet";
  for (;;) {
    KeyString k = InKey();
    if (k == Key::Esc) break;
    if (k.size() == 1) last = "\"" + k + "\" (" + std::to_string(uint8_t(k[0])) + ")";
    if (k.size() == 2) last = "255, " + std::to_string(uint8_t(k[1]));
    if (k == Key::Up) y -= 4;
    if (k == Key::Down) y += 4;
    if (k == Key::Left) x -= 4;
    if (k == Key::Right) x += 4;
    if (k == "o" || k == "O" || k == "f" || k == "F") {  // paint on the canvas around the diamond's centre
      SetPages(2, 0);
      if (k == "o" || k == "O") DrawCircle(nullptr, float(x + 8), float(y + 8), 20, 15);
      else FloodFill(nullptr, float(x + 8), float(y + 8), paint = paint % 14 + 2);  // 2..15 in turn
      SetPages(1, 0);
    }

    PageCopy(2, 1);  // the canvas under this frame
    PutImage(nullptr, float(x), float(y), diamond, kOmitted, kOmitted, kOmitted, kOmitted, 0,
             RasterMode::Xor);
    Locate(22, 3);  // text rows 22 and 23 of 25, inside the frame
    Print("Last key: " + last + Blanks(20 - Len(last)));
    int32_t mx, my, wheel, buttons;  // the pointer, where the back-end has one
    const std::string where = GetMouse(mx, my, wheel, buttons) != 0 ? "none here"
                              : mx < 0 ? "off the screen"
                                       : std::to_string(mx) + ", " + std::to_string(my) + "  buttons " +
                                             std::to_string(buttons) + "  wheel " + std::to_string(wheel);
    Locate(23, 3);
    Print("Pointer: " + where + Blanks(28 - int32_t(where.size())));
    PageCopy(1, 0);  // show the finished frame
    WaitFrame();     // one frame per refresh, without spinning a processor
  }
  ScreenMode(0);
  EndProgram(0);
}
