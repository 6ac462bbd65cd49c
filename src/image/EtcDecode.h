#pragma once
// ETC1, ETC2 and EAC blocks to pixels, after the Khronos Data Format's ETC chapters. Blocks are
// 64-bit words stored most significant byte first; pixel indices run down the columns.
#include "image/BlockGrid.h"
#include "image/DecodedImage.h"

#include <cstdint>
#include <span>

namespace kestrel::image {

// An ETC2 RGB block (an ETC1 block is one whose differential colours never overflow, which
// `etc1Only` enforces by reading every block as individual or differential). With
// `punchThrough`, bit 33 is the opaque flag of ETC2 RGB A1 instead of the differential flag.
void DecodeEtcColorBlock(uint64_t block, bool etc1Only, bool punchThrough, Block4x4& out);

// One EAC block's 16 values in pixel order (row by row): 8-bit alpha of ETC2 RGBA8, or the
// 11-bit R11 values (0..2047 unsigned, -1023..1023 signed).
void DecodeEacAlphaBlock(uint64_t block, std::array<uint8_t, 16>& out);
void DecodeEac11Block(uint64_t block, bool isSigned, std::array<int32_t, 16>& out);

// 11-bit EAC values as stored in 8- and 16-bit planes. Unsigned ones are scaled to the range
// (16 bits by bit replication, which keeps every value apart); signed ones are offset so that 0
// is the middle (128 or 32768) and -1023..1023 spans 1..255 (1..65535).
uint8_t Eac11To8(int32_t value, bool isSigned);
uint16_t Eac11To16(int32_t value, bool isSigned);

void DecodeEtc1(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEtc2Rgb(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEtc2Rgba1(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                     ImagePlane& out);
void DecodeEtc2Rgba8(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                     ImagePlane& out);
// EAC R11 and RG11 to 8-bit planes (the ordinary picture) or 16-bit planes (every stored value
// kept apart).
void DecodeEacR(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEacRSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                      ImagePlane& out);
void DecodeEacRg(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEacRgSigned(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                       ImagePlane& out);
void DecodeEacR16(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEacRSigned16(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                        ImagePlane& out);
void DecodeEacRg16(std::span<const uint8_t> data, uint32_t width, uint32_t height, ImagePlane& out);
void DecodeEacRgSigned16(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                         ImagePlane& out);

} // namespace kestrel::image
