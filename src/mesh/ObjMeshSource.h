#pragma once
#include <cstdint>

namespace kestrel {

// The vertex attributes an OBJ file holds.
enum class MeshAttribute : uint8_t { Position, Normal, TexCoord };

// How a sub-mesh's indices form faces.
enum class FaceKind : uint8_t { TriangleList, TriangleStrip, Quads, None };

// One sub-mesh as the OBJ writer walks it. Indices are read from index position firstIndex on;
// baseVertex is added to each before it is checked against [firstVertex, firstVertex +
// vertexCount).
struct ObjSubMesh {
    uint64_t firstIndex = 0;
    uint64_t indexCount = 0;
    uint64_t faceCount = 0;
    uint64_t firstFace = 0; // shown in the faces comment
    uint64_t firstVertex = 0;
    uint64_t vertexCount = 0;
    int64_t baseVertex = 0;
    FaceKind kind = FaceKind::TriangleList;
};

// What the OBJ writer reads of a mesh, whichever engine generation wrote it.
class ObjMeshSource {
public:
    virtual ~ObjMeshSource() = default;
    [[nodiscard]] virtual uint64_t VertexTotal() const = 0;
    // Bytes of vertex data: every vertex needs at least one.
    [[nodiscard]] virtual uint64_t VertexDataSize() const = 0;
    [[nodiscard]] virtual uint64_t IndexTotal() const = 0;
    [[nodiscard]] virtual uint64_t BytesPerVertex() const = 0;
    [[nodiscard]] virtual uint64_t DataBytesPerVertex() const = 0;
    [[nodiscard]] virtual uint64_t SubMeshCount() const = 0;
    [[nodiscard]] virtual ObjSubMesh SubMeshAt(uint64_t k) const = 0;
    // False for an attribute the mesh does not store (the OBJ gets zeros).
    [[nodiscard]] virtual bool HasAttribute(MeshAttribute attribute) const = 0;
    // The first `count` components of a vertex's attribute; false when they lie outside the data.
    [[nodiscard]] virtual bool ReadAttribute(MeshAttribute attribute, uint64_t vertex, int count,
                                             float* out) const = 0;
    // The index at a position; the caller checks position < IndexTotal().
    [[nodiscard]] virtual uint32_t IndexAt(uint64_t position) const = 0;
};

} // namespace kestrel
