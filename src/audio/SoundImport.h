#pragma once
#include "assets/ConverterInput.h"
#include "io/Reader.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace kestrel {

// One sound to put back: an AudioClip's current body and where its files lie.
struct SoundImportInput {
    const ConverterContext& context;
    // The object's bytes after its name field, in the assets file's byte order.
    Reader object;
    std::string exportName;          // e.g. "Music.snd"
    std::string archiveDirName;      // resolves "archive:" resource paths
    std::string resourceName;        // the archive's name + ".resS", looked for beside the archive
    std::filesystem::path audioFile; // the edited audio file
    std::string rawObjectRelativePath; // "Unity_Assets_Files/<ArchiveDirName>/<ExportName>"
};

// Rebuilds the clip's body around the edited audio file and writes it to OutputBaseDir +
// rawObjectRelativePath, for the import driver to pack into the assets file. The working file is
// never written.
//   Embedded clip: the new length at 16, the audio from 20, zero bytes up to a multiple of 4;
//     whatever followed the old audio is dropped.
//   Streamed and named-resource clips: audio equal to the stored sound changes nothing; other
//     audio is appended at the resource file's end (the stored sound stays where it is, so the
//     archive finds it whole until it is written again) and the body gets the new offset and
//     length.
// The raw object file is staged before the resource file changes and put in place after, so a
// failure never leaves a raw file that disagrees with the resource file. A missing resource file
// raises a KestrelError ("Отсутствует файл: " + path) and an unrecognised body a Notice ("Not
// supported file " + ExportName); both write nothing. Damaged sizes, refused resource paths and
// sizes that the clip's fields cannot hold raise KestrelError before anything is written.
void ImportSound(const SoundImportInput& in);

} // namespace kestrel
