#include "image/AtcCodec.h"

#include <algorithm>
#include <array>

namespace kestrel::image {

namespace {

using Rgb = std::array<int32_t, 3>;

int32_t Expand(uint32_t value, int bits) {
    const uint32_t shifted = value << (8 - bits);
    return static_cast<int32_t>(shifted | (shifted >> bits));
}

} // namespace

void DecodeAtcColorBlock(std::span<const uint8_t> block, Block4x4& out) {
    const uint32_t c0 = block[0] | (uint32_t{block[1]} << 8);
    const uint32_t c1 = block[2] | (uint32_t{block[3]} << 8);
    // The first colour is RGB 555 whose top bit chooses the palette; the second is RGB 565.
    const Rgb first{Expand((c0 >> 10) & 31, 5), Expand((c0 >> 5) & 31, 5), Expand(c0 & 31, 5)};
    const Rgb second{Expand((c1 >> 11) & 31, 5), Expand((c1 >> 5) & 63, 6), Expand(c1 & 31, 5)};
    std::array<Rgb, 4> palette{};
    for (size_t c = 0; c < 3; ++c) {
        if ((c0 & 0x8000) == 0) {
            palette[0][c] = first[c];
            palette[1][c] = (5 * first[c] + 3 * second[c]) / 8;
            palette[2][c] = (3 * first[c] + 5 * second[c]) / 8;
        } else {
            palette[0][c] = 0;
            palette[1][c] = std::max(0, first[c] - second[c] / 4);
            palette[2][c] = first[c];
        }
        palette[3][c] = second[c];
    }
    for (size_t i = 0; i < 16; ++i) {
        const uint32_t index = (block[4 + i / 4] >> (2 * (i % 4))) & 3;
        const Rgb& color = palette[index];
        out[i] = {static_cast<uint8_t>(color[0]), static_cast<uint8_t>(color[1]),
                  static_cast<uint8_t>(color[2]), 255};
    }
}

void DecodeInterpolatedAlphaBlock(std::span<const uint8_t> block, Block4x4& out) {
    const uint32_t a0 = block[0];
    const uint32_t a1 = block[1];
    std::array<uint32_t, 8> values{a0, a1};
    if (a0 > a1) {
        for (uint32_t i = 1; i < 7; ++i)
            values[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (uint32_t i = 1; i < 5; ++i)
            values[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        values[6] = 0;
        values[7] = 255;
    }
    uint64_t indices = 0;
    for (size_t i = 0; i < 6; ++i)
        indices |= uint64_t{block[2 + i]} << (8 * i);
    for (size_t i = 0; i < 16; ++i)
        out[i][3] = static_cast<uint8_t>(values[(indices >> (3 * i)) & 7]);
}

namespace {

void DecodeAtcLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out,
                    bool withAlpha) {
    const BlockShape shape{4, 4, withAlpha ? 16u : 8u};
    const BlockGrid grid =
        CheckBlockLevel(data, width, height, shape, withAlpha ? "ATC_RGBA8" : "ATC_RGB4");
    out = ImagePlane::Make(width, height, PixelKind::kRgba8);
    Block4x4 block{};
    for (uint32_t by = 0; by < grid.blocksY; ++by) {
        for (uint32_t bx = 0; bx < grid.blocksX; ++bx) {
            const auto bytes = BlockBytes(data, shape, uint64_t{by} * grid.blocksX + bx);
            DecodeAtcColorBlock(bytes.subspan(withAlpha ? 8 : 0, 8), block);
            if (withAlpha) DecodeInterpolatedAlphaBlock(bytes.subspan(0, 8), block);
            PutBlock(block, bx, by, out);
        }
    }
}

} // namespace

void DecodeAtcRgb4(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                   ImagePlane& out) {
    DecodeAtcLevel(data, width, height, out, false);
}

void DecodeAtcRgba8(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                    ImagePlane& out) {
    DecodeAtcLevel(data, width, height, out, true);
}

} // namespace kestrel::image
