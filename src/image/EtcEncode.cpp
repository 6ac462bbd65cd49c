#include "image/EtcEncode.h"

#include "common/Error.h"
#include "image/EtcDecode.h"
#include "image/EtcTables.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace kestrel::image {

namespace {

using etc::Clamp255;
using Rgb = std::array<int32_t, 3>;

// The pixels of one half of a block, with their positions in it.
struct SubBlock {
    std::array<Rgb, 8> colors{};
    std::array<uint32_t, 8> positions{}; // x * 4 + y, the bit of the pixel's index
    std::array<bool, 8> transparent{};
    Rgb average{};
};

struct SubFit {
    int64_t error = std::numeric_limits<int64_t>::max();
    Rgb quantized{};
    uint32_t table = 0;
    std::array<uint32_t, 8> indices{};
};

SubBlock Split(const Block4x4& pixels, bool flip, bool second, bool punchThrough) {
    SubBlock sub;
    size_t n = 0;
    int32_t opaque = 0;
    Rgb sum{};
    for (uint32_t x = 0; x < 4; ++x) {
        for (uint32_t y = 0; y < 4; ++y) {
            if ((flip ? y >= 2 : x >= 2) != second) continue;
            const auto& px = pixels[y * 4 + x];
            sub.colors[n] = {px[0], px[1], px[2]};
            sub.positions[n] = x * 4 + y;
            sub.transparent[n] = punchThrough && px[3] < 128;
            if (!sub.transparent[n]) {
                ++opaque;
                for (size_t c = 0; c < 3; ++c)
                    sum[c] += px[c];
            }
            ++n;
        }
    }
    for (size_t c = 0; c < 3; ++c)
        sub.average[c] = opaque ? (sum[c] + opaque / 2) / opaque : 0;
    return sub;
}

int32_t Expand(int32_t q, bool fiveBits) {
    return fiveBits ? etc::Extend5(static_cast<uint32_t>(q))
                    : etc::Extend4(static_cast<uint32_t>(q));
}

// The best table and indices for a quantized base colour. Without the opaque flag (punch-through
// blocks with transparent pixels) index 2 is transparency and index 0 adds nothing.
SubFit FitBase(const SubBlock& sub, const Rgb& q, bool fiveBits, bool withTransparency) {
    SubFit best;
    const Rgb base{Expand(q[0], fiveBits), Expand(q[1], fiveBits), Expand(q[2], fiveBits)};
    for (uint32_t table = 0; table < 8; ++table) {
        SubFit fit{0, q, table, {}};
        for (size_t i = 0; i < 8 && fit.error < best.error; ++i) {
            if (sub.transparent[i]) {
                fit.indices[i] = 2;
                continue;
            }
            int64_t bestPixel = std::numeric_limits<int64_t>::max();
            for (uint32_t index = 0; index < 4; ++index) {
                if (withTransparency && index == 2) continue;
                const int32_t add = (withTransparency && index == 0)
                                        ? 0
                                        : etc::ModifierOf(static_cast<int32_t>(table), index);
                int64_t e = 0;
                for (size_t c = 0; c < 3; ++c) {
                    const int64_t d = Clamp255(base[c] + add) - sub.colors[i][c];
                    e += d * d;
                }
                if (e < bestPixel) {
                    bestPixel = e;
                    fit.indices[i] = index;
                }
            }
            fit.error += bestPixel;
        }
        if (fit.error < best.error) best = fit;
    }
    return best;
}

// Base colours to try: each channel's average rounded down and up, kept within [low, high].
std::vector<Rgb> Candidates(const Rgb& average, bool fiveBits, const Rgb& low, const Rgb& high) {
    const int32_t levels = fiveBits ? 31 : 15;
    std::array<std::array<int32_t, 2>, 3> options{};
    for (size_t c = 0; c < 3; ++c) {
        const int32_t down = average[c] * levels / 255;
        options[c] = {std::clamp(down, low[c], high[c]), std::clamp(down + 1, low[c], high[c])};
    }
    std::vector<Rgb> out;
    for (int i = 0; i < 8; ++i) {
        const Rgb q{options[0][i & 1], options[1][(i >> 1) & 1], options[2][(i >> 2) & 1]};
        if (std::find(out.begin(), out.end(), q) == out.end()) out.push_back(q);
    }
    return out;
}

std::vector<SubFit> FitAll(const SubBlock& sub, const std::vector<Rgb>& candidates, bool fiveBits,
                           bool withTransparency) {
    std::vector<SubFit> fits;
    fits.reserve(candidates.size());
    for (const Rgb& q : candidates)
        fits.push_back(FitBase(sub, q, fiveBits, withTransparency));
    return fits;
}

uint64_t PackIndices(const SubFit& first, const SubBlock& a, const SubFit& second,
                     const SubBlock& b) {
    uint64_t bits = 0;
    auto put = [&](const SubFit& fit, const SubBlock& sub) {
        for (size_t i = 0; i < 8; ++i) {
            bits |= uint64_t{fit.indices[i] & 1} << sub.positions[i];
            bits |= uint64_t{fit.indices[i] >> 1} << (sub.positions[i] + 16);
        }
    };
    put(first, a);
    put(second, b);
    return bits;
}

uint64_t PackIndividual(const SubFit& f1, const SubFit& f2, bool flip, uint64_t indices) {
    uint64_t block = indices | (uint64_t{flip} << 32);
    block |= uint64_t{f1.table} << 37 | uint64_t{f2.table} << 34;
    for (size_t c = 0; c < 3; ++c) {
        block |= uint64_t(f1.quantized[c]) << (60 - 8 * c);
        block |= uint64_t(f2.quantized[c]) << (56 - 8 * c);
    }
    return block;
}

uint64_t PackDifferential(const SubFit& f1, const SubFit& f2, bool flip, bool flag33,
                          uint64_t indices) {
    uint64_t block = indices | (uint64_t{flip} << 32) | (uint64_t{flag33} << 33);
    block |= uint64_t{f1.table} << 37 | uint64_t{f2.table} << 34;
    for (size_t c = 0; c < 3; ++c) {
        block |= uint64_t(f1.quantized[c]) << (59 - 8 * c);
        block |= uint64_t((f2.quantized[c] - f1.quantized[c]) & 7) << (56 - 8 * c);
    }
    return block;
}

// The best differential pair: the second half's bases must lie within -4..3 of the first's.
bool BestDifferential(const SubBlock& a, const SubBlock& b, bool withTransparency, SubFit& f1,
                      SubFit& f2) {
    const Rgb low{0, 0, 0};
    const Rgb high{31, 31, 31};
    const std::vector<SubFit> firsts =
        FitAll(a, Candidates(a.average, true, low, high), true, withTransparency);
    const auto lead = std::min_element(firsts.begin(), firsts.end(),
                                       [](auto& l, auto& r) { return l.error < r.error; });
    std::vector<Rgb> seconds = Candidates(b.average, true, low, high);
    Rgb nearLow{};
    Rgb nearHigh{};
    for (size_t c = 0; c < 3; ++c) {
        nearLow[c] = std::max(0, lead->quantized[c] - 4);
        nearHigh[c] = std::min(31, lead->quantized[c] + 3);
    }
    for (const Rgb& q : Candidates(b.average, true, nearLow, nearHigh))
        seconds.push_back(q);
    const std::vector<SubFit> secondFits = FitAll(b, seconds, true, withTransparency);
    int64_t best = std::numeric_limits<int64_t>::max();
    for (const SubFit& x : firsts) {
        for (const SubFit& y : secondFits) {
            bool near = true;
            for (size_t c = 0; c < 3; ++c) {
                const int32_t d = y.quantized[c] - x.quantized[c];
                near = near && d >= -4 && d <= 3;
            }
            if (near && x.error + y.error < best) {
                best = x.error + y.error;
                f1 = x;
                f2 = y;
            }
        }
    }
    return best != std::numeric_limits<int64_t>::max();
}

int64_t BlockError(const Block4x4& pixels, uint64_t block, bool punchThrough) {
    Block4x4 decoded{};
    DecodeEtcColorBlock(block, false, punchThrough, decoded);
    int64_t error = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (punchThrough && pixels[i][3] < 128) {
            if (decoded[i][3] != 0) return std::numeric_limits<int64_t>::max();
            continue;
        }
        if (decoded[i][3] == 0) return std::numeric_limits<int64_t>::max();
        for (size_t c = 0; c < 3; ++c) {
            const int64_t d = int64_t{decoded[i][c]} - pixels[i][c];
            error += d * d;
        }
    }
    return error;
}

// Least-squares fit of the plane O + x (H - O) / 4 + y (V - O) / 4 over the block, quantized to
// 6, 7 and 6 bits. The bits the planar layout leaves free are set so that red and green do not
// overflow as differential colours and blue does, which is what marks the block as planar.
uint64_t EncodePlanarBlock(const Block4x4& pixels) {
    std::array<std::array<int32_t, 3>, 3> q{}; // O, H, V by channel
    for (size_t c = 0; c < 3; ++c) {
        double mean = 0;
        double sx = 0;
        double sy = 0;
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 4; ++x) {
                const double v = pixels[static_cast<size_t>(y * 4 + x)][c];
                mean += v / 16;
                sx += (x - 1.5) * v / 20;
                sy += (y - 1.5) * v / 20;
            }
        }
        const double o = mean - 1.5 * sx - 1.5 * sy;
        const int32_t levels = c == 1 ? 127 : 63;
        auto quantize = [&](double v) {
            return std::clamp(static_cast<int32_t>(v * levels / 255.0 + 0.5), 0, levels);
        };
        q[0][c] = quantize(o);
        q[1][c] = quantize(o + 4 * sx);
        q[2][c] = quantize(o + 4 * sy);
    }
    const auto [ro, go, bo] = q[0];
    const auto [rh, gh, bh] = q[1];
    const auto [rv, gv, bv] = q[2];
    uint64_t block = uint64_t(ro) << 57 | uint64_t(go >> 6) << 56 | uint64_t(go & 63) << 49 |
                     uint64_t(bo >> 5) << 48 | uint64_t((bo >> 3) & 3) << 43 |
                     uint64_t(bo & 7) << 39 | uint64_t(rh >> 1) << 34 | uint64_t(1) << 33 |
                     uint64_t(rh & 1) << 32 | uint64_t(gh) << 25 | uint64_t(bh) << 19 |
                     uint64_t(rv) << 13 | uint64_t(gv) << 6 | uint64_t(bv);
    auto field = [&](int hi, int lo) {
        return static_cast<int32_t>((block >> lo) & ((1u << (hi - lo + 1)) - 1));
    };
    if (field(62, 59) + etc::Delta3(static_cast<uint32_t>(field(58, 56))) < 0)
        block |= uint64_t{1} << 63;
    if (field(54, 51) + etc::Delta3(static_cast<uint32_t>(field(50, 48))) < 0)
        block |= uint64_t{1} << 55;
    if (field(44, 43) + field(41, 40) >= 4) {
        block |= uint64_t{7} << 45;
    } else {
        block |= uint64_t{1} << 42;
    }
    return block;
}

} // namespace

uint64_t EncodeEtcColorBlock(const Block4x4& pixels, EtcTarget target) {
    const bool punchThrough = target == EtcTarget::kPunchThrough;
    bool anyTransparent = false;
    for (const auto& px : pixels)
        anyTransparent = anyTransparent || (punchThrough && px[3] < 128);
    uint64_t best = 0;
    int64_t bestError = std::numeric_limits<int64_t>::max();
    auto consider = [&](uint64_t block) {
        const int64_t error = BlockError(pixels, block, punchThrough);
        if (error < bestError) {
            bestError = error;
            best = block;
        }
    };
    for (bool flip : {false, true}) {
        const SubBlock a = Split(pixels, flip, false, punchThrough);
        const SubBlock b = Split(pixels, flip, true, punchThrough);
        if (!punchThrough) {
            const Rgb low{0, 0, 0};
            const Rgb high{15, 15, 15};
            auto bestOf = [](const std::vector<SubFit>& fits) {
                return *std::min_element(fits.begin(), fits.end(),
                                         [](auto& l, auto& r) { return l.error < r.error; });
            };
            const SubFit f1 =
                bestOf(FitAll(a, Candidates(a.average, false, low, high), false, false));
            const SubFit f2 =
                bestOf(FitAll(b, Candidates(b.average, false, low, high), false, false));
            consider(PackIndividual(f1, f2, flip, PackIndices(f1, a, f2, b)));
        }
        SubFit f1;
        SubFit f2;
        if (BestDifferential(a, b, anyTransparent, f1, f2)) {
            // Bit 33 is the differential flag, or for punch-through the opaque flag.
            consider(PackDifferential(f1, f2, flip, !anyTransparent, PackIndices(f1, a, f2, b)));
        }
    }
    if (target != EtcTarget::kEtc1 && !anyTransparent) consider(EncodePlanarBlock(pixels));
    return best;
}

namespace {

constexpr BlockShape kHalfBlock{4, 4, 8};

void CheckEncodeTarget(const ImagePlane& in, std::span<uint8_t> out, const BlockShape& shape,
                       const char* name) {
    if (in.kind == PixelKind::kRgbaFloat || in.width == 0 || in.height == 0 ||
        out.size() != BlockLevelBytes(shape, in.width, in.height)) {
        throw KestrelError(std::string("cannot encode this picture as ") + name +
                           ": wrong pixel kind or level size at offset 0x0");
    }
}

void EncodeColorLevel(const ImagePlane& in, std::span<uint8_t> out, EtcTarget target,
                      const char* name) {
    CheckEncodeTarget(in, out, kHalfBlock, name);
    const uint32_t blocksX = (in.width + 3) / 4;
    const uint32_t blocksY = (in.height + 3) / 4;
    for (uint32_t by = 0; by < blocksY; ++by) {
        for (uint32_t bx = 0; bx < blocksX; ++bx) {
            const uint64_t block = EncodeEtcColorBlock(GetBlock(in, bx, by), target);
            StoreBigEndian64(block, out.subspan((size_t{by} * blocksX + bx) * 8, 8));
        }
    }
}

} // namespace

void EncodeEtc1(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeColorLevel(in, out, EtcTarget::kEtc1, "ETC_RGB4");
}

void EncodeEtc2Rgb(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeColorLevel(in, out, EtcTarget::kEtc2, "ETC2_RGB");
}

void EncodeEtc2Rgba1(const ImagePlane& in, std::span<uint8_t> out) {
    EncodeColorLevel(in, out, EtcTarget::kPunchThrough, "ETC2_RGBA1");
}

} // namespace kestrel::image
