// directx.cpp - the "DirectX" back-end: DirectDraw presents (a windowed
// primary surface with a clipper, an offscreen surface of the page, Blt),
// and the DirectInput keyboard fills the key-state table.
//
// Both DLLs are loaded by name when the window starts, so a system without
// them only makes this back-end fail and the next one open. An 8-bit primary
// surface shows the page's bytes through a DirectDraw palette that leaves the
// system's 20 colours in place; a 32-bit one gets a 32-bit offscreen surface
// into which the rows are converted through the shown colours; any other
// makes the start fail. Lost surfaces are restored, or made anew for the
// desktop's format after a change of display mode.
#include <initguid.h>  // the DirectInput GUIDs, defined here rather than linked

#include <ddraw.h>
#include <dinput.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "backend/vkstate.h"
#include "backend/win32_window.h"

namespace scr {

namespace {

using DirectDrawCreateFn = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
using DirectInput8CreateFn = HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, LPVOID*, LPUNKNOWN);

struct DirectX {
  HMODULE ddrawDll = nullptr, dinputDll = nullptr;
  IDirectDraw* draw = nullptr;
  IDirectDrawSurface* primary = nullptr;
  IDirectDrawSurface* page = nullptr;  // offscreen, width x height
  IDirectDrawClipper* clipper = nullptr;
  IDirectDrawPalette* palette = nullptr;  // 8-bit primary only
  IDirectInput8A* input = nullptr;
  IDirectInputDevice8A* keyboard = nullptr;
  HWND window = nullptr;
  bool eightBit = false;
  // The surfaces were lost and none could be made for the desktop's format
  // since: nothing is drawn until a whole present makes them anew.
  bool gone = false;
  int32_t width = 0, height = 0, depth = 8;
  const Frame* frame = nullptr;  // the rows and colours last updated, for new surfaces
  uint8_t entry[256] = {};  // on an 8-bit desktop, the palette entry each page byte shows as
};

DirectX gDx;

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

void ReleaseSurfaces() {
  DirectX& d = gDx;
  Release(d.palette);
  Release(d.page);
  Release(d.clipper);
  Release(d.primary);
}

void Finish() {
  DirectX& d = gDx;
  if (d.keyboard) d.keyboard->Unacquire();
  Release(d.keyboard);
  Release(d.input);
  ReleaseSurfaces();
  Release(d.draw);
  if (d.dinputDll) FreeLibrary(d.dinputDll);
  if (d.ddrawDll) FreeLibrary(d.ddrawDll);
  d = DirectX{};
}

// The keyboard as 256 buttons by scan code (the layout DirectInput's own
// keyboard format has), built here so no DirectInput library is linked.
const DIDATAFORMAT* KeyboardFormat() {
  static DIOBJECTDATAFORMAT objects[256];
  static const DIDATAFORMAT format = [] {
    for (DWORD i = 0; i < 256; ++i)
      objects[i] = DIOBJECTDATAFORMAT{&GUID_Key, i, DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i) | DIDFT_OPTIONAL, 0};
    return DIDATAFORMAT{sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256, objects};
  }();
  return &format;
}

// The DirectInput keyboard; without it the window's keyboard state serves.
void StartKeyboard(HWND window) {
  DirectX& d = gDx;
  d.dinputDll = LoadLibraryA("dinput8.dll");
  auto create = d.dinputDll ? reinterpret_cast<DirectInput8CreateFn>(
                                  reinterpret_cast<void*>(GetProcAddress(d.dinputDll, "DirectInput8Create")))
                            : nullptr;
  if (!create || FAILED(create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                               reinterpret_cast<void**>(&d.input), nullptr)))
    return;
  if (FAILED(d.input->CreateDevice(GUID_SysKeyboard, &d.keyboard, nullptr)) ||
      FAILED(d.keyboard->SetDataFormat(KeyboardFormat())) ||
      FAILED(d.keyboard->SetCooperativeLevel(window, DISCL_FOREGROUND | DISCL_NONEXCLUSIVE))) {
    Release(d.keyboard);
    return;
  }
  d.keyboard->Acquire();
}

// The display's palette: on an 8-bit desktop, the system's reserved colours
// at 0-9 and 246-255 (black where it reports none).
void SystemEntries(PALETTEENTRY entries[256]) {
  HDC screen = GetDC(nullptr);
  const UINT got = screen ? GetSystemPaletteEntries(screen, 0, 256, entries) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  if (got != 256) std::memset(entries, 0, 256 * sizeof(PALETTEENTRY));
}

// The primary surface with its clipper, for the desktop's format as it is now,
// its palette on an 8-bit desktop, and the page's surface in the primary's
// format; false, with the reason, when the format takes no page of this depth.
bool CreateSurfaces(std::string& failure) {
  DirectX& d = gDx;
  // Each call runs only while all before it succeeded; the first to fail is named.
  const char* failed = nullptr;
  HRESULT result = S_OK;
  const auto ok = [&](HRESULT hr, const char* call) {
    if (FAILED(hr)) failed = call, result = hr;
    return !failed;
  };
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  bool started = ok(d.draw->CreateSurface(&desc, &d.primary, nullptr), "CreateSurface (primary)") &&
                 ok(d.draw->CreateClipper(0, &d.clipper, nullptr), "CreateClipper") &&
                 ok(d.clipper->SetHWnd(0, d.window), "SetHWnd") && ok(d.primary->SetClipper(d.clipper), "SetClipper");
  DDPIXELFORMAT format{};
  format.dwSize = sizeof format;
  started = started && ok(d.primary->GetPixelFormat(&format), "GetPixelFormat");
  d.eightBit = started && (format.dwFlags & DDPF_PALETTEINDEXED8);
  // Blt converts no pixel formats: the page is 32-bit RGB, or 8-bit on an
  // 8-bit desktop for a page of up to 8 bits. Any other desktop goes on to
  // the next back-end rather than show black or write past a row.
  const bool rgb32 = (format.dwFlags & DDPF_RGB) && !d.eightBit && format.dwRGBBitCount == 32;
  if (started && !(rgb32 || (d.eightBit && d.depth <= 8))) {
    failure = "the desktop's " + std::to_string(format.dwRGBBitCount) + "-bit pixels do not take a " +
              std::to_string(d.depth) + "-bit page";
    ReleaseSurfaces();
    return false;
  }
  if (started && d.eightBit) {
    PALETTEENTRY entries[256];
    SystemEntries(entries);
    started = ok(d.draw->CreatePalette(DDPCAPS_8BIT, entries, &d.palette, nullptr), "CreatePalette") &&
              ok(d.primary->SetPalette(d.palette), "SetPalette");
    for (int i = 0; i < 236; ++i) d.entry[i] = uint8_t(10 + i);  // until SetColours knows the colours
  }
  if (started) {
    DDSURFACEDESC page{};
    page.dwSize = sizeof page;
    page.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    page.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    page.dwWidth = DWORD(d.width);
    page.dwHeight = DWORD(d.height);
    page.ddpfPixelFormat.dwSize = sizeof page.ddpfPixelFormat;
    page.ddpfPixelFormat.dwFlags = d.eightBit ? DDPF_RGB | DDPF_PALETTEINDEXED8 : DDPF_RGB;
    page.ddpfPixelFormat.dwRGBBitCount = d.eightBit ? 8 : 32;
    if (!d.eightBit) {
      page.ddpfPixelFormat.dwRBitMask = 0xFF0000;
      page.ddpfPixelFormat.dwGBitMask = 0x00FF00;
      page.ddpfPixelFormat.dwBBitMask = 0x0000FF;
    }
    started = ok(d.draw->CreateSurface(&page, &d.page, nullptr), "CreateSurface (page)");
  }
  if (!started) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    failure = std::string(failed) + " failed (" + code + ")";
    ReleaseSurfaces();
  }
  return started;
}

bool Start(HWND window, int32_t width, int32_t height, int32_t depth, std::string& failure) {
  DirectX& d = gDx;
  d = DirectX{};
  d.window = window;
  d.width = width;
  d.height = height;
  d.depth = depth;
  d.ddrawDll = LoadLibraryA("ddraw.dll");
  auto create = d.ddrawDll ? reinterpret_cast<DirectDrawCreateFn>(
                                 reinterpret_cast<void*>(GetProcAddress(d.ddrawDll, "DirectDrawCreate")))
                           : nullptr;
  if (!create) {
    failure = d.ddrawDll ? "ddraw.dll has no DirectDrawCreate" : "ddraw.dll cannot be loaded";
    Finish();
    return false;
  }
  HRESULT result = create(nullptr, &d.draw, nullptr);
  const char* failed = FAILED(result) ? "DirectDrawCreate" : nullptr;
  if (!failed && FAILED(result = d.draw->SetCooperativeLevel(window, DDSCL_NORMAL))) failed = "SetCooperativeLevel";
  if (failed) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    failure = std::string(failed) + " failed (" + code + ")";
  }
  if (failed || !CreateSurfaces(failure)) {
    Finish();
    return false;
  }
  StartKeyboard(window);
  return true;
}

// On an 8-bit desktop: page bytes 0 to 235 in palette entries 10 to 245, a
// byte beyond as the nearest of all 256; entries 0-9 and 246-255 stay the
// system's, so the desktop's colours stay and the page's show exactly.
void SetColours(const Frame& frame) {
  DirectX& d = gDx;
  PALETTEENTRY entries[256];
  SystemEntries(entries);
  for (int i = 0; i < 236; ++i) {
    const uint32_t c = frame.colours[i];
    entries[10 + i] = PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), PC_NOCOLLAPSE};
    d.entry[i] = uint8_t(10 + i);
  }
  for (int i = 236; i < 256; ++i) {
    const uint32_t c = frame.colours[i];
    const int r = int(c >> 16 & 0xFF), g = int(c >> 8 & 0xFF), b = int(c & 0xFF);
    int best = 0, bestDistance = 1 << 30;
    for (int e = 0; e < 256; ++e) {
      const int dr = entries[e].peRed - r, dg = entries[e].peGreen - g, db = entries[e].peBlue - b;
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) best = e, bestDistance = distance;
    }
    d.entry[i] = uint8_t(best);
  }
  d.palette->SetEntries(0, 10, 236, entries + 10);
}

// Rows first..last of the frame into the page's surface, through the
// palette entries on an 8-bit desktop, converted to 32-bit RGB elsewhere.
void UploadRows(const Frame& frame, int32_t first, int32_t last) {
  DirectX& d = gDx;
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  if (FAILED(d.page->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr))) return;
  auto* bits = static_cast<uint8_t*>(desc.lpSurface);
  for (int32_t y = first; y <= last; ++y) {
    uint8_t* row = bits + size_t(y) * size_t(desc.lPitch);
    const uint8_t* from = frame.pixels.data() + size_t(y) * size_t(frame.width);
    if (d.eightBit)  // pages of one byte a pixel only (CreateSurfaces sees to it)
      for (int32_t x = 0; x < frame.width; ++x) row[x] = d.entry[from[x]];
    else
      FrameRowToRgb(frame, y, reinterpret_cast<uint32_t*>(row));
  }
  d.page->Unlock(nullptr);
}

// The whole frame into surfaces that are new or were lost.
void UploadAll() {
  DirectX& d = gDx;
  if (!d.frame || d.frame->width != d.width || d.frame->height != d.height) return;
  if (d.eightBit) SetColours(*d.frame);
  UploadRows(*d.frame, 0, d.height - 1);
}

void Update(const Frame& frame, int32_t first, int32_t last) {
  DirectX& d = gDx;
  d.frame = &frame;
  if (d.gone) return;
  if (d.eightBit && frame.paletteChanged) SetColours(frame);
  UploadRows(frame, first, last);
}

// Whether there are surfaces to draw with: lost ones restored, and when that
// fails (the display's mode changed) all made anew for the desktop's format
// as it is now. When none fits it nothing is drawn, and each whole present
// (the display's change repaints every window) tries again.
bool Ready(bool whole) {
  DirectX& d = gDx;
  if (!d.gone) {
    if (d.primary->IsLost() != DDERR_SURFACELOST && d.page->IsLost() != DDERR_SURFACELOST) return true;
    if (SUCCEEDED(d.primary->Restore()) && SUCCEEDED(d.page->Restore())) return UploadAll(), true;
  } else if (!whole) {
    return false;
  }
  ReleaseSurfaces();
  std::string failure;
  d.gone = !CreateSurfaces(failure);
  if (!d.gone) UploadAll();
  return !d.gone;
}

void Present(HWND window, const RECT& picture, const RECT& client, int32_t, int32_t, bool whole) {
  DirectX& d = gDx;
  if (!Ready(whole)) return;
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  if (whole && (picture.left > 0 || picture.top > 0)) {  // the bars around a full-screen picture, not under it
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    const RECT bars[4] = {{0, 0, client.right, picture.top}, {0, picture.bottom, client.right, client.bottom},
                          {0, picture.top, picture.left, picture.bottom},
                          {picture.right, picture.top, client.right, picture.bottom}};
    for (RECT bar : bars) {
      if (bar.right <= bar.left || bar.bottom <= bar.top) continue;
      OffsetRect(&bar, origin.x, origin.y);
      d.primary->Blt(&bar, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    }
  }
  RECT target = picture;
  OffsetRect(&target, origin.x, origin.y);
  RECT source{0, 0, d.width, d.height};
  d.primary->Blt(&target, d.page, &source, DDBLT_WAIT, nullptr);
}

bool KeyStates(uint8_t held[128]) {
  DirectX& d = gDx;
  if (!d.keyboard) return false;
  uint8_t state[256];
  if (FAILED(d.keyboard->GetDeviceState(sizeof state, state))) {
    d.keyboard->Acquire();  // lost with the focus: taken again when it returns
    return false;
  }
  KeyStatesFromScanCodes(state, held);
  return true;
}

const Surface kDxSurface = {Start, Update, Present, Finish, KeyStates, nullptr};

int Open(const BackendOpenArgs& args, std::string& reason) {
  return OpenWindowBackend(kDxSurface, args, reason);
}

}  // namespace

extern const Backend kDirectXBackend = {"DirectX", Open, CloseWindowBackend,
                                        LockWindowBackend, UnlockWindowBackend, nullptr, true};

}  // namespace scr
