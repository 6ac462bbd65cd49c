#pragma once
// ATC (AMD's texture compression) to pixels. A colour block is laid out as a DXT1 block with a
// different palette; ATC_RGBA8 puts a DXT5-style interpolated alpha block before it.
#include "image/BlockGrid.h"
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

void DecodeAtcColorBlock(std::span<const uint8_t> block, Block4x4& out);
// The 8-byte interpolated alpha block of DXT5, into the alpha of `out`.
void DecodeInterpolatedAlphaBlock(std::span<const uint8_t> block, Block4x4& out);

void DecodeAtcRgb4(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeAtcRgba8(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                    ImagePlane& out);

} // namespace kestrel::image
