#pragma once
// BC7 (BPTC unorm): 16-byte blocks of 4 x 4 RGBA texels in eight modes.
#include "image/DecodedImage.h"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::image {

// One block to 16 RGBA texels, row-major. The reserved mode (a first byte of 0) gives zeros.
void DecodeBc7Block(std::span<const uint8_t, 16> block, std::array<uint8_t, 64>& texels);
// One block from 16 RGBA texels: the best of modes 6 (one subset, RGBA), 5 (colour and alpha
// apart) and the two-subset modes (1 and 3 for opaque blocks, 7 for others) over the partitions
// that fit best.
std::array<uint8_t, 16> EncodeBc7Block(const std::array<uint8_t, 64>& texels);

void DecodeBc7(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void EncodeBc7(const ImagePlane& in, std::span<uint8_t> out);

} // namespace kestrel::image
