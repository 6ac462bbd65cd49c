#pragma once
#include "io/ByteOrder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {

struct SimpleSubMesh {
    uint32_t firstIndex = 0; // position in SimpleMesh::indices (FirstByte is twice this)
    uint32_t indexCount = 0;
    uint32_t firstVertex = 0;
    uint32_t vertexCount = 0;
    bool triStrip = false; // engines 3 and earlier only
    // Engines 3 and earlier; by default indexCount / 3 (a list) or indexCount - 2 (a strip).
    std::optional<uint32_t> triangleCount;
};

// A mesh as the builder writes it: one vertex per position, with its normal and first texture
// coordinates (missing entries are zero), 16-bit indices and its sub-meshes.
struct SimpleMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;
    std::vector<std::array<float, 2>> uvs;
    std::vector<uint16_t> indices;
    std::vector<SimpleSubMesh> subMeshes; // empty: one sub-mesh over all indices and vertices
    uint8_t meshCompression = 0;
    std::vector<std::string> blendShapeChannels; // engines 4 and later
    uint32_t bindPoseCount = 0;
    bool colorChannel = false;     // engines 4 and later: a 4-byte colour after the normal
    bool uvInSecondStream = false; // engines 4 and later: texture coordinates in stream 1
    bool withTexCoords = true;     // engines 4 and later: false leaves channel 3 empty
};

// Where the builder wrote each count field of a body (name, byte offset in the body).
struct MeshBodyFields {
    std::vector<std::pair<std::string, size_t>> counts;
};

// The bytes of a Mesh object after its name field, in the layout of the engine generation of
// `engineMajor` (3 and below, 4, 5 and above), every value in `order`.
std::vector<uint8_t> MakeMeshBody(int engineMajor, Endian order, const SimpleMesh& mesh,
                                  MeshBodyFields* fields = nullptr);

// The whole object: its name field (length, text, padding to 4) followed by the body.
std::vector<uint8_t> MakeMeshObject(int engineMajor, Endian order, const std::string& name,
                                    const SimpleMesh& mesh);

// A unit cube of 24 vertices (four per side, with normals and texture coordinates) and
// 36 indices in one sub-mesh.
SimpleMesh MakeCubeMesh();

} // namespace kestrel::test

namespace kestrel::test {

// A Mesh object of engines 5.5 and later as the builder lays it out for an engine version, by
// its own reading of the engine's type trees (not by the program's layout table): stream 0 holds
// position, normal and a 4-byte colour, stream 1 the first texture coordinates, starting on the
// next 16-byte boundary.
struct ModernMeshOptions {
    bool index32 = false;       // m_IndexFormat 1, 32-bit indices (releases that store the field)
    uint32_t baseVertex = 0;    // every sub-mesh's base vertex; indices are stored minus it
    bool halfTexCoords = false; // texture coordinates as half floats
    int32_t topology = 0;       // of every sub-mesh
    uint8_t meshCompression = 0;
    std::string streamPath;     // non-empty: the vertex data is streamed (2018.3 and later)
    uint64_t streamOffset = 0;
};

struct ModernMeshBytes {
    std::vector<uint8_t> body;       // the object's bytes after its name field
    std::vector<uint8_t> vertexData; // the vertex data (also inside body unless streamed)
};

// Little-endian, as every engine of these releases writes meshes for the platforms they read.
ModernMeshBytes MakeModernMeshBody(const std::string& engineVersion, const SimpleMesh& mesh,
                                   const ModernMeshOptions& options = {});

} // namespace kestrel::test
