#include "texture/TexturePixels.h"

#include "common/Error.h"
#include "texture/TextureFormats.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kestrel {
namespace {

uint32_t LoadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Rotate16(uint32_t v) {
    return (v >> 16) | (v << 16);
}

[[noreturn]] void LevelDoesNotFit(int32_t width, int32_t height, uint32_t level,
                                  uint64_t imageSize) {
    throw KestrelError("Texture sizes do not fit its image data: width " + std::to_string(width) +
                       ", height " + std::to_string(height) + ", level " + std::to_string(level) +
                       " ends after the image size " + std::to_string(imageSize));
}

struct FlipCursor {
    std::vector<uint8_t>& out;
    std::span<const uint8_t> image;
    uint64_t consumed = 0;
};

void WriteFlippedBlockLevels(FlipCursor& c, int32_t width, int32_t height, BytesPerPixel bpp,
                             uint32_t levels, int32_t format) {
    const uint64_t blockSize = format == texfmt::kDXT1 || format == texfmt::kBC4 ? 8 : 16;
    auto w = static_cast<uint64_t>(width);
    auto h = static_cast<uint64_t>(height);
    for (uint32_t level = 1; level <= levels; ++level) {
        const uint64_t bw = w / 4;
        const uint64_t bh = h / 4;
        const uint64_t levelSize = bpp.Bytes(w, h);
        const uint64_t rowBytes = CheckedMul(bw, blockSize, "block row");
        const uint64_t left = c.image.size() - c.consumed;
        if (levelSize > left || CheckedMul(rowBytes, bh, "block level") > left) {
            LevelDoesNotFit(width, height, level, c.image.size());
        }
        const uint8_t* start = c.image.data() + c.consumed;
        for (uint64_t r = bh; r-- > 0;) {
            const size_t at = c.out.size();
            c.out.insert(c.out.end(), start + r * rowBytes, start + (r + 1) * rowBytes);
            for (uint64_t b = 0; b < bw; ++b) {
                uint8_t* block = c.out.data() + at + b * blockSize;
                if (format == texfmt::kDXT1) {
                    FlipDXT1Block(block);
                } else if (format == texfmt::kDXT3) {
                    FlipDXT3Block(block);
                } else if (format == texfmt::kDXT5) {
                    FlipDXT5Block(block);
                } else {
                    // BC4 is one alpha-style block of a single channel, BC5 two of them.
                    FlipDXT5AlphaRows(block + 2);
                    if (format == texfmt::kBC5) FlipDXT5AlphaRows(block + 10);
                }
            }
        }
        c.consumed += levelSize;
        if (level != levels) {
            w = std::max<uint64_t>(w / 2, 4);
            h = std::max<uint64_t>(h / 2, 4);
        }
    }
}

void WriteFlippedPixelLevels(FlipCursor& c, int32_t width, int32_t height, BytesPerPixel bpp,
                             uint32_t levels) {
    auto w = static_cast<uint64_t>(width);
    auto h = static_cast<uint64_t>(height);
    for (uint32_t level = 1; level <= levels && w != 0 && h != 0; ++level) {
        // Levels of zero width or height hold nothing; the halving keeps them at zero.
        const uint64_t levelSize = bpp.Bytes(w, h);
        if (levelSize > c.image.size() - c.consumed) {
            LevelDoesNotFit(width, height, level, c.image.size());
        }
        c.consumed += levelSize;
        const uint64_t row = bpp.Bytes(w, 1);
        // With a fractional byte count the rounded rows may cover more than the level; they
        // must still start inside the image.
        if (CheckedMul(row, h, "pixel rows") > c.consumed) {
            LevelDoesNotFit(width, height, level, c.image.size());
        }
        const uint8_t* p = c.image.data() + c.consumed;
        for (uint64_t r = 0; r < h; ++r) {
            p -= row;
            c.out.insert(c.out.end(), p, p + row);
        }
        w /= 2;
        h /= 2;
    }
}

} // namespace

void SwapRB24(std::span<uint8_t> pixels) {
    for (size_t i = 0; i + 3 <= pixels.size(); i += 3)
        std::swap(pixels[i], pixels[i + 2]);
}

void SwapRB32(std::span<uint8_t> pixels) {
    for (size_t i = 0; i + 4 <= pixels.size(); i += 4)
        std::swap(pixels[i], pixels[i + 2]);
}

void Reverse32(std::span<uint8_t> pixels) {
    for (size_t i = 0; i + 4 <= pixels.size(); i += 4) {
        std::reverse(pixels.begin() + static_cast<std::ptrdiff_t>(i),
                     pixels.begin() + static_cast<std::ptrdiff_t>(i + 4));
    }
}

void Rotate4444(std::span<uint8_t> pixels) {
    for (size_t i = 0; i + 2 <= pixels.size(); i += 2) {
        const auto v = static_cast<uint16_t>(pixels[i] | (pixels[i + 1] << 8));
        const auto r = static_cast<uint16_t>((v >> 4) | (v << 12));
        pixels[i] = static_cast<uint8_t>(r);
        pixels[i + 1] = static_cast<uint8_t>(r >> 8);
    }
}

void ConvertChannelsForDDS(int32_t format, std::span<uint8_t> pixels) {
    switch (format) {
    case texfmt::kRGB24:
        SwapRB24(pixels);
        break;
    case texfmt::kRGBA32:
        SwapRB32(pixels);
        break;
    case texfmt::kARGB32:
        Reverse32(pixels);
        break;
    case texfmt::kRGBA4444:
        Rotate4444(pixels);
        break;
    default:
        break;
    }
}

void FlipDXT1Block(uint8_t* block) {
    std::reverse(block + 4, block + 8);
}

void FlipDXT3Block(uint8_t* block) {
    const uint32_t a = LoadLE32(block);
    const uint32_t b = LoadLE32(block + 4);
    StoreLE32(block, Rotate16(b));
    StoreLE32(block + 4, Rotate16(a));
    std::reverse(block + 12, block + 16);
}

void FlipDXT5Block(uint8_t* block) {
    FlipDXT5AlphaRows(block + 2);
    std::reverse(block + 12, block + 16);
}

void FlipDXT5AlphaRows(uint8_t* bits) {
    const unsigned b0 = bits[0], b1 = bits[1], b2 = bits[2], b3 = bits[3], b4 = bits[4],
                   b5 = bits[5];
    bits[0] = static_cast<uint8_t>((b5 << 4) | (b4 >> 4));
    bits[1] = static_cast<uint8_t>((b3 << 4) | (b5 >> 4));
    bits[2] = static_cast<uint8_t>((b4 << 4) | (b3 >> 4));
    bits[3] = static_cast<uint8_t>((b2 << 4) | (b1 >> 4));
    bits[4] = static_cast<uint8_t>((b0 << 4) | (b2 >> 4));
    bits[5] = static_cast<uint8_t>((b1 << 4) | (b0 >> 4));
}

void WriteFlippedLevels(std::vector<uint8_t>& out, std::span<const uint8_t> image, int32_t width,
                        int32_t height, BytesPerPixel bytesPerPixel, uint32_t levels,
                        int32_t format) {
    if (width < 0 || height < 0) LevelDoesNotFit(width, height, 1, image.size());
    FlipCursor cursor{out, image};
    out.reserve(out.size() + image.size());
    if (IsFlippedBlockFormat(format)) {
        WriteFlippedBlockLevels(cursor, width, height, bytesPerPixel, levels, format);
    } else {
        WriteFlippedPixelLevels(cursor, width, height, bytesPerPixel, levels);
    }
    if (cursor.consumed < image.size()) {
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(cursor.consumed),
                   image.end());
    }
}

} // namespace kestrel
