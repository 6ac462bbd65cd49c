#include "image/Bc7.h"

#include "image/BlockBits.h"
#include "image/BlockLevel.h"
#include "image/BptcTables.h"
#include "image/EndpointFit.h"
#include "image/PlaneConvert.h"

#include <limits>

namespace kestrel::image {
namespace {

// The modes the encoder writes. P-bits: 0 none, 1 one per subset, 2 one per endpoint.
struct Bc7ModeShape {
    uint32_t mode;
    uint32_t subsets;
    uint32_t partitionBits;
    uint32_t channels; // 3: alpha is 255
    uint32_t colorBits;
    uint32_t pbits;
    uint32_t indexBits;
};

constexpr Bc7ModeShape kMode1{1, 2, 6, 3, 6, 1, 3};
constexpr Bc7ModeShape kMode3{3, 2, 6, 3, 7, 2, 2};
constexpr Bc7ModeShape kMode6{6, 1, 0, 4, 7, 2, 4};
constexpr Bc7ModeShape kMode7{7, 2, 6, 4, 5, 2, 2};
// Mode 5 fits colour and alpha apart: its colour, and its alpha as a one-channel line.
constexpr Bc7ModeShape kMode5Colour{5, 1, 0, 3, 7, 0, 2};
constexpr Bc7ModeShape kMode5Alpha{5, 1, 0, 1, 8, 0, 2};

uint32_t StoredBits(const Bc7ModeShape& shape) {
    return shape.colorBits + (shape.pbits != 0 ? 1 : 0);
}

using Texels = std::array<uint8_t, 64>;
using Stored = std::array<std::array<uint32_t, 4>, 2>; // [end][channel], P-bit lowest

struct SubsetFit {
    Stored stored{};
    std::array<uint8_t, 16> indices{}; // by member order
    uint64_t error = std::numeric_limits<uint64_t>::max();
};

struct BlockFit {
    const Bc7ModeShape* shape = nullptr;
    uint32_t partition = 0;
    std::array<Stored, 2> stored{};
    std::array<uint8_t, 16> indices{}; // by texel
    uint64_t error = std::numeric_limits<uint64_t>::max();
};

uint32_t Widen(uint32_t value, uint32_t bits) {
    value <<= 8 - bits;
    return value | (value >> bits);
}

// The stored value of `bits` bits that widens closest to v; with a P-bit, its lowest bit is `pbit`.
uint32_t QuantizeWithPBit(float v, uint32_t bits, bool hasPBit, uint32_t pbit) {
    const int32_t max = (1 << bits) - 1;
    int32_t best = static_cast<int32_t>(pbit);
    float bestError = std::numeric_limits<float>::max();
    const int32_t guess = static_cast<int32_t>(std::lround(v * max / 255.0f));
    for (int32_t s = guess - 2; s <= guess + 2; ++s) {
        if (s < 0 || s > max || (hasPBit && static_cast<uint32_t>(s & 1) != pbit)) continue;
        const float e = std::fabs(static_cast<float>(Widen(static_cast<uint32_t>(s), bits)) - v);
        if (e < bestError) {
            bestError = e;
            best = s;
        }
    }
    return static_cast<uint32_t>(best);
}

// Assigns each member the nearest palette entry; returns the squared error.
uint64_t AssignIndices(const Point4* points, uint32_t count, const Bc7ModeShape& shape,
                       const Stored& stored, std::array<uint8_t, 16>& indices) {
    const uint32_t bits = StoredBits(shape);
    const uint32_t entries = 1u << shape.indexBits;
    std::array<std::array<int32_t, 4>, 16> palette{};
    for (uint32_t i = 0; i < entries; ++i)
        for (uint32_t c = 0; c < 4; ++c)
            palette[i][c] = c < shape.channels
                                ? BptcInterpolate(static_cast<int32_t>(Widen(stored[0][c], bits)),
                                                  static_cast<int32_t>(Widen(stored[1][c], bits)),
                                                  BptcWeight(shape.indexBits, i))
                                : 255;
    uint64_t total = 0;
    for (uint32_t m = 0; m < count; ++m) {
        uint64_t best = std::numeric_limits<uint64_t>::max();
        for (uint32_t i = 0; i < entries; ++i) {
            uint64_t e = 0;
            for (uint32_t c = 0; c < 4; ++c) {
                const int64_t d = palette[i][c] - static_cast<int64_t>(points[m][c]);
                e += static_cast<uint64_t>(d * d);
            }
            if (e < best) {
                best = e;
                indices[m] = static_cast<uint8_t>(i);
            }
        }
        total += best;
    }
    return total;
}

// Quantizes a segment with every P-bit choice the mode allows and keeps the best.
void QuantizeSegment(const Point4* points, uint32_t count, const Bc7ModeShape& shape,
                     const Segment& segment, SubsetFit& fit) {
    const uint32_t combos = shape.pbits == 2 ? 4 : shape.pbits == 1 ? 2 : 1;
    for (uint32_t combo = 0; combo < combos; ++combo) {
        const uint32_t p0 = combo & 1u, p1 = shape.pbits == 2 ? combo >> 1 : p0;
        SubsetFit candidate;
        for (uint32_t c = 0; c < shape.channels; ++c) {
            candidate.stored[0][c] = QuantizeWithPBit(std::clamp(segment.start[c], 0.0f, 255.0f),
                                                      StoredBits(shape), shape.pbits != 0, p0);
            candidate.stored[1][c] = QuantizeWithPBit(std::clamp(segment.end[c], 0.0f, 255.0f),
                                                      StoredBits(shape), shape.pbits != 0, p1);
        }
        candidate.error = AssignIndices(points, count, shape, candidate.stored, candidate.indices);
        if (candidate.error < fit.error) fit = candidate;
    }
}

SubsetFit FitSubset(const Point4* points, uint32_t count, const Bc7ModeShape& shape) {
    SubsetFit fit;
    Segment segment = PrincipalSegment(points, count, shape.channels);
    for (int round = 0; round < 3 && fit.error != 0; ++round) {
        QuantizeSegment(points, count, shape, segment, fit);
        std::array<float, 16> weights{};
        for (uint32_t m = 0; m < count; ++m)
            weights[m] = static_cast<float>(BptcWeight(shape.indexBits, fit.indices[m])) / 64.0f;
        if (!LeastSquaresSegment(points, weights.data(), count, shape.channels, segment)) break;
    }
    return fit;
}

BlockFit FitBlock(const Texels& texels, const Bc7ModeShape& shape, uint32_t partition) {
    BlockFit block;
    block.shape = &shape;
    block.partition = partition;
    block.error = 0;
    for (uint32_t s = 0; s < shape.subsets; ++s) {
        std::array<Point4, 16> points{};
        std::array<uint8_t, 16> members{};
        uint32_t count = 0;
        for (uint32_t t = 0; t < 16; ++t) {
            if (BptcSubset(shape.subsets, partition, t) != s) continue;
            for (uint32_t c = 0; c < 4; ++c)
                points[count][c] = texels[t * 4 + c];
            members[count++] = static_cast<uint8_t>(t);
        }
        const SubsetFit fit = FitSubset(points.data(), count, shape);
        block.stored[s] = fit.stored;
        block.error += fit.error;
        for (uint32_t m = 0; m < count; ++m)
            block.indices[members[m]] = fit.indices[m];
    }
    return block;
}

// The anchor texel's index must have its top bit clear: where it does not, the subset's
// endpoints change places and its indices are mirrored.
void FixAnchors(BlockFit& block) {
    const Bc7ModeShape& shape = *block.shape;
    const uint32_t top = 1u << (shape.indexBits - 1), max = (1u << shape.indexBits) - 1;
    for (uint32_t s = 0; s < shape.subsets; ++s) {
        if ((block.indices[BptcAnchor(shape.subsets, block.partition, s)] & top) == 0) continue;
        std::swap(block.stored[s][0], block.stored[s][1]);
        for (uint32_t t = 0; t < 16; ++t)
            if (BptcSubset(shape.subsets, block.partition, t) == s)
                block.indices[t] = static_cast<uint8_t>(max - block.indices[t]);
    }
}

std::array<uint8_t, 16> WriteBlock(BlockFit block) {
    FixAnchors(block);
    const Bc7ModeShape& shape = *block.shape;
    BlockBitWriter out;
    out.Put(1u << shape.mode, shape.mode + 1);
    out.Put(block.partition, shape.partitionBits);
    for (uint32_t c = 0; c < shape.channels; ++c)
        for (uint32_t s = 0; s < shape.subsets; ++s)
            for (uint32_t e = 0; e < 2; ++e)
                out.Put(block.stored[s][e][c] >> 1, shape.colorBits);
    for (uint32_t s = 0; s < shape.subsets; ++s) {
        if (shape.pbits == 1) {
            out.Put(block.stored[s][0][0] & 1u, 1);
            continue;
        }
        out.Put(block.stored[s][0][0] & 1u, 1);
        out.Put(block.stored[s][1][0] & 1u, 1);
    }
    for (uint32_t t = 0; t < 16; ++t) {
        const uint32_t s = BptcSubset(shape.subsets, block.partition, t);
        const bool anchor = t == BptcAnchor(shape.subsets, block.partition, s);
        out.Put(block.indices[t], shape.indexBits - (anchor ? 1 : 0));
    }
    return out.Bytes();
}

// How far a partition's subsets lie from lines through them: the variance off each subset's
// principal axis, a cheap measure to pick partitions worth fitting.
float PartitionSpread(const Texels& texels, uint32_t partition) {
    float spread = 0.0f;
    for (uint32_t s = 0; s < 2; ++s) {
        std::array<Point4, 16> points{};
        uint32_t count = 0;
        for (uint32_t t = 0; t < 16; ++t)
            if (BptcSubset(2, partition, t) == s) {
                for (uint32_t c = 0; c < 3; ++c)
                    points[count][c] = texels[t * 4 + c];
                ++count;
            }
        const Segment line = PrincipalSegment(points.data(), count, 3);
        Point4 axis{};
        float length = 0.0f;
        for (uint32_t c = 0; c < 3; ++c) {
            axis[c] = line.end[c] - line.start[c];
            length += axis[c] * axis[c];
        }
        length = std::sqrt(length);
        for (uint32_t m = 0; m < count; ++m) {
            float along = 0.0f, total = 0.0f;
            for (uint32_t c = 0; c < 3; ++c) {
                const float d = points[m][c] - line.start[c];
                total += d * d;
                along += length > 0.0f ? d * axis[c] / length : 0.0f;
            }
            spread += total - along * along;
        }
    }
    return spread;
}

struct Mode5Fit {
    SubsetFit colour;
    SubsetFit alpha;
    uint64_t error = 0;
};

Mode5Fit FitMode5(const Texels& texels) {
    std::array<Point4, 16> colour{}, alpha{};
    for (uint32_t t = 0; t < 16; ++t) {
        colour[t] = {static_cast<float>(texels[t * 4]), static_cast<float>(texels[t * 4 + 1]),
                     static_cast<float>(texels[t * 4 + 2]), 255.0f};
        alpha[t] = {static_cast<float>(texels[t * 4 + 3]), 255.0f, 255.0f, 255.0f};
    }
    Mode5Fit fit{FitSubset(colour.data(), 16, kMode5Colour),
                 FitSubset(alpha.data(), 16, kMode5Alpha)};
    fit.error = fit.colour.error + fit.alpha.error;
    return fit;
}

// Mode 5 without rotation: 7-bit colour and 8-bit alpha endpoints, 2-bit indices for each.
std::array<uint8_t, 16> WriteMode5(Mode5Fit fit) {
    for (SubsetFit* part : {&fit.colour, &fit.alpha}) {
        if ((part->indices[0] & 2u) == 0) continue;
        std::swap(part->stored[0], part->stored[1]);
        for (auto& index : part->indices)
            index = static_cast<uint8_t>(3 - index);
    }
    BlockBitWriter out;
    out.Put(1u << 5, 6);
    out.Put(0, 2);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t e = 0; e < 2; ++e)
            out.Put(fit.colour.stored[e][c], 7);
    out.Put(fit.alpha.stored[0][0], 8);
    out.Put(fit.alpha.stored[1][0], 8);
    for (const SubsetFit* part : {&fit.colour, &fit.alpha})
        for (uint32_t t = 0; t < 16; ++t)
            out.Put(part->indices[t], t == 0 ? 1 : 2);
    return out.Bytes();
}

} // namespace

std::array<uint8_t, 16> EncodeBc7Block(const Texels& texels) {
    BlockFit best = FitBlock(texels, kMode6, 0);
    const Mode5Fit mode5 = FitMode5(texels);
    bool opaque = true;
    for (uint32_t t = 0; t < 16; ++t)
        opaque = opaque && texels[t * 4 + 3] == 255;
    if (best.error > 0) {
        std::array<std::pair<float, uint32_t>, 64> ranked{};
        for (uint32_t p = 0; p < 64; ++p)
            ranked[p] = {PartitionSpread(texels, p), p};
        std::partial_sort(ranked.begin(), ranked.begin() + 3, ranked.end());
        const std::array<const Bc7ModeShape*, 2> twoSubsets =
            opaque ? std::array{&kMode1, &kMode3} : std::array{&kMode7, &kMode7};
        for (uint32_t r = 0; r < 3; ++r) {
            for (uint32_t m = 0; m < (opaque ? 2u : 1u); ++m) {
                const BlockFit fit = FitBlock(texels, *twoSubsets[m], ranked[r].second);
                if (fit.error < best.error) best = fit;
            }
        }
    }
    if (mode5.error < best.error) return WriteMode5(mode5);
    return WriteBlock(best);
}

void EncodeBc7(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgba8, scratch);
    RequireOutputBytes(out, BlockCount(p.width, p.height) * 16, "BC7");
    size_t offset = 0;
    Texels texels{};
    for (uint32_t by = 0; by < BlocksAcross(p.height); ++by) {
        for (uint32_t bx = 0; bx < BlocksAcross(p.width); ++bx, offset += 16) {
            GatherBlock(p.rgba8, p.width, p.height, bx, by, texels);
            const auto block = EncodeBc7Block(texels);
            std::copy(block.begin(), block.end(), out.begin() + static_cast<ptrdiff_t>(offset));
        }
    }
}

} // namespace kestrel::image
