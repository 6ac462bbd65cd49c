#pragma once
#include "mesh/MeshClass.h"
#include "mesh/ObjMeshSource.h"

#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// A coordinate as OBJ text: the value (multiplied by -1 when `negate`), fixed notation with six
// decimals, "." as separator, whatever the locale. Values the engine data cannot hold sensibly
// (not a number, infinite, or of six or more integer digits with a first decimal of 0) are
// written as "0.000000".
std::string MeshNumberText(float value, bool negate);

// Receives the OBJ text in pieces, in order.
using ObjSink = std::function<void(std::string_view)>;

// Writes the OBJ text of a mesh read by TMeshBase: the summary line, then per sub-mesh a group
// named baseName + "_" + k with its vertices (X mirrored) and its faces as relative indices.
// Lines end with CR LF. Raises KestrelError when a vertex attribute lies outside the vertex
// data, a face position outside the index buffer, or an index outside its sub-mesh's vertices.
void WriteObjText(const TMeshBase& mesh, const std::string& baseName, const ObjSink& sink);

// The same text for any mesh source: sub-meshes in order, faces by their kind (a quad as two
// triangles), indices shifted by the sub-mesh's base vertex.
void WriteObjText(const ObjMeshSource& mesh, const std::string& baseName, const ObjSink& sink);

} // namespace kestrel
