#pragma once
// IEEE 754 half precision <-> float, for the Half formats, BC6H and EXR files.
#include <bit>
#include <cstdint>

namespace kestrel::image {

inline float HalfToFloat(uint16_t h) {
    const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
    const uint32_t exponent = (h >> 10) & 0x1Fu;
    uint32_t mantissa = h & 0x3FFu;
    uint32_t bits = 0;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa != 0) {
        // Subnormal: shift the mantissa up until its leading one becomes the implicit bit.
        uint32_t e = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --e;
        }
        bits = sign | (e << 23) | ((mantissa & 0x3FFu) << 13);
    } else {
        bits = sign;
    }
    return std::bit_cast<float>(bits);
}

// Rounds to the nearest half, ties to even; values beyond the half range become infinity, NaN
// stays NaN.
inline uint16_t FloatToHalf(float f) {
    const uint32_t bits = std::bit_cast<uint32_t>(f);
    const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
    const uint32_t exponent = (bits >> 23) & 0xFFu;
    const uint32_t mantissa = bits & 0x7FFFFFu;
    if (exponent == 0xFF) {
        return static_cast<uint16_t>(sign | 0x7C00u |
                                     (mantissa != 0 ? 0x200u | (mantissa >> 13) : 0));
    }
    const int32_t e = static_cast<int32_t>(exponent) - 127 + 15;
    if (e >= 0x1F) return static_cast<uint16_t>(sign | 0x7C00u);
    if (e <= 0) {
        if (e < -10) return sign;
        // Subnormal half: the implicit bit joins the mantissa, which is shifted right with
        // rounding.
        const uint32_t full = mantissa | 0x800000u;
        const uint32_t shift = static_cast<uint32_t>(14 - e);
        uint32_t half = full >> shift;
        const uint32_t rest = full & ((1u << shift) - 1);
        const uint32_t midpoint = 1u << (shift - 1);
        if (rest > midpoint || (rest == midpoint && (half & 1u) != 0)) ++half;
        return static_cast<uint16_t>(sign | half);
    }
    uint32_t half = (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
    const uint32_t rest = mantissa & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u) != 0)) ++half; // may carry into infinity
    return static_cast<uint16_t>(sign | half);
}

} // namespace kestrel::image
