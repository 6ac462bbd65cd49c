#pragma once
#include "common/Reporter.h"
#include "io/Reader.h"
#include "io/ResourcePath.h"
#include "texture/TextureLayouts.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

// What a texture importer needs: the object's current bytes and where to put the rebuilt ones.
struct TextureImportInput {
    std::span<const uint8_t> objectHead; // the object's bytes before `object` (its name field)
    Reader object;                       // the bytes after the name field, in the file's order
    std::filesystem::path imageFile;     // the edited picture (image 1; image k is + "_k")
    std::filesystem::path outputFile;    // receives the rebuilt object bytes
    bool noFlip = false;                 // the picture's rows are stored as in the object
    Reporter& reporter;
    std::filesystem::path executableDir = {}; // where the crunch tool is looked for
    // Engines from 5.5: the layout row the object is read by (nullptr: the probed layouts of
    // older files), and where the resource file of a streamed texture lies.
    std::optional<TextureLayoutRow> layout = {};
    ResourcePlaces resources = {};
    // --png-format: the uncompressed format an edited picture is stored in (0: the texture's own).
    int32_t pngFormat = 0;
};

// Every importer rebuilds the object in the layout it has, writes it to in.outputFile and ends with
// the progress line imageFile + " -> TEX". A pixel format that no texture format matches leaves the
// object unchanged (nothing written) and raises a KestrelError naming the file. A picture that is
// not complete for its sizes and format, a missing further image file ("_2" ... for the images
// after the first) or an object that cannot hold the result raises KestrelError, and nothing is
// written. Streamed textures: a picture whose fields and pixels are those the object describes now
// changes nothing, in every layout. Otherwise, in the probed layouts the pixels come into the
// object, with an empty stream reference, and the resource file is not touched. A texture read by a
// layout row keeps its pixels in the resource file: pixels equal to the stored ones change nothing
// there; others are appended to the file's end and the object points to them, so the bytes the
// archive refers to until it is written again stay as they are.

// Texture2D or Cubemap from DDS file(s): pixels, sizes, format and mip field follow the file;
// the image count stays the object's, image k read from imageFile + "_k".
void ImportTextureDDS(const TextureImportInput& in);

// Texture2D or Cubemap from KTX 1.1 file(s), one image per file as the export writes them; the
// image count follows the file's numberOfFaces.
void ImportTextureKTX(const TextureImportInput& in);

// Texture2D or Cubemap from PVR 3 file(s), one image per file; the image count follows the
// file's number of faces.
void ImportTexturePVR(const TextureImportInput& in);

// A crunched texture from its CRN file. When imageFile + ".dds" exists (the edited DDS that the
// export made with the crunch tool) the tool beside the executable crunches it into imageFile
// first; without the tool that DDS is passed over with an Alert. Width, height, format and mip
// field stay the object's.
void ImportTextureCRN(const TextureImportInput& in);

// Texture2D or Cubemap from the picture the PNG export wrote (image k of a cubemap from imageFile
// + "_k"), PNG or, for float formats, EXR. When the pictures hold the pixels that exporting the
// object gives (level 0 of every image, rows turned unless in.noFlip), nothing is written: an
// untouched picture is never encoded again. Otherwise they are encoded in the texture's format
// (or in.pngFormat when given), at the pictures' size, with the object's mip chain rebuilt by a
// box filter (as many levels as the object has, or as the new size allows); sizes, image size
// and mip field follow. A format without an encoder raises a KestrelError naming the file and the
// format, and nothing is written.
void ImportTexturePNG(const TextureImportInput& in);

// The format an edited picture may be stored in on purpose: an uncompressed format that is
// encoded, by its number or name (any case: "RGBA32", "rgbahalf", "4"); nullopt for any other.
std::optional<int32_t> PictureStorageFormat(std::string_view nameOrNumber);

// ProceduralTexture from a DDS file; objects of 88 bytes or fewer are left alone.
void ImportProceduralDDS(const TextureImportInput& in);

} // namespace kestrel
