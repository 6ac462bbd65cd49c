#pragma once
#include "io/Reader.h"
#include "io/ResourcePath.h"
#include "session/State.h"

#include <filesystem>
#include <string>

namespace kestrel {

// What the export driver hands to every converter for one object.
struct ConverterInput {
    KestrelState& state;
    // The object's bytes after its name field (ObjSize - NameHeaderSize of them), positioned at
    // their start, in the byte order of the assets file (state.assets.header.BigEndianFlag).
    Reader object;
    // Directory of the converter's output relative to state.OutputBaseDir, ending with "/",
    // e.g. "Unity_Assets_Files/level0/Textures/".
    std::string relativeDir;
    // The object's export file name (with its extension), e.g. "hero.tex".
    std::string exportName;
    // The object's number in the item table.
    size_t index = 0;

    // OutputBaseDir + relativeDir, created when missing.
    std::filesystem::path OutputDir() const;
    // OutputDir() / fileName, refusing names that would leave the output directory.
    std::filesystem::path OutputFile(const std::string& fileName) const;
};

// Where resource files named by the objects of the open archive are looked up.
ResourcePlaces ResourcePlacesOf(const KestrelState& state);

// The export name without its last extension ("hero.tex" -> "hero").
std::string StripExtension(const std::string& exportName);

} // namespace kestrel
