#pragma once
#include <cstdint>

namespace kestrel {

constexpr uint32_t SwapBytes32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

constexpr uint64_t SwapBytes64(uint64_t v) {
    return (static_cast<uint64_t>(SwapBytes32(static_cast<uint32_t>(v))) << 32) |
           SwapBytes32(static_cast<uint32_t>(v >> 32));
}

constexpr uint16_t SwapBytes16(uint16_t v) {
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

// Rounds a count up to the next multiple of 4 (unchanged when already one).
constexpr uint64_t AlignUp4(uint64_t n) {
    return (n % 4 == 0) ? n : n - (n % 4) + 4;
}

enum class Endian { Little, Big };

// Values stored at p in the given byte order; the caller has checked the bytes are there.
constexpr uint16_t LoadU16(const uint8_t* p, Endian order) {
    const auto little = static_cast<uint16_t>(p[0] | (p[1] << 8));
    return order == Endian::Big ? SwapBytes16(little) : little;
}

constexpr uint32_t LoadU32(const uint8_t* p, Endian order) {
    const uint32_t little = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                            (static_cast<uint32_t>(p[2]) << 16) |
                            (static_cast<uint32_t>(p[3]) << 24);
    return order == Endian::Big ? SwapBytes32(little) : little;
}

constexpr uint64_t LoadU64(const uint8_t* p, Endian order) {
    const uint64_t little =
        LoadU32(p, Endian::Little) | (static_cast<uint64_t>(LoadU32(p + 4, Endian::Little)) << 32);
    return order == Endian::Big ? SwapBytes64(little) : little;
}

// An unsigned value of `width` bytes (at most 8).
constexpr uint64_t LoadUnsigned(const uint8_t* p, unsigned width, Endian order) {
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v = (v << 8) | p[order == Endian::Big ? i : width - 1 - i];
    return v;
}

} // namespace kestrel
