// state.h - the screen layer's one-per-program state, in one place.
//
// A program has at most one Screen, one DrawContext, one error number (with
// its detail), one file-slot table with its InputContext, the two key rings,
// the registry of ImageCreate blocks, the fonts made from images, the clock's
// source and the text console's settings. They all live in `gLayer` below and are used by
// the program's thread only, except what the Presenter shares under the
// platform lock (see `shown`).
// Each back-end keeps its Presenter's own state in its file, and the
// terminal's saved settings live with the platform code (platform/terminal.cpp).
//
// Internal header: the screen layer's sources include it; its modules'
// operations are declared in their own headers.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "screen.h"

namespace scr {

struct Backend;
struct DefaultPalette;
struct Recording;

// ---------------------------------------------------------------------------
// The Screen
// ---------------------------------------------------------------------------

struct TextCell {
  uint32_t character;
  uint32_t foreground;
  uint32_t background;
};

// The one graphics display. The Presenter reaches it only through the
// back-end interface (backend/backend.h), under the platform lock.
struct Screen {
  int32_t mode = -1;  // ScreenMode number, -1 for ScreenRes
  int32_t width = 0, height = 0;
  int32_t depth = 0;          // normalised: 24 -> 32, 15 -> 16
  int32_t bytesPerPixel = 1;  // 1, 2 or 4
  int32_t pitch = 0;          // width * bytesPerPixel
  int32_t pageCount = 0;
  std::vector<uint8_t*> pages;  // page starts, 64-byte aligned, inside pageStore
  uint8_t* pageStore = nullptr;  // one block for all pages
  int32_t visiblePage = 0;
  uint8_t* visible = nullptr;  // start of the visible page
  int32_t lineMultiplier = 1;
  int32_t windowHeight = 0;  // height * lineMultiplier
  std::vector<uint8_t> dirtyRows;  // windowHeight flags, 1 = dirty
  const DefaultPalette* defaultPalette = nullptr;
  uint32_t palette[256] = {};
  uint32_t shownColours[256] = {};  // red + green * 256 + blue * 65536
  bool coloursChanged = false;      // shownColours changed since the Presenter's last pass
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
  std::string title;           // the window's title (UTF-8)
  bool titleChanged = false;   // title set since the Presenter's last pass
  int32_t flags = 0, refresh = 0;
  uint8_t keyState[128] = {};  // 1 while the key with that scan code is held
  // Since the last KeyPressed / KeyReleased of each scan code: bit 0 the key
  // went down, bit 1 it went up.
  uint8_t keyEdges[128] = {};
  // The pointer as the Presenter last saw it: x and the window row over the
  // picture (-1, -1 outside it), the wheel's running count and the buttons.
  int32_t pointerX = -1, pointerRow = -1, wheel = 0, buttons = 0;
  // SetMouse's requests, for the Presenter's next pass: a move to x and window
  // row, and the pointer shown (1) or hidden (0), -1 for no change.
  bool pointerMove = false;
  int32_t moveX = 0, moveRow = 0, pointerShown = -1;
};

// ---------------------------------------------------------------------------
// The DrawContext
// ---------------------------------------------------------------------------

struct GraphicsView {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct PixelRoutines {
  void (*put)(uint8_t* row, int32_t x, uint32_t colour) = nullptr;
  void (*fill)(uint8_t* at, int32_t count, uint32_t colour) = nullptr;
};

// What an image header says, after checking.
struct ImageShape {
  int32_t bytesPerPixel = 0;
  int32_t width = 0, height = 0;
  int64_t pitch = 0;
  int32_t headerSize = 0;
  bool full = false;
};

namespace DrawFlags {
inline constexpr uint32_t RowsStale = 1;  // the row table must be rebuilt for the work page
inline constexpr uint32_t ImageTarget = 2;
}  // namespace DrawFlags

// Set up by the Screen's opening; the drawing operations keep the row table
// (the current target) up to date.
struct DrawContext {
  int32_t workPage = 0;
  std::vector<uint8_t*> rows;  // row table of the current target
  int32_t bytesPerPixel = 1;
  int32_t pitch = 0;
  const void* target = nullptr;  // null = the work page, else the image last drawn into
  ImageShape targetShape;        // that image's header as last read
  float lastX = 0, lastY = 0;  // LastPoint
  GraphicsView view;
  GraphicsView savedView;  // the work page's view while an image is the target
  uint32_t foreground = 0, background = 0;
  PixelRoutines pixel;
  uint32_t flags = 0;
};

// The work page's view (kept in savedView while an image or nothing is selected).
inline const GraphicsView& WorkPageView(const DrawContext& dc) {
  return (dc.flags & (DrawFlags::ImageTarget | DrawFlags::RowsStale)) ? dc.savedView : dc.view;
}

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

// A ring of KeyCodes; empty when head == tail, so it holds N - 1 keys. No
// lock of its own: the window ring's users hold the platform lock.
template <int N>
struct KeyRing {
  KeyCode slots[N] = {};
  int head = 0;
  int tail = 0;
  bool Empty() const { return head == tail; }
  int Size() const { return (tail - head + N) % N; }
  // Appends a code, dropping the oldest when full.
  void Post(KeyCode code) {
    slots[tail] = code;
    tail = (tail + 1) % N;
    if (tail == head) head = (head + 1) % N;
  }
  bool Pop(KeyCode& code) {
    if (Empty()) return false;
    code = slots[head];
    head = (head + 1) % N;
    return true;
  }
};

// A count read without a lock, copyable so that the layer's state can be reset whole.
struct KeyCount {
  std::atomic<int32_t> n{0};
  KeyCount() = default;
  KeyCount(const KeyCount& other) : n(other.n.load()) {}
  KeyCount& operator=(const KeyCount& other) {
    n.store(other.n.load());
    return *this;
  }
};

// The running recording (record.cpp owns it); a Presenter reads it under the
// platform lock. Copied as a plain pointer when the state is reset.
struct RecordingSlot {
  std::atomic<Recording*> running{nullptr};
  RecordingSlot() = default;
  RecordingSlot(const RecordingSlot& other) : running(other.running.load()) {}
  RecordingSlot& operator=(const RecordingSlot& other) {
    running.store(other.running.load());
    return *this;
  }
};

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// A numbered file open for sequential text input.
struct FileSlot {
  bool open = false;
  FILE* stream = nullptr;  // null after a failed close: reads give the end of input
  char* buffer = nullptr;  // the stream's 8192-byte buffer
  uint8_t putBack[4] = {};
  int32_t putBackCount = 0;
};

// Slot index: 0 = console (file number 0), 1 = reserved (-1), 2.. = numbers 1..255.
inline constexpr int kFileSlotCount = 257;

// The slot an input statement reads from (BeginInput).
struct InputContext {
  FileSlot* slot = nullptr;
};

// ---------------------------------------------------------------------------
// The text console and the clock
// ---------------------------------------------------------------------------

struct ConsoleState {
  int32_t foreground = 7, background = 0;  // 16-colour numbers
  int32_t columns = 80, rows = 25;
  int32_t textTop = -1, textBottom = -1;  // TextView, 0-based; -1 = not set
  int32_t cursorRow = 0, cursorColumn = 0;
};

enum class ClockSource { Unchosen, Ticks, HighRes };

// Print's glyphs as one-byte pixel rows in the colours last printed in, so a
// cell's row is one copy (80 x 30 cells of 8 x 16: 31 us with a mask look-up
// and blend per row, 9 us with these copied several cells a store; bench_text).
struct RenderedCells {
  const uint8_t* font = nullptr;  // the built-in font they come from
  uint32_t fg = 0, bg = 0;
  std::array<bool, 256> ready{};  // the glyphs rendered so far
  std::vector<uint64_t> rows;     // 256 * the font's height
};

// A font made by FontFromImage: glyph g's row y is bytesPerRow bytes at
// (g * height + y) * bytesPerRow, the top bit of the first the leftmost pixel.
struct ImageFont {
  int32_t width = 0, height = 0, bytesPerRow = 0;
  std::vector<uint8_t> rows;
};

// ---------------------------------------------------------------------------
// The layer's state
// ---------------------------------------------------------------------------

struct LayerState {
  // Program
  int argc = 0;
  char** argv = nullptr;
  // Screen (null: routing goes to the text console)
  Screen* screen = nullptr;
  // The Screen as the Presenter sees it: set and cleared under the platform
  // lock, so a Presenter never meets a Screen half opened or half closed.
  Screen* shown = nullptr;
  bool endHookRegistered = false;
  std::string title;  // SetTitle's, for this and later Screens; empty: the program's name
  // Drawing and images
  DrawContext draw;
  std::unordered_map<const void*, size_t> images;  // ImageCreate header -> bytes from it to the block's end
  std::vector<ImageFont> fonts;  // FontFromImage's, number 100 + index; they outlive Screens
  RenderedCells renderedCells;
  RecordingSlot recording;
  // Error number (with ErrorDetail's sentence, empty while it is 0) and files
  int32_t errorNumber = 0;
  std::string errorDetail;
  FileSlot files[kFileSlotCount];
  bool filesUsed = false;
  InputContext input;
  // Keys: the window ring is shared with the Presenter under the platform lock.
  KeyRing<16> windowKeys;
  // The keys waiting in windowKeys, stored (release) under the platform lock
  // at each post and take: InKey reads it without the lock, so a loop that
  // finds no key costs no lock.
  KeyCount windowKeysWaiting;
  KeyRing<512> consoleKeys;
  int32_t altNumpad = 0;
  // Text console and clock
  ConsoleState console;
  ClockSource clock = ClockSource::Unchosen;
  std::chrono::steady_clock::time_point nextFrame{};  // when WaitFrame's next frame is due
};

extern LayerState gLayer;

// One piece of an error's detail: text, or a whole number written in decimal.
struct DetailPiece {
  DetailPiece(const char* text) : text(text) {}
  DetailPiece(const std::string& text) : text(text) {}
  DetailPiece(int64_t number) : number(number), isNumber(true) {}
  std::string_view text;
  int64_t number = 0;
  bool isNumber = false;
};

// Stores error number n (not 0) with the detail joined from `pieces`, which
// start with the call's name: Fail(1, {"GraphicsPageCopy: page ", 5, ...}).
// Returns n. Only failures build a string; SetError(0) clears it.
int32_t Fail(int32_t n, std::initializer_list<DetailPiece> pieces);

}  // namespace scr
