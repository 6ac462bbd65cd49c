#include "image/EtcDecode.h"

#include "image/EtcTables.h"

#include <array>

namespace kestrel::image {

namespace {

using etc::Clamp255;
using etc::Extend4;
using etc::Extend5;
using etc::Extend6;
using etc::Extend7;

constexpr uint32_t Bits(uint64_t block, int hi, int lo) {
    return static_cast<uint32_t>((block >> lo) & ((uint64_t{1} << (hi - lo + 1)) - 1));
}

using Rgb = std::array<int32_t, 3>;

// ETC index of pixel (x, y): low bit at bit x * 4 + y, high bit 16 above it.
uint32_t PixelIndex(uint64_t block, uint32_t x, uint32_t y) {
    const uint32_t i = x * 4 + y;
    return Bits(block, static_cast<int>(i), static_cast<int>(i)) |
           (Bits(block, static_cast<int>(i + 16), static_cast<int>(i + 16)) << 1);
}

void SetPixel(Block4x4& out, uint32_t x, uint32_t y, const Rgb& c, int32_t add) {
    out[y * 4 + x] = {static_cast<uint8_t>(Clamp255(c[0] + add)),
                      static_cast<uint8_t>(Clamp255(c[1] + add)),
                      static_cast<uint8_t>(Clamp255(c[2] + add)), 255};
}

// The four paint colours of the T and H modes, chosen per pixel by its index.
void DecodePaintColors(uint64_t block, const std::array<Rgb, 4>& paint, bool opaque,
                       Block4x4& out) {
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t index = PixelIndex(block, x, y);
            if (!opaque && index == 2) {
                out[y * 4 + x] = {0, 0, 0, 0};
            } else {
                SetPixel(out, x, y, paint[index], 0);
            }
        }
    }
}

void DecodeTMode(uint64_t block, bool opaque, Block4x4& out) {
    const Rgb c1{Extend4((Bits(block, 60, 59) << 2) | Bits(block, 57, 56)),
                 Extend4(Bits(block, 55, 52)), Extend4(Bits(block, 51, 48))};
    const Rgb c2{Extend4(Bits(block, 47, 44)), Extend4(Bits(block, 43, 40)),
                 Extend4(Bits(block, 39, 36))};
    const int32_t d = etc::kDistances[(Bits(block, 35, 34) << 1) | Bits(block, 32, 32)];
    const std::array<Rgb, 4> paint{c1, Rgb{c2[0] + d, c2[1] + d, c2[2] + d}, c2,
                                   Rgb{c2[0] - d, c2[1] - d, c2[2] - d}};
    DecodePaintColors(block, paint, opaque, out);
}

void DecodeHMode(uint64_t block, bool opaque, Block4x4& out) {
    const std::array<uint32_t, 3> q1{Bits(block, 62, 59),
                                     (Bits(block, 58, 56) << 1) | Bits(block, 52, 52),
                                     (Bits(block, 51, 51) << 3) | Bits(block, 49, 47)};
    const std::array<uint32_t, 3> q2{Bits(block, 46, 43), Bits(block, 42, 39), Bits(block, 38, 35)};
    // The distance's lowest bit is not stored: it is whether the first colour is the larger.
    const uint32_t v1 = (q1[0] << 8) | (q1[1] << 4) | q1[2];
    const uint32_t v2 = (q2[0] << 8) | (q2[1] << 4) | q2[2];
    const uint32_t dIndex =
        (Bits(block, 34, 34) << 2) | (Bits(block, 32, 32) << 1) | (v1 >= v2 ? 1u : 0u);
    const int32_t d = etc::kDistances[dIndex];
    const Rgb c1{Extend4(q1[0]), Extend4(q1[1]), Extend4(q1[2])};
    const Rgb c2{Extend4(q2[0]), Extend4(q2[1]), Extend4(q2[2])};
    const std::array<Rgb, 4> paint{
        Rgb{c1[0] + d, c1[1] + d, c1[2] + d}, Rgb{c1[0] - d, c1[1] - d, c1[2] - d},
        Rgb{c2[0] + d, c2[1] + d, c2[2] + d}, Rgb{c2[0] - d, c2[1] - d, c2[2] - d}};
    DecodePaintColors(block, paint, opaque, out);
}

void DecodePlanar(uint64_t block, Block4x4& out) {
    const Rgb o{
        Extend6(Bits(block, 62, 57)), Extend7((Bits(block, 56, 56) << 6) | Bits(block, 54, 49)),
        Extend6((Bits(block, 48, 48) << 5) | (Bits(block, 44, 43) << 3) | Bits(block, 41, 39))};
    const Rgb h{Extend6((Bits(block, 38, 34) << 1) | Bits(block, 32, 32)),
                Extend7(Bits(block, 31, 25)), Extend6(Bits(block, 24, 19))};
    const Rgb v{Extend6(Bits(block, 18, 13)), Extend7(Bits(block, 12, 6)),
                Extend6(Bits(block, 5, 0))};
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            auto& px = out[static_cast<size_t>(y * 4 + x)];
            for (size_t c = 0; c < 3; ++c) {
                const int32_t value = (x * (h[c] - o[c]) + y * (v[c] - o[c]) + 4 * o[c] + 2) >> 2;
                px[c] = static_cast<uint8_t>(Clamp255(value));
            }
            px[3] = 255;
        }
    }
}

void DecodeSubBlocks(uint64_t block, const Rgb& base1, const Rgb& base2, bool opaque,
                     Block4x4& out) {
    const uint32_t table1 = Bits(block, 39, 37);
    const uint32_t table2 = Bits(block, 36, 34);
    const bool flip = Bits(block, 32, 32) != 0;
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const bool second = flip ? y >= 2 : x >= 2;
            const uint32_t index = PixelIndex(block, x, y);
            if (!opaque && index == 2) {
                out[y * 4 + x] = {0, 0, 0, 0};
                continue;
            }
            // Without the opaque flag the small step is replaced by no change at all.
            const int32_t table = static_cast<int32_t>(second ? table2 : table1);
            const int32_t add = (!opaque && index == 0) ? 0 : etc::ModifierOf(table, index);
            SetPixel(out, x, y, second ? base2 : base1, add);
        }
    }
}

} // namespace

void DecodeEtcColorBlock(uint64_t block, bool etc1Only, bool punchThrough, Block4x4& out) {
    const bool flag = Bits(block, 33, 33) != 0;
    const bool opaque = punchThrough ? flag : true;
    const bool differential = punchThrough || flag;
    if (!differential) {
        const Rgb base1{Extend4(Bits(block, 63, 60)), Extend4(Bits(block, 55, 52)),
                        Extend4(Bits(block, 47, 44))};
        const Rgb base2{Extend4(Bits(block, 59, 56)), Extend4(Bits(block, 51, 48)),
                        Extend4(Bits(block, 43, 40))};
        DecodeSubBlocks(block, base1, base2, opaque, out);
        return;
    }
    const std::array<int32_t, 3> first{static_cast<int32_t>(Bits(block, 63, 59)),
                                       static_cast<int32_t>(Bits(block, 55, 51)),
                                       static_cast<int32_t>(Bits(block, 47, 43))};
    const std::array<int32_t, 3> second{first[0] + etc::Delta3(Bits(block, 58, 56)),
                                        first[1] + etc::Delta3(Bits(block, 50, 48)),
                                        first[2] + etc::Delta3(Bits(block, 42, 40))};
    auto overflows = [&](size_t c) { return second[c] < 0 || second[c] > 31; };
    if (!etc1Only && overflows(0)) return DecodeTMode(block, opaque, out);
    if (!etc1Only && overflows(1)) return DecodeHMode(block, opaque, out);
    if (!etc1Only && overflows(2)) return DecodePlanar(block, out);
    // ETC1 leaves overflowing sums undefined; they wrap to 5 bits here.
    const Rgb base1{Extend5(static_cast<uint32_t>(first[0])),
                    Extend5(static_cast<uint32_t>(first[1])),
                    Extend5(static_cast<uint32_t>(first[2]))};
    const Rgb base2{Extend5(static_cast<uint32_t>(second[0]) & 31),
                    Extend5(static_cast<uint32_t>(second[1]) & 31),
                    Extend5(static_cast<uint32_t>(second[2]) & 31)};
    DecodeSubBlocks(block, base1, base2, opaque, out);
}

void DecodeEacAlphaBlock(uint64_t block, std::array<uint8_t, 16>& out) {
    const int32_t base = static_cast<int32_t>(Bits(block, 63, 56));
    const int32_t multiplier = static_cast<int32_t>(Bits(block, 55, 52));
    const auto& table = etc::kEacModifiers[Bits(block, 51, 48)];
    for (uint32_t x = 0; x < 4; ++x) {
        for (uint32_t y = 0; y < 4; ++y) {
            const int shift = static_cast<int>(45 - 3 * (x * 4 + y));
            const int32_t mod = table[Bits(block, shift + 2, shift)];
            out[y * 4 + x] = static_cast<uint8_t>(Clamp255(base + mod * multiplier));
        }
    }
}

void DecodeEac11Block(uint64_t block, bool isSigned, std::array<int32_t, 16>& out) {
    int32_t base = static_cast<int32_t>(Bits(block, 63, 56));
    if (isSigned) base = base >= 128 ? (base == 128 ? -127 : base - 256) : base;
    const int32_t multiplier = static_cast<int32_t>(Bits(block, 55, 52));
    const auto& table = etc::kEacModifiers[Bits(block, 51, 48)];
    const int32_t low = isSigned ? -1023 : 0;
    const int32_t high = isSigned ? 1023 : 2047;
    for (uint32_t x = 0; x < 4; ++x) {
        for (uint32_t y = 0; y < 4; ++y) {
            const int shift = static_cast<int>(45 - 3 * (x * 4 + y));
            const int32_t mod = table[Bits(block, shift + 2, shift)];
            // A zero multiplier steps by single 11-bit units instead of eights.
            const int32_t step = multiplier == 0 ? mod : mod * multiplier * 8;
            const int32_t value = base * 8 + (isSigned ? 0 : 4) + step;
            out[y * 4 + x] = value < low ? low : (value > high ? high : value);
        }
    }
}

uint8_t Eac11To8(int32_t value, bool isSigned) {
    if (!isSigned) return static_cast<uint8_t>((value * 255 + 1023) / 2047);
    const int32_t magnitude = ((value < 0 ? -value : value) * 127 + 511) / 1023;
    return static_cast<uint8_t>(value < 0 ? 128 - magnitude : 128 + magnitude);
}

uint16_t Eac11To16(int32_t value, bool isSigned) {
    if (!isSigned) return static_cast<uint16_t>((value << 5) | (value >> 6));
    const int32_t magnitude = ((value < 0 ? -value : value) * 32767 + 511) / 1023;
    return static_cast<uint16_t>(value < 0 ? 32768 - magnitude : 32768 + magnitude);
}

namespace {

constexpr BlockShape kHalfBlock{4, 4, 8};
constexpr BlockShape kFullBlock{4, 4, 16};

void DecodeColorLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                      ImagePlane& out, bool etc1Only, bool punchThrough, const char* name) {
    const BlockGrid grid = CheckBlockLevel(data, width, height, kHalfBlock, name);
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    Block4x4 block{};
    for (uint32_t by = 0; by < grid.blocksY; ++by) {
        for (uint32_t bx = 0; bx < grid.blocksX; ++bx) {
            const auto bytes = BlockBytes(data, kHalfBlock, uint64_t{by} * grid.blocksX + bx);
            DecodeEtcColorBlock(BigEndian64(bytes), etc1Only, punchThrough, block);
            PutBlock(block, bx, by, out);
        }
    }
}

// EAC R11 (one block a 4 x 4 pixels) or RG11 (an R block then a G block).
void DecodeEacLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out,
                    bool twoChannels, bool isSigned, bool wide, const char* name) {
    const BlockShape shape = twoChannels ? kFullBlock : kHalfBlock;
    const BlockGrid grid = CheckBlockLevel(data, width, height, shape, name);
    out = ImagePlane::Make(width, height, wide ? PixelKind::kRgba16 : PixelKind::kRgba8);
    std::array<int32_t, 16> values{};
    Block4x4 block{};
    Block4x4Wide wideBlock{};
    for (uint32_t by = 0; by < grid.blocksY; ++by) {
        for (uint32_t bx = 0; bx < grid.blocksX; ++bx) {
            const auto bytes = BlockBytes(data, shape, uint64_t{by} * grid.blocksX + bx);
            for (auto& px : block)
                px = {0, 0, 0, 255};
            for (auto& px : wideBlock)
                px = {0, 0, 0, 65535};
            for (size_t c = 0; c < (twoChannels ? 2u : 1u); ++c) {
                DecodeEac11Block(BigEndian64(bytes.subspan(c * 8, 8)), isSigned, values);
                for (size_t i = 0; i < 16; ++i) {
                    block[i][c] = Eac11To8(values[i], isSigned);
                    wideBlock[i][c] = Eac11To16(values[i], isSigned);
                }
            }
            if (wide) {
                PutBlock(wideBlock, bx, by, out);
            } else {
                PutBlock(block, bx, by, out);
            }
        }
    }
}

} // namespace

void DecodeEtc1(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeColorLevel(data, width, height, out, true, false, "ETC_RGB4");
}

void DecodeEtc2Rgb(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                   ImagePlane& out) {
    DecodeColorLevel(data, width, height, out, false, false, "ETC2_RGB");
}

void DecodeEtc2Rgba1(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                     ImagePlane& out) {
    DecodeColorLevel(data, width, height, out, false, true, "ETC2_RGBA1");
}

void DecodeEtc2Rgba8(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                     ImagePlane& out) {
    const BlockGrid grid = CheckBlockLevel(data, width, height, kFullBlock, "ETC2_RGBA8");
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    Block4x4 block{};
    std::array<uint8_t, 16> alpha{};
    for (uint32_t by = 0; by < grid.blocksY; ++by) {
        for (uint32_t bx = 0; bx < grid.blocksX; ++bx) {
            const auto bytes = BlockBytes(data, kFullBlock, uint64_t{by} * grid.blocksX + bx);
            DecodeEacAlphaBlock(BigEndian64(bytes.subspan(0, 8)), alpha);
            DecodeEtcColorBlock(BigEndian64(bytes.subspan(8, 8)), false, false, block);
            for (size_t i = 0; i < 16; ++i)
                block[i][3] = alpha[i];
            PutBlock(block, bx, by, out);
        }
    }
}

void DecodeEacR(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, false, false, false, "EAC_R");
}
void DecodeEacRSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                      ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, false, true, false, "EAC_R_SIGNED");
}
void DecodeEacRg(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, true, false, false, "EAC_RG");
}
void DecodeEacRgSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                       ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, true, true, false, "EAC_RG_SIGNED");
}
void DecodeEacR16(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, false, false, true, "EAC_R");
}
void DecodeEacRSigned16(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                        ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, false, true, true, "EAC_R_SIGNED");
}
void DecodeEacRg16(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                   ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, true, false, true, "EAC_RG");
}
void DecodeEacRgSigned16(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                         ImagePlane& out) {
    DecodeEacLevel(data, width, height, out, true, true, true, "EAC_RG_SIGNED");
}

} // namespace kestrel::image
