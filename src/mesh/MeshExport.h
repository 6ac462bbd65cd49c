#pragma once
#include "assets/ConverterInput.h"

#include <cstdint>

namespace kestrel {

// Converts one Mesh object (class 43) into the Wavefront OBJ file
// OutputDir() / (exportName + ".obj"). Raises KestrelError with one of the four mesh messages of
// the interface language, a blank and the export name when the mesh cannot be converted (big-endian
// file, compressed mesh, unreadable data, failed conversion or write); no file is left then.
// Meshes of engine releases from 5.5 on (the assets header's engine version) are read by their
// layout row, their vertex data from the resource file m_StreamData names when it is streamed; a
// missing resource file raises a KestrelError (Localization.MsgMissingFile + the path) and writes
// nothing.
// Meshes of serialized formats 5 to 8 (engines 2.x to 3.4) are read by the file's type tree, in
// either byte order.
// Their failure messages add ": " and the reason after the export name.
void ExportMeshOBJ(const ConverterInput& in, int32_t engineMajorVersion);

// What a person sees of a mesh at a glance, read the way ExportMeshOBJ reads it (vertex data of a
// resource file is not needed). Triangles count strips and quads as the triangles they make.
struct MeshCounts {
    uint64_t vertices = 0;
    uint64_t triangles = 0;
    uint64_t subMeshes = 0;
    bool compressed = false; // the vertices are stored compressed: they were not counted
};
// Raises KestrelError when the mesh cannot be read.
MeshCounts ReadMeshCounts(const ConverterInput& in, int32_t engineMajorVersion);

} // namespace kestrel
