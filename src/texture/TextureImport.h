#pragma once
#include "common/Reporter.h"
#include "io/Reader.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace kestrel {

// What a texture importer needs: the object's current bytes and where to put the rebuilt ones.
struct TextureImportInput {
    std::span<const uint8_t> objectHead; // the object's bytes before `object` (its name field)
    Reader object;                       // the bytes after the name field, in the file's order
    std::filesystem::path imageFile;     // the edited picture
    std::filesystem::path outputFile;    // receives the rebuilt object bytes
    bool noFlip = false;                 // the picture's rows are stored as in the object
    Reporter& reporter;
};

// Rebuilds a Texture2D from a DDS file: pixels, sizes, format and mip field follow the file;
// the other fields are kept. A pixel format that no texture format matches leaves the object
// unchanged with an Alert naming the file. Raises KestrelError (and writes nothing) when the file
// is not a complete DDS picture or the texture is streamed or has several images.
void ImportTextureDDS(const TextureImportInput& in);

} // namespace kestrel
