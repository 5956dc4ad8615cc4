// vkstate.h - the key-state table from a Windows-style keyboard state: 86
// scan codes (1 to 88 and 91 to 93, except 74, 76 and 84 to 86), each held
// while its US-layout virtual key, or its second one, is down. Pure, so it
// is built and tested on every platform.
#pragma once

#include <cstdint>

namespace scr {

// held[scan] = 1 when the scan code's virtual key (or its second one, as
// keypad 8 and Up share scan 72) has the high bit in vkState, else 0.
void KeyStatesFromVirtualKeys(const uint8_t vkState[256], uint8_t held[128]);

}  // namespace scr
