// state.h - the screen layer's one-per-program state, in one place.
//
// A program has at most one Screen, one DrawContext, one error number, one
// file-slot table with its InputContext, the two key rings and the text
// console's settings. They all live in `gLayer` below. Everything in it is
// used by the program's thread only, except what the Presenter shares under
// the platform lock (see "Sharing" on Screen).
//
// Internal header: the screen layer's own sources, its back-ends and its
// tests include it; programs use screen.h only.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "screen.h"

struct Backend;

// ---------------------------------------------------------------------------
// Modes and palettes
// ---------------------------------------------------------------------------

struct PaletteColour {
  uint8_t r, g, b;
};

// One of the four fixed default palettes (2, 16, 64 or 256 entries).
struct DefaultPalette {
  int32_t count;
  const PaletteColour* colours;
};
const DefaultPalette& Palette2();
const DefaultPalette& Palette16();
const DefaultPalette& Palette64();
const DefaultPalette& Palette256();

// A row of the ModeTable (modes 0..21; 3 to 6 and 0 are not graphics modes).
struct ModeInfo {
  bool available;
  int32_t width, height, depth, lineMultiplier, defaultPages;
  const DefaultPalette* palette;
  int32_t cellWidth, cellHeight, textColumns, textRows;
  const uint8_t* attributeMap;  // 16 entries, or null when the mode has none
};
const ModeInfo& ModeTableRow(int32_t mode);  // mode 0..21

// Packs 8-bit components as red + green * 256 + blue * 65536.
inline uint32_t PackColour(PaletteColour c) {
  return uint32_t(c.r) | (uint32_t(c.g) << 8) | (uint32_t(c.b) << 16);
}

// ---------------------------------------------------------------------------
// The Screen
// ---------------------------------------------------------------------------

struct TextCell {
  uint32_t character;
  uint32_t foreground;
  uint32_t background;
};

// The one graphics display. Sharing: the Presenter reads `visible`,
// `dirtyRows`, `shownColours`, `width`, `windowHeight` and writes
// `dirtyRows` (clears), `keyState` and the window KeyRing, all under the
// back-end's platform lock; everything else is the program thread's.
struct Screen {
  uint32_t id = 0;
  int32_t mode = -1;  // ScreenMode number, -1 for ScreenRes
  int32_t width = 0, height = 0;
  int32_t depth = 0;          // normalised: 24 -> 32, 15 -> 16
  int32_t bytesPerPixel = 1;  // 1, 2 or 4
  int32_t pitch = 0;          // width * bytesPerPixel
  uint32_t colourMask = 0;
  int32_t pageCount = 0;
  std::vector<uint8_t*> pages;  // page starts, 16-byte aligned, inside pageStore
  uint8_t* pageStore = nullptr;  // one block for all pages
  int32_t visiblePage = 0;
  uint8_t* visible = nullptr;  // start of the visible page
  int32_t lineMultiplier = 1;
  int32_t windowHeight = 0;  // height * lineMultiplier
  std::vector<uint8_t> dirtyRows;  // windowHeight flags, 1 = dirty
  const DefaultPalette* defaultPalette = nullptr;
  uint32_t palette[256] = {};
  uint32_t shownColours[256] = {};
  uint8_t attributeMap[16] = {};
  bool hasAttributeMap = false;
  int32_t cellWidth = 8, cellHeight = 8;
  int32_t textColumns = 0, textRows = 0;
  std::vector<std::vector<TextCell>> textCells;  // one buffer per page
  int32_t textTop = -1, textBottom = -1;  // TextView, 0-based; -1 = not set
  int32_t cursorRow = 0, cursorColumn = 0;  // 0-based
  bool viewSetByProgram = false;  // a GraphicsView was set by the program
  int32_t lockCount = 0;
  const Backend* backend = nullptr;
  std::string title;
  int32_t flags = 0, refresh = 0;
  uint8_t keyState[128] = {};
  std::vector<int32_t> events;  // queued window events (11 focus in, 12 out, 13 close)
};

// Flags window rows for page rows first..last (clamped to the page). Caller holds the lock.
void MarkDirtyRows(Screen& s, int32_t first, int32_t last);
// Flags every window row. Caller holds the lock.
void MarkAllDirty(Screen& s);

// ---------------------------------------------------------------------------
// The DrawContext
// ---------------------------------------------------------------------------

struct GraphicsView {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct PixelRoutines {
  void (*put)(uint8_t* row, int32_t x, uint32_t colour) = nullptr;
  uint32_t (*get)(const uint8_t* row, int32_t x) = nullptr;
  void (*fill)(uint8_t* at, int32_t count, uint32_t colour) = nullptr;
};

// One blit routine: combines `width` pixels x `height` rows of source into target.
using BlitRoutine = void (*)(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height,
                             int32_t srcPitch, int32_t dstPitch, int32_t alpha,
                             BlendRoutine blend, void* param);
// The routines of one raster mode for 1, 2, (3: none) and 4 bytes per pixel.
struct BlitTable {
  BlitRoutine byPixelSize[5];
};

namespace DrawFlags {
inline constexpr uint32_t Fresh = 1;
inline constexpr uint32_t ImageTarget = 2;
inline constexpr uint32_t WorldWindow = 4;
inline constexpr uint32_t WorldKeepsOrientation = 8;
inline constexpr uint32_t AbsoluteView = 16;
}  // namespace DrawFlags

struct DrawContext {
  uint32_t screenId = 0;  // Screen this state was built for
  int32_t workPage = 0;
  std::vector<uint8_t*> rows;  // row table of the current target
  int32_t bytesPerPixel = 1;
  int32_t pitch = 0;
  const void* target = nullptr;  // null = the work page, else the image last drawn into
  float lastX = 0, lastY = 0;  // LastPoint
  GraphicsView view;
  GraphicsView savedView;  // the work page's view while an image is the target
  float worldX = 0, worldY = 0, worldW = 0, worldH = 0;
  uint32_t foreground = 0, background = 0;
  PixelRoutines pixel;
  const BlitTable* blitCache[10] = {};
  uint32_t flags = 0;
};

// Rebuilds the DrawContext for the open Screen when its id differs (or on
// first use). Returns false when no Screen is open.
bool EnsureDrawContext();
// Selects the drawing target (null = work page) as every drawing operation's first step.
void SelectTarget(const void* target);
// Points the row table at the work page again (after SetPages changed it).
void RetargetWorkPage();

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

// A ring of KeyCodes; empty when head == tail, so it holds size - 1 keys.
template <int N>
struct KeyRing {
  static constexpr int kSize = N;
  KeyCode slots[N] = {};
  int head = 0;
  int tail = 0;
  bool Empty() const { return head == tail; }
};
using WindowKeyRing = KeyRing<16>;
using ConsoleKeyRing = KeyRing<512>;

// Appends a code, dropping the oldest when full. No lock of its own: the
// window ring's callers hold the platform lock.
void PostKey(WindowKeyRing& ring, KeyCode code);
void PostKey(ConsoleKeyRing& ring, KeyCode code);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

struct FileOps;  // the operations of an open file (fileinput.cpp)

struct FileSlot {
  int32_t mode = 0;
  int32_t recordLength = 0;
  int32_t encoding = 0;
  int64_t size = -1;
  int32_t kind = 0;  // 1 = the console ("CON")
  int32_t access = 0;
  int32_t lock = 0;
  uint8_t putBack[4] = {};
  int32_t putBackCount = 0;
  const FileOps* ops = nullptr;  // set exactly while the slot is open
  FILE* stream = nullptr;
  char* buffer = nullptr;  // the stream's 8192-byte buffer
};

// Slot index: 0 = console (file number 0), 1 = reserved (-1), 2.. = numbers 1..255.
inline constexpr int kFileSlotCount = 257;

struct InputContext {
  FileSlot* slot = nullptr;
  std::string text;  // read when no open slot is attached (always empty here)
  size_t index = 0;
};

// Reads the next token from the InputContext (number mode, at most 67 bytes).
NumberToken NextToken();
// One character of input (0..255, -1 at the end), and putting one back in
// front of the slot's put-back bytes (error 3 when 4 are already held).
int32_t ReadInputChar();
void UnreadInputChar(int c);

// ---------------------------------------------------------------------------
// The text console
// ---------------------------------------------------------------------------

struct ConsoleState {
  int32_t foreground = 7, background = 0;  // 16-colour numbers
  int32_t columns = 80, rows = 25;
  int32_t textTop = -1, textBottom = -1;  // TextView, 0-based; -1 = not set
  int32_t cursorRow = 0, cursorColumn = 0;
};

// SetTextView's rule on a grid of `rows`: the view top..bottom (0-based, -1 =
// not set) becomes first..last (from 1; 0 = the edge, negative = keep). Returns
// last * 65536 + first, or 0 when refused; `changed` tells whether it was set
// (both arguments negative only report).
int32_t ResolveTextView(int32_t rows, int32_t& top, int32_t& bottom, int32_t first, int32_t last,
                        bool& changed);

// Console operations (console.cpp): ANSI sequences, only when stdout is a terminal.
void ConsoleClear(int32_t kind);
uint32_t ConsoleSetColor(uint32_t fg, uint32_t bg, int32_t omitted);
int32_t ConsoleSetTextView(int32_t first, int32_t last);
int32_t ConsoleSetWidth(int32_t columns, int32_t rows);
// Reads pending console keys into the console ring (keyboard side).
void ConsolePollKeys();

// ---------------------------------------------------------------------------
// The layer's state
// ---------------------------------------------------------------------------

struct LayerState {
  // Program
  int argc = 0;
  char** argv = nullptr;
  // Screen (null: routing goes to the text console)
  Screen* screen = nullptr;
  uint32_t screenCounter = 0;
  bool endHookRegistered = false;
  // Drawing
  DrawContext draw;
  // Error number and files
  int32_t errorNumber = 0;
  FileSlot files[kFileSlotCount];
  bool filesUsed = false;
  InputContext input;
  // Keys: the window ring is shared with the Presenter under the platform lock.
  WindowKeyRing windowKeys;
  ConsoleKeyRing consoleKeys;
  int32_t altNumpad = 0;
  // Text console
  ConsoleState console;
};

extern LayerState gLayer;

// Opening and closing (screen.cpp).
void CloseScreen(bool consoleReset);

// Writes the visible page as an RGB PNG through the shown colours (screenshot.cpp).
bool WritePagePng(const Screen& s, const char* path);
// Does so to the file named by SCRSHOT, when it is set; called as a Screen closes.
void WriteScreenshotIfAsked(const Screen& s);
