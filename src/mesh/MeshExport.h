#pragma once
#include "session/ConverterInput.h"

#include <cstdint>

namespace kestrel {

// Converts one Mesh object (class 43) into the Wavefront OBJ file
// OutputDir() / (exportName + ".obj"). Raises KestrelError with one of the four mesh messages of
// the interface language, a blank and the export name when the mesh cannot be converted (big-endian
// file, compressed mesh, unreadable data, failed conversion or write); no file is left then.
void ExportMeshOBJ(const ConverterInput& in, int32_t engineMajorVersion);

} // namespace kestrel
