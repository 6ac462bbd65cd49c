#include "image/PixelCodecs.h"

#include "image/BlockLevel.h"
#include "image/HalfFloat.h"
#include "image/PlaneConvert.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestrel::image {
namespace {

uint64_t PixelCount(uint32_t width, uint32_t height) {
    RequireLevelEdges(width, height, "pixel");
    return static_cast<uint64_t>(width) * height;
}

uint32_t LoadLE(std::span<const uint8_t> data, size_t at, uint32_t bytes) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    return v;
}

void StoreLE(std::span<uint8_t> out, size_t at, uint32_t bytes, uint32_t v) {
    for (uint32_t i = 0; i < bytes; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

template <ByteLayout L>
void DecodeBytes(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    const uint64_t n = PixelCount(width, height);
    RequireLevelBytes(data, n * L.bytes, "pixel");
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    const int8_t where[4] = {L.r, L.g, L.b, L.a};
    const uint8_t absent[4] = {L.whiteColour ? uint8_t{255} : uint8_t{0},
                               L.whiteColour ? uint8_t{255} : uint8_t{0},
                               L.whiteColour ? uint8_t{255} : uint8_t{0}, 255};
    for (uint64_t p = 0; p < n; ++p)
        for (uint32_t c = 0; c < 4; ++c)
            out.rgba8[p * 4 + c] = where[c] >= 0 ? data[p * L.bytes + where[c]] : absent[c];
}

template <ByteLayout L> void EncodeBytes(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgba8, scratch);
    const uint64_t n = PixelCount(p.width, p.height);
    RequireOutputBytes(out, n * L.bytes, "pixel");
    const int8_t where[4] = {L.r, L.g, L.b, L.a};
    for (uint64_t i = 0; i < n; ++i)
        for (uint32_t c = 0; c < 4; ++c)
            if (where[c] >= 0) out[i * L.bytes + where[c]] = p.rgba8[i * 4 + c];
}

template <PackedLayout L>
void DecodePacked(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    const uint64_t n = PixelCount(width, height);
    RequireLevelBytes(data, n * 2, "pixel");
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    for (uint64_t p = 0; p < n; ++p) {
        const uint32_t v = LoadLE(data, p * 2, 2);
        for (uint32_t c = 0; c < 4; ++c) {
            const uint32_t bits = L.bits[c];
            if (bits == 0) {
                out.rgba8[p * 4 + c] = c == 3 ? 255 : 0;
                continue;
            }
            // Widen by repeating the top bits below, the rule GPUs use for 4, 5 and 6 bits.
            const uint32_t field = (v >> L.shift[c]) & ((1u << bits) - 1);
            const uint32_t wide = (field << (8 - bits)) | (field >> (2 * bits - 8));
            out.rgba8[p * 4 + c] = static_cast<uint8_t>(wide);
        }
    }
}

template <PackedLayout L> void EncodePacked(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgba8, scratch);
    const uint64_t n = PixelCount(p.width, p.height);
    RequireOutputBytes(out, n * 2, "pixel");
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t v = 0;
        for (uint32_t c = 0; c < 4; ++c) {
            const uint32_t max = (1u << L.bits[c]) - 1;
            v |= ((p.rgba8[i * 4 + c] * max + 127) / 255) << L.shift[c];
        }
        StoreLE(out, i * 2, 2, v);
    }
}

void DecodeR16(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    const uint64_t n = PixelCount(width, height);
    RequireLevelBytes(data, n * 2, "R16");
    out = ImagePlane::Make(width, height, PixelKind::kRgba16);
    for (uint64_t p = 0; p < n; ++p) {
        out.rgba16[p * 4] = static_cast<uint16_t>(LoadLE(data, p * 2, 2));
        out.rgba16[p * 4 + 3] = 0xFFFF;
    }
}

void EncodeR16(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgba16, scratch);
    const uint64_t n = PixelCount(p.width, p.height);
    RequireOutputBytes(out, n * 2, "R16");
    for (uint64_t i = 0; i < n; ++i)
        StoreLE(out, i * 2, 2, p.rgba16[i * 4]);
}

template <uint32_t Channels, uint32_t ValueBytes>
void DecodeFloats(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    const uint64_t n = PixelCount(width, height);
    RequireLevelBytes(data, n * Channels * ValueBytes, "float");
    out = ImagePlane::Make(width, height, PixelKind::kRgbaFloat);
    for (uint64_t p = 0; p < n; ++p) {
        out.rgbaF[p * 4 + 3] = 1.0f;
        for (uint32_t c = 0; c < Channels; ++c) {
            const uint32_t v = LoadLE(data, (p * Channels + c) * ValueBytes, ValueBytes);
            out.rgbaF[p * 4 + c] =
                ValueBytes == 2 ? HalfToFloat(static_cast<uint16_t>(v)) : std::bit_cast<float>(v);
        }
    }
}

template <uint32_t Channels, uint32_t ValueBytes>
void EncodeFloats(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgbaFloat, scratch);
    const uint64_t n = PixelCount(p.width, p.height);
    RequireOutputBytes(out, n * Channels * ValueBytes, "float");
    for (uint64_t i = 0; i < n; ++i) {
        for (uint32_t c = 0; c < Channels; ++c) {
            const float f = p.rgbaF[i * 4 + c];
            const uint32_t v = ValueBytes == 2 ? FloatToHalf(f) : std::bit_cast<uint32_t>(f);
            StoreLE(out, (i * Channels + c) * ValueBytes, ValueBytes, v);
        }
    }
}

// RGB9e5: three 9-bit mantissas sharing a 5-bit exponent (bias 15), no implicit leading one.
void DecodeRgb9e5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    const uint64_t n = PixelCount(width, height);
    RequireLevelBytes(data, n * 4, "RGB9e5");
    out = ImagePlane::Make(width, height, PixelKind::kRgbaFloat);
    for (uint64_t p = 0; p < n; ++p) {
        const uint32_t v = LoadLE(data, p * 4, 4);
        const float scale = std::ldexp(1.0f, static_cast<int>(v >> 27) - 24);
        for (uint32_t c = 0; c < 3; ++c)
            out.rgbaF[p * 4 + c] = static_cast<float>((v >> (9 * c)) & 0x1FFu) * scale;
        out.rgbaF[p * 4 + 3] = 1.0f;
    }
}

uint32_t PackRgb9e5(float r, float g, float b) {
    constexpr float kLargest = 65408.0f; // 511/512 * 2^16
    const float rgb[3] = {r, g, b};
    float clamped[3];
    for (int c = 0; c < 3; ++c)
        clamped[c] = rgb[c] > 0.0f ? std::min(rgb[c], kLargest) : 0.0f; // NaN fails > and is 0
    const float largest = std::max({clamped[0], clamped[1], clamped[2]});
    int power = 0;
    std::frexp(largest, &power); // largest = f * 2^power, f in [0.5, 1)
    int exponent = std::max(-16, power - 1) + 16;
    float unit = std::ldexp(1.0f, exponent - 24);
    if (std::floor(largest / unit + 0.5f) >= 512.0f) {
        ++exponent;
        unit *= 2.0f;
    }
    uint32_t v = static_cast<uint32_t>(exponent) << 27;
    for (uint32_t c = 0; c < 3; ++c)
        v |= static_cast<uint32_t>(std::floor(clamped[c] / unit + 0.5f)) << (9 * c);
    return v;
}

void EncodeRgb9e5(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgbaFloat, scratch);
    const uint64_t n = PixelCount(p.width, p.height);
    RequireOutputBytes(out, n * 4, "RGB9e5");
    for (uint64_t i = 0; i < n; ++i)
        StoreLE(out, i * 4, 4, PackRgb9e5(p.rgbaF[i * 4], p.rgbaF[i * 4 + 1], p.rgbaF[i * 4 + 2]));
}

template void DecodeBytes<kAlpha8Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kRgb24Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kRgba32Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kArgb32Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kBgra32Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kR8Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeBytes<kRg16Layout>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void EncodeBytes<kAlpha8Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kRgb24Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kRgba32Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kArgb32Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kBgra32Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kR8Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodeBytes<kRg16Layout>(const ImagePlane&, std::span<uint8_t>);
template void DecodePacked<kArgb4444Layout>(std::span<const uint8_t>, uint32_t, uint32_t,
                                            ImagePlane&);
template void DecodePacked<kRgba4444Layout>(std::span<const uint8_t>, uint32_t, uint32_t,
                                            ImagePlane&);
template void DecodePacked<kRgb565Layout>(std::span<const uint8_t>, uint32_t, uint32_t,
                                          ImagePlane&);
template void EncodePacked<kArgb4444Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodePacked<kRgba4444Layout>(const ImagePlane&, std::span<uint8_t>);
template void EncodePacked<kRgb565Layout>(const ImagePlane&, std::span<uint8_t>);
template void DecodeFloats<1, 2>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeFloats<2, 2>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeFloats<4, 2>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeFloats<1, 4>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeFloats<2, 4>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void DecodeFloats<4, 4>(std::span<const uint8_t>, uint32_t, uint32_t, ImagePlane&);
template void EncodeFloats<1, 2>(const ImagePlane&, std::span<uint8_t>);
template void EncodeFloats<2, 2>(const ImagePlane&, std::span<uint8_t>);
template void EncodeFloats<4, 2>(const ImagePlane&, std::span<uint8_t>);
template void EncodeFloats<1, 4>(const ImagePlane&, std::span<uint8_t>);
template void EncodeFloats<2, 4>(const ImagePlane&, std::span<uint8_t>);
template void EncodeFloats<4, 4>(const ImagePlane&, std::span<uint8_t>);

} // namespace kestrel::image
