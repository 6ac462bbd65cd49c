#pragma once
#include "texture/TextureFormats.h"
#include "texture/TextureHeader.h"
#include "texture/TextureImport.h"
#include "texture/TextureSizes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// A picture file opened for bounds-checked little-endian reading.
Reader OpenPicture(const std::filesystem::path& path);

// The path of image k (1-based) of a picture: the path itself, then path + "_2", "_3", ...
std::filesystem::path ImagePath(const std::filesystem::path& first, int32_t k);

// The object's texture header, read in its own byte order; sizes checked.
TextureObject ReadImportTarget(const TextureImportInput& in);

// The resource file a streamed texture's pixels lie in; raises a KestrelError naming the picture
// when it is missing.
ResourceFileLocation RequireStreamedResource(const TextureImportInput& in,
                                             const TextureObject& tex);

// What an imported picture defines of the rebuilt object; every other field is the object's.
struct ImportedPicture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t format = 0;
    int32_t imageCount = 0;
    std::vector<uint8_t> mipField;
    std::vector<uint8_t> images; // imageCount images of one size each, in stored row order
};

// The mip field after importing a file of `fileLevels` levels (0 counts as 1). It is kept when
// exporting the object as it is would write that many levels (`exportedLevels`; nullopt when
// the object's format has no such file), so an unedited picture changes nothing; otherwise its
// first byte becomes 0 or 1 (flag layout) or the level count (count layouts; 1 for a single
// level).
std::vector<uint8_t> ImportedMipField(const TextureObject& tex, uint32_t fileLevels,
                                      std::optional<uint32_t> exportedLevels);

// The size of one image in a field of the object: raises unless 1 <= size and
// size x imageCount <= INT32_MAX.
int32_t ImageSizeField(uint64_t size, int32_t imageCount, const std::filesystem::path& file);

// Writes in.objectHead and the rebuilt object bytes, in the object's byte order and layout, to
// in.outputFile: the four size fields, mip field, flag bytes, image count, carried fields, the
// image data size and data, alignment, for a streamed texture an empty stream reference, and the
// trailing words.
void WriteRebuiltTexture(const TextureImportInput& in, const TextureObject& tex,
                         const ImportedPicture& picture);

// Undoes the export's DDS channel conversion: RGB24 and RGBA32 from BGR(A), ARGB32 reversed,
// RGBA4444 rotated back (`Unrotate4444`).
void ConvertChannelsFromDDS(int32_t format, std::span<uint8_t> pixels);
void Unrotate4444(std::span<uint8_t> pixels); // 16-bit LE v := (v << 4) | (v >> 12)

// Bytes that `levels` levels of a DDS picture occupy, walked as the flip walks them; raises
// with the file name when they exceed `available`.
void RequireDdsLevels(int32_t format, BytesPerPixel bpp, uint32_t width, uint32_t height,
                      uint32_t levels, uint64_t available, const std::filesystem::path& file);

// The header of a DDS picture file. Raises unless the file starts with "DDS " and a 124-byte
// header.
struct DdsPictureHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t mipMapCount = 0;
    const DdsPixelFormatRow* row = nullptr; // nullptr: no texture format has this pixel format
    uint64_t dataSize = 0;                  // the bytes after the header
};
DdsPictureHeader ReadDdsPictureHeader(Reader& file, int32_t currentFormat);

// What exporting an object writes into a DDS file: its format, image size, edges and mip value.
struct DdsObjectShape {
    int32_t format = 0;
    int32_t imageSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t mipValue = 0;
};

// A picture is taken only when its header describes exactly the data after it: a size of at least
// 1 x 1, no more levels than the size halves to, and the bytes of those levels (4 x 4 block formats
// by whole blocks), no more, no less. The file the export wrote for the object as it is passes too:
// its data is the object's image, whose stored size need not be a whole chain of levels. Raises a
// KestrelError naming the file otherwise. header.row must be set.
void RequireExactDdsData(const DdsPictureHeader& header, const DdsObjectShape& object,
                         const std::filesystem::path& file);

// The DDS picture part of an import: reads file k's bytes after its 128-byte header, converts
// the channels back and flips the rows unless told not to, and appends them to `out`.
struct DdsImageRule {
    int32_t format = 0;
    BytesPerPixel bpp;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t levels = 1;
    bool flip = true;
};
void AppendDdsImage(std::vector<uint8_t>& out, std::vector<uint8_t> data, const DdsImageRule& rule);

} // namespace kestrel
