#pragma once
// ASTC levels through Arm's astcenc library: 16-byte blocks of 4 x 4 to 12 x 12 pixels.
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

// Decodes an LDR level to 8-bit RGBA or an HDR level to float RGBA; raises a KestrelError when
// the data is not exactly the level's blocks or the library refuses it.
void DecodeAstc(std::span<const uint8_t> data, uint32_t width, uint32_t height, uint32_t blockWidth,
                uint32_t blockHeight, bool hdr, ImagePlane& out);

// Encodes an 8-bit, 16-bit or float plane (float with `hdr`) into `out`, which holds exactly the
// level's blocks.
void EncodeAstc(const ImagePlane& in, uint32_t blockWidth, uint32_t blockHeight, bool hdr,
                std::span<uint8_t> out);

// The LevelDecoder / LevelEncoder of each block size.
template <uint32_t W, uint32_t H, bool Hdr>
void DecodeAstcLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                     ImagePlane& out) {
    DecodeAstc(data, width, height, W, H, Hdr, out);
}

template <uint32_t W, uint32_t H, bool Hdr>
void EncodeAstcLevel(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeAstc(in, W, H, Hdr, out);
}

} // namespace kestrel::image
