// directx.cpp - the "DirectX" back-end: DirectDraw presents (a windowed
// primary surface with a clipper, an offscreen surface of the page, Blt),
// and the DirectInput keyboard fills the key-state table.
//
// Both DLLs are loaded by name when the window starts, so a system without
// them only makes this back-end fail and the next one open. An 8-bit primary
// surface shows the page's bytes through a DirectDraw palette; any other
// (Wine shows palettised surfaces black, and desktops are 32-bit today) gets
// a 32-bit offscreen surface into which the rows are converted through the
// shown colours.
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
  bool eightBit = false;
  int32_t width = 0, height = 0;
};

DirectX gDx;

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

void Finish() {
  DirectX& d = gDx;
  if (d.keyboard) d.keyboard->Unacquire();
  Release(d.keyboard);
  Release(d.input);
  Release(d.palette);
  Release(d.page);
  Release(d.clipper);
  Release(d.primary);
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

bool Start(HWND window, int32_t width, int32_t height, int32_t depth, std::string& failure) {
  DirectX& d = gDx;
  d = DirectX{};
  d.width = width;
  d.height = height;
  d.ddrawDll = LoadLibraryA("ddraw.dll");
  auto create = d.ddrawDll ? reinterpret_cast<DirectDrawCreateFn>(
                                 reinterpret_cast<void*>(GetProcAddress(d.ddrawDll, "DirectDrawCreate")))
                           : nullptr;
  if (!create) {
    failure = d.ddrawDll ? "ddraw.dll has no DirectDrawCreate" : "ddraw.dll cannot be loaded";
    Finish();
    return false;
  }
  // Each call runs only while all before it succeeded; the first to fail is named.
  const char* failed = nullptr;
  HRESULT result = S_OK;
  const auto ok = [&](HRESULT hr, const char* call) {
    if (FAILED(hr)) failed = call, result = hr;
    return !failed;
  };
  bool started = ok(create(nullptr, &d.draw, nullptr), "DirectDrawCreate") &&
                 ok(d.draw->SetCooperativeLevel(window, DDSCL_NORMAL), "SetCooperativeLevel");
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  started = started && ok(d.draw->CreateSurface(&desc, &d.primary, nullptr), "CreateSurface (primary)") &&
            ok(d.draw->CreateClipper(0, &d.clipper, nullptr), "CreateClipper") &&
            ok(d.clipper->SetHWnd(0, window), "SetHWnd") && ok(d.primary->SetClipper(d.clipper), "SetClipper");
  DDPIXELFORMAT format{};
  format.dwSize = sizeof format;
  started = started && ok(d.primary->GetPixelFormat(&format), "GetPixelFormat");
  d.eightBit = started && (format.dwFlags & DDPF_PALETTEINDEXED8);
  // Blt converts no pixel formats: the page is 32-bit RGB, or 8-bit on an
  // 8-bit desktop for a page of up to 8 bits. Any other desktop goes on to
  // the next back-end rather than show black or write past a row.
  const bool rgb32 = (format.dwFlags & DDPF_RGB) && !d.eightBit && format.dwRGBBitCount == 32;
  if (started && !(rgb32 || (d.eightBit && depth <= 8))) {
    failure = "the desktop's " + std::to_string(format.dwRGBBitCount) + "-bit pixels do not take a " +
              std::to_string(depth) + "-bit page";
    Finish();
    return false;
  }
  if (started && d.eightBit) {
    PALETTEENTRY black[256] = {};
    started = ok(d.draw->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, black, &d.palette, nullptr), "CreatePalette") &&
              ok(d.primary->SetPalette(d.palette), "SetPalette");
  }
  if (started) {
    DDSURFACEDESC page{};
    page.dwSize = sizeof page;
    page.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    page.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    page.dwWidth = DWORD(width);
    page.dwHeight = DWORD(height);
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
    Finish();
    return false;
  }
  StartKeyboard(window);
  return true;
}

void Update(const Frame& frame, int32_t first, int32_t last) {
  DirectX& d = gDx;
  if (d.eightBit && frame.paletteChanged) {
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i) {
      const uint32_t c = frame.colours[i];
      entries[i] = PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0};
    }
    d.palette->SetEntries(0, 0, 256, entries);
  }
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  if (d.page->IsLost() == DDERR_SURFACELOST) d.page->Restore();
  if (FAILED(d.page->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr))) return;
  auto* bits = static_cast<uint8_t*>(desc.lpSurface);
  for (int32_t y = first; y <= last; ++y) {
    uint8_t* row = bits + size_t(y) * size_t(desc.lPitch);
    if (d.eightBit && frame.bytesPerPixel == 1)
      std::memcpy(row, frame.pixels.data() + size_t(y) * size_t(frame.width), size_t(frame.width));
    else
      FrameRowToRgb(frame, y, reinterpret_cast<uint32_t*>(row));
  }
  d.page->Unlock(nullptr);
}

void Present(HWND window, const RECT& picture, const RECT& client, int32_t, int32_t, bool whole) {
  DirectX& d = gDx;
  if (d.primary->IsLost() == DDERR_SURFACELOST) d.primary->Restore();
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
