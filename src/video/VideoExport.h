#pragma once
#include "assets/ConverterInput.h"

namespace kestrel {

// Writes the video of a VideoClip (engine 5.6 and later), which the engine keeps in a resource
// file (m_ExternalResources: path, offset, size), to "<export name><extension of its original
// file>" in the converter's directory. A missing resource file is an alert, as for sounds.
void ExportVideoClip(const ConverterInput& in);

} // namespace kestrel
