#include "image/Bc7.h"

#include "image/BlockBits.h"
#include "image/BlockLevel.h"
#include "image/BptcTables.h"

#include <utility>

namespace kestrel::image {
namespace {

struct Bc7Mode {
    uint8_t subsets;
    uint8_t partitionBits;
    uint8_t rotationBits;
    uint8_t indexSelectionBits;
    uint8_t colorBits;
    uint8_t alphaBits;
    uint8_t endpointPBits; // one P-bit per endpoint
    uint8_t sharedPBits;   // one P-bit per subset
    uint8_t indexBits;
    uint8_t secondIndexBits;
};

// Table M of the BPTC format description.
constexpr std::array<Bc7Mode, 8> kModes{{
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0},
    {2, 6, 0, 0, 6, 0, 0, 1, 3, 0},
    {3, 6, 0, 0, 5, 0, 0, 0, 2, 0},
    {2, 6, 0, 0, 7, 0, 1, 0, 2, 0},
    {1, 0, 2, 1, 5, 6, 0, 0, 2, 3},
    {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0},
    {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
}};

// A stored endpoint value of `bits` bits (P-bit included) widened to 8 bits by repeating its top
// bits below it.
uint32_t Widen(uint32_t value, uint32_t bits) {
    value <<= 8 - bits;
    return value | (value >> bits);
}

using Endpoints = std::array<std::array<std::array<uint32_t, 4>, 2>, 3>; // [subset][end][channel]

void ReadEndpoints(BlockBitReader& bits, const Bc7Mode& mode, Endpoints& ep) {
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t s = 0; s < mode.subsets; ++s)
            for (uint32_t e = 0; e < 2; ++e)
                ep[s][e][c] = bits.Take(mode.colorBits);
    for (uint32_t s = 0; s < mode.subsets; ++s)
        for (uint32_t e = 0; e < 2; ++e)
            ep[s][e][3] = mode.alphaBits != 0 ? bits.Take(mode.alphaBits) : 0;
    std::array<std::array<uint32_t, 2>, 3> pbits{};
    if (mode.endpointPBits != 0) {
        for (uint32_t s = 0; s < mode.subsets; ++s)
            for (uint32_t e = 0; e < 2; ++e)
                pbits[s][e] = bits.Take(1);
    } else if (mode.sharedPBits != 0) {
        for (uint32_t s = 0; s < mode.subsets; ++s)
            pbits[s][0] = pbits[s][1] = bits.Take(1);
    }
    const uint32_t hasP = mode.endpointPBits | mode.sharedPBits;
    for (uint32_t s = 0; s < mode.subsets; ++s) {
        for (uint32_t e = 0; e < 2; ++e) {
            for (uint32_t c = 0; c < 3; ++c)
                ep[s][e][c] = Widen((ep[s][e][c] << hasP) | (hasP != 0 ? pbits[s][e] : 0),
                                    mode.colorBits + hasP);
            if (mode.alphaBits == 0) {
                ep[s][e][3] = 255;
            } else {
                ep[s][e][3] = Widen((ep[s][e][3] << hasP) | (hasP != 0 ? pbits[s][e] : 0),
                                    mode.alphaBits + hasP);
            }
        }
    }
}

// The indices of the texels in texel order: an anchor texel's index is stored with one bit less.
void ReadIndices(BlockBitReader& bits, const std::array<bool, 16>& anchors, uint32_t indexBits,
                 std::array<uint8_t, 16>& indices) {
    for (uint32_t t = 0; t < 16; ++t)
        indices[t] = static_cast<uint8_t>(bits.Take(indexBits - (anchors[t] ? 1 : 0)));
}

// The values one channel of a subset takes for each index.
void FillPalette(uint32_t e0, uint32_t e1, uint32_t indexBits, uint8_t* out, size_t stride) {
    const uint32_t count = 1u << indexBits;
    for (uint32_t i = 0; i < count; ++i)
        out[i * stride] = static_cast<uint8_t>(BptcInterpolate(
            static_cast<int32_t>(e0), static_cast<int32_t>(e1), BptcWeight(indexBits, i)));
}

} // namespace

void DecodeBc7Block(std::span<const uint8_t, 16> block, std::array<uint8_t, 64>& texels) {
    uint32_t modeNumber = 0;
    while (modeNumber < 8 && ((block[0] >> modeNumber) & 1u) == 0)
        ++modeNumber;
    if (modeNumber == 8) {
        texels.fill(0);
        return;
    }
    const Bc7Mode& mode = kModes[modeNumber];
    BlockBitReader bits(block);
    bits.Take(modeNumber + 1);
    const uint32_t partition = bits.Take(mode.partitionBits);
    const uint32_t rotation = bits.Take(mode.rotationBits);
    const uint32_t selection = bits.Take(mode.indexSelectionBits);
    Endpoints ep{};
    ReadEndpoints(bits, mode, ep);

    std::array<uint8_t, 16> subset{};
    std::array<bool, 16> anchor{};
    anchor[0] = true;
    if (mode.subsets > 1) {
        for (uint32_t t = 0; t < 16; ++t)
            subset[t] = static_cast<uint8_t>(BptcSubset(mode.subsets, partition, t));
        for (uint32_t s = 1; s < mode.subsets; ++s)
            anchor[BptcAnchor(mode.subsets, partition, s)] = true;
    }
    std::array<uint8_t, 16> primary{};
    ReadIndices(bits, anchor, mode.indexBits, primary);
    std::array<uint8_t, 16> secondary{};
    uint32_t colorBits = mode.indexBits;
    uint32_t alphaBits = mode.indexBits;
    const std::array<uint8_t, 16>* colorIndex = &primary;
    const std::array<uint8_t, 16>* alphaIndex = &primary;
    if (mode.secondIndexBits != 0) {
        std::array<bool, 16> firstOnly{};
        firstOnly[0] = true;
        ReadIndices(bits, firstOnly, mode.secondIndexBits, secondary);
        if (selection == 0) {
            alphaIndex = &secondary;
            alphaBits = mode.secondIndexBits;
        } else {
            colorIndex = &secondary;
            colorBits = mode.secondIndexBits;
        }
    }

    // Every value a texel can take, per subset and index, before the texels pick theirs.
    std::array<std::array<std::array<uint8_t, 4>, 16>, 3> colors{};
    std::array<std::array<uint8_t, 16>, 3> alphas{};
    for (uint32_t s = 0; s < mode.subsets; ++s) {
        for (uint32_t c = 0; c < 3; ++c)
            FillPalette(ep[s][0][c], ep[s][1][c], colorBits, &colors[s][0][c], 4);
        FillPalette(ep[s][0][3], ep[s][1][3], alphaBits, alphas[s].data(), 1);
    }
    for (uint32_t t = 0; t < 16; ++t) {
        const uint32_t s = subset[t];
        uint8_t* px = &texels[t * 4];
        const auto& color = colors[s][(*colorIndex)[t]];
        px[0] = color[0];
        px[1] = color[1];
        px[2] = color[2];
        px[3] = alphas[s][(*alphaIndex)[t]];
        if (rotation != 0) std::swap(px[3], px[rotation - 1]);
    }
}

void DecodeBc7(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeBlocks<uint8_t, 16>(
        data, width, height, PixelKind::kRgba8, "BC7", out,
        [](std::span<const uint8_t, 16> block, std::array<uint8_t, 64>& texels) {
            DecodeBc7Block(block, texels);
        });
}

} // namespace kestrel::image
