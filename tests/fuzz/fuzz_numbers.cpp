// Feeds arbitrary bytes through a file to the number reader: open, one input
// statement per number until the end, close. Checks the reader's promises:
// every statement leaves error 0, each consumes input, the end reads as 0.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen.h"

namespace {

// One scratch file for the whole run, in memory when /dev/shm exists (a disk
// file rewritten thousands of times a second is flushed on each rewrite);
// removed when the fuzzer ends.
const std::string& InputPath() {
  static const std::string path = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/fuzz_numbers.XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) abort();
    close(fd);
    return pattern;
  }();
  static const bool removeAtExit = [] {
    return std::atexit([] { unlink(InputPath().c_str()); }) == 0;
  }();
  (void)removeAtExit;
  return path;
}

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  const bool written = size == 0 || fwrite(data, 1, size, out) == size;
  if (fclose(out) != 0 || !written) return 0;

  Require(OpenInput(path, 2, 0, 0, 1, 0) == 0);
  // Every statement takes at least one byte while any is left, so size + 1
  // statements reach the end; the ones after it read 0.
  for (size_t i = 0; i <= size + 2; ++i) {
    int32_t value = 0;
    Require(BeginInput(1) == 0);
    Require(InputInt(value) == 0);
    Require(ErrorNumber() == 0);
    if (i > size) Require(value == 0);
  }
  Require(CloseFile(1) == 0);
  Require(CloseFile(1) == 1);

  // The conversions on their own, with the raw bytes as a token.
  const std::string token(reinterpret_cast<const char*>(data), size);
  (void)StrToInt(token);
  (void)StrToDouble(token);
  return 0;
}
