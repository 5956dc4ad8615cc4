// pages.cpp - opening and closing the Screen, its pages, palette, colours
// and text view: the Screen's halves of the routed operations.
#include "pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "backend/backend.h"
#include "lock.h"
#include "modes.h"
#include "pixels.h"
#include "platform/platform.h"
#include "record.h"
#include "screenshot.h"
#include "textview.h"

namespace scr {

namespace {

// Refuse page stores beyond this size: the pages are filled at opening, and
// an overcommitted giant block would only fail later, in the middle of a fill.
constexpr int64_t kMaxPageBytes = int64_t(1) << 30;
// Pages start on cache-line boundaries (see OpenScreen).
constexpr std::align_val_t kPageAlign{64};

void FillTextCells(Screen& s, int32_t page, int32_t firstRow, int32_t lastRow) {
  auto& cells = s.textCells[size_t(page)];
  TextCell blank{32, gLayer.draw.foreground, gLayer.draw.background};
  for (int32_t r = firstRow; r <= lastRow; ++r)
    std::fill_n(cells.begin() + int64_t(r) * s.textColumns, s.textColumns, blank);
}

// The window title: the executable's file name without the text from its last ".".
std::string ProgramTitle() {
  std::string name = platform::ExecutablePath();
  if (name.empty() && gLayer.argv && gLayer.argv[0]) name = gLayer.argv[0];
  name = platform::FileNamePart(name);
  if (size_t dot = name.find_last_of('.'); dot != std::string::npos) name.erase(dot);
  return name;
}

// The drawing state of a newly opened Screen: its work page, whole view and
// default colours; the row table is built at the first drawing call.
DrawContext NewDrawContext(const Screen& s) {
  DrawContext d;
  d.bytesPerPixel = s.bytesPerPixel;
  d.pitch = s.pitch;
  d.view = d.savedView = GraphicsView{0, 0, s.width, s.height};
  const uint32_t mask = s.depth >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << s.depth) - 1;
  d.foreground = (s.depth >= 5 && s.depth <= 8) ? 15u : mask;
  d.background = mask & 0xFF000000u;
  d.flags = DrawFlags::RowsStale;
  return d;
}

void ResetPalette(Screen& s) {
  if (s.depth > 8) return;
  LockScreen();
  const DefaultPalette& p = *s.defaultPalette;
  for (int32_t i = 0; i < p.count && i < 256; ++i) {
    s.palette[i] = PackColour(p.colours[i]);
    if (i < (1 << s.depth)) {
      int32_t c = (s.hasAttributeMap && i < 16) ? s.attributeMap[i] : i;
      if (s.hasAttributeMap && i < 16) s.attributeMap[i] = uint8_t(c);
      const PaletteColour& col = p.colours[c];
      s.shownColours[i] = PackColour(col);
    }
  }
  s.coloursChanged = true;
  MarkAllDirty(s);
  UnlockScreen(1, 0);
}

void EndHook() { CloseScreen(); }

struct OpenRequest {
  const char* call;  // ScreenMode or ScreenRes, for the error's detail
  int32_t mode, width, height, depth, lineMultiplier, pages, refresh, flags;
  const DefaultPalette* palette;
  int32_t cellWidth, cellHeight, textColumns, textRows;
  const uint8_t* attributeMap;
};

int32_t OpenScreen(OpenRequest r) {
  if (r.flags >= 0 && (r.flags & ScreenFlag::Fixed))
    r.flags |= ScreenFlag::NoSwitch | ScreenFlag::Borderless | ScreenFlag::Fixed;
  CloseScreen();

  int32_t depth = r.depth, bpp;
  if (depth == 24 || depth == 32) {
    depth = 32;
    bpp = 4;
  } else if (depth == 15 || depth == 16) {
    depth = 16;
    bpp = 2;
  } else {
    bpp = (depth + 7) / 8;
  }
  const int64_t pitch = int64_t(r.width) * bpp;
  const auto tooLarge = [&r](const char* why) {
    return Fail(4, {r.call, ": the pages (", r.pages, " of ", r.width, " x ", r.height, " pixels at depth ", r.depth,
                    ") ", why});
  };
  // Each factor is checked before it is multiplied, so no size can overflow.
  if (pitch > kMaxPageBytes || r.height > kMaxPageBytes / r.lineMultiplier) return tooLarge("pass the 1 GiB limit");
  // Pages start on cache-line boundaries (which keeps them 16-byte aligned):
  // rows that straddle one line fewer make fills and copies measurably faster.
  const int64_t pageBytes = (pitch * r.height + 63) & ~int64_t(63);
  if (pageBytes > kMaxPageBytes || pageBytes * r.pages > kMaxPageBytes) return tooLarge("pass the 1 GiB limit");

  auto* s = new (std::nothrow) Screen;
  if (!s) return tooLarge("do not fit in memory");
  s->pageStore = static_cast<uint8_t*>(::operator new(size_t(pageBytes * r.pages), kPageAlign, std::nothrow));
  if (!s->pageStore) {
    delete s;
    return tooLarge("do not fit in memory");
  }
  s->mode = r.mode;
  s->width = r.width;
  s->height = r.height;
  s->depth = depth;
  s->bytesPerPixel = bpp;
  s->pitch = int32_t(pitch);
  s->pageCount = r.pages;
  for (int32_t p = 0; p < r.pages; ++p) s->pages.push_back(s->pageStore + pageBytes * p);
  s->visiblePage = 0;
  s->visible = s->pages[0];
  s->lineMultiplier = r.lineMultiplier;
  s->windowHeight = r.height * r.lineMultiplier;
  s->dirtyRows.assign(size_t(s->windowHeight), 0);
  s->defaultPalette = r.palette;
  s->hasAttributeMap = r.attributeMap != nullptr;
  if (r.attributeMap) std::memcpy(s->attributeMap, r.attributeMap, 16);
  s->cellWidth = r.cellWidth;
  s->cellHeight = r.cellHeight;
  s->textColumns = r.textColumns;
  s->textRows = r.textRows;
  s->title = gLayer.title.empty() ? ProgramTitle() : gLayer.title;
  s->titleChanged = !gLayer.title.empty();  // a page shows it only from its first pass
  s->flags = r.flags;
  s->refresh = r.refresh;

  BackendOpenArgs args{s->title.c_str(), s->width, s->windowHeight, s->depth, s->refresh, s->flags};
  std::string reasons;
  s->backend = StartBackend(args, reasons);
  if (!s->backend) {
    ::operator delete(s->pageStore, kPageAlign);
    delete s;
    return Fail(1, {r.call, ": no back-end could show the Screen (", reasons, ")"});
  }
  gLayer.screen = s;  // routing now goes to the Screen
  gLayer.draw = NewDrawContext(*s);

  ResetPalette(*s);
  s->textCells.assign(size_t(r.pages), std::vector<TextCell>(size_t(r.textColumns) * r.textRows,
                                                             TextCell{0, 0, 0}));
  FillTextCells(*s, gLayer.draw.workPage, 0, s->textRows - 1);
  LockScreen();
  FillPixels(s->pageStore, pageBytes * r.pages / bpp, bpp, gLayer.draw.background);
  UnlockScreen(1, 0);
  // Shown only now: a Presenter pass before the clear would take rows of uninitialised memory
  // and keep them on screen, since the clear flags no rows.
  ShowToPresenter(s);
  StartRecordingIfAsked(*s);
  if (!gLayer.endHookRegistered) {
    gLayer.endHookRegistered = true;
    std::atexit(EndHook);
  }
  s->textTop = 0;
  s->textBottom = s->textRows - 1;
  s->cursorRow = 0;
  s->cursorColumn = 0;
  return SetError(0);
}

}  // namespace

// ---------------------------------------------------------------------------

void CloseScreen() {
  Screen* s = gLayer.screen;
  if (!s) return;
  // The Presenter may be waiting for the lock: give it back before stopping it.
  if (s->lockCount != 0) {
    s->lockCount = 0;
    s->backend->unlock();
  }
  ShowToPresenter(nullptr);
  s->backend->close();
  FinishRecording(*s);
  WriteScreenshotIfAsked(*s);
  gLayer.screen = nullptr;
  ::operator delete(s->pageStore, kPageAlign);
  delete s;
}

void StartProgram(int argc, char** argv) {
  gLayer.argc = argc;
  gLayer.argv = argv;
}

void EndProgram(int32_t code) {
  CloseScreen();
  std::exit(code);
}

int32_t OpenMode(int32_t mode, int32_t depth, int32_t pages, int32_t flags, int32_t refresh) {
  const ModeInfo& m = ModeTableRow(mode);
  int32_t d = m.depth;
  if (mode >= 14 && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32)) d = depth;
  return OpenScreen({"ScreenMode", mode, m.width, m.height, d, m.lineMultiplier, pages > 0 ? pages : m.defaultPages,
                     refresh, flags, m.palette, m.cellWidth, m.cellHeight, m.textColumns, m.textRows,
                     m.attributeMap});
}

int32_t ScreenRes(int32_t width, int32_t height, int32_t depth, int32_t pages, int32_t flags,
                  int32_t refresh) {
  static const int32_t kDepths[] = {1, 2, 4, 8, 15, 16, 24, 32};
  if (width <= 0 || height <= 0) return Fail(1, {"ScreenRes: the size ", width, " x ", height, " is not positive"});
  if (std::find(std::begin(kDepths), std::end(kDepths), depth) == std::end(kDepths))
    return Fail(1, {"ScreenRes: depth ", depth, " is not one of 1, 2, 4, 8, 15, 16, 24, 32"});
  return OpenScreen({"ScreenRes", -1, width, height, depth, 1, std::max(pages, 1), refresh, flags, &Palette256(), 8, 8,
                     width / 8, height / 8, nullptr});
}

std::string BackendName() { return gLayer.screen ? gLayer.screen->backend->name : ""; }

int32_t SetPages(int32_t work, int32_t visible) {
  Screen* s = gLayer.screen;
  if (!s) return -1;
  DrawContext& dc = gLayer.draw;
  const int32_t result = s->visiblePage * 256 + dc.workPage;
  if (work < 0 && visible < 0 && s->pageCount > 0) work = visible = 0;
  if (work >= 0 && work < s->pageCount) {
    // The row table follows at the next drawing call; the view stays.
    if (!(dc.flags & (DrawFlags::ImageTarget | DrawFlags::RowsStale))) dc.savedView = dc.view;
    dc.workPage = work;
    dc.flags |= DrawFlags::RowsStale;
  }
  if (visible >= 0 && visible < s->pageCount && visible != s->visiblePage) {
    LockScreen();
    s->visiblePage = visible;
    s->visible = s->pages[size_t(visible)];
    MarkAllDirty(*s);
    UnlockScreen(1, 0);
  }
  return result;
}

int32_t GraphicsPageCopy(int32_t source, int32_t destination) {
  Screen* s = gLayer.screen;
  if (!s) return Fail(1, {"GraphicsPageCopy: no Screen is open"});
  if (source < 0) source = gLayer.draw.workPage;
  if (destination < 0) destination = s->visiblePage;
  if (source >= s->pageCount || destination >= s->pageCount)
    return Fail(1, {"GraphicsPageCopy: page ", source >= s->pageCount ? source : destination, " does not exist (",
                    s->pageCount, s->pageCount == 1 ? " page)" : " pages)"});
  if (source == destination) return SetError(0);

  const bool lockHere = destination == s->visiblePage && s->lockCount == 0;
  if (lockHere) LockScreen();
  const GraphicsView v = WorkPageView(gLayer.draw);
  const uint8_t* src = s->pages[size_t(source)];
  uint8_t* dst = s->pages[size_t(destination)];
  const size_t bpp = size_t(s->bytesPerPixel), pitch = size_t(s->pitch);
  if (v.x == 0 && v.width == s->width) {
    // Whole rows: the view is one contiguous block.
    std::memcpy(dst + size_t(v.y) * pitch, src + size_t(v.y) * pitch, size_t(v.height) * pitch);
  } else {
    for (int32_t y = v.y; y < v.y + v.height; ++y)
      std::memcpy(dst + size_t(y) * pitch + size_t(v.x) * bpp, src + size_t(y) * pitch + size_t(v.x) * bpp,
                  size_t(v.width) * bpp);
  }
  s->textCells[size_t(destination)] = s->textCells[size_t(source)];
  if (lockHere) {
    MarkDirtyRows(*s, v.y, v.y + v.height - 1);
    UnlockScreen(1, 0);
  }
  return SetError(0);
}

void PageClear(int32_t kind) {
  Screen* s = gLayer.screen;
  DrawContext& dc = gLayer.draw;
  const GraphicsView v = WorkPageView(gLayer.draw);
  const int32_t top = s->textTop < 0 ? 0 : s->textTop;
  const int32_t bottom = s->textBottom < 0 ? s->textRows - 1 : s->textBottom;
  enum { Whole, TextView, View } target;
  if (kind == kOmitted) {
    target = s->viewSetByProgram ? View : (top == 0 && bottom == s->textRows - 1) ? Whole : TextView;
  } else {
    target = kind == 0 ? Whole : kind == 2 ? TextView : View;
  }

  LockScreen();
  uint8_t* page = s->pages[size_t(dc.workPage)];
  const bool visible = dc.workPage == s->visiblePage;
  const size_t pitch = size_t(s->pitch);
  const int32_t bpp = s->bytesPerPixel;
  switch (target) {
    case Whole:
      FillPixels(page, int64_t(s->width) * s->height, bpp, dc.background);
      if (visible) MarkDirtyRows(*s, 0, s->height - 1);
      dc.lastX = float(v.x + v.width / 2);
      dc.lastY = float(v.y + v.height / 2);
      FillTextCells(*s, dc.workPage, 0, s->textRows - 1);
      s->cursorRow = top;
      s->cursorColumn = 0;
      break;
    case TextView: {
      const int32_t y1 = top * s->cellHeight;
      const int32_t y2 = std::min((bottom + 1) * s->cellHeight, s->height) - 1;
      if (y2 >= y1) {
        FillPixels(page + size_t(y1) * pitch, int64_t(s->width) * (y2 - y1 + 1), bpp, dc.background);
        if (visible) MarkDirtyRows(*s, y1, y2);
      }
      FillTextCells(*s, dc.workPage, top, bottom);
      s->cursorRow = top;
      s->cursorColumn = 0;
      break;
    }
    case View:
      for (int32_t y = v.y; y < v.y + v.height; ++y)
        FillPixels(page + size_t(y) * pitch + size_t(v.x) * bpp, v.width, bpp, dc.background);
      if (visible) MarkDirtyRows(*s, v.y, v.y + v.height - 1);
      dc.lastX = float(v.x + v.width / 2);
      dc.lastY = float(v.y + v.height / 2);
      break;
  }
  UnlockScreen(1, 0);
}

void SetPaletteEntry(int32_t index, int32_t colour) {
  Screen* s = gLayer.screen;
  if (!s || !s->defaultPalette || s->depth > 8) return;
  const int32_t n = s->defaultPalette->count;
  index &= n - 1;
  colour &= n - 1;
  if (index < 16) s->attributeMap[index] = uint8_t(colour);
  LockScreen();
  s->shownColours[index] = s->palette[colour];
  s->coloursChanged = true;
  MarkAllDirty(*s);
  UnlockScreen(1, 0);
}

void SetPaletteRgb(int32_t index, uint8_t red, uint8_t green, uint8_t blue) {
  Screen* s = gLayer.screen;
  if (!s || s->depth > 8 || index < 0 || index >= (1 << s->depth)) {
    if (!s) Fail(1, {"SetPaletteRgb: no Screen is open"});
    else if (s->depth > 8) Fail(1, {"SetPaletteRgb: a Screen of depth ", s->depth, " has no palette"});
    else Fail(1, {"SetPaletteRgb: index ", index, " is outside 0 to ", (1 << s->depth) - 1});
    return;
  }
  LockScreen();
  s->shownColours[index] = PackColour({red, green, blue});
  s->coloursChanged = true;
  MarkAllDirty(*s);
  UnlockScreen(1, 0);
  SetError(0);
}

void SetTitle(const std::string& title) {
  gLayer.title = title;
  Screen* s = gLayer.screen;
  if (!s) return;
  LockScreen();
  s->title = title.empty() ? ProgramTitle() : title;
  s->titleChanged = true;
  UnlockScreen(1, 0);
}

uint32_t GetPaletteRgb(int32_t index) {
  const Screen* s = gLayer.screen;
  if (!s || s->depth > 8 || index < 0 || index > 255) return 0xFFFFFFFFu;
  const uint32_t c = s->shownColours[index];  // red + green * 256 + blue * 65536
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

uint32_t PageSetColor(uint32_t foreground, uint32_t background, int32_t omitted) {
  Screen* s = gLayer.screen;
  DrawContext& dc = gLayer.draw;
  const uint32_t result = (dc.background << 16) + dc.foreground;
  const bool fgGiven = !(omitted & 1), bgGiven = !(omitted & 2);
  if (s->mode >= 7 && s->mode <= 9) {
    if (fgGiven) dc.foreground = foreground & 15;
    if (bgGiven) SetPaletteEntry(0, int32_t(background));
  } else {
    const uint32_t mask = s->bytesPerPixel >= 4 ? 0xFFFFFFFFu : (1u << (8 * s->bytesPerPixel)) - 1;
    if (fgGiven) dc.foreground = foreground & mask;
    if (bgGiven) dc.background = background & mask;
  }
  return result;
}

int32_t PageSetTextView(int32_t first, int32_t last) {
  Screen* s = gLayer.screen;
  bool changed;
  const int32_t result = ResolveTextView(s->textRows, s->textTop, s->textBottom, first, last, changed);
  if (changed) {
    s->cursorRow = s->textTop;
    s->cursorColumn = 0;
  }
  return result;
}

int32_t PageSetWidth(int32_t columns, int32_t rows) {
  const Screen* s = gLayer.screen;
  // The Screen's text grid follows its mode; with a Screen open nothing changes.
  if (columns > 0 || rows > 0) return 0;
  return s->textRows * 65536 + s->textColumns;
}

}  // namespace scr
