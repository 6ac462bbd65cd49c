#pragma once
// The constant tables of ETC and EAC, shared by the decoder and the encoder.
#include <array>
#include <cstdint>

namespace kestrel::image::etc {

// Intensity modifiers of ETC1 sub-blocks: the small and the large step of each table.
inline constexpr std::array<std::array<int32_t, 2>, 8> kModifiers{
    {{2, 8}, {5, 17}, {9, 29}, {13, 42}, {18, 60}, {24, 80}, {33, 106}, {47, 183}}};

// Distances of the T and H modes.
inline constexpr std::array<int32_t, 8> kDistances{3, 6, 11, 16, 23, 32, 41, 64};

// EAC modifier tables, indexed by the 3-bit pixel index.
inline constexpr std::array<std::array<int32_t, 8>, 16> kEacModifiers{{
    {-3, -6, -9, -15, 2, 5, 8, 14},
    {-3, -7, -10, -13, 2, 6, 9, 12},
    {-2, -5, -8, -13, 1, 4, 7, 12},
    {-2, -4, -6, -13, 1, 3, 5, 12},
    {-3, -6, -8, -12, 2, 5, 7, 11},
    {-3, -7, -9, -11, 2, 6, 8, 10},
    {-4, -7, -8, -11, 3, 6, 7, 10},
    {-3, -5, -8, -11, 2, 4, 7, 10},
    {-2, -6, -8, -10, 1, 5, 7, 9},
    {-2, -5, -8, -10, 1, 4, 7, 9},
    {-2, -4, -8, -10, 1, 3, 7, 9},
    {-2, -5, -7, -10, 1, 4, 6, 9},
    {-3, -4, -7, -10, 2, 3, 6, 9},
    {-1, -2, -3, -10, 0, 1, 2, 9},
    {-4, -6, -8, -9, 3, 5, 7, 8},
    {-3, -5, -7, -9, 2, 4, 6, 8},
}};

// ETC pixel index i (x * 4 + y) has its low bit at bit i and its high bit at bit i + 16; the
// index value picks +small, +large, -small, -large.
constexpr int32_t ModifierOf(int32_t table, uint32_t index) {
    const int32_t step = kModifiers[static_cast<size_t>(table)][index & 1];
    return (index & 2) ? -step : step;
}

constexpr int32_t Clamp255(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

constexpr int32_t Extend4(uint32_t v) {
    return static_cast<int32_t>((v << 4) | v);
}
constexpr int32_t Extend5(uint32_t v) {
    return static_cast<int32_t>((v << 3) | (v >> 2));
}
constexpr int32_t Extend6(uint32_t v) {
    return static_cast<int32_t>((v << 2) | (v >> 4));
}
constexpr int32_t Extend7(uint32_t v) {
    return static_cast<int32_t>((v << 1) | (v >> 6));
}

// 3-bit two's complement difference of the differential mode.
constexpr int32_t Delta3(uint32_t v) {
    return static_cast<int32_t>(v & 3) - static_cast<int32_t>(v & 4);
}

} // namespace kestrel::image::etc
