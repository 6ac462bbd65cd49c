#include "image/PvrtcCodec.h"

#include "common/Error.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <vector>

namespace kestrel::image {

namespace {

// A block colour widened to 5 bits for red, green and blue and 4 bits for alpha.
using Color = std::array<int32_t, 4>;

struct Geometry {
    uint32_t blockWidth; // 8 pixels at 2 bits a pixel, 4 at 4
    uint32_t blocksX;
    uint32_t blocksY;
};

Geometry GeometryOf(uint32_t width, uint32_t height, bool twoBpp) {
    const uint32_t blockWidth = twoBpp ? 8 : 4;
    return {blockWidth, std::max((width + blockWidth - 1) / blockWidth, 2u),
            std::max((height + 3) / 4, 2u)};
}

int32_t Widen4To5(uint32_t v) {
    return static_cast<int32_t>((v << 1) | (v >> 3));
}

// Colour A takes bits 1..15 of the colour word (bit 0 is the modulation mode), colour B bits
// 16..31; the top bit of each chooses opaque RGB or translucent ARGB with 3 alpha bits.
Color ColorA(uint32_t word) {
    if (word & 0x8000) {
        return {static_cast<int32_t>((word >> 10) & 31), static_cast<int32_t>((word >> 5) & 31),
                Widen4To5((word >> 1) & 15), 15};
    }
    const uint32_t b3 = (word >> 1) & 7;
    return {Widen4To5((word >> 8) & 15), Widen4To5((word >> 4) & 15),
            static_cast<int32_t>((b3 << 2) | (b3 >> 1)),
            static_cast<int32_t>(((word >> 12) & 7) << 1)};
}

Color ColorB(uint32_t word) {
    const uint32_t c = word >> 16;
    if (c & 0x8000) {
        return {static_cast<int32_t>((c >> 10) & 31), static_cast<int32_t>((c >> 5) & 31),
                static_cast<int32_t>(c & 31), 15};
    }
    return {Widen4To5((c >> 8) & 15), Widen4To5((c >> 4) & 15), Widen4To5(c & 15),
            static_cast<int32_t>(((c >> 12) & 7) << 1)};
}

constexpr std::array<int32_t, 4> kWeights{0, 3, 5, 8};
constexpr std::array<int32_t, 4> kPunchWeights{0, 4, 4, 8};

// Modulation of every pixel of the padded level: the stored 2-bit value (0..3) and, per block,
// its mode (4 bpp: punch-through; 2 bpp: 0 one bit a pixel, 1 average of four neighbours,
// 2 horizontal, 3 vertical neighbours for the pixels not stored).
struct Modulation {
    std::vector<uint8_t> values;
    std::vector<uint8_t> modes; // per block
};

void UnpackModulation(uint32_t mod, uint32_t colorWord, bool twoBpp, uint32_t bx, uint32_t by,
                      const Geometry& g, Modulation& m) {
    const uint32_t rowPixels = g.blocksX * g.blockWidth;
    auto at = [&](uint32_t x, uint32_t y) -> uint8_t& {
        return m.values[size_t{by * 4 + y} * rowPixels + bx * g.blockWidth + x];
    };
    uint8_t mode = static_cast<uint8_t>(colorWord & 1);
    if (!twoBpp) {
        for (uint32_t i = 0; i < 16; ++i)
            at(i % 4, i / 4) = static_cast<uint8_t>((mod >> (2 * i)) & 3);
    } else if (mode == 0) {
        for (uint32_t i = 0; i < 32; ++i)
            at(i % 8, i / 8) = ((mod >> i) & 1) ? 3 : 0;
    } else {
        // The first pixel's low bit chooses the interpolation; with it set, the low bit of the
        // pixel at (4, 2) chooses vertical over horizontal. Both pixels then repeat their high bit.
        if (mod & 1) {
            mode = (mod & (1u << 20)) ? 3 : 2;
            mod = (mod & (1u << 21)) ? (mod | (1u << 20)) : (mod & ~(1u << 20));
        }
        mod = (mod & 2) ? (mod | 1u) : (mod & ~1u);
        uint32_t next = 0;
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 8; ++x) {
                if (((x ^ y) & 1) == 0) at(x, y) = static_cast<uint8_t>((mod >> (2 * next++)) & 3);
            }
        }
    }
    m.modes[size_t{by} * g.blocksX + bx] = mode;
}

// The weight of colour B (0..8) at pixel (x, y); `punch` marks a punch-through pixel.
int32_t WeightAt(const Modulation& m, const Geometry& g, bool twoBpp, uint32_t x, uint32_t y,
                 bool& punch) {
    const uint32_t w = g.blocksX * g.blockWidth;
    const uint32_t h = g.blocksY * 4;
    auto value = [&](int64_t px, int64_t py) {
        const auto wx = static_cast<uint32_t>((px + w) % w);
        const auto wy = static_cast<uint32_t>((py + h) % h);
        return kWeights[m.values[size_t{wy} * w + wx]];
    };
    const uint8_t mode = m.modes[size_t{y / 4} * g.blocksX + x / g.blockWidth];
    const uint8_t stored = m.values[size_t{y} * w + x];
    punch = false;
    if (!twoBpp) {
        punch = mode != 0 && stored == 2;
        return mode != 0 ? kPunchWeights[stored] : kWeights[stored];
    }
    if (mode == 0 || ((x ^ y) & 1) == 0) return kWeights[stored];
    const int64_t sx = x;
    const int64_t sy = y;
    if (mode == 1) {
        return (value(sx - 1, sy) + value(sx + 1, sy) + value(sx, sy - 1) + value(sx, sy + 1) + 2) /
               4;
    }
    if (mode == 2) return (value(sx - 1, sy) + value(sx + 1, sy) + 1) / 2;
    return (value(sx, sy - 1) + value(sx, sy + 1) + 1) / 2;
}

// Bilinear weights of the four blocks around pixel (x, y): each block's colour sits at its
// centre, so the pixel lies between the block half a block up-left of it and its neighbours.
Color Upscale(const std::vector<Color>& colors, const Geometry& g, uint32_t x, uint32_t y) {
    const int64_t sx = int64_t{x} - g.blockWidth / 2;
    const int64_t sy = int64_t{y} - 2;
    const int64_t x0 = sx >= 0 ? sx / g.blockWidth : -1;
    const int64_t y0 = sy >= 0 ? sy / 4 : -1;
    const auto u = static_cast<int32_t>(sx - x0 * g.blockWidth);
    const auto v = static_cast<int32_t>(sy - y0 * 4);
    const uint32_t xa = static_cast<uint32_t>((x0 + g.blocksX) % g.blocksX);
    const uint32_t xb = static_cast<uint32_t>((x0 + 1) % g.blocksX);
    const uint32_t ya = static_cast<uint32_t>((y0 + g.blocksY) % g.blocksY);
    const uint32_t yb = static_cast<uint32_t>((y0 + 1) % g.blocksY);
    const auto bw = static_cast<int32_t>(g.blockWidth);
    const Color& p = colors[size_t{ya} * g.blocksX + xa];
    const Color& q = colors[size_t{ya} * g.blocksX + xb];
    const Color& r = colors[size_t{yb} * g.blocksX + xa];
    const Color& s = colors[size_t{yb} * g.blocksX + xb];
    Color out{};
    for (size_t c = 0; c < 4; ++c) {
        int32_t sum =
            p[c] * (bw - u) * (4 - v) + q[c] * u * (4 - v) + r[c] * (bw - u) * v + s[c] * u * v;
        if (bw == 8) sum >>= 1; // to sixteenths, as at 4 bits a pixel
        // Sixteenths of 5-bit colour (4-bit alpha) to 8 bits, as bit replication would.
        out[c] = c < 3 ? (sum >> 1) + (sum >> 6) : sum + (sum >> 4);
    }
    return out;
}

void DecodePvrtc(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out,
                 bool twoBpp) {
    const char* name = twoBpp ? "PVRTC 2 bpp" : "PVRTC 4 bpp";
    const Geometry g = GeometryOf(width, height, twoBpp);
    if (width == 0 || height == 0 || !std::has_single_bit(g.blocksX) ||
        !std::has_single_bit(g.blocksY)) {
        throw KestrelError(std::string(name) + " level at offset 0x0 is not a power-of-two size");
    }
    if (data.size() != PvrtcLevelBytes(width, height, twoBpp)) {
        throw KestrelError(std::string(name) + " level at offset 0x0 has the wrong byte count");
    }
    const size_t blocks = size_t{g.blocksX} * g.blocksY;
    std::vector<Color> colorsA(blocks);
    std::vector<Color> colorsB(blocks);
    Modulation m{std::vector<uint8_t>(blocks * g.blockWidth * 4), std::vector<uint8_t>(blocks)};
    for (uint32_t by = 0; by < g.blocksY; ++by) {
        for (uint32_t bx = 0; bx < g.blocksX; ++bx) {
            const auto bytes = data.subspan(PvrtcBlockIndex(bx, by, g.blocksX, g.blocksY) * 8, 8);
            uint32_t mod = 0;
            uint32_t colorWord = 0;
            for (size_t i = 0; i < 4; ++i) {
                mod |= uint32_t{bytes[i]} << (8 * i);
                colorWord |= uint32_t{bytes[4 + i]} << (8 * i);
            }
            colorsA[size_t{by} * g.blocksX + bx] = ColorA(colorWord);
            colorsB[size_t{by} * g.blocksX + bx] = ColorB(colorWord);
            UnpackModulation(mod, colorWord, twoBpp, bx, by, g, m);
        }
    }
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            bool punch = false;
            const int32_t w = WeightAt(m, g, twoBpp, x, y, punch);
            const Color a = Upscale(colorsA, g, x, y);
            const Color b = Upscale(colorsB, g, x, y);
            uint8_t* px = &out.rgba8[(size_t{y} * width + x) * 4];
            for (size_t c = 0; c < 4; ++c)
                px[c] = static_cast<uint8_t>((a[c] * (8 - w) + b[c] * w) / 8);
            if (punch) px[3] = 0;
        }
    }
}

} // namespace

uint64_t PvrtcLevelBytes(uint32_t width, uint32_t height, bool twoBpp) {
    const Geometry g = GeometryOf(width, height, twoBpp);
    return uint64_t{g.blocksX} * g.blocksY * 8;
}

uint64_t PvrtcBlockIndex(uint32_t bx, uint32_t by, uint32_t blocksX, uint32_t blocksY) {
    // Bits of y and x alternate, y lowest, up to the shorter side; the longer side's remaining
    // bits follow on top.
    const uint32_t shorter = std::min(blocksX, blocksY);
    uint64_t index = 0;
    int bit = 0;
    for (uint32_t s = 1; s < shorter; s <<= 1, bit += 2) {
        if (by & s) index |= uint64_t{1} << bit;
        if (bx & s) index |= uint64_t{1} << (bit + 1);
    }
    const uint32_t rest = (blocksX > blocksY ? bx : by) >> (bit / 2);
    return index | (uint64_t{rest} << bit);
}

void DecodePvrtc2(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodePvrtc(data, width, height, out, true);
}

void DecodePvrtc4(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out) {
    DecodePvrtc(data, width, height, out, false);
}

} // namespace kestrel::image
