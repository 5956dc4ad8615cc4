// Reads arbitrary bytes from a file one number per statement: each leaves error 0, and past the end reads 0.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen.h"

using namespace scr;

static void Require(bool condition) { if (!condition) __builtin_trap(); }

// One scratch file per run, in memory where /dev/shm exists, removed at exit.
static const char* InputPath() {
  static char path[64] = "";
  const char* dir = access("/dev/shm", W_OK) ? "/tmp" : "/dev/shm";
  if (!path[0] && snprintf(path, sizeof path, "%s/fuzz_numbers.%d", dir, int(getpid())) > 0)
    std::atexit([] { unlink(path); });
  return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* out = fopen(InputPath(), "wb");
  if (out == nullptr) return 0;
  const bool written = size == 0 || fwrite(data, 1, size, out) == size;
  if (fclose(out) != 0 || !written) return 0;
  Require(OpenInput(InputPath(), 2, 0, 0, 1, 0) == 0);
  for (size_t i = 0; i <= size + 2; ++i) {  // each statement takes a byte while any is left
    int32_t value = 0;
    Require(BeginInput(1) == 0 && InputInt(value) == 0 && ErrorNumber() == 0 && (i <= size || value == 0));
  }
  Require(CloseFile(1) == 0 && CloseFile(1) == 1);
  const std::string token(reinterpret_cast<const char*>(data), size);  // the conversions on the raw bytes
  StrToInt(token);
  StrToDouble(token);
  return 0;
}
