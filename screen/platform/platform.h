// platform.h - what the core asks of the operating system: the clock, the
// executable's path, opening a file for reading, the text console (size,
// colours, clearing, cursor) and the keys of standard input.
//
// The core includes this header and no system header. posix.cpp implements
// it for Linux and the other POSIX systems, win32.cpp for Windows; the
// browser build uses posix.cpp under Emscripten's POSIX layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "keys.h"

namespace scr::platform {

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

// Whether the high-resolution counter works (it reports a non-zero frequency).
bool HighResClockWorks();
// The high-resolution counter in seconds, from its own origin.
double HighResSeconds();
// The millisecond tick count as a 32-bit value (wrapping after 2^32 ms), in seconds.
double TickSeconds();

// ---------------------------------------------------------------------------
// Process and files
// ---------------------------------------------------------------------------

// The running executable's full path ("" when unknown).
std::string ExecutablePath();
// The file-name part of a path (after its last directory separator).
std::string FileNamePart(const std::string& path);
// Opens `name` for binary reading, never waiting (a FIFO without a writer);
// null when it cannot be opened or is a directory.
std::FILE* OpenForReading(const char* name);
// Whether a stream opened by OpenForReading has a size (a file, not a pipe).
bool StreamHasSize(std::FILE* stream);
// strtod in the "C" locale, whatever locale the program has set.
double StrToDoubleC(const char* text);

// Whether the program may start threads (not in a browser page built without them).
bool ThreadsAvailable();
// From now on, before SIGINT, SIGTERM or SIGHUP (on Windows: Ctrl+C or
// Ctrl+Break in the console) ends the process, calls `last` once, on a thread
// of its own, where it may write files; the process then ends as it would
// have. Only the first call counts.
void CallBeforeEndingSignals(void (*last)());

// ---------------------------------------------------------------------------
// Text console (while no Screen is open)
// ---------------------------------------------------------------------------

// The console window's size in cells; false when it reports none (output
// not a console).
bool ConsoleSize(int32_t& columns, int32_t& rows);
// Text written from now on has these 16-colour numbers (1 blue, 4 red, 15 bright white).
void ConsoleSetAttribute(int32_t foreground, int32_t background);
// Fills rows top..bottom (0-based) with blanks in the colours, cursor to (top, 0).
void ConsoleClearRows(int32_t foreground, int32_t background, int32_t top, int32_t bottom);
// Fills the whole console with blanks in the colours, cursor to (0, 0).
void ConsoleClearAll(int32_t foreground, int32_t background);
// Places the cursor (0-based).
void ConsoleMoveCursor(int32_t row, int32_t column);
// Writes UTF-8 text at the cursor in the current colours; written also when
// output is redirected, as plain text.
void ConsoleWrite(const std::string& utf8);

// ---------------------------------------------------------------------------
// Keys from standard input: a terminal, a pipe or a file, or a console that
// delivers key records
// ---------------------------------------------------------------------------

// Reads what standard input has ready, without waiting.
void PollInput();
// The next key decoded from the bytes of standard input; false when none.
bool TakeInputKey(KeyCode& code);
// The next console key record (consoles that deliver records); false when none.
bool TakeInputRecord(ConsoleKeyRecord& record);
// While on, keys follow a window's rules (a Screen is open).
void SetInputWindowRules(bool on);
// The character the current keyboard layout gives virtual key vk without
// modifiers, in code page 437 (0 none), for TranslateKey: the system's layout
// on Windows; elsewhere the US layout, onto which the back-ends map keys.
int32_t LayoutChar(int32_t vk);
// The terminal hung up: the program cannot go on. Ends the process as the
// hang-up signal does when it has; returns otherwise.
void EndIfHungUp();

}  // namespace scr::platform
