// cp437.h - code page 437, the layer's character set, to and from Unicode.
#pragma once

#include <cstdint>
#include <string>

namespace scr {

// The Unicode character byte `b` shows in the fonts (1..31 and 127 are the
// fonts' pictures; 0 is U+0000).
uint32_t Cp437ToUnicode(uint8_t b);
// Appends `codepoint` (at most 0x10FFFF) to `out` as UTF-8.
void AppendUtf8(std::string& out, uint32_t codepoint);

}  // namespace scr
