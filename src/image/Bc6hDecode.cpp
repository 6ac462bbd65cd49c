#include "image/Bc6h.h"

#include "image/BlockBits.h"
#include "image/BlockLevel.h"
#include "image/BptcTables.h"
#include "image/HalfFloat.h"

namespace kestrel::image {
namespace {

// One run of bits of an endpoint value: `var` is endpoint * 3 + channel (r0 g0 b0 r1 ...). The
// block's bits go to bits second, second + 1 ... first when first >= second, and to bits second,
// second - 1 ... first when first < second (a reversed run).
struct Bc6hField {
    uint8_t var;
    uint8_t first;
    uint8_t second;
};

struct Bc6hMode {
    uint8_t number;
    uint8_t transformed;   // endpoints after the first are deltas from it
    uint8_t partitionBits; // 5: two subsets, 0: one
    uint8_t endpointBits;
    std::array<uint8_t, 3> deltaBits;
    uint8_t fieldCount;
    std::array<Bc6hField, 23> fields;
};

// Tables MF and F of the BPTC format description; the mode number is read before the fields
// and the partition number after them.
// clang-format off
constexpr std::array<Bc6hMode, 14> kModes{{
    {0, 1, 5, 10, {5, 5, 5}, 19, {{{7, 4, 4}, {8, 4, 4}, {11, 4, 4}, {0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 4, 0}, {10, 4, 4}, {7, 3, 0}, {4, 4, 0}, {11, 0, 0}, {10, 3, 0}, {5, 4, 0}, {11, 1, 1}, {8, 3, 0}, {6, 4, 0}, {11, 2, 2}, {9, 4, 0}, {11, 3, 3}}}},
    {1, 1, 5, 7, {6, 6, 6}, 23, {{{7, 5, 5}, {10, 4, 4}, {10, 5, 5}, {0, 6, 0}, {11, 0, 0}, {11, 1, 1}, {8, 4, 4}, {1, 6, 0}, {8, 5, 5}, {11, 2, 2}, {7, 4, 4}, {2, 6, 0}, {11, 3, 3}, {11, 5, 5}, {11, 4, 4}, {3, 5, 0}, {7, 3, 0}, {4, 5, 0}, {10, 3, 0}, {5, 5, 0}, {8, 3, 0}, {6, 5, 0}, {9, 5, 0}}}},
    {2, 1, 5, 11, {5, 4, 4}, 18, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 4, 0}, {0, 10, 10}, {7, 3, 0}, {4, 3, 0}, {1, 10, 10}, {11, 0, 0}, {10, 3, 0}, {5, 3, 0}, {2, 10, 10}, {11, 1, 1}, {8, 3, 0}, {6, 4, 0}, {11, 2, 2}, {9, 4, 0}, {11, 3, 3}}}},
    {6, 1, 5, 11, {4, 5, 4}, 20, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 3, 0}, {0, 10, 10}, {10, 4, 4}, {7, 3, 0}, {4, 4, 0}, {1, 10, 10}, {10, 3, 0}, {5, 3, 0}, {2, 10, 10}, {11, 1, 1}, {8, 3, 0}, {6, 3, 0}, {11, 0, 0}, {11, 2, 2}, {9, 3, 0}, {7, 4, 4}, {11, 3, 3}}}},
    {10, 1, 5, 11, {4, 4, 5}, 20, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 3, 0}, {0, 10, 10}, {8, 4, 4}, {7, 3, 0}, {4, 3, 0}, {1, 10, 10}, {11, 0, 0}, {10, 3, 0}, {5, 4, 0}, {2, 10, 10}, {8, 3, 0}, {6, 3, 0}, {11, 1, 1}, {11, 2, 2}, {9, 3, 0}, {11, 4, 4}, {11, 3, 3}}}},
    {14, 1, 5, 9, {5, 5, 5}, 19, {{{0, 8, 0}, {8, 4, 4}, {1, 8, 0}, {7, 4, 4}, {2, 8, 0}, {11, 4, 4}, {3, 4, 0}, {10, 4, 4}, {7, 3, 0}, {4, 4, 0}, {11, 0, 0}, {10, 3, 0}, {5, 4, 0}, {11, 1, 1}, {8, 3, 0}, {6, 4, 0}, {11, 2, 2}, {9, 4, 0}, {11, 3, 3}}}},
    {18, 1, 5, 8, {6, 5, 5}, 19, {{{0, 7, 0}, {10, 4, 4}, {8, 4, 4}, {1, 7, 0}, {11, 2, 2}, {7, 4, 4}, {2, 7, 0}, {11, 3, 3}, {11, 4, 4}, {3, 5, 0}, {7, 3, 0}, {4, 4, 0}, {11, 0, 0}, {10, 3, 0}, {5, 4, 0}, {11, 1, 1}, {8, 3, 0}, {6, 5, 0}, {9, 5, 0}}}},
    {22, 1, 5, 8, {5, 6, 5}, 21, {{{0, 7, 0}, {11, 0, 0}, {8, 4, 4}, {1, 7, 0}, {7, 5, 5}, {7, 4, 4}, {2, 7, 0}, {10, 5, 5}, {11, 4, 4}, {3, 4, 0}, {10, 4, 4}, {7, 3, 0}, {4, 5, 0}, {10, 3, 0}, {5, 4, 0}, {11, 1, 1}, {8, 3, 0}, {6, 4, 0}, {11, 2, 2}, {9, 4, 0}, {11, 3, 3}}}},
    {26, 1, 5, 8, {5, 5, 6}, 21, {{{0, 7, 0}, {11, 1, 1}, {8, 4, 4}, {1, 7, 0}, {8, 5, 5}, {7, 4, 4}, {2, 7, 0}, {11, 5, 5}, {11, 4, 4}, {3, 4, 0}, {10, 4, 4}, {7, 3, 0}, {4, 4, 0}, {11, 0, 0}, {10, 3, 0}, {5, 5, 0}, {8, 3, 0}, {6, 4, 0}, {11, 2, 2}, {9, 4, 0}, {11, 3, 3}}}},
    {30, 0, 5, 6, {6, 6, 6}, 23, {{{0, 5, 0}, {10, 4, 4}, {11, 0, 0}, {11, 1, 1}, {8, 4, 4}, {1, 5, 0}, {7, 5, 5}, {8, 5, 5}, {11, 2, 2}, {7, 4, 4}, {2, 5, 0}, {10, 5, 5}, {11, 3, 3}, {11, 5, 5}, {11, 4, 4}, {3, 5, 0}, {7, 3, 0}, {4, 5, 0}, {10, 3, 0}, {5, 5, 0}, {8, 3, 0}, {6, 5, 0}, {9, 5, 0}}}},
    {3, 0, 0, 10, {10, 10, 10}, 6, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 9, 0}, {4, 9, 0}, {5, 9, 0}}}},
    {7, 1, 0, 11, {9, 9, 9}, 9, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 8, 0}, {0, 10, 10}, {4, 8, 0}, {1, 10, 10}, {5, 8, 0}, {2, 10, 10}}}},
    {11, 1, 0, 12, {8, 8, 8}, 9, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 7, 0}, {0, 10, 11}, {4, 7, 0}, {1, 10, 11}, {5, 7, 0}, {2, 10, 11}}}},
    {15, 1, 0, 16, {4, 4, 4}, 9, {{{0, 9, 0}, {1, 9, 0}, {2, 9, 0}, {3, 3, 0}, {0, 10, 15}, {4, 3, 0}, {1, 10, 15}, {5, 3, 0}, {2, 10, 15}}}},
}};
// clang-format on

const Bc6hMode* FindMode(uint32_t number) {
    for (const auto& mode : kModes)
        if (mode.number == number) return &mode;
    return nullptr;
}

int32_t SignExtend(int32_t value, uint32_t bits) {
    const uint32_t shift = 32 - bits;
    return static_cast<int32_t>(static_cast<uint32_t>(value) << shift) >> shift;
}

int32_t Unquantize(int32_t x, uint32_t bits, bool isSigned) {
    if (!isSigned) {
        if (bits >= 15 || x == 0) return x;
        if (x == (1 << bits) - 1) return 0xFFFF;
        return ((x << 15) + 0x4000) >> (bits - 1);
    }
    if (bits >= 16) return x;
    const bool negative = x < 0;
    const int32_t magnitude = negative ? -x : x;
    int32_t unq = 0;
    if (magnitude == 0)
        unq = 0;
    else if (magnitude >= (1 << (bits - 1)) - 1)
        unq = 0x7FFF;
    else
        unq = ((magnitude << 15) + 0x4000) >> (bits - 1);
    return negative ? -unq : unq;
}

uint16_t FinishHalf(int32_t value, bool isSigned) {
    if (!isSigned) return static_cast<uint16_t>((value * 31) >> 6);
    if (value < 0) return static_cast<uint16_t>(0x8000 | (((-value) * 31) >> 5));
    return static_cast<uint16_t>((value * 31) >> 5);
}

using Endpoints = std::array<std::array<int32_t, 3>, 4>;

void ReadFields(BlockBitReader& bits, const Bc6hMode& mode, Endpoints& ep) {
    for (uint32_t i = 0; i < mode.fieldCount; ++i) {
        const Bc6hField& f = mode.fields[i];
        const bool reversed = f.first < f.second;
        const uint32_t count = (reversed ? f.second - f.first : f.first - f.second) + 1u;
        int32_t& target = ep[f.var / 3][f.var % 3];
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t bit = reversed ? f.second - k : f.second + k;
            target |= static_cast<int32_t>(bits.Take(1) << bit);
        }
    }
}

void PrepareEndpoints(const Bc6hMode& mode, bool isSigned, uint32_t endpointCount, Endpoints& ep) {
    const int32_t mask = (1 << mode.endpointBits) - 1;
    for (uint32_t c = 0; c < 3; ++c) {
        if (isSigned) ep[0][c] = SignExtend(ep[0][c], mode.endpointBits);
        for (uint32_t e = 1; e < endpointCount; ++e) {
            if (isSigned || mode.transformed != 0)
                ep[e][c] = SignExtend(ep[e][c], mode.deltaBits[c]);
            if (mode.transformed != 0) {
                ep[e][c] = (ep[0][c] + ep[e][c]) & mask;
                if (isSigned) ep[e][c] = SignExtend(ep[e][c], mode.endpointBits);
            }
        }
        for (uint32_t e = 0; e < endpointCount; ++e)
            ep[e][c] = Unquantize(ep[e][c], mode.endpointBits, isSigned);
    }
}

} // namespace

void DecodeBc6hBlock(std::span<const uint8_t, 16> block, bool isSigned,
                     std::array<uint16_t, 48>& halves) {
    halves.fill(0);
    BlockBitReader bits(block);
    uint32_t number = bits.Take(2);
    if (number >= 2) number |= bits.Take(3) << 2;
    const Bc6hMode* mode = FindMode(number);
    if (mode == nullptr) return;
    Endpoints ep{};
    ReadFields(bits, *mode, ep);
    const uint32_t subsets = mode->partitionBits != 0 ? 2 : 1;
    const uint32_t partition = bits.Take(mode->partitionBits);
    PrepareEndpoints(*mode, isSigned, subsets * 2, ep);
    const uint32_t indexBits = subsets == 2 ? 3 : 4;
    for (uint32_t t = 0; t < 16; ++t) {
        const uint32_t s = BptcSubset(subsets, partition, t);
        const bool anchor = t == BptcAnchor(subsets, partition, s);
        const uint32_t weight = BptcWeight(indexBits, bits.Take(indexBits - (anchor ? 1 : 0)));
        for (uint32_t c = 0; c < 3; ++c) {
            const int32_t value = BptcInterpolate(ep[s * 2][c], ep[s * 2 + 1][c], weight);
            halves[t * 3 + c] = FinishHalf(value, isSigned);
        }
    }
}

namespace {

void DecodeBc6hLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height, bool isSigned,
                     ImagePlane& out) {
    DecodeBlocks<float, 16>(
        data, width, height, PixelKind::kRgbaFloat, "BC6H", out,
        [isSigned](std::span<const uint8_t, 16> block, std::array<float, 64>& texels) {
            std::array<uint16_t, 48> halves{};
            DecodeBc6hBlock(block, isSigned, halves);
            for (uint32_t t = 0; t < 16; ++t) {
                for (uint32_t c = 0; c < 3; ++c)
                    texels[t * 4 + c] = HalfToFloat(halves[t * 3 + c]);
                texels[t * 4 + 3] = 1.0f;
            }
        });
}

} // namespace

void DecodeBc6hUnsigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                        ImagePlane& out) {
    DecodeBc6hLevel(data, width, height, false, out);
}

void DecodeBc6hSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                      ImagePlane& out) {
    DecodeBc6hLevel(data, width, height, true, out);
}

} // namespace kestrel::image
