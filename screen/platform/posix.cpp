// posix.cpp - the platform layer on POSIX systems: CLOCK_MONOTONIC, /proc's
// executable link, files opened without waiting, the console as the terminal
// on standard output (ANSI colours and CSI sequences), and standard input
// decoded into keys (terminal.h).
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/terminal.h"

namespace scr::platform {

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

bool HighResClockWorks() {
  timespec res{}, now{};
  return clock_getres(CLOCK_MONOTONIC, &res) == 0 && (res.tv_sec != 0 || res.tv_nsec != 0) &&
         clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}

double HighResSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec) * 1e-9;
}

double TickSeconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0 && clock_gettime(CLOCK_MONOTONIC, &ts) != 0 &&
      clock_gettime(CLOCK_REALTIME, &ts) != 0)
    return 0;
  const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return double(uint32_t(ms)) * 0.001;
}

// ---------------------------------------------------------------------------
// Process and files
// ---------------------------------------------------------------------------

std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return "";
    if (size_t(n) < path.size()) return path.substr(0, size_t(n));
    path.resize(path.size() * 2);
  }
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::FILE* OpenForReading(const char* name) {
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* stream = fdopen(fd, "rb");
  if (stream == nullptr) ::close(fd);
  return stream;
}

bool StreamHasSize(std::FILE* stream) {
  return fseeko(stream, 0, SEEK_END) == 0 && ftello(stream) >= 0 && fseeko(stream, 0, SEEK_SET) == 0;
}

double StrToDoubleC(const char* text) {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c != static_cast<locale_t>(0) ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

// ---------------------------------------------------------------------------
// Console: the terminal. Nothing is written unless standard output is a
// terminal, so piped or redirected output stays clean.
// ---------------------------------------------------------------------------

namespace {

void Emit(const std::string& s) {
  if (!StdoutIsTerminal()) return;
  std::fflush(stdout);
  WriteAll(STDOUT_FILENO, s.data(), s.size());
}

// SGR for a 16-colour attribute. Colour order differs between the two
// worlds: here 1 is blue and 4 red, in ANSI 1 is red and 4 blue.
std::string Attribute(int32_t foreground, int32_t background) {
  static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  const int fg = foreground & 15, bg = background & 15;
  const int fgCode = fg < 8 ? 30 + kAnsi[fg] : 90 + kAnsi[fg - 8];
  const int bgCode = bg < 8 ? 40 + kAnsi[bg] : 100 + kAnsi[bg - 8];
  return "\x1b[0;" + std::to_string(fgCode) + ";" + std::to_string(bgCode) + "m";
}

std::string MoveTo(int32_t row, int32_t column) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

}  // namespace

bool ConsoleSize(int32_t& columns, int32_t& rows) { return TerminalSize(columns, rows); }

void ConsoleSetAttribute(int32_t foreground, int32_t background) { Emit(Attribute(foreground, background)); }

void ConsoleClearRows(int32_t foreground, int32_t background, int32_t top, int32_t bottom) {
  std::string out = Attribute(foreground, background);
  for (int32_t r = top; r <= bottom; ++r) out += MoveTo(r, 0) + "\x1b[2K";
  out += MoveTo(top, 0);
  Emit(out);
}

void ConsoleClearAll(int32_t foreground, int32_t background) {
  // Erasing takes the current background, so the whole window turns that colour.
  // The terminal's history above the window (the user's scrollback) is kept.
  Emit(Attribute(foreground, background) + "\x1b[2J\x1b[H");
}

void ConsoleMoveCursor(int32_t row, int32_t column) { Emit(MoveTo(row, column)); }

void ConsoleWrite(const std::string& utf8) {
  std::fflush(stdout);  // after what the program wrote through stdio
  WriteAll(STDOUT_FILENO, utf8.data(), utf8.size());
}

// ---------------------------------------------------------------------------
// Keys: standard input through the terminal's reader and key decoder
// ---------------------------------------------------------------------------

void PollInput() { StdinKeys().Poll(); }
bool TakeInputKey(KeyCode& code) { return StdinKeys().Take(code); }
bool TakeInputRecord(ConsoleKeyRecord&) { return false; }
void SetInputWindowRules(bool on) { StdinKeys().SetWindowRules(on); }
bool ThreadsAvailable() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  return false;
#else
  return true;
#endif
}
void CallBeforeEndingSignals(void (*last)()) { TermCallBeforeEndingSignals(last); }
int32_t LayoutChar(int32_t vk) { return UsLayoutChar(vk); }
void EndIfHungUp() {
  if (StdinKeys().HungUp()) TermHangUp();
}

}  // namespace scr::platform
