// clock.cpp - Timer: seconds on the monotonic clock.
//
// The source is chosen once, at the first call: the high-resolution counter
// (CLOCK_MONOTONIC, nanosecond counts times the reciprocal of its frequency)
// when the system reports a resolution for it and reads it, otherwise a
// millisecond tick count. Nothing is subtracted: the value counts from the
// clock's own origin (for Linux, about the system's start).
#include <time.h>

#include <cstdint>

#include "screen.h"
#include "termkeys.h"

namespace {

enum class Source { Unchosen, Ticks, HighRes };

Source gSource = Source::Unchosen;
double gReciprocal = 0;  // seconds per count of the high-resolution counter

constexpr int64_t kCountsPerSecond = 1000000000;  // CLOCK_MONOTONIC counts nanoseconds

void ChooseSource() {
  timespec res{}, now{};
  if (clock_getres(CLOCK_MONOTONIC, &res) == 0 && (res.tv_sec != 0 || res.tv_nsec != 0) &&
      clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
    gReciprocal = 1.0 / static_cast<double>(kCountsPerSecond);
    gSource = Source::HighRes;
  } else {
    gSource = Source::Ticks;
  }
}

// Milliseconds since the clock's origin, wrapping after 2^32 like a 32-bit tick count.
uint32_t TickCount() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0 && clock_gettime(CLOCK_MONOTONIC, &ts) != 0 &&
      clock_gettime(CLOCK_REALTIME, &ts) != 0)
    return 0;
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace

double TickSeconds() { return static_cast<double>(TickCount()) * 0.001; }

double Timer() {
  if (gSource == Source::HighRes) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const int64_t count = static_cast<int64_t>(ts.tv_sec) * kCountsPerSecond + ts.tv_nsec;
    return static_cast<double>(count) * gReciprocal;
  }
  if (gSource == Source::Unchosen) {
    ChooseSource();
    return Timer();
  }
  return TickSeconds();
}
