#pragma once
// The converters of the program, one row per class and output format, each with both directions:
// the export driver runs the export column, the import turns edited files back with the import
// column.
#include "session/ConverterInput.h"
#include "session/State.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace kestrel {

// An edited file of the export tree and the raw object file its converter writes.
struct EditedFile {
    size_t index = 0; // the object it belongs to
    std::filesystem::path editedFile;
    std::filesystem::path rawFile;
};

using ExportConverter = void (*)(KestrelState&, const ConverterInput&);
using ImportConverter = void (*)(KestrelState&, const EditedFile&);

struct ConverterRow {
    int32_t classId;
    std::string_view directory; // below the inner file's export directory, e.g. "Textures"
    std::string_view extension; // of the files written and read back; empty: named by the converter
    bool KestrelState::*enabled; // the switch that asks for it; nullptr: every conversion
    uint8_t textureKind; // texture converters: the kind TextureFormatSupports checks; else 0
    ExportConverter exportFile;
    ImportConverter importFile; // nullptr: nothing comes back this way
};

// In the order the converters run, in both directions.
std::span<const ConverterRow> ConverterRows();

// Puts `audioFile` back into AudioClip `itemIndex` of the open inner file, as the import does,
// with the resource file named after the working file (WorkFileName + ".resS") and the raw object
// file "Unity_Assets_Files/" + ArchiveDirName + "/" + its export name below OutputBaseDir.
void ImportSound(KestrelState& state, size_t itemIndex, const std::filesystem::path& audioFile);

} // namespace kestrel
