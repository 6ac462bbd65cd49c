#include "image/BcClassic.h"

#include "image/BlockLevel.h"
#include "image/PlaneConvert.h"

#include <squish.h>

namespace kestrel::image {
namespace {

using Texels = std::array<uint8_t, 64>;

uint32_t Expand5(uint32_t v) {
    return (v << 3) | (v >> 2);
}
uint32_t Expand6(uint32_t v) {
    return (v << 2) | (v >> 4);
}

// The colour half of a DXT block (8 bytes). Only DXT1 knows the three-colour mode with a
// transparent fourth colour; DXT3 and DXT5 always interpolate four colours.
void DecodeColour(std::span<const uint8_t, 8> b, bool dxt1, Texels& texels) {
    const uint32_t c0 = b[0] | (b[1] << 8);
    const uint32_t c1 = b[2] | (b[3] << 8);
    std::array<std::array<uint32_t, 4>, 4> palette{};
    palette[0] = {Expand5(c0 >> 11), Expand6((c0 >> 5) & 63), Expand5(c0 & 31), 255};
    palette[1] = {Expand5(c1 >> 11), Expand6((c1 >> 5) & 63), Expand5(c1 & 31), 255};
    const bool fourColours = !dxt1 || c0 > c1;
    for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t a = palette[0][c], z = palette[1][c];
        palette[2][c] = fourColours ? (2 * a + z) / 3 : (a + z) / 2;
        palette[3][c] = fourColours ? (a + 2 * z) / 3 : 0;
    }
    palette[2][3] = 255;
    palette[3][3] = fourColours ? 255 : 0;
    for (uint32_t t = 0; t < 16; ++t) {
        const uint32_t index = (b[4 + t / 4] >> (2 * (t % 4))) & 3u;
        for (uint32_t c = 0; c < 4; ++c)
            texels[t * 4 + c] = static_cast<uint8_t>(palette[index][c]);
    }
}

// The 8-byte block of DXT5 alpha, BC4 and each BC5 channel: two endpoints and 3-bit indices.
void DecodeRamp(std::span<const uint8_t, 8> b, uint32_t channel, Texels& texels) {
    const uint32_t a0 = b[0], a1 = b[1];
    std::array<uint32_t, 8> ramp{a0, a1};
    if (a0 > a1) {
        for (uint32_t i = 1; i < 7; ++i)
            ramp[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (uint32_t i = 1; i < 5; ++i)
            ramp[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        ramp[6] = 0;
        ramp[7] = 255;
    }
    uint64_t indices = 0;
    for (uint32_t i = 0; i < 6; ++i)
        indices |= static_cast<uint64_t>(b[2 + i]) << (8 * i);
    for (uint32_t t = 0; t < 16; ++t)
        texels[t * 4 + channel] = static_cast<uint8_t>(ramp[(indices >> (3 * t)) & 7u]);
}

void Encode(const ImagePlane& in, std::span<uint8_t> out, int flags, const char* format) {
    ImagePlane scratch;
    const ImagePlane& rgba = AsKind(in, PixelKind::kRgba8, scratch);
    const int w = static_cast<int>(rgba.width), h = static_cast<int>(rgba.height);
    const uint64_t bytes = BlockCount(rgba.width, rgba.height) *
                           ((flags & (squish::kDxt1 | squish::kBc4)) != 0 ? 8 : 16);
    RequireOutputBytes(out, bytes, format);
    if (bytes == 0) return;
    squish::CompressImage(rgba.rgba8.data(), w, h, out.data(),
                          flags | squish::kColourIterativeClusterFit);
}

} // namespace

void DecodeDxt1(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 8>(
        data, width, height, PixelKind::kRgba8, "DXT1", out,
        [](std::span<const uint8_t, 8> b, Texels& texels) { DecodeColour(b, true, texels); });
}

void DecodeDxt3(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 16>(data, width, height, PixelKind::kRgba8, "DXT3", out,
                              [](std::span<const uint8_t, 16> b, Texels& texels) {
                                  DecodeColour(b.subspan<8, 8>(), false, texels);
                                  for (uint32_t t = 0; t < 16; ++t)
                                      texels[t * 4 + 3] = static_cast<uint8_t>(
                                          ((b[t / 2] >> (4 * (t % 2))) & 15u) * 17);
                              });
}

void DecodeDxt5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 16>(data, width, height, PixelKind::kRgba8, "DXT5", out,
                              [](std::span<const uint8_t, 16> b, Texels& texels) {
                                  DecodeColour(b.subspan<8, 8>(), false, texels);
                                  DecodeRamp(b.first<8>(), 3, texels);
                              });
}

void DecodeBc4(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 8>(data, width, height, PixelKind::kRgba8, "BC4", out,
                             [](std::span<const uint8_t, 8> b, Texels& texels) {
                                 for (uint32_t t = 0; t < 16; ++t)
                                     texels[t * 4 + 3] = 255;
                                 DecodeRamp(b, 0, texels);
                             });
}

void DecodeBc5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 16>(data, width, height, PixelKind::kRgba8, "BC5", out,
                              [](std::span<const uint8_t, 16> b, Texels& texels) {
                                  for (uint32_t t = 0; t < 16; ++t)
                                      texels[t * 4 + 3] = 255;
                                  DecodeRamp(b.first<8>(), 0, texels);
                                  DecodeRamp(b.subspan<8, 8>(), 1, texels);
                              });
}

// The engine's DXT1 is opaque: alpha is set to 255 so that libsquish never picks the
// three-colour mode with its transparent black.
void EncodeDxt1(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane opaque = ConvertPlane(in, PixelKind::kRgba8);
    for (size_t i = 3; i < opaque.rgba8.size(); i += 4)
        opaque.rgba8[i] = 255;
    Encode(opaque, out, squish::kDxt1, "DXT1");
}
void EncodeDxt3(const ImagePlane& in, std::span<uint8_t> out) {
    Encode(in, out, squish::kDxt3, "DXT3");
}
void EncodeDxt5(const ImagePlane& in, std::span<uint8_t> out) {
    Encode(in, out, squish::kDxt5, "DXT5");
}
void EncodeBc4(const ImagePlane& in, std::span<uint8_t> out) {
    Encode(in, out, squish::kBc4, "BC4");
}
void EncodeBc5(const ImagePlane& in, std::span<uint8_t> out) {
    Encode(in, out, squish::kBc5, "BC5");
}

} // namespace kestrel::image
