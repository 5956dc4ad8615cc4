// win32.cpp - the platform layer on Windows: the performance counter with the
// tick count as fallback, the module's file name, the console API for the
// text console, console key records from a console on standard input, and
// the bytes of a pipe or file on standard input decoded as on Linux.
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/keydecoder.h"
#include "platform/platform.h"

namespace scr::platform {

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

namespace {
// 1 / the counter's frequency, computed once; 0 when it reports none.
const double gCounterPeriod = [] {
  LARGE_INTEGER f;
  return QueryPerformanceFrequency(&f) && f.QuadPart != 0 ? 1.0 / double(f.QuadPart) : 0.0;
}();
}  // namespace

bool HighResClockWorks() { return gCounterPeriod != 0.0; }

double HighResSeconds() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * gCounterPeriod;
}

double TickSeconds() { return double(GetTickCount()) * 0.001; }

// ---------------------------------------------------------------------------
// Process and files
// ---------------------------------------------------------------------------

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return "";
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::FILE* OpenForReading(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
  return std::fopen(name, "rb");
}

bool StreamHasSize(std::FILE* stream) {
  return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) == FILE_TYPE_DISK;
}

// The layer sets only LC_CTYPE, so the numeric locale stays "C" unless the
// program itself changes it.
double StrToDoubleC(const char* text) { return std::strtod(text, nullptr); }

// ---------------------------------------------------------------------------
// Console: the console API on standard output; nothing happens when standard
// output is no console (redirected to a file or pipe).
// ---------------------------------------------------------------------------

namespace {

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool Info(CONSOLE_SCREEN_BUFFER_INFO& info) { return GetConsoleScreenBufferInfo(Out(), &info) != 0; }

// The console's 16 colours have the same numbers (1 blue, 2 green, 4 red, 8 bright).
WORD AttributeOf(int32_t foreground, int32_t background) {
  return WORD((foreground & 15) | ((background & 15) << 4));
}

void Fill(COORD from, DWORD cells, WORD attribute) {
  DWORD done;
  FillConsoleOutputCharacterA(Out(), ' ', cells, from, &done);
  FillConsoleOutputAttribute(Out(), attribute, cells, from, &done);
}

}  // namespace

bool ConsoleSize(int32_t& columns, int32_t& rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!Info(info)) return false;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return columns > 0 && rows > 0;
}

void ConsoleSetAttribute(int32_t foreground, int32_t background) {
  SetConsoleTextAttribute(Out(), AttributeOf(foreground, background));
}

void ConsoleClearRows(int32_t foreground, int32_t background, int32_t top, int32_t bottom) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!Info(info) || bottom < top) return;
  const WORD attribute = AttributeOf(foreground, background);
  SetConsoleTextAttribute(Out(), attribute);
  const COORD from{0, SHORT(info.srWindow.Top + top)};
  Fill(from, DWORD(info.dwSize.X) * DWORD(bottom - top + 1), attribute);
  SetConsoleCursorPosition(Out(), from);
}

void ConsoleClearAll(int32_t foreground, int32_t background) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!Info(info)) return;
  const WORD attribute = AttributeOf(foreground, background);
  SetConsoleTextAttribute(Out(), attribute);
  Fill(COORD{0, 0}, DWORD(info.dwSize.X) * DWORD(info.dwSize.Y), attribute);
  SetConsoleCursorPosition(Out(), COORD{0, info.srWindow.Top});
}

void ConsoleMoveCursor(int32_t row, int32_t column) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!Info(info)) return;
  SetConsoleCursorPosition(Out(), COORD{SHORT(info.srWindow.Left + column), SHORT(info.srWindow.Top + row)});
}

// A console takes the text as UTF-16; a file or pipe gets the UTF-8 bytes.
void ConsoleWrite(const std::string& utf8) {
  std::fflush(stdout);
  DWORD done;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!Info(info)) {
    WriteFile(Out(), utf8.data(), DWORD(utf8.size()), &done, nullptr);
    return;
  }
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
  WriteConsoleW(Out(), wide.data(), DWORD(wide.size()), &done, nullptr);
}

// ---------------------------------------------------------------------------
// Keys from standard input
// ---------------------------------------------------------------------------

namespace {

// What the program's thread has taken over from the reader.
struct Input {
  bool started = false;
  bool ended = false;
  TermKeyDecoder decoder;
  std::vector<KeyCode> keys;
  size_t front = 0;
  std::vector<ConsoleKeyRecord> records;
  size_t recordFront = 0;
};

Input gInput;

// Standard input is read by a thread of its own that waits in ReadFile or
// ReadConsoleInput and hands over what arrives: a pipe cannot be asked
// everywhere how much it holds (Wine's pipes answer no PeekNamedPipe), and
// Wine's console reads its terminal only for a waiting reader. The thread
// ends at the end of input; at process end it is simply stopped.
struct Arrived {
  std::mutex mutex;
  std::vector<uint8_t> bytes;
  std::vector<ConsoleKeyRecord> records;
  int closeRequests = 0;  // the console's close, log-off and shutdown events
  bool ended = false;
};

Arrived gArrived;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) return FALSE;
  std::lock_guard<std::mutex> guard(gArrived.mutex);
  ++gArrived.closeRequests;
  return TRUE;
}

void RemoveConsoleHandler() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

// Ctrl+C and Ctrl+Break: the system runs this on a thread of its own; FALSE
// then passes the event on to the default handler, which ends the process.
std::atomic<void (*)()> gLastWords{nullptr};
BOOL WINAPI OnEndingEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (void (*last)() = gLastWords.exchange(nullptr)) last();
  }
  return FALSE;
}

uint32_t ControlState(DWORD s) {
  return s & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED | RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED | SHIFT_PRESSED |
              ENHANCED_KEY);
}

// A UTF-16 character in code page 437 by the system's conversion, with its
// substitute for what 437 lacks (0 for 0).
uint8_t Cp437Of(wchar_t wc) {
  char cp437 = 0;
  if (wc != 0) WideCharToMultiByte(437, 0, &wc, 1, &cp437, 1, nullptr, nullptr);
  return uint8_t(cp437);
}

void ReadConsoleRecords(HANDLE handle) {
  INPUT_RECORD batch[64];
  for (DWORD got = 0; ReadConsoleInputW(handle, batch, 64, &got);) {
    std::lock_guard<std::mutex> guard(gArrived.mutex);
    for (DWORD i = 0; i < got; ++i) {
      if (batch[i].EventType != KEY_EVENT) continue;  // mouse, focus, size: dropped
      const KEY_EVENT_RECORD& k = batch[i].Event.KeyEvent;
      const wchar_t wc = k.uChar.UnicodeChar;
      ConsoleKeyRecord r;
      r.down = k.bKeyDown != 0;
      r.ch = Cp437Of(wc);
      r.scan = k.wVirtualScanCode;
      r.vk = k.wVirtualKeyCode;
      r.state = ControlState(k.dwControlKeyState);
      r.repeat = k.wRepeatCount;
      gArrived.records.push_back(r);
    }
  }
  std::lock_guard<std::mutex> guard(gArrived.mutex);
  gArrived.ended = true;
}

void ReadBytes(HANDLE handle) {
  uint8_t buffer[512];
  for (DWORD got = 0; ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0;) {
    std::lock_guard<std::mutex> guard(gArrived.mutex);
    gArrived.bytes.insert(gArrived.bytes.end(), buffer, buffer + got);
  }
  std::lock_guard<std::mutex> guard(gArrived.mutex);
  gArrived.ended = true;
}

void Start(Input& in) {
  in.started = true;
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    in.ended = true;
    return;
  }
  DWORD mode;
  const bool console = GetConsoleMode(handle, &mode) != 0;
  if (console && SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) std::atexit(RemoveConsoleHandler);
  try {
    std::thread(console ? ReadConsoleRecords : ReadBytes, handle).detach();
  } catch (...) {
    in.ended = true;
  }
}

// The next of `items` from `front` on; once all are taken the list starts again empty.
template <class T>
bool TakeNext(std::vector<T>& items, size_t& front, T& out) {
  if (front >= items.size()) return false;
  out = items[front++];
  if (front == items.size()) items.clear(), front = 0;
  return true;
}

}  // namespace

void PollInput() {
  Input& in = gInput;
  if (!in.started) Start(in);
  std::vector<uint8_t> bytes;
  {
    std::lock_guard<std::mutex> guard(gArrived.mutex);
    for (; gArrived.closeRequests > 0; --gArrived.closeRequests) in.keys.push_back(CloseKey);
    bytes.swap(gArrived.bytes);
    in.records.insert(in.records.end(), gArrived.records.begin(), gArrived.records.end());
    gArrived.records.clear();
    in.ended = in.ended || gArrived.ended;
  }
  if (!bytes.empty()) in.decoder.Feed(bytes.data(), bytes.size(), in.keys, HighResSeconds());
  if (in.ended) in.decoder.Flush(in.keys);
  else if (in.decoder.Pending()) in.decoder.FlushStale(HighResSeconds(), in.keys);
}

bool TakeInputKey(KeyCode& code) { return TakeNext(gInput.keys, gInput.front, code); }

bool TakeInputRecord(ConsoleKeyRecord& record) { return TakeNext(gInput.records, gInput.recordFront, record); }

void SetInputWindowRules(bool on) { gInput.decoder.SetWindowRules(on); }

bool ThreadsAvailable() { return true; }

void CallBeforeEndingSignals(void (*last)()) {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  gLastWords = last;
  SetConsoleCtrlHandler(OnEndingEvent, TRUE);
}

int32_t LayoutChar(int32_t vk) {  // a dead key's own character too (bit 31 marks it)
  return vk > 0 && vk < 256 ? Cp437Of(wchar_t(MapVirtualKeyW(UINT(vk), MAPVK_VK_TO_CHAR) & 0xFFFF)) : 0;
}

void EndIfHungUp() {}  // a console or pipe does not hang up as a terminal does

}  // namespace scr::platform
