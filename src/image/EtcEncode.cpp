#include "image/EtcEncode.h"

#include "common/Error.h"
#include "image/EtcDecode.h"
#include "image/EtcTables.h"

#include <algorithm>
#include <cmath>
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

// The indices of one table for a quantized base colour. Without the opaque flag (punch-through
// blocks with transparent pixels) index 2 is transparency and index 0 adds nothing.
SubFit FitTable(const SubBlock& sub, const Rgb& q, bool fiveBits, bool withTransparency,
                uint32_t table, int64_t bound) {
    const Rgb base{Expand(q[0], fiveBits), Expand(q[1], fiveBits), Expand(q[2], fiveBits)};
    SubFit fit{0, q, table, {}};
    for (size_t i = 0; i < 8 && fit.error < bound; ++i) {
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
    return fit;
}

// Fits for every table: the base colour that best suits a table is the mean of the pixels less
// their modifiers. For each table the average's nearest base is fitted, then the mean its
// indices ask for, rounded to the nearest base and moved one step darker and lighter.
std::vector<SubFit> SearchHalf(const SubBlock& sub, bool fiveBits, bool withTransparency,
                               const Rgb& low, const Rgb& high) {
    const int32_t levels = fiveBits ? 31 : 15;
    const auto nearest = [&](const Rgb& colour, int32_t shift) {
        Rgb q{};
        for (size_t c = 0; c < 3; ++c)
            q[c] = std::clamp((colour[c] * levels + 127) / 255 + shift, low[c], high[c]);
        return q;
    };
    std::vector<SubFit> fits;
    fits.reserve(32);
    for (uint32_t table = 0; table < 8; ++table) {
        const SubFit first = FitTable(sub, nearest(sub.average, 0), fiveBits, withTransparency,
                                      table, std::numeric_limits<int64_t>::max());
        fits.push_back(first);
        Rgb sum{};
        int32_t count = 0;
        const Rgb base{Expand(first.quantized[0], fiveBits), Expand(first.quantized[1], fiveBits),
                       Expand(first.quantized[2], fiveBits)};
        for (size_t i = 0; i < 8; ++i) {
            if (sub.transparent[i]) continue;
            const uint32_t index = first.indices[i];
            const int32_t add = (withTransparency && index == 0)
                                    ? 0
                                    : etc::ModifierOf(static_cast<int32_t>(table), index);
            ++count;
            for (size_t c = 0; c < 3; ++c) {
                // Pixels held at 0 or 255 by the clamp ask for no particular base.
                const bool clamped = Clamp255(base[c] + add) != base[c] + add;
                sum[c] += clamped ? base[c] : sub.colors[i][c] - add;
            }
        }
        if (count == 0) continue;
        Rgb ideal{};
        for (size_t c = 0; c < 3; ++c) {
            const int32_t total = sum[c] >= 0 ? sum[c] + count / 2 : sum[c] - count / 2;
            ideal[c] = std::clamp(total / count, 0, 255);
        }
        for (int32_t shift : {0, -1, 1}) {
            const Rgb q = nearest(ideal, shift);
            if (q == first.quantized) continue;
            fits.push_back(FitTable(sub, q, fiveBits, withTransparency, table,
                                    std::numeric_limits<int64_t>::max()));
        }
    }
    return fits;
}

const SubFit& BestOf(const std::vector<SubFit>& fits) {
    return *std::min_element(fits.begin(), fits.end(),
                             [](auto& l, auto& r) { return l.error < r.error; });
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
// Each half's own best fits are paired where they can be; besides, each half's best fit is
// paired with the other half searched within the range it allows.
bool BestDifferential(const SubBlock& a, const SubBlock& b, bool withTransparency, SubFit& f1,
                      SubFit& f2) {
    const Rgb low{0, 0, 0};
    const Rgb high{31, 31, 31};
    std::vector<SubFit> firsts = SearchHalf(a, true, withTransparency, low, high);
    std::vector<SubFit> seconds = SearchHalf(b, true, withTransparency, low, high);
    const SubFit leadA = BestOf(firsts);
    const SubFit leadB = BestOf(seconds);
    bool leadsPair = true;
    for (size_t c = 0; c < 3; ++c) {
        const int32_t d = leadB.quantized[c] - leadA.quantized[c];
        leadsPair = leadsPair && d >= -4 && d <= 3;
    }
    if (leadsPair) {
        f1 = leadA;
        f2 = leadB;
        return true;
    }
    Rgb nearLow{};
    Rgb nearHigh{};
    for (size_t c = 0; c < 3; ++c) {
        nearLow[c] = std::max(0, leadA.quantized[c] - 4);
        nearHigh[c] = std::min(31, leadA.quantized[c] + 3);
    }
    for (const SubFit& fit : SearchHalf(b, true, withTransparency, nearLow, nearHigh))
        seconds.push_back(fit);
    for (size_t c = 0; c < 3; ++c) {
        nearLow[c] = std::max(0, leadB.quantized[c] - 3);
        nearHigh[c] = std::min(31, leadB.quantized[c] + 4);
    }
    for (const SubFit& fit : SearchHalf(a, true, withTransparency, nearLow, nearHigh))
        firsts.push_back(fit);
    int64_t best = std::numeric_limits<int64_t>::max();
    for (const SubFit& x : firsts) {
        if (x.error >= best) continue;
        for (const SubFit& y : seconds) {
            if (x.error + y.error >= best) continue;
            bool near = true;
            for (size_t c = 0; c < 3; ++c) {
                const int32_t d = y.quantized[c] - x.quantized[c];
                near = near && d >= -4 && d <= 3;
            }
            if (near) {
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
        const std::array<int32_t, 3> start{quantize(o), quantize(o + 4 * sx), quantize(o + 4 * sy)};
        // Rounding each of the three values on its own is not the best rounding of the plane:
        // the neighbours of each are tried together, the channel's error decides.
        const auto expand = [&](int32_t v) {
            return c == 1 ? etc::Extend7(static_cast<uint32_t>(v))
                          : etc::Extend6(static_cast<uint32_t>(v));
        };
        int64_t bestError = std::numeric_limits<int64_t>::max();
        for (int k = 0; k < 27; ++k) {
            const std::array<int32_t, 3> t{start[0] + k % 3 - 1, start[1] + k / 3 % 3 - 1,
                                           start[2] + k / 9 - 1};
            if (std::any_of(t.begin(), t.end(), [&](int32_t v) { return v < 0 || v > levels; }))
                continue;
            const int32_t eo = expand(t[0]);
            const int32_t eh = expand(t[1]);
            const int32_t ev = expand(t[2]);
            int64_t error = 0;
            for (int32_t y = 0; y < 4; ++y) {
                for (int32_t x = 0; x < 4; ++x) {
                    const int32_t value =
                        Clamp255((x * (eh - eo) + y * (ev - eo) + 4 * eo + 2) >> 2);
                    const int64_t d = value - pixels[static_cast<size_t>(y * 4 + x)][c];
                    error += d * d;
                }
            }
            if (error < bestError) {
                bestError = error;
                for (size_t j = 0; j < 3; ++j)
                    q[j][c] = t[j];
            }
        }
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

// The T and H modes paint each pixel in one of four colours made from two 4-bit colours and a
// distance: T uses the first colour alone and the second one moved by -d, 0 and +d; H both
// colours moved by +d and -d. They suit blocks of two distinct colours, which the sub-block
// modes cannot hold.
struct Paint {
    std::array<Rgb, 4> colors{};
};

Rgb Quantize4(const std::array<int64_t, 3>& sum, int64_t count) {
    Rgb q{};
    for (size_t c = 0; c < 3; ++c) {
        const int64_t mean = count > 0 ? (sum[c] + count / 2) / count : 0;
        q[c] = std::clamp(static_cast<int32_t>((mean * 15 + 127) / 255), 0, 15);
    }
    return q;
}

Rgb Moved(const Rgb& base, int32_t d) {
    return {Clamp255(base[0] + d), Clamp255(base[1] + d), Clamp255(base[2] + d)};
}

Paint PaintOf(bool hMode, const Rgb& q1, const Rgb& q2, int32_t d) {
    const Rgb c1{etc::Extend4(static_cast<uint32_t>(q1[0])), etc::Extend4(static_cast<uint32_t>(q1[1])),
                 etc::Extend4(static_cast<uint32_t>(q1[2]))};
    const Rgb c2{etc::Extend4(static_cast<uint32_t>(q2[0])), etc::Extend4(static_cast<uint32_t>(q2[1])),
                 etc::Extend4(static_cast<uint32_t>(q2[2]))};
    if (hMode) return {{Moved(c1, d), Moved(c1, -d), Moved(c2, d), Moved(c2, -d)}};
    return {{c1, Moved(c2, d), c2, Moved(c2, -d)}};
}

// Each pixel's nearest paint colour (transparent pixels take index 2, which opaque ones then
// cannot); the indices as packed in the low 32 bits.
int64_t AssignPaint(const Block4x4& pixels, const Paint& paint, bool withTransparency,
                    std::array<uint32_t, 16>& indices) {
    int64_t total = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (withTransparency && pixels[i][3] < 128) {
            indices[i] = 2;
            continue;
        }
        int64_t best = std::numeric_limits<int64_t>::max();
        for (uint32_t index = 0; index < 4; ++index) {
            if (withTransparency && index == 2) continue;
            int64_t e = 0;
            for (size_t c = 0; c < 3; ++c) {
                const int64_t d = paint.colors[index][c] - pixels[i][c];
                e += d * d;
            }
            if (e < best) {
                best = e;
                indices[i] = index;
            }
        }
        total += best;
    }
    return total;
}

uint64_t PackPaintIndices(const std::array<uint32_t, 16>& indices) {
    uint64_t bits = 0;
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t index = indices[y * 4 + x];
            bits |= uint64_t{index & 1} << (x * 4 + y);
            bits |= uint64_t{index >> 1} << (x * 4 + y + 16);
        }
    }
    return bits;
}

bool Overflows(uint64_t block, int hi) {
    const int32_t base = static_cast<int32_t>((block >> (hi - 4)) & 31);
    const int32_t sum = base + etc::Delta3(static_cast<uint32_t>((block >> (hi - 7)) & 7));
    return sum < 0 || sum > 31;
}

// Sets the unused bits among `freeBits` so that the red sum overflows (T) or only the green one
// does (H), which is what selects the mode.
uint64_t MarkMode(uint64_t block, bool hMode, const std::vector<int>& freeBits) {
    for (uint32_t combo = 0; combo < (1u << freeBits.size()); ++combo) {
        uint64_t candidate = block;
        for (size_t k = 0; k < freeBits.size(); ++k)
            if ((combo >> k) & 1) candidate |= uint64_t{1} << freeBits[k];
        const bool red = Overflows(candidate, 63);
        const bool green = Overflows(candidate, 55);
        if (hMode ? (!red && green) : red) return candidate;
    }
    return block; // not reached: some setting of the free bits always works
}

uint64_t PackT(const Rgb& q1, const Rgb& q2, uint32_t dIndex, bool flag33, uint64_t indices) {
    uint64_t block = indices | uint64_t{flag33} << 33;
    block |= uint64_t(q1[0] >> 2) << 59 | uint64_t(q1[0] & 3) << 56 | uint64_t(q1[1]) << 52 |
             uint64_t(q1[2]) << 48 | uint64_t(q2[0]) << 44 | uint64_t(q2[1]) << 40 |
             uint64_t(q2[2]) << 36 | uint64_t(dIndex >> 1) << 34 | uint64_t(dIndex & 1) << 32;
    return MarkMode(block, false, {63, 62, 61, 58});
}

// H keeps the distance's lowest bit in the order of the two colours; false when that order
// cannot give it (equal colours and an even distance).
bool PackH(Rgb q1, Rgb q2, uint32_t dIndex, bool flag33, std::array<uint32_t, 16> indices,
           uint64_t& out) {
    const auto value = [](const Rgb& q) { return (q[0] << 8) | (q[1] << 4) | q[2]; };
    if (((value(q1) >= value(q2)) ? 1u : 0u) != (dIndex & 1)) {
        if (value(q1) == value(q2)) return false;
        std::swap(q1, q2);
        for (auto& index : indices)
            index ^= 2;
    }
    uint64_t block = PackPaintIndices(indices) | uint64_t{flag33} << 33;
    block |= uint64_t(q1[0]) << 59 | uint64_t(q1[1] >> 1) << 56 | uint64_t(q1[1] & 1) << 52 |
             uint64_t(q1[2] >> 3) << 51 | uint64_t(q1[2] & 7) << 47 | uint64_t(q2[0]) << 43 |
             uint64_t(q2[1]) << 39 | uint64_t(q2[2]) << 35 | uint64_t(dIndex >> 2) << 34 |
             uint64_t((dIndex >> 1) & 1) << 32;
    out = MarkMode(block, true, {63, 55, 54, 53, 50});
    return true;
}

// The two colours of the block: its pixels split across the mean along the direction they
// spread most, then settled by a few rounds of nearest-centre assignment.
bool SplitTwo(const Block4x4& pixels, bool withTransparency, std::array<bool, 16>& second) {
    std::array<double, 3> mean{};
    int count = 0;
    for (const auto& px : pixels) {
        if (withTransparency && px[3] < 128) continue;
        ++count;
        for (size_t c = 0; c < 3; ++c)
            mean[c] += px[c];
    }
    if (count < 2) return false;
    for (auto& m : mean)
        m /= count;
    std::array<std::array<double, 3>, 3> cov{};
    for (const auto& px : pixels) {
        if (withTransparency && px[3] < 128) continue;
        for (size_t i = 0; i < 3; ++i)
            for (size_t j = 0; j < 3; ++j)
                cov[i][j] += (px[i] - mean[i]) * (px[j] - mean[j]);
    }
    // Power iteration from the column of the channel that varies most: a fixed start such as
    // grey can be at right angles to the spread (red against blue with green still).
    size_t widest = 0;
    for (size_t c = 1; c < 3; ++c)
        if (cov[c][c] > cov[widest][widest]) widest = c;
    std::array<double, 3> axis = cov[widest];
    for (int round = 0; round < 8; ++round) {
        std::array<double, 3> next{};
        for (size_t i = 0; i < 3; ++i)
            for (size_t j = 0; j < 3; ++j)
                next[i] += cov[i][j] * axis[j];
        const double length = std::max({std::abs(next[0]), std::abs(next[1]), std::abs(next[2])});
        if (length <= 0) return false;
        for (size_t i = 0; i < 3; ++i)
            axis[i] = next[i] / length;
    }
    std::array<std::array<double, 3>, 2> centre{};
    for (size_t i = 0; i < 16; ++i) {
        double t = 0;
        for (size_t c = 0; c < 3; ++c)
            t += (pixels[i][c] - mean[c]) * axis[c];
        second[i] = t > 0;
    }
    for (int round = 0; round < 4; ++round) {
        std::array<std::array<double, 3>, 2> sum{};
        std::array<int, 2> n{};
        for (size_t i = 0; i < 16; ++i) {
            if (withTransparency && pixels[i][3] < 128) continue;
            ++n[second[i]];
            for (size_t c = 0; c < 3; ++c)
                sum[second[i]][c] += pixels[i][c];
        }
        if (n[0] == 0 || n[1] == 0) return false;
        for (size_t g = 0; g < 2; ++g)
            for (size_t c = 0; c < 3; ++c)
                centre[g][c] = sum[g][c] / n[g];
        for (size_t i = 0; i < 16; ++i) {
            std::array<double, 2> d{};
            for (size_t g = 0; g < 2; ++g)
                for (size_t c = 0; c < 3; ++c)
                    d[g] += (pixels[i][c] - centre[g][c]) * (pixels[i][c] - centre[g][c]);
            second[i] = d[1] < d[0];
        }
    }
    return true;
}

template <typename Consider>
void TryTAndH(const Block4x4& pixels, bool withTransparency, Consider&& consider) {
    std::array<bool, 16> second{};
    if (!SplitTwo(pixels, withTransparency, second)) return;
    const bool flag33 = !withTransparency;
    for (bool hMode : {false, true}) {
        for (bool swapRoles : {false, true}) {
            if (hMode && swapRoles) continue; // H treats both colours alike
            // The two colours start at the means of the two groups.
            std::array<std::array<int64_t, 3>, 2> sums{};
            std::array<int64_t, 2> counts{};
            for (size_t i = 0; i < 16; ++i) {
                if (withTransparency && pixels[i][3] < 128) continue;
                const size_t g = second[i] != swapRoles ? 1 : 0;
                ++counts[g];
                for (size_t c = 0; c < 3; ++c)
                    sums[g][c] += pixels[i][c];
            }
            Rgb q1 = Quantize4(sums[0], counts[0]);
            Rgb q2 = Quantize4(sums[1], counts[1]);
            for (int round = 0; round < 2; ++round) {
                int64_t bestError = std::numeric_limits<int64_t>::max();
                uint32_t bestD = 0;
                std::array<uint32_t, 16> bestIndices{};
                for (uint32_t dIndex = 0; dIndex < 8; ++dIndex) {
                    std::array<uint32_t, 16> indices{};
                    const int32_t d = etc::kDistances[dIndex];
                    const int64_t error =
                        AssignPaint(pixels, PaintOf(hMode, q1, q2, d), withTransparency, indices);
                    if (hMode) {
                        uint64_t block = 0;
                        if (PackH(q1, q2, dIndex, flag33, indices, block)) consider(block);
                    } else {
                        consider(PackT(q1, q2, dIndex, flag33, PackPaintIndices(indices)));
                    }
                    if (error < bestError) {
                        bestError = error;
                        bestD = dIndex;
                        bestIndices = indices;
                    }
                }
                // Move the colours to the means their pixels ask for, less their offsets.
                const int32_t d = etc::kDistances[bestD];
                sums = {};
                counts = {};
                for (size_t i = 0; i < 16; ++i) {
                    if (withTransparency && pixels[i][3] < 128) continue;
                    const uint32_t index = bestIndices[i];
                    size_t g = 0;
                    int32_t offset = 0;
                    if (hMode) {
                        g = index >> 1;
                        offset = (index & 1) ? -d : d;
                    } else {
                        g = index == 0 ? 0 : 1;
                        offset = index == 1 ? d : (index == 3 ? -d : 0);
                    }
                    ++counts[g];
                    for (size_t c = 0; c < 3; ++c)
                        sums[g][c] += pixels[i][c] - offset;
                }
                for (size_t g = 0; g < 2; ++g)
                    for (size_t c = 0; c < 3; ++c)
                        sums[g][c] = std::max<int64_t>(sums[g][c], 0);
                if (counts[0] > 0) q1 = Quantize4(sums[0], counts[0]);
                if (counts[1] > 0) q2 = Quantize4(sums[1], counts[1]);
            }
        }
    }
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
            const SubFit f1 = BestOf(SearchHalf(a, false, false, low, high));
            const SubFit f2 = BestOf(SearchHalf(b, false, false, low, high));
            consider(PackIndividual(f1, f2, flip, PackIndices(f1, a, f2, b)));
        }
        SubFit f1;
        SubFit f2;
        if (BestDifferential(a, b, anyTransparent, f1, f2)) {
            // Bit 33 is the differential flag, or for punch-through the opaque flag.
            consider(PackDifferential(f1, f2, flip, !anyTransparent, PackIndices(f1, a, f2, b)));
        }
        if (bestError == 0) return best;
    }
    if (target != EtcTarget::kEtc1) {
        if (!anyTransparent) consider(EncodePlanarBlock(pixels));
        if (bestError != 0) TryTAndH(pixels, anyTransparent, consider);
    }
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
