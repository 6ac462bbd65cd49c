#pragma once
// BC6H (BPTC float): 16-byte blocks of 4 x 4 RGB half-float texels in fourteen modes, unsigned
// (the engine's BC6H) or signed.
#include "image/DecodedImage.h"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::image {

// One block to 16 RGB half-float texels (3 values a texel, row-major). Reserved modes give zeros.
void DecodeBc6hBlock(std::span<const uint8_t, 16> block, bool isSigned,
                     std::array<uint16_t, 48>& halves);
// One unsigned block from 16 RGBA float texels (alpha ignored): the single-subset mode with
// 10-bit endpoints and 4-bit indices. Negative values become 0, values above 65504 become 65504.
std::array<uint8_t, 16> EncodeBc6hBlock(const std::array<float, 64>& texels);

void DecodeBc6hUnsigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                        ImagePlane& out);
void DecodeBc6hSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                      ImagePlane& out);
void EncodeBc6h(const ImagePlane& in, std::span<uint8_t> out);

} // namespace kestrel::image
