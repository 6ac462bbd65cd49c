#include "image/DesktopCodecs.h"

#include "image/Bc6h.h"
#include "image/Bc7.h"
#include "image/BcClassic.h"
#include "image/PixelCodecs.h"
#include "texture/TextureSizes.h"

#include <array>

namespace kestrel::image {
namespace {

using enum ChannelSet;
using enum PixelKind;

constexpr FormatCodec Pixels(int32_t format, ChannelSet channels, PixelKind kind,
                             LevelDecoder decode, LevelEncoder encode, uint8_t bits,
                             bool halfFloat = false) {
    return {format, channels, kind, decode, encode, 1, 1, 0, bits, halfFloat};
}

constexpr FormatCodec Blocks(int32_t format, ChannelSet channels, PixelKind kind,
                             LevelDecoder decode, LevelEncoder encode, uint8_t bytes) {
    return {format, channels, kind, decode, encode, 4, 4, bytes, 0, false};
}

// Format numbers as the engine's TextureFormat names them (assets/Vocabulary.cpp).
constexpr std::array<FormatCodec, 25> kCodecs{{
    Pixels(1, kAlpha, kRgba8, DecodeBytes<kAlpha8Layout>, EncodeBytes<kAlpha8Layout>, 8),
    Pixels(2, kRgba, kRgba8, DecodePacked<kArgb4444Layout>, EncodePacked<kArgb4444Layout>, 16),
    Pixels(3, kRgb, kRgba8, DecodeBytes<kRgb24Layout>, EncodeBytes<kRgb24Layout>, 24),
    Pixels(4, kRgba, kRgba8, DecodeBytes<kRgba32Layout>, EncodeBytes<kRgba32Layout>, 32),
    Pixels(5, kRgba, kRgba8, DecodeBytes<kArgb32Layout>, EncodeBytes<kArgb32Layout>, 32),
    Pixels(7, kRgb, kRgba8, DecodePacked<kRgb565Layout>, EncodePacked<kRgb565Layout>, 16),
    Pixels(9, kGray, kRgba16, DecodeR16, EncodeR16, 16),
    // DXT1 is the engine's opaque RGB format.
    Blocks(10, kRgb, kRgba8, DecodeDxt1, EncodeDxt1, 8),
    Blocks(11, kRgba, kRgba8, DecodeDxt3, EncodeDxt3, 16),
    Blocks(12, kRgba, kRgba8, DecodeDxt5, EncodeDxt5, 16),
    Pixels(13, kRgba, kRgba8, DecodePacked<kRgba4444Layout>, EncodePacked<kRgba4444Layout>, 16),
    Pixels(14, kRgba, kRgba8, DecodeBytes<kBgra32Layout>, EncodeBytes<kBgra32Layout>, 32),
    Pixels(15, kGray, kRgbaFloat, DecodeFloats<1, 2>, EncodeFloats<1, 2>, 16, true),
    Pixels(16, kGrayGreen, kRgbaFloat, DecodeFloats<2, 2>, EncodeFloats<2, 2>, 32, true),
    Pixels(17, kRgba, kRgbaFloat, DecodeFloats<4, 2>, EncodeFloats<4, 2>, 64, true),
    Pixels(18, kGray, kRgbaFloat, DecodeFloats<1, 4>, EncodeFloats<1, 4>, 32),
    Pixels(19, kGrayGreen, kRgbaFloat, DecodeFloats<2, 4>, EncodeFloats<2, 4>, 64),
    Pixels(20, kRgba, kRgbaFloat, DecodeFloats<4, 4>, EncodeFloats<4, 4>, 128),
    Pixels(22, kRgb, kRgbaFloat, DecodeRgb9e5, EncodeRgb9e5, 32),
    Blocks(24, kRgb, kRgbaFloat, DecodeBc6hUnsigned, EncodeBc6h, 16),
    Blocks(25, kRgba, kRgba8, DecodeBc7, EncodeBc7, 16),
    Blocks(26, kGray, kRgba8, DecodeBc4, EncodeBc4, 8),
    Blocks(27, kGrayGreen, kRgba8, DecodeBc5, EncodeBc5, 16),
    Pixels(62, kGrayGreen, kRgba8, DecodeBytes<kRg16Layout>, EncodeBytes<kRg16Layout>, 16),
    Pixels(63, kGray, kRgba8, DecodeBytes<kR8Layout>, EncodeBytes<kR8Layout>, 8),
}};

} // namespace

const FormatCodec* FindDesktopCodec(int32_t format) {
    for (const auto& codec : kCodecs)
        if (codec.format == format) return &codec;
    return nullptr;
}

uint64_t LevelByteSize(const FormatCodec& codec, uint32_t width, uint32_t height) {
    if (codec.blockBytes != 0) {
        const uint64_t wide =
            (static_cast<uint64_t>(width) + codec.blockWidth - 1) / codec.blockWidth;
        const uint64_t high =
            (static_cast<uint64_t>(height) + codec.blockHeight - 1) / codec.blockHeight;
        return CheckedMul(CheckedMul(wide, high, "block count"), codec.blockBytes, "level size");
    }
    const uint64_t bits =
        CheckedMul(CheckedMul(width, height, "width x height"), codec.bitsPerPixel, "level size");
    return (bits + 7) / 8;
}

} // namespace kestrel::image
