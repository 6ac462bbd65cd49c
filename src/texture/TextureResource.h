#pragma once
#include "assets/ConverterInput.h"
#include "io/Reader.h"
#include "texture/TextureHeader.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The text shown when a streamed texture's resource file is missing, followed by its path.

// Where the images of a texture are read from, and the subdirectory its files go into.
struct TextureImages {
    Reader source;           // positioned at the first image
    std::string resourceDir; // "" for pixels inside the object, else e.g. "res_sharedassets0/"
};

// The layout the converter's object is read by (nullopt: probed, formats up to 15).
std::optional<TextureLayoutRow> TextureLayoutOf(const ConverterInput& in);

// The subdirectory of a streamed texture's files: "res_" + the path up to and including its
// first "." ("res_" is left out when the path has no "."), ending with "/". Trailing dots and
// blanks of each directory name are dropped, as the file system of the engine's Windows tools
// drops them, so "sharedassets0.assets.resS" gives "res_sharedassets0/".
std::string ResourceDirFor(std::string_view path);

// Opens the images of a texture read by ReadTextureHeader: the object itself at imageStart, or
// the resource file (found as LocateResourceFile finds it; a refused path raises) at the stream
// offset. A missing resource file raises a KestrelError (Localization.MsgMissingFile + the
// path); the converter then writes nothing.
std::optional<TextureImages> OpenTextureImages(const ConverterInput& in, const TextureObject& tex,
                                               const Reader& object);

// Raises a KestrelError unless `images` images of the header's complete image size lie in
// `source` from its position.
void RequireImages(const TextureHeader& header, const Reader& source, uint64_t images);

// The output file of image k (1-based) of a texture: the converter's directory + resourceDir +
// ExportName + extension, with "_" + k appended for k >= 2 (sky.cbm.dds, sky.cbm.dds_2, ...).
// Its directory is created when missing.
std::filesystem::path TextureOutputFile(const ConverterInput& in, const std::string& resourceDir,
                                        const std::string& extension, int64_t k);

} // namespace kestrel
