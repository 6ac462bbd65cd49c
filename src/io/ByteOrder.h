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

} // namespace kestrel
