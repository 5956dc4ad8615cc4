// fileinput.cpp - numbered text files read number by number, and the
// program-wide error number.
//
// A file number 1..255 names a FileSlot; an input statement is BeginInput(n)
// then InputInt(v). Reading is tolerant: a missing file, an unopened number
// and the end of a file all read as 0 and leave no error behind.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "state.h"

namespace scr {

namespace {

constexpr int kEndOfInput = -1;
constexpr size_t kStreamBuffer = 8192;
constexpr size_t kTokenLimit = 67;

// Slot for a file number: 0 the console, -1 the reserved slot, 1..255.
FileSlot* SlotFor(int32_t fileNumber) {
  if (fileNumber == 0) return &gLayer.files[0];
  if (fileNumber == -1) return &gLayer.files[1];
  if (fileNumber >= 1 && fileNumber <= 255) return &gLayer.files[fileNumber + 1];
  return nullptr;
}

bool SlotOpen(const FileSlot* slot) { return slot != nullptr && slot->open; }

// Makes the slot free again: its stream buffer goes, every field is reset.
void ClearSlot(FileSlot& slot) {
  delete[] slot.buffer;
  slot = FileSlot{};
}

// Closes the stream: 0, or 3 when the system reports a failure. The stream is
// gone afterwards either way, so the slot never keeps a dangling stream.
int32_t CloseStream(FileSlot& slot) {
  if (slot.stream == nullptr) return 0;
  const int result = fclose(slot.stream);
  slot.stream = nullptr;
  return result == 0 ? 0 : 3;
}

void CloseAllAtExit() { CloseAllFiles(); }

// Opens `name` for reading into the slot: 0, 2 when it cannot be opened for
// reading, 1 when it has no size (a pipe, a terminal). Opening never waits (a
// FIFO with no writer would otherwise block the open), and directories, which
// open but cannot be read, are refused.
int32_t OpenStream(FileSlot& slot, const char* name) {
  slot.stream = platform::OpenForReading(name);
  if (slot.stream == nullptr) return 2;
  slot.buffer = new char[kStreamBuffer];
  setvbuf(slot.stream, slot.buffer, _IOFBF, kStreamBuffer);
  return platform::StreamHasSize(slot.stream) ? 0 : 1;
}

// One character of input (0..255, -1 at the end).
int32_t ReadInputChar() {
  FileSlot* slot = gLayer.input.slot;
  if (!SlotOpen(slot)) return kEndOfInput;
  if (slot->putBackCount > 0) return slot->putBack[--slot->putBackCount];
  const int c = slot->stream ? std::getc(slot->stream) : EOF;
  return c == EOF ? kEndOfInput : c;
}

// Puts one character back in front of the slot's put-back bytes (error 3,
// and the byte is lost, when 4 are already held).
void UnreadInputChar(int c) {
  FileSlot* slot = gLayer.input.slot;
  if (c == kEndOfInput || !SlotOpen(slot)) return;  // the end of input is not a byte
  if (slot->putBackCount >= 4) {
    Fail(3, {"InputInt: more than 4 bytes to read again"});
    return;
  }
  slot->putBack[slot->putBackCount++] = static_cast<uint8_t>(c);
}

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

// What follows a token: a line end or comma is consumed, the end of input
// needs nothing, anything else starts the next token and goes back.
void FinishToken(int c) {
  if (c == '\n' || c == ',' || c == kEndOfInput) return;
  if (c == '\r') {
    const int next = ReadInputChar();
    if (next != '\n') UnreadInputChar(next);
    return;
  }
  UnreadInputChar(c);
}

// After a token that ended at a blank (or at the length limit): skip the
// blanks, then treat the first other character as above.
void FinishAfter(int c) {
  while (IsBlank(c)) c = ReadInputChar();
  FinishToken(c);
}

// Digits of one base from p on, wrapping in the width of T. The caller checks
// that a first digit exists where the base needs one.
template <typename T>
T AccumulateDigits(const char* p, unsigned base) {
  T value = 0;
  for (;; ++p) {
    const unsigned char ch = static_cast<unsigned char>(*p);
    unsigned digit;
    if (ch >= '0' && ch <= '9') {
      digit = ch - '0';
    } else if (base == 16 && ch >= 'a' && ch <= 'f') {
      digit = ch - 'a' + 10;
    } else if (base == 16 && ch >= 'A' && ch <= 'F') {
      digit = ch - 'A' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    value = static_cast<T>(value * base + digit);
  }
  return value;
}

// The "&" prefixes (p at "&", at least two bytes): &H hex, &O octal, &B binary,
// "&" followed by anything else octal starting right after the "&".
template <typename T>
T PrefixedValue(const char* p) {
  unsigned base = 8;
  const char* digits = p + 1;
  switch (p[1]) {
    case 'H': case 'h': base = 16; digits = p + 2; break;
    case 'O': case 'o': base = 8; digits = p + 2; break;
    case 'B': case 'b': base = 2; digits = p + 2; break;
    default: break;
  }
  return AccumulateDigits<T>(digits, base);
}

const char* SkipSpaces(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

// Unsigned decimal conversion with a 32-bit unsigned long: optional white
// space and sign, digits up to the first other byte; a magnitude above
// 4294967295 gives 4294967295, "-" negates modulo 2^32.
uint32_t DecimalPattern(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (!overflow) {
      magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
      overflow = magnitude > UINT32_MAX;
    }
  }
  if (overflow) return UINT32_MAX;
  const uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

// Rounds to the nearest whole number, halves to the even neighbour, whatever
// the floating-point rounding mode; out of int32 range or NaN gives INT32_MIN.
int32_t RoundToInt32(double value) {
  if (!std::isfinite(value)) return INT32_MIN;
  const double below = std::floor(value);
  const double fraction = value - below;
  double rounded = below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) rounded = below + 1.0;
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

}  // namespace

// ---------------------------------------------------------------------------
// File numbers
// ---------------------------------------------------------------------------

int32_t FreeFile() {
  for (int32_t n = 1; n <= 255; ++n) {
    if (!gLayer.files[n + 1].open) return n;
  }
  return 0;
}

int32_t OpenInput(std::string name, int32_t mode, int32_t access, int32_t lock,
                  int32_t fileNumber, int32_t recordLength) {
  if (fileNumber < 1 || fileNumber > 255)
    return Fail(1, {"OpenInput: file number ", fileNumber, " is outside 1 to 255"});
  const std::string path(name.c_str());  // the name up to its first zero byte
  FileSlot& slot = gLayer.files[fileNumber + 1];
  if (slot.open) return Fail(1, {"OpenInput: file number ", fileNumber, " is open already"});
  (void)mode, (void)access, (void)lock, (void)recordLength;  // sequential text input only

  static const bool closeAtExit = std::atexit(CloseAllAtExit) == 0;
  (void)closeAtExit;
  gLayer.filesUsed = true;
  const int32_t result = OpenStream(slot, path.c_str());
  if (result == 0) {
    slot.open = true;
    return SetError(0);
  }
  CloseStream(slot);
  ClearSlot(slot);
  return Fail(result, {"OpenInput: \"", path, result == 2 ? "\" cannot be opened for reading"
                                                         : "\" has no size (a pipe or a terminal, not a file)"});
}

int32_t BeginInput(int32_t fileNumber) {
  FileSlot* slot = SlotFor(fileNumber);
  if (!SlotOpen(slot)) return Fail(1, {"BeginInput: file number ", fileNumber, " is not open"});
  gLayer.input.slot = slot;
  return SetError(0);
}

NumberToken NextToken() {
  NumberToken token;
  int c = ReadInputChar();
  while (IsBlank(c)) c = ReadInputChar();
  if (c == kEndOfInput) return token;

  std::string& text = token.text;
  text.reserve(kTokenLimit + 1);
  bool quoted = false;
  bool prefix = false;
  for (;;) {
    bool stored = true;
    switch (c) {
      case ' ':
      case '\t':
        if (!quoted) {
          FinishAfter(ReadInputChar());
          return token;
        }
        text.push_back(static_cast<char>(c));
        break;
      case '\n':
        return token;
      case '\r':
        FinishToken(c);
        return token;
      case ',':
        if (!quoted) return token;
        text.push_back(',');
        break;
      case '"':
        if (quoted) {
          quoted = false;
          stored = false;
        } else if (text.empty()) {
          quoted = true;
          stored = false;
        } else {
          text.push_back('"');
        }
        break;
      case '&':
        text.push_back('&');
        prefix = true;
        break;
      case '.':
      case 'E':
      case 'e':
        text.push_back(static_cast<char>(c));
        if (!prefix) token.isFloat = true;
        break;
      case 'D':
      case 'd':
        if (prefix) {
          text.push_back(static_cast<char>(c));
        } else {
          text.push_back(c == 'D' ? 'E' : 'e');
          token.isFloat = true;
        }
        break;
      default:
        text.push_back(static_cast<char>(c));
        break;
    }
    c = ReadInputChar();
    if (stored && text.size() >= kTokenLimit) {
      FinishAfter(c);
      return token;
    }
    if (c == kEndOfInput) return token;
  }
}

int32_t StrToInt(const std::string& token) {
  const char* p = SkipSpaces(token.c_str());
  if (*p == '\0') return 0;
  if (p[0] == '&' && p[1] != '\0') return static_cast<int32_t>(PrefixedValue<uint32_t>(p));
  return static_cast<int32_t>(DecimalPattern(p));
}

double StrToDouble(const std::string& token) {
  const char* p = SkipSpaces(token.c_str());
  if (*p == '\0') return 0.0;
  if (p[0] == '&' && p[1] != '\0') {
    return static_cast<double>(static_cast<int64_t>(PrefixedValue<uint64_t>(p)));
  }
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return 0.0;
  std::string copy(p);
  for (char& ch : copy) {
    if (ch == 'D') ch = 'E';
    if (ch == 'd') ch = 'e';
  }
  return platform::StrToDoubleC(copy.c_str());
}

int32_t InputInt(int32_t& target) {
  const NumberToken token = NextToken();
  target = token.isFloat ? RoundToInt32(StrToDouble(token.text)) : StrToInt(token.text);
  return SetError(0);
}

int32_t CloseFile(int32_t fileNumber) {
  if (fileNumber == 0) return Fail(1, {"CloseFile: file number 0, the console, cannot be closed"});
  FileSlot* slot = SlotFor(fileNumber);
  if (!SlotOpen(slot)) return Fail(1, {"CloseFile: file number ", fileNumber, " is not open"});
  if (const int32_t result = CloseStream(*slot))  // stays open, reads nothing
    return Fail(result, {"CloseFile: closing file number ", fileNumber, " failed"});
  ClearSlot(*slot);
  return SetError(0);
}

void CloseAllFiles() {
  if (!gLayer.filesUsed) return;
  gLayer.filesUsed = false;
  for (int32_t n = 1; n <= 255; ++n) {
    CloseStream(gLayer.files[n + 1]);
    ClearSlot(gLayer.files[n + 1]);
  }
}

}  // namespace scr
