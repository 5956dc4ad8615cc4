// clock.cpp - Timer: seconds on the monotonic clock; WaitFrame: the frame pacer.
//
// The source is chosen once, at the first call: the high-resolution counter
// (CLOCK_MONOTONIC, in nanoseconds) when the system reports a resolution for
// it and reads it, otherwise a millisecond tick count that wraps after 2^32
// ms like a 32-bit tick count. Nothing is subtracted: the value counts from
// the clock's own origin (for Linux, about the system's start).
#include <time.h>

#include <cstdint>

#include "backend/backend.h"
#include "state.h"

namespace scr {

namespace {

ClockSource ChooseSource() {
  timespec res{}, now{};
  const bool highRes = clock_getres(CLOCK_MONOTONIC, &res) == 0 &&
                       (res.tv_sec != 0 || res.tv_nsec != 0) &&
                       clock_gettime(CLOCK_MONOTONIC, &now) == 0;
  return highRes ? ClockSource::HighRes : ClockSource::Ticks;
}

double TickSeconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0 && clock_gettime(CLOCK_MONOTONIC, &ts) != 0 &&
      clock_gettime(CLOCK_REALTIME, &ts) != 0)
    return 0;
  const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return double(uint32_t(ms)) * 0.001;
}

}  // namespace

double Timer() {
  if (gLayer.clock == ClockSource::HighRes) [[likely]] {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec) * 1e-9;
  }
  if (gLayer.clock == ClockSource::Unchosen) gLayer.clock = ChooseSource();
  return gLayer.clock == ClockSource::HighRes ? Timer() : TickSeconds();
}

void WaitFrame() {
  WaitRetrace(gLayer.screen ? gLayer.screen->refresh : 0, gLayer.nextFrame);
}

}  // namespace scr
