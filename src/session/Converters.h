#pragma once
// The converters of the program, one row per class and output format, each with both directions:
// the export driver runs the export column, the import turns edited files back with the import
// column. Both take the inner file's scope and one object and give a result; a failure is a
// returned result that the driver reports and counts.
#include "common/Error.h"
#include "session/ConverterInput.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

// An edited file of the export tree and the raw object file its converter writes.
struct EditedFile {
    size_t index = 0; // the object it belongs to
    std::filesystem::path editedFile;
    std::filesystem::path rawFile;
};

struct ConvertResult {
    bool ok = true;
    std::string message; // why it failed
};

using ExportConverter = ConvertResult (*)(const InnerScope&, const ConverterInput&);
using ImportConverter = ConvertResult (*)(const InnerScope&, const EditedFile&);

struct ConverterRow {
    int32_t classId;
    std::string_view directory; // below the inner file's export directory, e.g. "Textures"
    std::string_view extension; // of the files written and read back; empty: named by the converter
    uint16_t output;            // the OutputKind bit that asks for it; 0: every conversion
    uint8_t textureKind;        // texture converters: the kind TextureFormatSupports checks; else 0
    ExportConverter exportFile; // nullptr: another row writes these files
    ImportConverter importFile; // nullptr: nothing comes back this way
};

// In the order the converters run, in both directions.
std::span<const ConverterRow> ConverterRows();

// Runs `convert`, turning a KestrelError into a failed result; an output that cannot be written
// still ends the run (every later output would fail alike).
template <typename F> ConvertResult Converted(F&& convert) {
    try {
        convert();
        return {};
    } catch (const KestrelError& e) {
        if (e.OutputFailed()) throw;
        return {false, e.what()};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

// Puts `audioFile` back into AudioClip `itemIndex` of the scope's inner file, as the import does:
// the resource file is named after the archive, the raw object file lies in the export tree.
ConvertResult ImportSoundFile(const InnerScope& scope, size_t itemIndex,
                              const std::filesystem::path& audioFile);

} // namespace kestrel
