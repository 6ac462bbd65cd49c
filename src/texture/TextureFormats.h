#pragma once
#include "texture/TextureSizes.h"

#include <array>
#include <cstdint>

namespace kestrel {

// Pixel format of a DDS file written for an engine texture format.
struct DdsPixelFormatRow {
    int32_t format = 0;
    uint32_t flags = 0;
    uint32_t fourCC = 0;
    uint32_t bitCount = 0;
    uint32_t rMask = 0;
    uint32_t gMask = 0;
    uint32_t bMask = 0;
    uint32_t aMask = 0;
    BytesPerPixel bytesPerPixel;
    uint32_t dxgiFormat = 0; // with the FourCC "DX10": the DXGI format of the extended header
};

// FourCC codes are stored in reading order: "DXT1" is the bytes 44 58 54 31.
constexpr uint32_t FourCC(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24);
}

// The DDS row of a texture format; formats without one get a zero pixel format and 4 bytes per
// pixel.
const DdsPixelFormatRow& DdsPixelFormatFor(int32_t format);

// The texture format of a DDS pixel format (flags, FourCC, bit count, R/G/B/A masks, and for the
// FourCC "DX10" the extended header's DXGI format), or nullptr when no row matches. The
// alpha-pixels flag is not compared. When several formats share the pixel format, `currentFormat`
// is chosen if it is one of them, else the last of them in the table (ARGB32 for 32-bit ARGB masks,
// RGBA4444 for the 4444 masks).
const DdsPixelFormatRow* DdsFormatForPixelFormat(uint32_t flags, uint32_t fourCC, uint32_t bitCount,
                                                 const std::array<uint32_t, 4>& masks,
                                                 int32_t currentFormat, uint32_t dxgiFormat = 0);

// True when textures of `format` can go to files of output kind `kind` (TextureOutput;
// kAnyOutput: to any): to DDS when a DDS row describes it, to KTX or PVR when its KTX/PVR row has
// a GL or a PVR pixel format, to CRN when it is crunched. The one answer of which format goes to
// which file, for the export and for the notices.
bool TextureFormatSupports(int32_t format, uint8_t kind);

// GL and PVR pixel formats of the formats that KTX and PVR files carry.
struct KtxPvrFormatRow {
    int32_t format = 0;
    uint32_t glInternalFormat = 0; // 0: not written as KTX
    uint32_t glBaseInternalFormat = 0;
    int32_t pvrPixelFormat = -1; // -1: not written as PVR
    uint32_t bitsPerPixel = 0;   // 0: block sizes only (ASTC)
    // Block formats: the block's edges in pixels and its bytes (0: sized by bitsPerPixel).
    uint32_t blockWidth = 0;
    uint32_t blockHeight = 0;
    uint32_t blockBytes = 0;
};

// Bytes of one w x h level of a KTX/PVR row's format: whole blocks for block formats, else
// (w x h x bits + 7) / 8 with the edges raised to minEdge.
uint64_t KtxLevelBytes(const KtxPvrFormatRow& row, uint64_t w, uint64_t h, uint64_t minEdge);

// The KTX/PVR row of a texture format, or nullptr when it has none.
const KtxPvrFormatRow* KtxPvrFormatFor(int32_t format);

// The row of a KTX file's (glInternalFormat, glBaseInternalFormat) pair, or of a PVR file's
// 64-bit pixel format, or nullptr when none matches. `currentFormat` is chosen when it matches;
// otherwise the first matching row (ETC_RGB4_3DS reads back as ETC_RGB4, ETC_RGBA8_3DS as
// ETC2_RGBA8).
const KtxPvrFormatRow* KtxFormatForGl(uint32_t glInternalFormat, uint32_t glBaseInternalFormat,
                                      int32_t currentFormat);
const KtxPvrFormatRow* PvrFormatForPixelFormat(uint64_t pixelFormat, int32_t currentFormat);

// Engine texture format numbers the converters treat specially.
namespace texfmt {
inline constexpr int32_t kRGB24 = 3;
inline constexpr int32_t kRGBA32 = 4;
inline constexpr int32_t kARGB32 = 5;
inline constexpr int32_t kDXT1 = 10;
inline constexpr int32_t kDXT3 = 11;
inline constexpr int32_t kDXT5 = 12;
inline constexpr int32_t kRGBA4444 = 13;
inline constexpr int32_t kBC6H = 24;
inline constexpr int32_t kBC7 = 25;
inline constexpr int32_t kBC4 = 26;
inline constexpr int32_t kBC5 = 27;
inline constexpr int32_t kDXT1Crunched = 28;
inline constexpr int32_t kDXT5Crunched = 29;
inline constexpr int32_t kETC_RGB4 = 34;
inline constexpr int32_t kATC_RGB4 = 35;
inline constexpr int32_t kATC_RGBA8 = 36;
inline constexpr int32_t kETC2_RGBA8 = 47;
inline constexpr int32_t kETC_RGB4Crunched = 64;
inline constexpr int32_t kETC2_RGBA8Crunched = 65;
} // namespace texfmt

// Formats whose pixels are crunched data (a CRN file's contents).
constexpr bool IsCrunchedFormat(int32_t format) {
    return format == texfmt::kDXT1Crunched || format == texfmt::kDXT5Crunched ||
           format == texfmt::kETC_RGB4Crunched || format == texfmt::kETC2_RGBA8Crunched;
}

// ATC data is stored as the DDS readers expect it and is never flipped.
constexpr bool IsAtcFormat(int32_t format) {
    return format == texfmt::kATC_RGB4 || format == texfmt::kATC_RGBA8;
}

// 4 x 4 block formats whose blocks the flip turns upside down as well.
constexpr bool IsFlippedBlockFormat(int32_t format) {
    return format == texfmt::kDXT1 || format == texfmt::kDXT3 || format == texfmt::kDXT5 ||
           format == texfmt::kBC4 || format == texfmt::kBC5;
}

// Formats whose pixels go into DDS files in stored row order: ATC, and BC6H and BC7, whose
// blocks cannot be turned upside down without encoding them anew.
constexpr bool KeepsStoredRowOrder(int32_t format) {
    return IsAtcFormat(format) || format == texfmt::kBC6H || format == texfmt::kBC7;
}

// 4 x 4 block formats of DDS files: their levels shrink to one block, not below.
constexpr bool IsDdsBlockFormat(int32_t format) {
    return IsFlippedBlockFormat(format) || format == texfmt::kBC6H || format == texfmt::kBC7;
}

// The DXGI formats a DDS file with the extended header may name for a texture format's row:
// the typeless, plain and sRGB / signed variants of BC4 to BC7 (79-84, 94-99) read as the row's
// format.
constexpr uint32_t CanonicalDxgiFormat(uint32_t dxgi) {
    switch (dxgi) {
    case 79:
    case 81:
        return 80; // BC4
    case 82:
    case 84:
        return 83; // BC5
    case 94:
    case 96:
        return 95; // BC6H
    case 97:
    case 99:
        return 98; // BC7
    default:
        return dxgi;
    }
}

} // namespace kestrel
