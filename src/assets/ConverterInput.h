#pragma once
// What a converter of one object may know of the run, and nothing more: the assets file it comes
// from, where outputs and resource files lie, the switches converters read, the user's language
// and where it reports.
#include "assets/AssetsTypes.h"
#include "common/Localization.h"
#include "common/Reporter.h"
#include "io/Reader.h"
#include "io/ResourcePath.h"

#include <filesystem>
#include <string>

namespace kestrel {

struct ConverterContext {
    // The open inner file: its header (byte order, serialized format, engine version), item
    // table and type trees.
    const AssetsFile& assets;
    // outputBaseDir (ending with "/") receives the export tree; resource files are looked up
    // from these places.
    ResourcePlaces places;
    Reporter& reporter;
    const InterfaceTexts& text;
    bool noFlipTexture = false;
    bool exportDDS = false;              // the CRN export also asks the crunch tool for a DDS file
    std::filesystem::path executableDir; // where the crunch tool is looked for
    int pngLevel = 1;                    // zlib's level for PNG pictures (--png-level)
};

// What the export driver hands to every converter for one object.
struct ConverterInput {
    const ConverterContext& context;
    // The object's bytes after its name field (ObjSize - NameHeaderSize of them), positioned at
    // their start, in the byte order of the assets file.
    Reader object;
    // Directory of the converter's output relative to the output base, ending with "/",
    // e.g. "Unity_Assets_Files/level0/Textures/".
    std::string relativeDir;
    // The object's export file name (with its extension), e.g. "hero.tex".
    std::string exportName;
    // The object's number in the item table.
    size_t index = 0;

    Reporter& Report() const { return context.reporter; }
    // The output base + relativeDir, created when missing.
    std::filesystem::path OutputDir() const;
    // OutputDir() / fileName, refusing names that would leave the output directory.
    std::filesystem::path OutputFile(const std::string& fileName) const;
};

// The export name without its last extension ("hero.tex" -> "hero").
std::string StripExtension(const std::string& exportName);

} // namespace kestrel
