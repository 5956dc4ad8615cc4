// fileinput.cpp - numbered text files read number by number, and the
// program-wide error number.
//
// A file number 1..255 names a FileSlot; an input statement is BeginInput(n)
// then InputInt(v). Reading is tolerant: a missing file, an unopened number
// and the end of a file all read as 0 and leave no error behind.
#include <fcntl.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace scr {

// The operations of an open file, in table order. Only readBytes and close are
// used by number input; the ones a disk file does not need are left empty.
struct FileOps {
  int32_t (*endOfFile)(FileSlot& slot);
  int32_t (*close)(FileSlot& slot);
  int32_t (*seek)(FileSlot& slot, int64_t position);
  int64_t (*tell)(FileSlot& slot);
  // Fills `count` bytes; a short read zero-fills the rest. Returns the bytes that came.
  size_t (*readBytes)(FileSlot& slot, void* buffer, size_t count);
  size_t (*readWide)(FileSlot& slot, void* buffer, size_t count);
  size_t (*writeBytes)(FileSlot& slot, const void* buffer, size_t count);
  size_t (*writeWide)(FileSlot& slot, const void* buffer, size_t count);
  int32_t (*lock)(FileSlot& slot, int64_t from, int64_t to);
  int32_t (*unlock)(FileSlot& slot, int64_t from, int64_t to);
  int32_t (*readLine)(FileSlot& slot, std::string& line);
  int32_t (*readLineWide)(FileSlot& slot, std::string& line);
  void* unused;
  int32_t (*flush)(FileSlot& slot);
};

namespace {

constexpr int kEndOfInput = -1;
constexpr size_t kStreamBuffer = 8192;
constexpr size_t kTokenLimit = 67;

// --- the disk file's operations ---------------------------------------------

int32_t DiskEndOfFile(FileSlot& slot) {
  return slot.stream == nullptr || feof(slot.stream) ? -1 : 0;
}

// Closes the stream. The stream is gone afterwards even when fclose reports a
// failure, so the slot never keeps a dangling stream.
int32_t DiskClose(FileSlot& slot) {
  if (slot.stream == nullptr) return 0;
  const int result = fclose(slot.stream);
  slot.stream = nullptr;
  return result == 0 ? 0 : 3;
}

int32_t DiskSeek(FileSlot& slot, int64_t position) {
  if (slot.stream == nullptr || position < 0) return 1;
  return fseeko(slot.stream, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : 3;
}

int64_t DiskTell(FileSlot& slot) {
  return slot.stream == nullptr ? -1 : static_cast<int64_t>(ftello(slot.stream));
}

size_t DiskReadBytes(FileSlot& slot, void* buffer, size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  if (slot.stream != nullptr) {
    if (count == 1) {  // the byte-at-a-time path of NextToken
      const int c = getc_unlocked(slot.stream);
      if (c != EOF) out[got++] = static_cast<unsigned char>(c);
    } else {
      got = fread(out, 1, count, slot.stream);
    }
  }
  if (got < count) memset(out + got, 0, count - got);
  return got;
}

int32_t DiskFlush(FileSlot& slot) {
  return slot.stream == nullptr || fflush(slot.stream) == 0 ? 0 : 3;
}

const FileOps kDiskOps = {
    DiskEndOfFile, DiskClose, DiskSeek, DiskTell, DiskReadBytes,
    nullptr,       nullptr,   nullptr,  nullptr,  nullptr,
    nullptr,       nullptr,   nullptr,  DiskFlush,
};

// --- slots ------------------------------------------------------------------

// Slot for a file number: 0 the console, -1 the reserved slot, 1..255.
FileSlot* SlotFor(int32_t fileNumber) {
  if (fileNumber == 0) return &gLayer.files[0];
  if (fileNumber == -1) return &gLayer.files[1];
  if (fileNumber >= 1 && fileNumber <= 255) return &gLayer.files[fileNumber + 1];
  return nullptr;
}

// Makes the slot free again: its stream buffer goes, every field is reset.
void ClearSlot(FileSlot& slot) {
  delete[] slot.buffer;
  slot = FileSlot{};
}

void CloseAllAtExit() { CloseAllFiles(); }

void RegisterExitClose() {
  static const bool registered = [] {
    std::atexit(CloseAllAtExit);
    return true;
  }();
  (void)registered;
}

// Opens `name` for reading without ever waiting (a FIFO with no writer would
// otherwise block the open) and refuses directories, which open but cannot be
// read. The stream gets `buffer` (kStreamBuffer bytes) as its buffer.
FILE* OpenReadStream(const char* name, char* buffer) {
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* stream = fdopen(fd, "rb");
  if (stream == nullptr) {
    ::close(fd);
    return nullptr;
  }
  setvbuf(stream, buffer, _IOFBF, kStreamBuffer);
  return stream;
}

// Steps 6 to 11 of opening: the slot has been reset and carries the request.
int32_t OpenDiskFile(FileSlot& slot, const std::string& name) {
  // "/" is already this platform's directory separator: the name stays as it is.
  slot.ops = &kDiskOps;

  // Binary stream, only to measure the size (the seek reads nothing).
  char* measureBuffer = new char[kStreamBuffer];
  FILE* binary = OpenReadStream(name.c_str(), measureBuffer);
  if (binary == nullptr) {
    delete[] measureBuffer;
    return 2;
  }
  off_t size = -1;
  if (fseeko(binary, 0, SEEK_END) == 0) size = ftello(binary);
  fclose(binary);
  delete[] measureBuffer;
  if (size < 0) return 1;
  slot.size = static_cast<int64_t>(size);

  // Text stream: the same bytes on this platform, opened afresh at the start.
  slot.buffer = new char[kStreamBuffer];
  slot.stream = OpenReadStream(name.c_str(), slot.buffer);
  if (slot.stream == nullptr) return 2;

  if (slot.access == 0) slot.access = 3;
  if (strcasecmp(name.c_str(), "CON") == 0) slot.kind = 1;
  return 0;
}

// --- reading characters -----------------------------------------------------

bool SlotOpen(const FileSlot* slot) { return slot != nullptr && slot->ops != nullptr; }

}  // namespace

int32_t ReadInputChar() {
  InputContext& in = gLayer.input;
  if (SlotOpen(in.slot)) {
    FileSlot& slot = *in.slot;
    if (slot.putBackCount > 0) return slot.putBack[--slot.putBackCount];
    unsigned char byte = 0;
    if (slot.ops->readBytes == nullptr || slot.ops->readBytes(slot, &byte, 1) != 1) {
      return kEndOfInput;
    }
    return byte;
  }
  if (in.index < in.text.size()) return static_cast<unsigned char>(in.text[in.index++]);
  return kEndOfInput;
}

void UnreadInputChar(int c) {
  if (c == kEndOfInput) return;  // the end of input is not a byte: nothing to return
  InputContext& in = gLayer.input;
  if (SlotOpen(in.slot)) {
    FileSlot& slot = *in.slot;
    if (slot.putBackCount >= 4) {
      SetError(3);  // no room: the byte is lost
      return;
    }
    slot.putBack[slot.putBackCount++] = static_cast<uint8_t>(c);
    return;
  }
  if (in.index > 0) --in.index;
}

namespace {

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

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
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
// Error number
// ---------------------------------------------------------------------------

int32_t SetError(int32_t n) {
  gLayer.errorNumber = n;
  return n;
}

int32_t ErrorNumber() { return gLayer.errorNumber; }

// ---------------------------------------------------------------------------
// File numbers
// ---------------------------------------------------------------------------

int32_t FreeFile() {
  for (int32_t n = 1; n <= 255; ++n) {
    if (gLayer.files[n + 1].ops == nullptr) return n;
  }
  return 0;
}

int32_t OpenInput(std::string name, int32_t mode, int32_t access, int32_t lock,
                  int32_t fileNumber, int32_t recordLength) {
  if (fileNumber < 1 || fileNumber > 255) return SetError(1);
  const std::string path(name.c_str());  // the name up to its first zero byte
  name.clear();
  name.shrink_to_fit();
  FileSlot& slot = gLayer.files[fileNumber + 1];
  if (slot.ops != nullptr) return SetError(1);

  gLayer.filesUsed = true;
  RegisterExitClose();
  ClearSlot(slot);
  slot.mode = mode;
  slot.encoding = 0;
  slot.access = access;
  slot.lock = lock;
  slot.recordLength = recordLength > 0 ? recordLength : 128;
  slot.size = -1;

  const int32_t result = OpenDiskFile(slot, path);
  if (result != 0) {
    if (slot.stream != nullptr) fclose(slot.stream);
    slot.stream = nullptr;
    ClearSlot(slot);
  }
  return SetError(result);
}

int32_t BeginInput(int32_t fileNumber) {
  FileSlot* slot = SlotFor(fileNumber);
  if (!SlotOpen(slot)) return SetError(1);
  InputContext& in = gLayer.input;
  in.slot = slot;
  in.text.clear();
  in.index = 0;
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
  const locale_t c = CLocale();
  return c != static_cast<locale_t>(0) ? strtod_l(copy.c_str(), nullptr, c)
                                       : strtod(copy.c_str(), nullptr);
}

int32_t InputInt(int32_t& target) {
  const NumberToken token = NextToken();
  target = token.isFloat ? RoundToInt32(StrToDouble(token.text)) : StrToInt(token.text);
  return SetError(0);
}

int32_t CloseFile(int32_t fileNumber) {
  if (fileNumber == 0) return SetError(1);
  FileSlot* slot = SlotFor(fileNumber);
  if (!SlotOpen(slot)) return SetError(1);
  if (slot->ops->close != nullptr) {
    const int32_t result = slot->ops->close(*slot);
    if (result != 0) return SetError(result);
  }
  ClearSlot(*slot);
  return SetError(0);
}

void CloseAllFiles() {
  if (!gLayer.filesUsed) return;
  gLayer.filesUsed = false;
  for (int32_t n = 1; n <= 255; ++n) {
    FileSlot& slot = gLayer.files[n + 1];
    if (slot.ops != nullptr && slot.ops->close != nullptr) slot.ops->close(slot);
  }
  for (int32_t n = 1; n <= 255; ++n) ClearSlot(gLayer.files[n + 1]);
}

}  // namespace scr
