#include "image/Bc6h.h"

#include "image/BlockBits.h"
#include "image/BlockLevel.h"
#include "image/BptcTables.h"
#include "image/EndpointFit.h"
#include "image/HalfFloat.h"
#include "image/PlaneConvert.h"

#include <limits>

namespace kestrel::image {
namespace {

// The encoder writes mode 3: one subset, 10-bit endpoints stored as they are, 4-bit indices.
// It works on "interpolation values": the decoder interpolates 16-bit values u and turns them
// into the half h = u * 31 / 64, so a target half h is the interpolation value h * 64 / 31.
constexpr uint32_t kModeNumber = 3;
constexpr uint32_t kEndpointBits = 10;
constexpr uint32_t kIndexBits = 4;

int32_t UnquantizeEndpoint(uint32_t x) {
    if (x == 0) return 0;
    if (x == (1u << kEndpointBits) - 1) return 0xFFFF;
    return static_cast<int32_t>(((x << 15) + 0x4000) >> (kEndpointBits - 1));
}

uint32_t QuantizeEndpoint(float u) {
    const float clamped = std::clamp(u, 0.0f, 65535.0f);
    uint32_t best = 0;
    float bestError = std::numeric_limits<float>::max();
    const int32_t guess = static_cast<int32_t>(std::lround((clamped - 32.0f) / 64.0f));
    for (int32_t x = guess - 1; x <= guess + 1; ++x) {
        if (x < 0 || x > 1023) continue;
        const float e =
            std::fabs(static_cast<float>(UnquantizeEndpoint(static_cast<uint32_t>(x))) - clamped);
        if (e < bestError) {
            bestError = e;
            best = static_cast<uint32_t>(x);
        }
    }
    return best;
}

struct Fit {
    std::array<std::array<uint32_t, 3>, 2> endpoints{};
    std::array<uint8_t, 16> indices{};
    uint64_t error = std::numeric_limits<uint64_t>::max();
};

// Quantizes a segment and picks each texel's nearest decoded half; error in half steps.
Fit QuantizeAndAssign(const std::array<std::array<int32_t, 3>, 16>& halves,
                      const Segment& segment) {
    Fit fit;
    for (uint32_t c = 0; c < 3; ++c) {
        fit.endpoints[0][c] = QuantizeEndpoint(segment.start[c]);
        fit.endpoints[1][c] = QuantizeEndpoint(segment.end[c]);
    }
    std::array<std::array<int32_t, 3>, 16> palette{};
    for (uint32_t i = 0; i < 16; ++i)
        for (uint32_t c = 0; c < 3; ++c)
            palette[i][c] = (BptcInterpolate(UnquantizeEndpoint(fit.endpoints[0][c]),
                                             UnquantizeEndpoint(fit.endpoints[1][c]),
                                             BptcWeight(kIndexBits, i)) *
                             31) >>
                            6;
    fit.error = 0;
    for (uint32_t t = 0; t < 16; ++t) {
        uint64_t best = std::numeric_limits<uint64_t>::max();
        for (uint32_t i = 0; i < 16; ++i) {
            uint64_t e = 0;
            for (uint32_t c = 0; c < 3; ++c) {
                const int64_t d = palette[i][c] - halves[t][c];
                e += static_cast<uint64_t>(d * d);
            }
            if (e < best) {
                best = e;
                fit.indices[t] = static_cast<uint8_t>(i);
            }
        }
        fit.error += best;
    }
    return fit;
}

} // namespace

std::array<uint8_t, 16> EncodeBc6hBlock(const std::array<float, 64>& texels) {
    std::array<std::array<int32_t, 3>, 16> halves{};
    std::array<Point4, 16> points{};
    for (uint32_t t = 0; t < 16; ++t) {
        for (uint32_t c = 0; c < 3; ++c) {
            const float v = texels[t * 4 + c];
            const float clamped = v > 0.0f ? std::min(v, 65504.0f) : 0.0f; // NaN fails v > 0
            halves[t][c] = FloatToHalf(clamped);
            points[t][c] = static_cast<float>(halves[t][c]) * 64.0f / 31.0f;
        }
    }
    Segment segment = PrincipalSegment(points.data(), 16, 3);
    Fit best;
    for (int round = 0; round < 3 && best.error != 0; ++round) {
        const Fit fit = QuantizeAndAssign(halves, segment);
        if (fit.error < best.error) best = fit;
        std::array<float, 16> weights{};
        for (uint32_t t = 0; t < 16; ++t)
            weights[t] = static_cast<float>(BptcWeight(kIndexBits, fit.indices[t])) / 64.0f;
        if (!LeastSquaresSegment(points.data(), weights.data(), 16, 3, segment)) break;
    }
    if (best.indices[0] >= 8) {
        std::swap(best.endpoints[0], best.endpoints[1]);
        for (auto& index : best.indices)
            index = static_cast<uint8_t>(15 - index);
    }
    BlockBitWriter out;
    out.Put(kModeNumber, 5);
    for (uint32_t e = 0; e < 2; ++e)
        for (uint32_t c = 0; c < 3; ++c)
            out.Put(best.endpoints[e][c], kEndpointBits);
    for (uint32_t t = 0; t < 16; ++t)
        out.Put(best.indices[t], t == 0 ? kIndexBits - 1 : kIndexBits);
    return out.Bytes();
}

void EncodeBc6h(const ImagePlane& in, std::span<uint8_t> out) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(in, PixelKind::kRgbaFloat, scratch);
    RequireOutputBytes(out, BlockCount(p.width, p.height) * 16, "BC6H");
    size_t offset = 0;
    std::array<float, 64> texels{};
    for (uint32_t by = 0; by < BlocksAcross(p.height); ++by) {
        for (uint32_t bx = 0; bx < BlocksAcross(p.width); ++bx, offset += 16) {
            GatherBlock(p.rgbaF, p.width, p.height, bx, by, texels);
            const auto block = EncodeBc6hBlock(texels);
            std::copy(block.begin(), block.end(), out.begin() + static_cast<ptrdiff_t>(offset));
        }
    }
}

} // namespace kestrel::image
