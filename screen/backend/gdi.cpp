// gdi.cpp - the "GDI" back-end: the page's rows as a device-independent
// bitmap of 32-bit pixels, the shown colours.
//
// update converts the changed rows to those colours; present hands the bitmap
// to StretchDIBits, which converts it to the screen's format. Under Wine a
// bitmap of one byte per pixel through a colour table took 380 us of processor
// time to show a 640 x 480 frame, 32-bit rows 150 us with their conversion here.
// On a palettised display a logical palette of the shown colours is realised
// first, so they show as they are instead of the nearest of the system's 20.
#include <string>
#include <vector>

#include "backend/win32_window.h"

namespace scr {

namespace {

struct Gdi {
  BITMAPINFOHEADER header{};
  const Frame* frame = nullptr;
  std::vector<uint32_t> rgb;  // the frame's rows in 0xRRGGBB
  HWND window = nullptr;
  HPALETTE palette = nullptr;  // on a palettised display only
};

struct Palette {  // a LOGPALETTE of 256 entries
  WORD version = 0x300, count = 256;
  PALETTEENTRY entries[256] = {};
};

Gdi gGdi;

bool Start(HWND window, int32_t width, int32_t height, int32_t, std::string&) {  // never fails
  Gdi& g = gGdi;
  g.window = window;
  HDC dc = GetDC(window);
  if (dc && (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
    const Palette black;  // until the first colours come
    g.palette = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&black));
  }
  if (dc) ReleaseDC(window, dc);
  BITMAPINFOHEADER& h = g.header;
  h = BITMAPINFOHEADER{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = -height;  // top-down rows, as in the page
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_RGB;
  return true;
}

void Update(const Frame& frame, int32_t first, int32_t last) {
  Gdi& g = gGdi;
  g.frame = &frame;
  if (g.palette && frame.paletteChanged) {  // realised anew by the next present
    Palette p;
    for (int i = 0; i < 256; ++i)
      p.entries[i] = PALETTEENTRY{BYTE(frame.colours[i] >> 16), BYTE(frame.colours[i] >> 8), BYTE(frame.colours[i]), 0};
    SetPaletteEntries(g.palette, 0, 256, p.entries);
    UnrealizeObject(g.palette);  // mapped afresh, not skipped as already realised
  }
  g.rgb.resize(size_t(frame.width) * size_t(frame.height));
  for (int32_t y = first; y <= last; ++y) FrameRowToRgb(frame, y, g.rgb.data() + size_t(y) * size_t(frame.width));
}

// The palette selected into the window's own DC, which keeps it, and realised:
// the number of entries that changed the screen's colours.
UINT Select(HWND window, bool background) {
  HDC dc = GetDC(window);
  SelectPalette(dc, gGdi.palette, background);
  const UINT changed = RealizePalette(dc);
  ReleaseDC(window, dc);
  return changed;
}

// For the palette messages: the palette mapped afresh onto the display's.
bool Realize(HWND window, bool background) {
  if (!gGdi.palette) return false;
  UnrealizeObject(gGdi.palette);
  const UINT changed = Select(window, background);
  return changed != 0 && changed != GDI_ERROR;
}

// In a window, rows first..last as a bitmap of their own; in full screen
// the whole page, scaled, and the black bars around it when `whole`.
void Present(HWND window, const RECT& picture, const RECT& client, int32_t first, int32_t last, bool whole) {
  const Frame* f = gGdi.frame;
  if (!f) return;
  BITMAPINFOHEADER& h = gGdi.header;
  const int32_t pw = picture.right - picture.left, ph = picture.bottom - picture.top;
  const bool scaled = pw != f->width || ph != f->height;
  if (scaled) first = 0, last = f->height - 1;
  const int32_t rows = last - first + 1;
  if (gGdi.palette) Select(window, false);
  HDC dc = GetDC(window);
  if (scaled && whole) {  // the bars alone: painting over the picture too would flicker
    ExcludeClipRect(dc, picture.left, picture.top, picture.right, picture.bottom);
    PatBlt(dc, 0, 0, client.right, client.bottom, BLACKNESS);
    SelectClipRgn(dc, nullptr);
  }
  h.biHeight = -rows;
  // 0xRRGGBB in memory is blue, green, red, 0: a 32-bit bitmap pixel.
  StretchDIBits(dc, picture.left, picture.top + (scaled ? 0 : first), pw, scaled ? ph : rows, 0, 0, f->width, rows,
                gGdi.rgb.data() + size_t(first) * size_t(f->width), reinterpret_cast<const BITMAPINFO*>(&h),
                DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window, dc);
}

void Finish() {
  Gdi& g = gGdi;
  if (g.palette) {  // out of the window's own DC before it goes
    HDC dc = GetDC(g.window);
    SelectPalette(dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    ReleaseDC(g.window, dc);
    DeleteObject(g.palette);
    g.palette = nullptr;
  }
  g.frame = nullptr;
  std::vector<uint32_t>().swap(g.rgb);
}

const Surface kGdiSurface = {Start, Update, Present, Finish, nullptr, Realize};

int Open(const BackendOpenArgs& args, std::string& reason) {
  return OpenWindowBackend(kGdiSurface, args, reason);
}

}  // namespace

extern const Backend kGdiBackend = {"GDI", Open, CloseWindowBackend,
                                    LockWindowBackend, UnlockWindowBackend, nullptr, true};

}  // namespace scr
