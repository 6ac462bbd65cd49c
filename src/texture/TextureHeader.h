#pragma once
#include "io/Reader.h"
#include "texture/TextureLayouts.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// The three serialized layouts of a texture object (its bytes after the name field): a
// has-mipmaps flag (older engines), a mip count, and a mip count with the pixels in a resource
// file.
// Engines from 5.5 store the fields of a version's layout row instead (`Fields`).
enum class TextureLayout { MipFlag = 1, MipCount = 2, Streamed = 3, Fields = 4 };

// The texture header of a Texture2D or Cubemap object, in host order. Shared by the texture
// export and import.
struct TextureHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t completeImageSize = 0; // bytes of one image with all its levels
    int32_t textureFormat = 0;
    // MipFlag layout: the has-mipmaps flag (1 byte). Other layouts: the mip count as 4 bytes,
    // low byte first.
    std::vector<uint8_t> mipField;
    std::vector<uint8_t> flagBytes; // 3 or 4 bytes, as stored
    int32_t imageCount = 0;         // 6 for a Cubemap's faces
    std::array<int32_t, 7> carriedFields{};
    // [image data size], or for a streamed texture [image data size, stream offset, stream size].
    std::vector<int32_t> dataSizes;
    // Every 4-byte group after the image data (or after the path) to the object end. Each is
    // read little-endian whatever the file's byte order, so writing it back little-endian
    // restores the stored bytes; a last incomplete group keeps zeros in its missing bytes.
    std::vector<uint32_t> trailingWords;

    // The mip value the converters use: the flag, or the low byte of the mip count.
    uint8_t MipValue() const { return mipField.empty() ? 0 : mipField[0]; }
};

// The resource file of a streamed texture, as stored in the object.
struct TextureStreamRef {
    int32_t pathLength = 0;
    std::string path;
};

// Where the fields of a texture read by a layout row lie, as offsets from the object's start (the
// byte after its name field). The importer rewrites them in place and keeps every other byte.
struct TextureFieldPlaces {
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t completeImageSize = 0;
    uint64_t format = 0;
    uint64_t mipCount = 0;
    uint64_t imageCount = 0;
    uint64_t imageDataSize = 0; // the 32-bit size before the pixels
    uint64_t imageDataEnd = 0;  // after the pixels and their padding
    uint64_t streamOffset = 0;  // the stream offset field
    uint32_t streamOffsetWidth = 4;
    uint64_t streamSize = 0; // the stream size field
};

struct TextureObject {
    TextureHeader header;
    TextureStreamRef resource;
    TextureLayout layout = TextureLayout::MipFlag;
    bool MipCountLayout = false; // MipCount and Streamed layouts
    bool StreamedData = false;   // Streamed layout
    // Absolute reader position of the first image byte (pixels inside the object), or just after
    // the alignment that follows the path (streamed).
    uint64_t imageStart = 0;
    // Where a streamed texture's images lie in its resource file.
    uint64_t streamOffset = 0;
    uint64_t streamSize = 0;
    TextureFieldPlaces places; // the Fields layout only
};

// The layout of the object bytes in `object` (from its window's start), chosen by which stored
// data size equals complete image size x image count (32-bit products, wrapping). An object that
// matches none is read in the MipFlag layout.
TextureLayout ProbeTextureLayout(const Reader& object);

// Reads the texture header of the object bytes in `object`, whose byte order must be the assets
// file's: by the layout row when one is given (engines from 5.5), else in the layout the probe
// finds. Leaves `object` at imageStart. Raises KestrelError (with file, offset and field) when
// the object ends early or a length is negative.
TextureObject ReadTextureHeader(Reader& object, const TextureLayoutRow* row = nullptr);
inline TextureObject ReadTextureHeader(Reader& object, const std::optional<TextureLayoutRow>& row) {
    return ReadTextureHeader(object, row ? &*row : nullptr);
}

// Raises a KestrelError when width, height, complete image size or image count is negative:
// such a header cannot describe pixels.
void CheckTextureHeaderSizes(const TextureHeader& header);

} // namespace kestrel
