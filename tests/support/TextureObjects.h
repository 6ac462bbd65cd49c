#pragma once
#include "io/ByteOrder.h"
#include "session/Archive.h"
#include "session/ConverterInput.h"
#include "session/RunOptions.h"
#include "support/AudioObjects.h"
#include "texture/TextureHeader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

// A Texture2D / Cubemap body (the bytes after the object's name field) in one of the three
// layouts the engine generations write:
// - MipFlag: engines up to 4 (has-mipmaps flag byte, 3 flag bytes, data size at 52);
// - MipCount: engine 5 before streaming (mip count, 4 flag bytes, data size at 56);
// - Streamed: engine 5.3 and later with the pixels in a resource file (stream offset, stream
//   size and the resource path after the data size).
struct TextureObjectSpec {
    TextureLayout layout = TextureLayout::MipCount;
    int32_t width = 4;
    int32_t height = 4;
    int32_t format = 10;
    uint32_t mip = 1; // the has-mipmaps flag or the mip count
    int32_t imageCount = 1;
    // Bytes of one image; unset: pixels.size() / imageCount (Streamed: streamSize / imageCount).
    std::optional<int32_t> completeImageSize;
    std::vector<uint8_t> pixels; // every image one after another (not Streamed)
    // Stored image data size; unset: the size of `pixels` (0 when Streamed).
    std::optional<int32_t> imageDataSize;
    uint32_t streamOffset = 0;
    uint32_t streamSize = 0;
    std::string path;              // resource path (Streamed)
    std::vector<uint8_t> trailing; // bytes after the image data or the path's alignment
    // The flag bytes after the mip field (MipFlag: the low 3), low byte first, and the seven
    // fields after the image count; unset: as the engine writes them.
    std::optional<uint32_t> flagBytes;
    std::optional<std::array<int32_t, 7>> carriedFields;
};

std::vector<uint8_t> MakeTextureObject(const TextureObjectSpec& plan, Endian order);

// A Texture2D / Cubemap body of 5.5 and later, field by field as a layout row lists them. Carried
// fields hold distinct values, so a rewrite that moves or drops one shows. Streamed: the image data
// size is 0 and the stream names `path` at streamOffset with pixels.size() bytes (the caller
// writes them there).
struct ModernTextureSpec {
    int32_t width = 8;
    int32_t height = 8;
    int32_t format = 12;
    uint32_t mipCount = 1;
    int32_t imageCount = 1;
    std::vector<uint8_t> pixels; // every image one after another
    bool streamed = false;
    uint64_t streamOffset = 0;
    std::string path;
    std::vector<uint8_t> trailing; // a Cubemap's own fields
};

std::vector<uint8_t> MakeModernTextureObject(const TextureLayoutRow& row,
                                             const ModernTextureSpec& plan, Endian order);

// A ProceduralTexture body: a 64-byte head (mip value at 36, data length at 60), the image data
// and a 24-byte tail (width, height, format at 12).
struct ProceduralTextureSpec {
    int32_t width = 4;
    int32_t height = 4;
    int32_t format = 5;
    uint32_t mipValue = 0;
    std::vector<uint8_t> pixels;
    std::optional<int32_t> dataLength; // stored length; unset: pixels.size()
};

std::vector<uint8_t> MakeProceduralTextureObject(const ProceduralTextureSpec& plan, Endian order);

// An inner file with one item (class, format, export name) whose output goes below `dir`, and
// the converter input over an object body in the given byte order.
class TextureCase {
public:
    TextureCase(const std::filesystem::path& dir, int32_t classId, int32_t format,
                const std::string& exportName, Endian order);
    ConverterInput Input(const std::vector<uint8_t>& body,
                         const std::string& relativeDir = "Unity_Assets_Files/level0/Textures/");
    std::filesystem::path
    OutputDir(const std::string& relativeDir = "Unity_Assets_Files/level0/Textures/") const;

    RunOptions options;
    ParsedInnerFile inner;
    std::string outputBaseDir; // dir + "/"
    std::string archiveDir;    // where resource files named by the object lie ("": unknown)
    std::optional<ConverterContext> context; // made by each Input()
    RecordedMessages messages;
    Endian order;
};

// Pixels of an uncompressed image of w x h with bpp bytes per pixel: the top half (the rows
// stored last, since the engine stores the bottom row first) is `top`, the rest `bottom`.
std::vector<uint8_t> TwoBandImage(int w, int h, const std::vector<uint8_t>& top,
                                  const std::vector<uint8_t>& bottom);

// DXT1 blocks of a w x h texture, solid red in the upper half of the picture (stored last) and
// solid blue in the lower half; w and h multiples of 8.
std::vector<uint8_t> TwoBandDXT1(int w, int h);
// The same picture in DXT5 blocks with opaque alpha.
std::vector<uint8_t> TwoBandDXT5(int w, int h);

// ImageMagick's reading of a file: width and height, and the colour (r, g, b, 0-255) of one
// pixel; nullopt when `convert` is missing or cannot read it.
struct DecodedPixel {
    int width = 0;
    int height = 0;
    int r = 0, g = 0, b = 0;
};
std::optional<DecodedPixel> DecodePixel(const std::filesystem::path& file, int x, int y);

// True when ImageMagick's convert runs here.
bool HaveImageMagick();

} // namespace kestrel::test
