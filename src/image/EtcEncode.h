#pragma once
// ETC1, ETC2 and EAC encoders. Colour blocks are searched over the individual and differential
// modes of ETC1 with both sub-block splits; ETC2 adds the planar mode, which suits gradients.
#include "image/BlockGrid.h"
#include "image/DecodedImage.h"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::image {

enum class EtcTarget : uint8_t {
    kEtc1,        // individual and differential modes only
    kEtc2,        // adds planar
    kPunchThrough // ETC2 RGB A1: pixels with alpha below 128 become transparent
};

// One 4 x 4 block of RGBA pixels to a 64-bit block (stored most significant byte first).
uint64_t EncodeEtcColorBlock(const Block4x4& pixels, EtcTarget target);

enum class EacTarget : uint8_t {
    kAlpha8,     // 8-bit values, the alpha of ETC2 RGBA8
    kUnsigned11, // R11 values 0..2047
    kSigned11,   // R11 values -1023..1023
};

// 16 values in pixel order (row by row) to one EAC block.
uint64_t EncodeEacBlock(const std::array<int32_t, 16>& values, EacTarget target);

void EncodeEtc1(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEtc2Rgb(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEtc2Rgba1(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEtc2Rgba8(const ImagePlane& in, std::span<uint8_t> out);
// EAC from 8-bit or 16-bit planes, read as the EAC decoders of the same width write them.
void EncodeEacR(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEacRSigned(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEacRg(const ImagePlane& in, std::span<uint8_t> out);
void EncodeEacRgSigned(const ImagePlane& in, std::span<uint8_t> out);

} // namespace kestrel::image
