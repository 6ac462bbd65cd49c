#pragma once
#include "texture/TextureSizes.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

// Channel conversions, in place. Groups are counted from the start; a remainder shorter than a
// group is left as it is.
void SwapRB24(std::span<uint8_t> pixels);   // 3-byte groups: exchange bytes 0 and 2
void SwapRB32(std::span<uint8_t> pixels);   // 4-byte groups: exchange bytes 0 and 2
void Reverse32(std::span<uint8_t> pixels);  // 4-byte groups: reverse the bytes
void Rotate4444(std::span<uint8_t> pixels); // 16-bit LE v := (v >> 4) | (v << 12)

// The conversion the DDS export applies to a format's pixels so that they match the DDS pixel
// format row: RGB24 and RGBA32 to BGR(A), ARGB32 reversed, RGBA4444 rotated to ARGB4444.
void ConvertChannelsForDDS(int32_t format, std::span<uint8_t> pixels);

// Reverse the four texel rows of one 4 x 4 block in place.
void FlipDXT1Block(uint8_t* block); // 8 bytes
void FlipDXT3Block(uint8_t* block); // 16 bytes
void FlipDXT5Block(uint8_t* block); // 16 bytes
// The four 12-bit alpha index rows in 6 bytes, row 0 in the lowest bits, reversed in place.
void FlipDXT5AlphaRows(uint8_t* bits);

// Appends the levels of one image to `out` with their rows in reverse order (first row written
// is the last row stored): DXT1/3/5 by block rows with each block flipped, every other format by
// pixel rows. Bytes after the last level are appended unchanged. Flipping twice restores the
// image. Raises a KestrelError when a level does not fit in the image.
void WriteFlippedLevels(std::vector<uint8_t>& out, std::span<const uint8_t> image, int32_t width,
                        int32_t height, BytesPerPixel bytesPerPixel, uint32_t levels,
                        int32_t format);

} // namespace kestrel
