#include "image/BlockGrid.h"

#include "common/Error.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace kestrel::image {

namespace {

std::string Number(uint64_t value) {
    char text[24];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

uint64_t BlockLevelBytes(const BlockShape& shape, uint32_t width, uint32_t height) {
    const uint64_t blocksX = (uint64_t{width} + shape.width - 1) / shape.width;
    const uint64_t blocksY = (uint64_t{height} + shape.height - 1) / shape.height;
    return blocksX * blocksY * shape.bytes;
}

BlockGrid CheckBlockLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                          const BlockShape& shape, const char* format) {
    const uint64_t expected = BlockLevelBytes(shape, width, height);
    if (width == 0 || height == 0 || data.size() != expected) {
        throw KestrelError(std::string(format) + " level of " + Number(width) + " x " +
                           Number(height) + " pixels needs " + Number(expected) +
                           " bytes at offset 0x0, found " + Number(data.size()));
    }
    return {(width + shape.width - 1) / shape.width, (height + shape.height - 1) / shape.height};
}

std::span<const uint8_t> BlockBytes(std::span<const uint8_t> data, const BlockShape& shape,
                                    uint64_t index) {
    return data.subspan(index * shape.bytes, shape.bytes);
}

uint64_t BigEndian64(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void StoreBigEndian64(uint64_t value, std::span<uint8_t> out) {
    for (size_t i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
}

void PutBlock(const Block4x4& block, uint32_t bx, uint32_t by, ImagePlane& out) {
    for (uint32_t y = 0; y < 4 && by * 4 + y < out.height; ++y) {
        for (uint32_t x = 0; x < 4 && bx * 4 + x < out.width; ++x) {
            const size_t at = (size_t{by * 4 + y} * out.width + bx * 4 + x) * 4;
            std::copy_n(block[y * 4 + x].begin(), 4, out.rgba8.begin() + at);
        }
    }
}

void PutBlock(const Block4x4Wide& block, uint32_t bx, uint32_t by, ImagePlane& out) {
    for (uint32_t y = 0; y < 4 && by * 4 + y < out.height; ++y) {
        for (uint32_t x = 0; x < 4 && bx * 4 + x < out.width; ++x) {
            const size_t at = (size_t{by * 4 + y} * out.width + bx * 4 + x) * 4;
            std::copy_n(block[y * 4 + x].begin(), 4, out.rgba16.begin() + at);
        }
    }
}

Block4x4 GetBlock(const ImagePlane& in, uint32_t bx, uint32_t by) {
    Block4x4 block{};
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t px = std::min(bx * 4 + x, in.width - 1);
            const uint32_t py = std::min(by * 4 + y, in.height - 1);
            const size_t at = (size_t{py} * in.width + px) * 4;
            for (size_t c = 0; c < 4; ++c) {
                block[y * 4 + x][c] =
                    in.kind == PixelKind::kRgba16
                        ? static_cast<uint8_t>((in.rgba16[at + c] * 255u + 32767u) / 65535u)
                        : in.rgba8[at + c];
            }
        }
    }
    return block;
}

} // namespace kestrel::image
