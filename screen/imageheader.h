// imageheader.h - image headers read and written, and the registry of the
// blocks ImageCreate made. Below drawing (an image can be a drawing target)
// and images alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state.h"

namespace scr {

// Largest image side and pitch accepted from a header; anything larger is
// refused so that height * pitch can never overflow.
inline constexpr int64_t kMaxImageSide = int64_t(1) << 28;
inline constexpr int64_t kMaxImagePitch = int64_t(1) << 30;

inline constexpr int32_t kFullHeaderSize = 32;
inline constexpr int32_t kPackedHeaderSize = 4;
inline constexpr uint32_t kFullHeaderType = 7;

// Reads an image header. A packed header's pixel size 0 means `defaultBpp`.
// False (refused) for negative or huge sizes or pitch, a pixel size other
// than 1, 2, 4, or an ImageCreate block too small for what the header claims.
// A pitch shorter than a row is taken as it is: rows that many bytes apart
// (0 repeats the first row).
bool ReadImageShape(const void* image, int32_t defaultBpp, ImageShape& out);
// Writes the header of a width x height image of `bpp`-byte pixels whose rows
// are `pitch` bytes apart (the packed form has no pitch: rows are unpadded).
void WriteImageHeader(void* at, bool full, int32_t bpp, int64_t width, int64_t height, int64_t pitch);

// Bytes from an ImageCreate header to the end of its block; 0 for any other address.
size_t RegisteredImageBytes(const void* header);

}  // namespace scr
