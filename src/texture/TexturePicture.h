#pragma once
// A texture as a picture to look at: one level of one face decoded to 8-bit RGBA, top row first.
// The window's preview reads textures this way; its pixels are those the PNG export writes.
#include "assets/ConverterInput.h"
#include "image/DecodedImage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrel {

struct TexturePictureFacts {
    uint32_t width = 0;  // of level 0
    uint32_t height = 0; // of level 0
    uint32_t levels = 1; // levels stored in each image
    uint32_t faces = 1;  // images (6 for a cubemap)
    int32_t format = 0;
    bool decodable = false; // a picture decoder knows the format
};

struct TexturePicture {
    TexturePictureFacts facts;
    uint32_t face = 0;
    uint32_t level = 0;
    image::ImagePlane plane; // kRgba8, top row first
};

// The sizes, level and face counts and format of the texture in `in` (a Texture2D or Cubemap),
// read from its header alone. Raises KestrelError when the header does not fit the object.
TexturePictureFacts ReadTexturePictureFacts(const ConverterInput& in);

// The smallest level at least as large as a box of boxWidth x boxHeight pixels shows the picture
// (scaled to fit), so a level at most twice the shown size is decoded; level 0 when none is.
uint32_t LevelForBox(const TexturePictureFacts& facts, uint32_t boxWidth, uint32_t boxHeight);

// The bytes of the resource file a streamed texture names by its stored path, when the caller can
// read them in place (a bundle's resource entry inside its working file, before any export wrote
// a copy); nullopt to look for the file as the export does.
using ResourceInPlace = std::function<std::optional<Reader>(const std::string& storedPath)>;

// Decodes level `level` of image `face`. `stop` is asked between bands of block rows; when it says
// true the decode ends and nullopt is returned. Raises KestrelError when the format has no
// decoder, the level or face does not exist, or the pixels do not fit the object or its resource
// file (a missing resource file raises as the export does).
std::optional<TexturePicture> DecodeTexturePicture(const ConverterInput& in, uint32_t face,
                                                   uint32_t level,
                                                   const std::function<bool()>& stop = {},
                                                   const ResourceInPlace& inPlace = {});

} // namespace kestrel
