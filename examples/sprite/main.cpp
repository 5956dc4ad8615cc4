// A sprite over a scene, the screen layer beyond the walkers: the arrow keys
// move it (held down in a window or a browser page; pressed, one step each, in
// a terminal or headless), a shadow is XOR-ed under it and the sprite OR-ed on
// top, both drawn as discs and captured into images, a sun shines in the sky,
// C fades the sky to its next colour through the palette, and WaitFrame paces
// the loop at one frame per refresh instead of spinning a processor. While the
// left mouse button is held the sprite follows the pointer. Esc ends it.
#include <mapwalk/screen.h>

#include <algorithm>

using namespace scr;

namespace {

constexpr int kSize = 16;  // sprite and shadow: 16 x 16

constexpr int kFadeFrames = 20;  // a fade of the sky takes 20 frames

// Draws a disc of `colour` at the work page's top left and captures it into a new image.
ImageBuffer* CaptureDisc(uint32_t colour) {
  DrawLine(nullptr, 0, 0, kSize - 1, kSize - 1, 0, LineShape::FilledBox);
  DrawCircle(nullptr, 8, 8, 7, colour, 1, 0, 0, 1);
  ImageBuffer* image = ImageCreate(kSize, kSize, 0, 0, 0);
  GetImage(nullptr, 0, 0, kSize - 1, kSize - 1, image, 0, nullptr, HeaderForm::Full);
  return image;
}

// How far one frame moves the sprite along an axis: 2 pixels while a key is
// held, 8 for a key string whose key is not seen held (terminal, headless).
int Step(const KeyString& k, const KeyString& minus, const KeyString& plus, int32_t minusScan, int32_t plusScan) {
  const int held = 2 * (KeyHeld(plusScan) - KeyHeld(minusScan));
  if (k == plus && !KeyHeld(plusScan)) return held + 8;
  if (k == minus && !KeyHeld(minusScan)) return held - 8;
  return held;
}

// The colour `step` of kFadeFrames from `from` to `to` (0xRRGGBB each) on pixel value `index`.
void FadeStep(int32_t index, uint32_t from, uint32_t to, int step) {
  auto channel = [&](int shift) {
    const int a = int(from >> shift & 255), b = int(to >> shift & 255);
    return uint8_t(a + (b - a) * step / kFadeFrames);
  };
  SetPaletteRgb(index, channel(16), channel(8), channel(0));
}

}  // namespace

int main(int argc, char** argv) {
  StartProgram(argc, argv);
  ScreenMode(7, 0, 2, 0, 0);  // 320 x 200, 16 colours, 2 pages
  SetPages(1, 0);             // draw on page 1, show page 0

  ImageBuffer* sprite = CaptureDisc(14);  // yellow
  ImageBuffer* shadow = CaptureDisc(8);   // XOR-ed: the sky's value 1 becomes 9, light blue
  const int32_t kSkies[] = {1, 3, 5, 9, 11, 13};  // colours of the default palette
  int sky = 0, x = 152, y = 92, fade = kFadeFrames;
  uint32_t fadeFrom = 0, fadeTo = 0;

  for (;;) {
    const KeyString k = InKey();
    if (k == Key::Esc) break;
    if (k == "c" || k == "C") {  // pixel value 1 fades from the colour it shows to the next sky's
      fadeFrom = GetPaletteRgb(1);
      fadeTo = GetPaletteRgb(kSkies[sky = (sky + 1) % 6]);
      fade = 0;
    }
    if (fade < kFadeFrames) FadeStep(1, fadeFrom, fadeTo, ++fade);
    x = std::clamp(x + Step(k, Key::Left, Key::Right, Scan::Left, Scan::Right), 0, 320 - kSize);
    y = std::clamp(y + Step(k, Key::Up, Key::Down, Scan::Up, Scan::Down), 0, 200 - kSize);
    int32_t mx, my, wheel, buttons;
    if (GetMouse(mx, my, wheel, buttons) == 0 && (buttons & 1) && mx >= 0) {  // centred on the pointer
      x = std::clamp(mx - kSize / 2, 0, 320 - kSize);
      y = std::clamp(my - kSize / 2, 0, 200 - kSize);
    }

    DrawLine(nullptr, 0, 0, 319, 149, 1, LineShape::FilledBox);    // sky
    DrawCircle(nullptr, 270, 36, 16, 14, 1, 0, 0, 1);             // the sun, its rays an outline around it
    DrawCircle(nullptr, 270, 36, 21, 6, 1, 0, 0, 0);
    DrawLine(nullptr, 0, 150, 319, 199, 2, LineShape::FilledBox);  // grass
    for (int i = 0; i < 5; ++i)                                    // five houses
      DrawLine(nullptr, float(20 + 60 * i), 110, float(50 + 60 * i), 149, uint32_t(4 + i), LineShape::FilledBox);
    PutImage(nullptr, float(x + 3), float(y + 3), shadow, kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Xor);
    PutImage(nullptr, float(x), float(y), sprite, kOmitted, kOmitted, kOmitted, kOmitted, 0, RasterMode::Or);
    PageCopy(1, 0);  // show the finished frame
    WaitFrame();
  }
  ScreenMode(0);
  EndProgram(0);
}
