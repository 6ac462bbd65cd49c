#pragma once
// Conversions between the pixel kinds of a plane, and the size checks the codecs share.
#include "image/DecodedImage.h"

#include <span>

namespace kestrel::image {

// The plane as `kind`: itself when it already is, else a converted copy kept in `scratch`.
// 8 <-> 16 bits scale by 257; float is clamped to 0..1 for the integer kinds.
const ImagePlane& AsKind(const ImagePlane& in, PixelKind kind, ImagePlane& scratch);
ImagePlane ConvertPlane(const ImagePlane& in, PixelKind kind);

// Rows in the opposite order: between the stored order (bottom row first) and a picture's.
void TurnRows(ImagePlane& plane);

// The next smaller level of a mip chain: each edge halved (down to 1), each pixel the mean of the
// 2 x 2 pixels it covers (2 x 1 or 1 x 2 where an edge is 1 already; an odd last row or column
// is left out), rounded to the nearest value for the integer kinds.
ImagePlane HalvePlane(const ImagePlane& in);

// Raises a KestrelError unless an encoder's output holds exactly `expected` bytes.
void RequireOutputBytes(std::span<const uint8_t> out, uint64_t expected, const char* format);

} // namespace kestrel::image
