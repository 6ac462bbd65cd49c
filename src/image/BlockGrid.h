#pragma once
// Walking the blocks of one level of a block-compressed format: the size check every decoder
// starts with, and the copy of a decoded block into the picture with the edges cropped.
#include "image/DecodedImage.h"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::image {

struct BlockShape {
    uint32_t width;  // pixels
    uint32_t height; // pixels
    uint32_t bytes;
};

struct BlockGrid {
    uint32_t blocksX;
    uint32_t blocksY;
};

// Bytes of a width x height level made of whole blocks.
uint64_t BlockLevelBytes(const BlockShape& shape, uint32_t width, uint32_t height);

// Raises a KestrelError naming `format` unless `data` holds exactly the level's blocks; returns
// the block counts.
BlockGrid CheckBlockLevel(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                          const BlockShape& shape, const char* format);

// The bytes of block `index`; the caller checked the level's size first.
std::span<const uint8_t> BlockBytes(std::span<const uint8_t> data, const BlockShape& shape,
                                    uint64_t index);

// 64 bits read most significant byte first, as ETC and EAC blocks are laid out.
uint64_t BigEndian64(std::span<const uint8_t> bytes);
void StoreBigEndian64(uint64_t value, std::span<uint8_t> out);

// RGBA of the pixels of one 4 x 4 block, row by row.
using Block4x4 = std::array<std::array<uint8_t, 4>, 16>;
using Block4x4Wide = std::array<std::array<uint16_t, 4>, 16>;

// Copies a decoded 4 x 4 block to block position (bx, by) of an 8- or 16-bit plane, leaving out
// pixels past the plane's edges.
void PutBlock(const Block4x4& block, uint32_t bx, uint32_t by, ImagePlane& out);
void PutBlock(const Block4x4Wide& block, uint32_t bx, uint32_t by, ImagePlane& out);

// Reads the 4 x 4 block at (bx, by) of an 8-bit or 16-bit plane (16-bit values are scaled to 8
// bits), repeating the last row and column past the edges.
Block4x4 GetBlock(const ImagePlane& in, uint32_t bx, uint32_t by);

} // namespace kestrel::image
