// screen.h - the screen layer: a 16-colour paged screen shown in a window,
// pixel and box drawing, image capture and blitting, key strings, a seconds
// clock and text-file number input.
//
// Conventions
// - Failures are recorded, never thrown: an operation that cannot do its work
//   leaves its state as it was and stores an error number (see ErrorNumber()
//   and the names in namespace Error below) with a sentence saying which call
//   failed and why (ErrorDetail()). Nothing is printed and nothing stops the
//   program.
// - Pixel primitives, keyboard, mouse, clock and string operations never touch
//   the error number or its detail.
// - An omitted whole-number argument is passed as kOmitted (0xFFFF0000).
// - Coordinates are floats in pixels, (0, 0) top left, rounded half away from
//   zero. Colours are unsigned 32-bit, fitted to the pixel size when stored.
// - Everything runs on the program's thread; only the Presenter (the thread
//   that owns the window) runs beside it, behind LockScreen/UnlockScreen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scr {

// An omitted whole-number argument (ClearScreen's kind, PutImage's source rectangle).
inline constexpr int32_t kOmitted = static_cast<int32_t>(0xFFFF0000u);

// The error numbers that operations return and ErrorNumber() reports;
// ErrorDetail() says in one sentence which call set the last one and why.
namespace Error {
inline constexpr int32_t NoError = 0;
inline constexpr int32_t IllegalCall = 1;   // no Screen open, a number out of range, file not open, ...
inline constexpr int32_t FileNotFound = 2;  // a file cannot be opened for reading
inline constexpr int32_t FileIo = 3;        // reading or closing a file failed
inline constexpr int32_t OutOfMemory = 4;   // pages or an image do not fit in memory
}  // namespace Error

// ---------------------------------------------------------------------------
// Program start and end
// ---------------------------------------------------------------------------

// Records the command line; the program's first call.
void StartProgram(int argc, char** argv);
// Closes an open Screen (no console reset) and ends the process with `code`.
[[noreturn]] void EndProgram(int32_t code);

// ---------------------------------------------------------------------------
// Screens, pages and palette
// ---------------------------------------------------------------------------

// Flag bits of ScreenMode and ScreenRes (0 for a plain window). Flags -1
// opens the Screen on the windowless back-end.
namespace ScreenFlag {
inline constexpr int32_t FullScreen = 1;   // start full screen (windowed when that fails)
inline constexpr int32_t NoSwitch = 4;     // Alt+Enter does not switch to full screen and back
inline constexpr int32_t Borderless = 8;   // a window without frame or title bar
inline constexpr int32_t Fixed = 16;       // NoSwitch and Borderless together
inline constexpr int32_t OnTop = 32;       // the window stays above others
inline constexpr int32_t HighPriority = 128;  // the Presenter runs at raised priority
}  // namespace ScreenFlag

// The numbered modes (3 to 6 do not exist). Every page starts filled with colour 0.
//
//   mode  size         depth  pages  colours shown     text grid (cell)
//   1     320 x 200    2      8      4 of 16           40 x 25 (8 x 8)
//   2     640 x 200    1      1      2 of 16, rows x2  80 x 25 (8 x 8)
//   7     320 x 200    4      8      16                40 x 25 (8 x 8)
//   8     640 x 200    4      4      16, rows x2       80 x 25 (8 x 8)
//   9     640 x 350    4      2      16 of 64          80 x 25 (8 x 14)
//   10    640 x 350    1      2      2                 80 x 25 (8 x 14)
//   11    640 x 480    1      1      2                 80 x 30 (8 x 16)
//   12    640 x 480    4      1      16 of 256         80 x 30 (8 x 16)
//   13    320 x 200    8      1      256               40 x 25 (8 x 8)
//   14    320 x 240    8      1      256               40 x 30 (8 x 8)
//   15    400 x 300    8      1      256               50 x 37 (8 x 8)
//   16    512 x 384    8      1      256               64 x 24 (8 x 16)
//   17    640 x 400    8      1      256               80 x 25 (8 x 16)
//   18    640 x 480    8      1      256               80 x 30 (8 x 16)
//   19    800 x 600    8      1      256               100 x 37 (8 x 16)
//   20    1024 x 768   8      1      256               128 x 48 (8 x 16)
//   21    1280 x 1024  8      1      256               160 x 64 (8 x 16)
//
// "rows x2": each page row shows as two window rows. Modes 14 to 21 also take
// depth 15, 16, 24 or 32. The 16 colours are black, blue, green, cyan, red,
// magenta, brown, light grey, dark grey, then the bright forms of blue to
// white; ScreenRes screens show the 256-colour palette, whose first 16 are these.
//
// Opens the numbered mode (1, 2, 7..21) or, for mode 0, returns to the text
// console (80 x 25, cleared). depth counts for modes 14+ only; pages <= 0 take
// the mode's default. Returns the error number: 1 for a bad mode (an open
// Screen stays) or when no back-end can show the Screen.
int32_t ScreenMode(int32_t mode, int32_t depth = 0, int32_t pages = 0, int32_t flags = 0,
                   int32_t refresh = 0);
// Opens a Screen by size: depth 1, 2, 4, 8, 15, 16, 24 or 32; pages < 1 become 1.
// Returns the error number (1 for a bad size or depth, or no back-end).
int32_t ScreenRes(int32_t width, int32_t height, int32_t depth, int32_t pages,
                  int32_t flags = 0, int32_t refresh = 0);
// The name of the back-end that shows the open Screen, as SCRBK names it
// ("SDL", "Term", "Null", "Web", "DirectX", "GDI", "OpenGL"): the one that
// opened, which is not SCRBK's when that one could not. Empty with no Screen.
// Never touches the error number.
std::string BackendName();
// Chooses the work page (drawing) and the visible page (window); a negative or
// too-high number leaves that page. Returns previous visible * 256 + previous
// work, or -1 with no Screen. Never touches the error number.
int32_t SetPages(int32_t work, int32_t visible);
// Routed page copy: on the Screen as GraphicsPageCopy; with no Screen open it
// stands for the console's text pages 0..3 (error 1 beyond). Negative source
// is the work page, negative destination the visible page.
int32_t PageCopy(int32_t source, int32_t destination);
// Copies the graphics view rectangle and the text cells of one page onto another.
// Error 1 with no Screen or a page number >= the page count; copying a page
// onto itself does nothing. Holds the screen lock when the target is visible.
int32_t GraphicsPageCopy(int32_t source, int32_t destination);
// Clears with the background colour: kind 0 the whole page, 2 the text view,
// other kinds the graphics view; kOmitted picks by the views set. Routed to
// the text console when no Screen is open.
void ClearScreen(int32_t kind = kOmitted);
// Sets the foreground/background colours (omitted: bit 0 fg, bit 1 bg).
// Returns previous background * 65536 + previous foreground. Routed.
uint32_t SetColor(uint32_t foreground, uint32_t background, int32_t omitted = 0);
// Maps pixel value `index` to default-palette colour `colour` (modes 7 to 9).
void SetPaletteEntry(int32_t index, int32_t colour);
// Sets the colour shown for pixel value `index` (0 to 2^depth - 1, on Screens of
// up to 8 bits) to red, green, blue: every back-end shows it at its next pass,
// and SCRSHOT writes it. Error 1 (nothing changes) with no Screen, a deeper
// Screen or an index out of range; else 0.
void SetPaletteRgb(int32_t index, uint8_t red, uint8_t green, uint8_t blue);
// The colour shown for pixel value `index` as 0xRRGGBB; 0xFFFFFFFF with no
// Screen, a Screen of more than 8 bits or an index outside 0..255.
uint32_t GetPaletteRgb(int32_t index);

// Writes the visible page, as shown, to `path` as a PNG file now (SCRSHOT
// writes one as the Screen closes, and when SIGINT, SIGTERM or SIGHUP, or
// Ctrl+C in a Windows console, ends the program). Returns the error number:
// 1 with no Screen, 2 when the file cannot be opened for writing, 3 when
// writing fails.
int32_t Screenshot(const std::string& path);

// Records what the Screen shows into an animated GIF at `path` (SCRREC does
// so from a Screen's opening): behind a window, terminal or page, each
// picture shown (at most one per 20 ms) with the time it was shown; on the
// windowless back-end, a picture each time the program takes a key and the
// page has changed (a read that finds no key takes one at most once per
// SCRRECDELAY), each shown SCRRECDELAY seconds (0.25 when unset).
// One byte a pixel in the page's colours (Screens of more than 8 bits go
// through a 252-colour cube); only the changed rectangle of each picture is
// stored. The recording ends with RecordStop, or as the Screen closes or a
// signal ends the program, with one last picture; the file decodes at any
// moment, also after a crash. RecordStart returns 1 with no Screen or with a
// recording running, 2 when the file cannot be created; RecordStop 1 when
// none runs, 3 when writing failed; else 0.
int32_t RecordStart(const std::string& path);
int32_t RecordStop();

// Sets the window's title (UTF-8; empty: the program's file name, the title a
// Screen starts with) for the open Screen, shown at the Presenter's next pass
// and kept across full-screen switches, and for Screens opened later. The
// window back-ends and the web page (its document title) show it; the
// terminal and the windowless back-end have none. No error number.
void SetTitle(const std::string& title);

// The 16 colours by name: the pixel values that show them on the 16-colour
// screens (modes 7 to 9, 12 and 13 to 21 as the palette starts, ScreenRes).
namespace Colour {
inline constexpr uint32_t Black = 0, Blue = 1, Green = 2, Cyan = 3, Red = 4, Magenta = 5, Brown = 6,
                          LightGrey = 7, DarkGrey = 8, LightBlue = 9, LightGreen = 10, LightCyan = 11,
                          LightRed = 12, LightMagenta = 13, Yellow = 14, White = 15;
}  // namespace Colour
// Sets the text view to rows first..last (from 1; 0 = edge, negative = keep).
// Returns last * 65536 + first, or 0 when refused. Routed.
int32_t SetTextView(int32_t first, int32_t last);
// Sets the console's columns and rows (<= 0 = keep). Returns 0 when anything
// was set, else the size as rows * 65536 + columns. Routed.
int32_t SetWidth(int32_t columns, int32_t rows);
// Counted screen lock shared with the Presenter; the outermost level takes
// the platform lock. Without a Screen both do nothing.
void LockScreen();
// Flags page rows first..last dirty when drawing goes to the visible page
// (first < 0: 0, last < 0: height - 1), then drops one lock level.
// UnlockScreen(1, 0) releases without flagging.
void UnlockScreen(int32_t first, int32_t last);

// ---------------------------------------------------------------------------
// Pixel primitives
// ---------------------------------------------------------------------------

// An image in memory: a header (ImageHeader, 32 bytes, first word 7; or
// PackedImageHeader, 4 bytes) followed by pixel rows. Passed by address;
// a null target means the Screen's work page.
struct ImageBuffer;

namespace LineShape {
inline constexpr int32_t Line = 0;       // straight segment
inline constexpr int32_t Box = 1;        // rectangle outline (any other non-zero shape too)
inline constexpr int32_t FilledBox = 2;  // filled rectangle
}  // namespace LineShape

// CoordForm, low 3 bits: 0/4/6/7 absolute; 1 second corner relative to the
// first; 2/5 first point relative to LastPoint; 3 both. Negative: no colour
// given, the context's colours apply.
namespace CoordForm {
inline constexpr int32_t Absolute = 0;
inline constexpr int32_t SecondRelative = 1;
inline constexpr int32_t FromLastPoint = 2;
inline constexpr int32_t BothRelative = 3;
inline constexpr int32_t Point = 4;  // what the walker passes to PutPixel
}  // namespace CoordForm

// Plots one pixel; nothing outside the graphics view or with no Screen.
void PutPixel(ImageBuffer* target, float x, float y, uint32_t colour, int32_t form = 4,
              int32_t useBackground = 0);
// Reads one pixel: the stored value (0..255 on one-byte pages; 16-bit pixels
// widened to 24-bit RGB), or -1 outside the view or with no Screen.
int32_t GetPixel(ImageBuffer* target, float x, float y);
// Draws a segment, an outline or a filled rectangle between two corners with
// a 16-bit style (bit 15 first). Clipped to the view; no error number.
void DrawLine(ImageBuffer* target, float x1, float y1, float x2, float y2, uint32_t colour,
              int32_t shape, uint32_t style = 0xFFFF, int32_t form = 0);
// Draws the circle of `radius` pixels about (x, y), an ellipse when `aspect`
// is not 1 (y radius = radius x aspect), as an outline of pixels that each
// have a neighbour outside (no gap, no pixel drawn twice) or, with `filled`,
// as a disc. `start` and `end` (radians counter-clockwise from the right, the
// angles of the circle before the aspect squeezes it) keep the arc
// [start, end) of it, or a pie when filled (the centre pixel in the one that
// holds angle 0), so arcs that meet share no pixel; equal angles keep the whole.
// Radius 0 is one pixel. Clipped to the view; LastPoint becomes the centre.
// Nothing is drawn for a negative or NaN radius, or a NaN or infinite value.
void DrawCircle(ImageBuffer* target, float x, float y, float radius, uint32_t colour, float aspect = 1,
                float start = 0, float end = 0, int32_t filled = 0);
// Fills with `fill` the 4-connected region of the pixel at (x, y): the pixels
// of its colour or, with a `border` colour, every pixel up to that colour.
// Stays inside the view, uses heap memory only (no recursion); nothing
// happens when the seed is outside the view, already `fill` (no border) or
// the border colour. LastPoint becomes (x, y).
void FloodFill(ImageBuffer* target, float x, float y, uint32_t fill, uint32_t border = 0x80000000u);

// ---------------------------------------------------------------------------
// Image buffers and blitting
// ---------------------------------------------------------------------------

enum class HeaderForm : int32_t {
  Full = 0,    // ImageHeader: 32 bytes, rows padded to 16 bytes
  Packed = 1,  // PackedImageHeader: 4 bytes, rows unpadded
};

// The block that holds a capture's destination: start and size in bytes
// (size 0 = unknown). GetImage refuses to write past it.
struct BufferExtent {
  const void* start = nullptr;
  size_t size = 0;
};

// How PutImage joins each image pixel s to the target pixel d.
namespace RasterMode {
inline constexpr int32_t Copy = 0;         // d = s
inline constexpr int32_t Transparent = 1;  // d = s, except where s is the key colour (0 unless alpha gives one)
inline constexpr int32_t And = 2;          // d = d AND s
inline constexpr int32_t Invert = 3;       // d = s with the Screen depth's colour bits inverted
inline constexpr int32_t Or = 4;           // d = d OR s
inline constexpr int32_t Xor = 5;          // d = d XOR s
inline constexpr int32_t AlphaByte = 6;    // 1-byte image into the top byte of 4-byte pixels
}  // namespace RasterMode

using BlendRoutine = uint32_t (*)(uint32_t source, uint32_t dest, void* param);

// Flags value with bit 31 set: no fill colour given, the pixel size's default applies.
inline constexpr uint32_t kNoColour = 0x80000000u;

// Makes a width x height image of `depth` bits (0 = the Screen's pixel size),
// filled with `colour` (or the default with kNoColour in flags). Returns the
// header address, or null: error 1 (no Screen, bad size or depth), 4 (no memory).
ImageBuffer* ImageCreate(int32_t width, int32_t height, uint32_t colour, int32_t depth,
                         uint32_t flags, HeaderForm form = HeaderForm::Full);
// Releases an image made by ImageCreate; null does nothing.
void ImageDestroy(ImageBuffer* image);
// Captures the rectangle (x1, y1)-(x2, y2) of the target into `destination`
// with the chosen header. Error 1: no Screen, rectangle not wholly inside the
// view, or rows would pass the extent (an ImageCreate block is its own extent).
int32_t GetImage(ImageBuffer* target, float x1, float y1, float x2, float y2, void* destination,
                 int32_t form = 0, const BufferExtent* extent = nullptr,
                 HeaderForm header = HeaderForm::Packed);
// Draws `image` with its top left at (x, y) in a raster mode (RasterMode 0 to 6),
// source rectangle sx1..sy2 (kOmitted: the whole image), clipped to the view.
// Transparent keys out the colour `alpha` (fitted to the pixel size) when it
// is not -1, else 0. Error 1: no Screen, no image, form outside 0..3, pixel
// size mismatch, unsupported raster mode; 0 otherwise (also when clipped away).
int32_t PutImage(ImageBuffer* target, float x, float y, const void* image,
                 int32_t sx1 = kOmitted, int32_t sy1 = kOmitted, int32_t sx2 = kOmitted,
                 int32_t sy2 = kOmitted, int32_t form = 0, int32_t mode = RasterMode::Xor,
                 int32_t alpha = -1, BlendRoutine blend = nullptr, void* blendParam = nullptr);

// ---------------------------------------------------------------------------
// Keyboard, clock and key strings
// ---------------------------------------------------------------------------

// A key: 0 none; 1..255 a code page 437 character; (c << 8) + 255 an extended
// key whose key string is byte 255 then c.
using KeyCode = int32_t;
// Key strings, the strings the walker compares them with and the text the
// layer prints: byte strings of code page 437.
using KeyString = std::string;

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------
//
// Every page has a grid of text cells (character, foreground, background) in
// the Screen's character cell (8 x 8, 8 x 14 or 8 x 16, see the mode table),
// and the Screen has one text cursor. Print writes into the work page's cells
// and draws each glyph over its cell's pixels; DrawText draws glyphs anywhere,
// touching no cell. The layer has the 256 characters of code page 437 in
// each of the three cells built in (sources and licences: screen/FONTS.md).
//
//   ScreenMode(12);
//   SetColor(14, 1);
//   Locate(2, 3);
//   Print(FromUtf8("Score ♥ 3\n"));
//   DrawText(nullptr, 200, 100, "GAME OVER", 12, 2);  // 2 x 2 pixels a glyph pixel

// Moves the text cursor to row, column (from 1, as SetTextView counts;
// kOmitted keeps that coordinate). Error 1 (the cursor stays) for a row
// outside the text view or a column outside the grid. Routed: with no
// Screen open it moves the console's cursor.
int32_t Locate(int32_t row, int32_t column);
// Where the text cursor is (from 1). After a character in the last column
// the cursor stays there; the next character wraps to the next row first.
int32_t CursorRow();
int32_t CursorColumn();
// Writes each byte of `text` at the cursor in the current colours (SetColor)
// and advances the cursor, wrapping past the last column. "\n" goes to column
// 1 of the next row, "\r" to column 1, "\t" to the next multiple of 8 columns,
// "\b" one column back; every other byte (0 to 255) is a character. A row
// below the text view scrolls the view up one row, the new row blank in the
// background colour. Routed: with no Screen open the text goes to the console.
void Print(const KeyString& text);
// A text cell of the work page: its character (what 0), foreground (1) or
// background (2); -1 off the grid, for another `what` or with no Screen.
int32_t CharAt(int32_t row, int32_t column, int32_t what = 0);

// Fonts for DrawText and TextWidth: 0 the Screen's own cell (8 x 8 with no
// Screen), 8, 14 or 16 a built-in cell by height, or a number FontFromImage gave.
namespace Font {
inline constexpr int32_t Screen = 0, Cell8 = 8, Cell14 = 14, Cell16 = 16;
}  // namespace Font

// Draws the set pixels of the glyphs of `text` in `colour` (the background
// stays), top left at (x, y) in view coordinates, each glyph pixel a scale x
// scale block, clipped to the graphics view, on the work page or an image
// target; "\n" starts the next line below. Touches no text cell and no cursor.
// Returns the error number: 1 with no Screen, a refused target, a scale below
// 1, an unknown font or a NaN coordinate (nothing drawn); 0 otherwise.
int32_t DrawText(ImageBuffer* target, float x, float y, const KeyString& text, uint32_t colour,
                 int32_t scale = 1, int32_t font = 0);
// The width in pixels DrawText gives `text` (its longest line); -1 for a
// scale below 1 or an unknown font.
int32_t TextWidth(const KeyString& text, int32_t scale = 1, int32_t font = 0);
// Makes a font of the 256 glyphs in a 16 x 16 grid of cellWidth x cellHeight
// cells (1 to 32 pixels each) at the top left of `image` (an image buffer;
// every pixel not 0 is ink). Returns its number (100 and up), or -1 with
// error 1: no image, a refused header, a side outside 1..32, an image
// smaller than the grid, or 64 fonts made already.
int32_t FontFromImage(const void* image, int32_t cellWidth, int32_t cellHeight);
// UTF-8 text as code page 437 bytes, "?" for characters the code page lacks
// and for bytes that are not UTF-8.
KeyString FromUtf8(std::string_view text);

inline constexpr KeyCode CloseKey = 0x6BFF;  // the window's close button: 255, "k"

// ControlKeyState bits handed to TranslateKey.
namespace ControlKeyState {
inline constexpr uint32_t RightAlt = 1;
inline constexpr uint32_t LeftAlt = 2;
inline constexpr uint32_t RightCtrl = 4;
inline constexpr uint32_t LeftCtrl = 8;
inline constexpr uint32_t Shift = 16;
inline constexpr uint32_t Enhanced = 256;
}  // namespace ControlKeyState

// The next key as a key string ("" when none), never waiting: from the
// window's ring while a Screen is open, from the console otherwise.
KeyString InKey();

// The key strings InKey gives for the keys a program usually compares with.
// Keys with a character give it ("a", "7", Key::Enter); the others give byte
// 255 and a second byte. The keypad gives digits with Num Lock on and the
// strings of the keys printed on it (Key::Home, Key::Up, ...) with it off;
// its centre key then gives Key::KeypadCentre, its Enter Key::Enter. While a
// Screen is open, F10 and keys with Alt (without Ctrl) give nothing.
namespace Key {
inline const KeyString Esc = "\x1b", Enter = "\r", Tab = "\t", Backspace = "\b";
inline const KeyString ShiftTab = "\xff\x0f";
inline const KeyString Up = "\xffH", Down = "\xffP", Left = "\xffK", Right = "\xffM";
inline const KeyString Home = "\xffG", End = "\xffO", PgUp = "\xffI", PgDn = "\xffQ";
inline const KeyString Ins = "\xffR", Del = "\xffS", KeypadCentre = "\xffL";
inline const KeyString F1 = "\xff;", F2 = "\xff<", F3 = "\xff=", F4 = "\xff>", F5 = "\xff?", F6 = "\xff@";
inline const KeyString F7 = "\xff" "A", F8 = "\xff" "B", F9 = "\xff" "C", F10 = "\xff" "D";
inline const KeyString F11 = "\xff\x85", F12 = "\xff\x86";
inline const KeyString Close = "\xffk";  // the window's close button (CloseKey)
}  // namespace Key

// PC set-1 scan codes: the index of a key in the key-state table (KeyHeld).
// Keypad keys share the codes of the keys printed on them (keypad 8 is Up).
namespace Scan {
inline constexpr int32_t Esc = 1, Digit1 = 2, Digit2 = 3, Digit3 = 4, Digit4 = 5, Digit5 = 6,
                         Digit6 = 7, Digit7 = 8, Digit8 = 9, Digit9 = 10, Digit0 = 11,
                         Backspace = 14, Tab = 15, Q = 16, W = 17, E = 18, R = 19, T = 20, Y = 21,
                         U = 22, I = 23, O = 24, P = 25, Enter = 28, Ctrl = 29, A = 30, S = 31,
                         D = 32, F = 33, G = 34, H = 35, J = 36, K = 37, L = 38, LeftShift = 42,
                         Z = 44, X = 45, C = 46, V = 47, B = 48, N = 49, M = 50, RightShift = 54,
                         Alt = 56, Space = 57, F1 = 59, F2 = 60, F3 = 61, F4 = 62, F5 = 63, F6 = 64,
                         F7 = 65, F8 = 66, F9 = 67, F10 = 68, Home = 71, Up = 72, PgUp = 73,
                         Left = 75, KeypadCentre = 76, Right = 77, End = 79, Down = 80, PgDn = 81,
                         Ins = 82, Del = 83, F11 = 87, F12 = 88;
}  // namespace Scan

// 1 while the key with set-1 scan code `scan` (Scan above) is held down in
// the Screen's window, else 0. Window and page back-ends track every key's
// press and release; the terminal and the windowless back-end see presses
// only, never releases, so there every key reads 0 (use InKey). 0 with no
// Screen open and for codes outside 0..127.
int32_t KeyHeld(int32_t scan);
// 1 when the key with scan code `scan` went down (KeyPressed) or up
// (KeyReleased) at least once since the previous call for that code, else 0:
// a tap between two frames is seen, and auto-repeat is not a press. As with
// KeyHeld, the terminal and the windowless back-end see no key changes, so
// there both answer 0; so they do with no Screen and for codes outside 0..127.
int32_t KeyPressed(int32_t scan);
int32_t KeyReleased(int32_t scan);

// The pointer over the Screen's window: x and y the page pixel under it
// (through the window's scale, full screen's bars and line doubling), or -1,
// -1 outside the page; `wheel` the wheel steps counted since the Screen
// opened (a step up adds 1); `buttons` those held, 1 left, 2 right, 4 middle.
// In a terminal that reports the mouse, a cell counts as the page pixel at
// its centre, and the position changes only with a button held. Returns 0, or
// -1 (with -1, -1, 0, 0) with no Screen or on a back-end without a pointer
// (the windowless one).
int32_t GetMouse(int32_t& x, int32_t& y, int32_t& wheel, int32_t& buttons);
// Moves the pointer to page pixel x, y (cut to the page; kOmitted keeps that
// coordinate) and shows (visible 1) or hides (0) it over the window (kOmitted
// keeps it), at the Presenter's next pass; a web page cannot move it, a
// terminal can neither move nor hide it. Returns 0, or -1 with no Screen or on
// a back-end without a pointer.
int32_t SetMouse(int32_t x, int32_t y, int32_t visible = kOmitted);

// Paces a loop: returns when the next frame is due, one refresh period after
// the frame before (1000 / refresh ms for a Screen opened with a refresh
// rate, else 16 ms), sleeping meanwhile; a frame that ran late starts the
// next period at once. Call once per frame, after PageCopy shows it.
void WaitFrame();
// Seconds on the platform's monotonic clock (not counted from program start).
double Timer();
// The key string of a code: "" for 0, one byte for 1..255 (and negatives), two for extended.
KeyString KeyStringOf(KeyCode code);
// Turns a key event into a KeyCode (-1: no key). ch is the layout's character
// (0 none), scan the PC set-1 scan code, vk the virtual key (VirtualKey below).
KeyCode TranslateKey(int32_t ch, int32_t scan, int32_t vk, uint32_t state, int32_t enhancedOnly = 0);
// Code page 437 byte of a Unicode character, or 0 when it has none.
uint8_t UnicodeToCp437(uint32_t codepoint);

// Virtual keys (the desktop platform's numbering), as TranslateKey expects them.
namespace VirtualKey {
inline constexpr int32_t Back = 0x08, Tab = 0x09, Return = 0x0D, Shift = 0x10, Control = 0x11,
                         Menu = 0x12, Pause = 0x13, Capital = 0x14, Escape = 0x1B, Space = 0x20,
                         Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24, Left = 0x25,
                         Up = 0x26, Right = 0x27, Down = 0x28, Snapshot = 0x2C, Insert = 0x2D,
                         Delete = 0x2E, LWin = 0x5B, RWin = 0x5C, Apps = 0x5D,
                         Numpad0 = 0x60, Multiply = 0x6A, Add = 0x6B, Subtract = 0x6D,
                         Decimal = 0x6E, Divide = 0x6F, F1 = 0x70, F10 = 0x79, F11 = 0x7A,
                         F12 = 0x7B, NumLock = 0x90, Scroll = 0x91, LShift = 0xA0,
                         RShift = 0xA1, LControl = 0xA2, RControl = 0xA3, LMenu = 0xA4,
                         RMenu = 0xA5, Oem1 = 0xBA, OemPlus = 0xBB, OemComma = 0xBC,
                         OemMinus = 0xBD, OemPeriod = 0xBE, Oem2 = 0xBF, Oem3 = 0xC0,
                         Oem4 = 0xDB, Oem5 = 0xDC, Oem6 = 0xDD, Oem7 = 0xDE;
// '0'..'9' and 'A'..'Z' are their own virtual keys.
}  // namespace VirtualKey

// String operations on byte strings.
int32_t Len(const KeyString& s);                               // bytes in s
KeyString Blanks(int32_t n);                                   // n blanks, "" when n < 1
int32_t StrCompare(const KeyString& a, const KeyString& b);    // -1, 0, 1 (unsigned bytes)
void StrAssign(KeyString& var, const KeyString& value);        // var = copy of value
// 1-based position of p in s at or after `start`, 0 when absent or out of range.
int32_t InStr(int32_t start, const KeyString& s, const KeyString& p);

// ---------------------------------------------------------------------------
// Text-file number input
// ---------------------------------------------------------------------------

// Lowest free file number 1..255, 0 when all are open. No error number.
int32_t FreeFile();
// Opens `name` for sequential text input under fileNumber (1..255); mode 2.
// Error 1: bad number, number already open; 2: cannot open for reading.
int32_t OpenInput(std::string name, int32_t mode, int32_t access, int32_t lock,
                  int32_t fileNumber, int32_t recordLength);
// Starts an input statement on fileNumber. Error 1 when it is not open (the
// input context then stays as it was).
int32_t BeginInput(int32_t fileNumber);
// Reads the next whole number into target (0 when nothing can be read). Error 0.
int32_t InputInt(int32_t& target);
// Closes fileNumber. Error 1 when it is not open.
int32_t CloseFile(int32_t fileNumber);
// Closes every open file; also runs at process end.
void CloseAllFiles();
// Stores n as the error number and returns it. Its detail becomes
// "SetError: error <n> set by the program", or empty for 0.
int32_t SetError(int32_t n);
// The error number of the most recent operation that records one.
int32_t ErrorNumber();
// One sentence on the error number last set: the call's name, a colon, why it
// failed, with the numbers or names that matter, e.g.
//   "GraphicsPageCopy: page 5 does not exist (1 page)"
//   "OpenInput: \"maps/3.txt\" cannot be opened for reading"
//   "ScreenMode: no back-end could show the Screen (SDL: the display :99
//    cannot be opened (...); Term: standard output is not a terminal)"
// Empty whenever the error number is 0. For the program to show or log: the
// layer never prints it.
std::string ErrorDetail();

// Token reading as InputInt does it, for callers reading numbers themselves.
struct NumberToken {
  std::string text;    // the stored bytes (at most 67)
  bool isFloat = false;  // ".", "E", "e", "D" or "d" seen outside an "&" prefix
};
// Converts a token without the float flag: decimal, or &H / &O / &B / & prefixes.
int32_t StrToInt(const std::string& token);
// Converts a token with the float flag ("D" exponents allowed, & prefixes).
double StrToDouble(const std::string& token);

}  // namespace scr
