// clock.cpp - Timer: seconds on the platform's monotonic counter; WaitFrame:
// the frame pacer.
//
// The source is chosen once, at the first call: the high-resolution counter
// when it works, otherwise the millisecond tick count that wraps after 2^32
// ms. Nothing is subtracted: the value counts from the counter's own origin
// (typically the system's start).
#include "backend/backend.h"
#include "platform/platform.h"
#include "state.h"

namespace scr {

double Timer() {
  if (gLayer.clock == ClockSource::HighRes) [[likely]]
    return platform::HighResSeconds();
  if (gLayer.clock == ClockSource::Unchosen)
    gLayer.clock = platform::HighResClockWorks() ? ClockSource::HighRes : ClockSource::Ticks;
  return gLayer.clock == ClockSource::HighRes ? platform::HighResSeconds() : platform::TickSeconds();
}

void WaitFrame() {
  WaitRetrace(gLayer.screen ? gLayer.screen->refresh : 0, gLayer.nextFrame);
}

}  // namespace scr
