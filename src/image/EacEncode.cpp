#include "common/Error.h"
#include "image/EtcEncode.h"
#include "image/EtcTables.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace kestrel::image {

namespace {

struct EacRange {
    int32_t scale; // 11-bit values step by eight per unit of multiplier and base
    int32_t low;
    int32_t high;
    int32_t baseLow;
    int32_t baseHigh;
    int32_t offset; // the half step unsigned R11 adds to the base
};

constexpr EacRange RangeOf(EacTarget target) {
    switch (target) {
    case EacTarget::kAlpha8:
        return {1, 0, 255, 0, 255, 0};
    case EacTarget::kUnsigned11:
        return {8, 0, 2047, 0, 255, 4};
    case EacTarget::kSigned11:
        return {8, -1023, 1023, -127, 127, 0};
    }
    return {1, 0, 255, 0, 255, 0};
}

struct EacFit {
    int64_t error = std::numeric_limits<int64_t>::max();
    int32_t base = 0;
    int32_t multiplier = 1;
    uint32_t table = 0;
    std::array<uint32_t, 16> indices{};
};

void TryEac(const std::array<int32_t, 16>& values, const EacRange& r, int32_t base,
            int32_t multiplier, uint32_t table, EacFit& best) {
    EacFit fit{0, base, multiplier, table, {}};
    const auto& mods = etc::kEacModifiers[table];
    for (size_t i = 0; i < 16 && fit.error < best.error; ++i) {
        int64_t bestPixel = std::numeric_limits<int64_t>::max();
        for (uint32_t index = 0; index < 8; ++index) {
            const int32_t decoded = std::clamp(
                base * r.scale + r.offset + mods[index] * multiplier * r.scale, r.low, r.high);
            const int64_t d = decoded - values[i];
            if (d * d < bestPixel) {
                bestPixel = d * d;
                fit.indices[i] = index;
            }
        }
        fit.error += bestPixel;
    }
    if (fit.error < best.error) best = fit;
}

} // namespace

uint64_t EncodeEacBlock(const std::array<int32_t, 16>& values, EacTarget target) {
    const EacRange r = RangeOf(target);
    const auto [minIt, maxIt] = std::minmax_element(values.begin(), values.end());
    const int32_t low = *minIt;
    const int32_t high = *maxIt;
    EacFit best;
    for (uint32_t table = 0; table < 16 && best.error != 0; ++table) {
        const auto& mods = etc::kEacModifiers[table];
        const int32_t span = (mods[7] - mods[3]) * r.scale;
        const int32_t estimate = (high - low + span / 2) / span;
        for (int32_t m = estimate - 1; m <= estimate + 1; ++m) {
            const int32_t multiplier = std::clamp(m, 1, 15);
            // The base that centres the table's steps on the values' range.
            const double centre =
                (low + high) / 2.0 - (mods[3] + mods[7]) * multiplier * r.scale / 2.0;
            const auto unit = static_cast<int32_t>(std::lround((centre - r.offset) / r.scale));
            for (int32_t b = unit - 1; b <= unit + 1; ++b)
                TryEac(values, r, std::clamp(b, r.baseLow, r.baseHigh), multiplier, table, best);
        }
    }
    uint64_t block = uint64_t(static_cast<uint8_t>(best.base)) << 56 |
                     uint64_t(best.multiplier) << 52 | uint64_t(best.table) << 48;
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x)
            block |= uint64_t{best.indices[y * 4 + x]} << (45 - 3 * (x * 4 + y));
    }
    return block;
}

namespace {

constexpr BlockShape kHalfBlock{4, 4, 8};
constexpr BlockShape kFullBlock{4, 4, 16};

void CheckTarget(const ImagePlane& in, std::span<uint8_t> out, const BlockShape& shape,
                 const char* name) {
    if (in.kind == PixelKind::kRgbaFloat || in.width == 0 || in.height == 0 ||
        out.size() != BlockLevelBytes(shape, in.width, in.height)) {
        throw KestrelError(std::string("cannot encode this picture as ") + name +
                           ": wrong pixel kind or level size at offset 0x0");
    }
}

// Channel c of the plane's 4 x 4 block (bx, by) as 11-bit EAC values, the inverse of the
// decoders' scaling; the last row and column repeat past the edges.
std::array<int32_t, 16> EacValues(const ImagePlane& in, uint32_t bx, uint32_t by, size_t c,
                                  bool isSigned) {
    std::array<int32_t, 16> values{};
    const bool wide = in.kind == PixelKind::kRgba16;
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t px = std::min(bx * 4 + x, in.width - 1);
            const uint32_t py = std::min(by * 4 + y, in.height - 1);
            const size_t at = (size_t{py} * in.width + px) * 4 + c;
            const double v = wide ? in.rgba16[at] : in.rgba8[at];
            const double value = isSigned ? (v - (wide ? 32768 : 128)) * 1023 / (wide ? 32767 : 127)
                                          : v * 2047 / (wide ? 65535 : 255);
            values[y * 4 + x] = std::clamp(static_cast<int32_t>(std::lround(value)),
                                           isSigned ? -1023 : 0, isSigned ? 1023 : 2047);
        }
    }
    return values;
}

void EncodeEacLevel(const ImagePlane& in, std::span<uint8_t> out, bool twoChannels, bool isSigned,
                    const char* name) {
    const BlockShape& shape = twoChannels ? kFullBlock : kHalfBlock;
    CheckTarget(in, out, shape, name);
    const uint32_t blocksX = (in.width + 3) / 4;
    const uint32_t blocksY = (in.height + 3) / 4;
    const EacTarget target = isSigned ? EacTarget::kSigned11 : EacTarget::kUnsigned11;
    for (uint32_t by = 0; by < blocksY; ++by) {
        for (uint32_t bx = 0; bx < blocksX; ++bx) {
            const auto bytes = out.subspan((size_t{by} * blocksX + bx) * shape.bytes, shape.bytes);
            for (size_t c = 0; c < (twoChannels ? 2u : 1u); ++c) {
                const uint64_t block = EncodeEacBlock(EacValues(in, bx, by, c, isSigned), target);
                StoreBigEndian64(block, bytes.subspan(c * 8, 8));
            }
        }
    }
}

} // namespace

void EncodeEtc2Rgba8(const ImagePlane& in, std::span<uint8_t> out) {
    CheckTarget(in, out, kFullBlock, "ETC2_RGBA8");
    const uint32_t blocksX = (in.width + 3) / 4;
    const uint32_t blocksY = (in.height + 3) / 4;
    for (uint32_t by = 0; by < blocksY; ++by) {
        for (uint32_t bx = 0; bx < blocksX; ++bx) {
            const Block4x4 pixels = GetBlock(in, bx, by);
            std::array<int32_t, 16> alpha{};
            for (size_t i = 0; i < 16; ++i)
                alpha[i] = pixels[i][3];
            const auto bytes = out.subspan((size_t{by} * blocksX + bx) * 16, 16);
            StoreBigEndian64(EncodeEacBlock(alpha, EacTarget::kAlpha8), bytes.subspan(0, 8));
            StoreBigEndian64(EncodeEtcColorBlock(pixels, EtcTarget::kEtc2), bytes.subspan(8, 8));
        }
    }
}

void EncodeEacR(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeEacLevel(in, out, false, false, "EAC_R");
}
void EncodeEacRSigned(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeEacLevel(in, out, false, true, "EAC_R_SIGNED");
}
void EncodeEacRg(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeEacLevel(in, out, true, false, "EAC_RG");
}
void EncodeEacRgSigned(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeEacLevel(in, out, true, true, "EAC_RG_SIGNED");
}

} // namespace kestrel::image
