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

// The table's scan codes held by virtual key `vk`: none, one, or two (Shift).
int ScansOfVirtualKey(int32_t vk, int32_t scans[2]);

// The same table from a keyboard device's state by scan code (256 entries,
// the high bit held; the grey twins of keys at scan + 128), as DirectInput
// gives it: held[scan] = 1 when scan or its twin is down, with the virtual
// keys' doubles (both Shift codes for either, keypad minus on 12).
void KeyStatesFromScanCodes(const uint8_t scanState[256], uint8_t held[128]);

}  // namespace scr
