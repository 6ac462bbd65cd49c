#pragma once
#include "common/Error.h"

#include <cstdint>
#include <string>

namespace kestrel {

// Texture sizes come from untrusted objects: every product is taken in 64 bits and checked.
inline uint64_t CheckedMul(uint64_t a, uint64_t b, const char* what) {
    if (a != 0 && b > UINT64_MAX / a) {
        throw KestrelError(std::string("Texture size out of range: ") + what);
    }
    return a * b;
}

inline uint64_t CheckedAdd(uint64_t a, uint64_t b, const char* what) {
    if (b > UINT64_MAX - a) {
        throw KestrelError(std::string("Texture size out of range: ") + what);
    }
    return a + b;
}

// n / 2 rounded to the nearest integer, halves to even (the rounding of sizes that use a
// fractional byte count per pixel).
constexpr uint64_t HalveRoundEven(uint64_t n) {
    const uint64_t k = n / 2;
    return (n % 2 == 0 || k % 2 == 0) ? k : k + 1;
}

// Bytes per pixel as a count of half bytes, so that DXT1's 0.5 stays exact.
struct BytesPerPixel {
    uint32_t halves = 8;

    // w * h * bytes per pixel, rounded (halves to even).
    uint64_t Bytes(uint64_t w, uint64_t h) const {
        return HalveRoundEven(CheckedMul(CheckedMul(w, h, "width x height"), halves, "level size"));
    }
};

} // namespace kestrel
