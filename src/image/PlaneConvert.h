#pragma once
// Conversions between the pixel kinds of a plane, and the size checks the codecs share.
#include "image/DecodedImage.h"

#include <span>

namespace kestrel::image {

// The plane as `kind`: itself when it already is, else a converted copy kept in `scratch`.
// 8 <-> 16 bits scale by 257; float is clamped to 0..1 for the integer kinds.
const ImagePlane& AsKind(const ImagePlane& in, PixelKind kind, ImagePlane& scratch);
ImagePlane ConvertPlane(const ImagePlane& in, PixelKind kind);

// Raises a KestrelError unless an encoder's output holds exactly `expected` bytes.
void RequireOutputBytes(std::span<const uint8_t> out, uint64_t expected, const char* format);

} // namespace kestrel::image
