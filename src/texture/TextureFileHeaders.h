#pragma once
#include "texture/TextureFormats.h"
#include "texture/TextureHeader.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr size_t kDDSHeaderSize = 128;
inline constexpr size_t kKTXHeaderSize = 64;
inline constexpr size_t kPVRHeaderSize = 52;

inline constexpr size_t kDDSExtendedHeaderSize = 20;

struct DDSHeader {
    std::array<uint8_t, kDDSHeaderSize> bytes{}; // magic and the 124-byte header, little-endian
    // The extended header after them when the FourCC is "DX10" (BC4 to BC7): the DXGI format,
    // the dimension (3: 2D), flags 0, array size 1, alpha mode 0.
    std::array<uint8_t, kDDSExtendedHeaderSize> extended{};
    bool hasExtended = false;
    uint32_t mipMapCount = 0; // 0 when the file has no mip levels
    BytesPerPixel bytesPerPixel;
};

// The DDS header of a texture. The mip value is the has-mipmaps flag or mip count: a value of 1
// counts the levels whose sizes first reach the complete image size (down to 1 x 1 at most); a
// value of 2 or more is the level count itself.
DDSHeader BuildDDSHeader(int32_t format, int32_t completeImageSize, int32_t width, int32_t height,
                         uint32_t mipValue);

struct KtxLevelPlan {
    uint32_t count = 1;   // levels written
    uint32_t minEdge = 4; // smallest edge of a level (4, or 8 when that matches the image size)
};

// Level count of a KTX or PVR file. A mip value of 0 gives one level; any other value counts the
// levels whose sizes reach the complete image size, with the smallest edge 4, or 8 when the
// levels with that smallest edge add up to the image size exactly.
KtxLevelPlan KtxLevelCount(uint32_t bitsPerPixel, int32_t width, int32_t height, uint8_t mipValue,
                           int32_t completeImageSize);

// The levels of a texture's KTX file: a texture read by a layout row states its level count;
// older ones are counted by KtxLevelCount.
KtxLevelPlan KtxLevelsOf(const TextureObject& tex, const KtxPvrFormatRow& row);

// The PVR file's mip map count: 0 gives 1, 1 counts levels as for KTX, more is used unchanged.
uint32_t PvrLevelCount(uint32_t bitsPerPixel, const TextureHeader& header);

// The key/value data of every KTX file written (KTX 1.1: per pair a 32-bit byte count, the key and
// value each ended by NUL, zero padding to 4 bytes): "KTXorientation" = "S=r,T=u", since the engine
// keeps rows bottom-up and viewers show the files upright only when told so.
std::vector<uint8_t> KtxKeyValueData();

// The KTX header; bytesOfKeyValueData counts KtxKeyValueData(), which follows it.
std::array<uint8_t, kKTXHeaderSize> BuildKTXHeader(const KtxPvrFormatRow& row,
                                                   const TextureHeader& header, uint32_t levels);
std::array<uint8_t, kPVRHeaderSize> BuildPVRHeader(const KtxPvrFormatRow& row,
                                                   const TextureHeader& header, uint32_t levels);

} // namespace kestrel
