#pragma once
#include "assets/ConverterInput.h"

#include <string>

namespace kestrel {

// Writes the audio file an AudioClip holds or points to, unchanged, into in.relativeDir
// ("Unity_Assets_Files/<archive>/Sounds/") as ExportName + the extension its signature gives
// (".ogg", ".wav", ".aif", ".fsb", ".mp3"; none when unrecognised). Clips streamed from a
// resource file go into the subdirectory "resS_<defaultResourceName>" or "res_<file name>".
// archiveDirName resolves "archive:" resource paths; defaultResourceName is the file name of
// WorkFileName + ".resS", looked for in OutputBaseDir. A missing resource file raises a
// KestrelError and writes nothing; an unrecognised body is a Notice "Not supported file
// <ExportName>". Damaged sizes and refused paths raise KestrelError before anything is written.
void ExportSound(const ConverterInput& in, const std::string& archiveDirName,
                 const std::string& defaultResourceName);

} // namespace kestrel
