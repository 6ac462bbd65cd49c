#pragma once
// PVRTC1 (PowerVR texture compression, 2 and 4 bits a pixel) to pixels. Each 64-bit block holds
// two low-resolution colours and a modulation weight per pixel; the colours are upscaled
// bilinearly over neighbouring blocks, wrapping at the edges, so a pixel depends on four blocks.
// Blocks are stored in Morton order; a level has at least 2 x 2 blocks and power-of-two sides.
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

// Bytes of a width x height PVRTC level.
uint64_t PvrtcLevelBytes(uint32_t width, uint32_t height, bool twoBpp);

// Block (bx, by)'s position in the stored order of a blocksX x blocksY level.
uint64_t PvrtcBlockIndex(uint32_t bx, uint32_t by, uint32_t blocksX, uint32_t blocksY);

void DecodePvrtc2(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodePvrtc4(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);

} // namespace kestrel::image
