#pragma once
// Walks the 4 x 4 blocks of one level: checks the level's size, decodes each block into 16
// texels and keeps the ones inside the picture (edges that are not multiples of 4 are cropped).
#include "common/Error.h"
#include "image/DecodedImage.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

namespace kestrel::image {

// No engine texture has a level edge near this; larger edges in a texture object are damage.
inline constexpr uint32_t kMaxLevelEdge = 1u << 16;

inline uint32_t BlocksAcross(uint32_t pixels) {
    return static_cast<uint32_t>((static_cast<uint64_t>(pixels) + 3) / 4);
}

inline uint64_t BlockCount(uint32_t width, uint32_t height) {
    return static_cast<uint64_t>(BlocksAcross(width)) * BlocksAcross(height);
}

// Raises a KestrelError unless both edges are at most kMaxLevelEdge.
void RequireLevelEdges(uint32_t width, uint32_t height, const char* format);
void RequireLevelBytes(std::span<const uint8_t> data, uint64_t expected, const char* format);

// `decode(block, texels)` fills 16 texels of 4 channels of T, row-major.
template <typename T, size_t BlockBytes, typename Fn>
void DecodeBlocks(std::span<const uint8_t> data, uint32_t width, uint32_t height, PixelKind kind,
                  const char* format, ImagePlane& out, Fn decode) {
    RequireLevelEdges(width, height, format);
    RequireLevelBytes(data, BlockCount(width, height) * BlockBytes, format);
    out = ImagePlane::Make(width, height, kind);
    T* pixels = nullptr;
    if constexpr (sizeof(T) == 1)
        pixels = out.rgba8.data();
    else
        pixels = out.rgbaF.data();
    const uint32_t blocksWide = BlocksAcross(width);
    std::array<T, 64> texels{};
    size_t offset = 0;
    for (uint32_t by = 0; by < BlocksAcross(height); ++by) {
        for (uint32_t bx = 0; bx < blocksWide; ++bx, offset += BlockBytes) {
            decode(data.subspan(offset).template first<BlockBytes>(), texels);
            if (bx * 4 + 4 <= width && by * 4 + 4 <= height) {
                // A whole block: four rows of four texels.
                for (uint32_t row = 0; row < 4; ++row)
                    std::copy_n(texels.begin() + row * 16, 16,
                                pixels + (static_cast<size_t>(by * 4 + row) * width + bx * 4) * 4);
                continue;
            }
            for (uint32_t t = 0; t < 16; ++t) {
                const uint32_t x = bx * 4 + t % 4;
                const uint32_t y = by * 4 + t / 4;
                if (x >= width || y >= height) continue;
                const size_t at = (static_cast<size_t>(y) * width + x) * 4;
                for (uint32_t c = 0; c < 4; ++c)
                    pixels[at + c] = texels[t * 4 + c];
            }
        }
    }
}

// Gathers the 16 texels of the block at (bx, by), repeating the last row and column of the
// picture into the part of an edge block that lies outside it.
template <typename T>
void GatherBlock(const std::vector<T>& pixels, uint32_t width, uint32_t height, uint32_t bx,
                 uint32_t by, std::array<T, 64>& texels) {
    for (uint32_t t = 0; t < 16; ++t) {
        const uint32_t x = std::min(bx * 4 + t % 4, width - 1);
        const uint32_t y = std::min(by * 4 + t / 4, height - 1);
        const size_t at = (static_cast<size_t>(y) * width + x) * 4;
        for (uint32_t c = 0; c < 4; ++c)
            texels[t * 4 + c] = pixels[at + c];
    }
}

} // namespace kestrel::image
