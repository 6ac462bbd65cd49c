#pragma once
// Partition and anchor tables and interpolation weights shared by BC6H and BC7.
#include <array>
#include <cstdint>

namespace kestrel::image {

// The subset (0..subsets-1) that texel (0..15, row-major) belongs to in a partition.
uint32_t BptcSubset(uint32_t subsets, uint32_t partition, uint32_t texel);
// The anchor texel of a subset: its index is stored with one bit less.
uint32_t BptcAnchor(uint32_t subsets, uint32_t partition, uint32_t subset);

// Interpolation weights out of 64 for 2-, 3- and 4-bit indices.
inline constexpr std::array<uint8_t, 4> kBptcWeights2{0, 21, 43, 64};
inline constexpr std::array<uint8_t, 8> kBptcWeights3{0, 9, 18, 27, 37, 46, 55, 64};
inline constexpr std::array<uint8_t, 16> kBptcWeights4{0,  4,  9,  13, 17, 21, 26, 30,
                                                       34, 38, 43, 47, 51, 55, 60, 64};

inline uint32_t BptcWeight(uint32_t indexBits, uint32_t index) {
    if (indexBits == 2) return kBptcWeights2[index & 3];
    if (indexBits == 3) return kBptcWeights3[index & 7];
    return kBptcWeights4[index & 15];
}

inline int32_t BptcInterpolate(int32_t e0, int32_t e1, uint32_t weight) {
    return ((64 - static_cast<int32_t>(weight)) * e0 + static_cast<int32_t>(weight) * e1 + 32) >> 6;
}

} // namespace kestrel::image
