#pragma once
// Codecs of the uncompressed and packed formats: one byte a channel in some order, 16-bit
// packed 4444 and 565, 16-bit R16, half and single floats, and the shared-exponent RGB9e5.
// Every decoder and encoder here is the exact inverse of the other for the values the format
// holds.
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

// Bytes of one channel each: which byte of a pixel holds R, G, B and A (-1: absent).
struct ByteLayout {
    uint8_t bytes;
    int8_t r;
    int8_t g;
    int8_t b;
    int8_t a;
    bool whiteColour; // Alpha8: the absent colour is white, not black
};

inline constexpr ByteLayout kAlpha8Layout{1, -1, -1, -1, 0, true};
inline constexpr ByteLayout kRgb24Layout{3, 0, 1, 2, -1, false};
inline constexpr ByteLayout kRgba32Layout{4, 0, 1, 2, 3, false};
inline constexpr ByteLayout kArgb32Layout{4, 1, 2, 3, 0, false};
inline constexpr ByteLayout kBgra32Layout{4, 2, 1, 0, 3, false};
inline constexpr ByteLayout kR8Layout{1, 0, -1, -1, -1, false};
inline constexpr ByteLayout kRg16Layout{2, 0, 1, -1, -1, false};

// A 16-bit little-endian pixel of bit fields: shift and width of R, G, B, A (width 0: absent).
struct PackedLayout {
    uint8_t shift[4];
    uint8_t bits[4];
};

inline constexpr PackedLayout kArgb4444Layout{{8, 4, 0, 12}, {4, 4, 4, 4}};
inline constexpr PackedLayout kRgba4444Layout{{12, 8, 4, 0}, {4, 4, 4, 4}};
inline constexpr PackedLayout kRgb565Layout{{11, 5, 0, 0}, {5, 6, 5, 0}};

template <ByteLayout L>
void DecodeBytes(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
template <ByteLayout L> void EncodeBytes(const ImagePlane& in, std::span<uint8_t> out);

template <PackedLayout L>
void DecodePacked(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
template <PackedLayout L> void EncodePacked(const ImagePlane& in, std::span<uint8_t> out);

void DecodeR16(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void EncodeR16(const ImagePlane& in, std::span<uint8_t> out);

// Channels R, RG or RGBA of half (2-byte) or single (4-byte) floats.
template <uint32_t Channels, uint32_t ValueBytes>
void DecodeFloats(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
template <uint32_t Channels, uint32_t ValueBytes>
void EncodeFloats(const ImagePlane& in, std::span<uint8_t> out);

void DecodeRgb9e5(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void EncodeRgb9e5(const ImagePlane& in, std::span<uint8_t> out);
// One RGB9e5 value from RGB (negative and NaN become 0, large values the largest).
uint32_t PackRgb9e5(float r, float g, float b);

} // namespace kestrel::image
