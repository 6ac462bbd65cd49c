#pragma once
// Meshes of the engines that wrote serialized formats 5 to 8 (2.x to 3.4): each vertex attribute
// is an array of its own (m_Vertices, m_UV, m_Normals), the indices are 16-bit values in a byte
// array, and sub-meshes give their first byte, index count, strip flag and triangle count. The
// fields are read by the type tree the file carries, so no per-release layout is needed.
#include "assets/ObjectFields.h"
#include "io/ByteOrder.h"
#include "mesh/ObjMeshSource.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel {

class TreeMesh final : public ObjMeshSource {
public:
    // The mesh of an object read by its tree (ReadObjectFields); nullopt when the tree is not
    // of the separate-arrays kind (no m_Vertices array). `order` is the file's byte order, in
    // which the index bytes are stored. Raises KestrelError when a field has an unexpected shape.
    static std::optional<TreeMesh> From(const FieldValue& root, Endian order);

    uint8_t meshCompression = 0;

    [[nodiscard]] uint64_t VertexTotal() const override { return positions_.size() / 3; }
    [[nodiscard]] uint64_t VertexDataSize() const override {
        return VertexTotal() * BytesPerVertex();
    }
    [[nodiscard]] uint64_t IndexTotal() const override { return indices_.size(); }
    [[nodiscard]] uint64_t BytesPerVertex() const override;
    [[nodiscard]] uint64_t DataBytesPerVertex() const override { return BytesPerVertex(); }
    [[nodiscard]] uint64_t SubMeshCount() const override { return subMeshes_.size(); }
    [[nodiscard]] ObjSubMesh SubMeshAt(uint64_t k) const override;
    [[nodiscard]] bool HasAttribute(MeshAttribute attribute) const override;
    [[nodiscard]] bool ReadAttribute(MeshAttribute attribute, uint64_t vertex, int count,
                                     float* out) const override;
    [[nodiscard]] uint32_t IndexAt(uint64_t position) const override { return indices_[position]; }

private:
    struct SubMesh {
        uint32_t firstByte = 0;
        uint32_t indexCount = 0;
        uint32_t isTriStrip = 0;
        uint32_t triangleCount = 0;
    };
    const std::vector<float>& Values(MeshAttribute attribute) const;
    static uint32_t Components(MeshAttribute attribute);

    std::vector<float> positions_; // 3 per vertex
    std::vector<float> normals_;   // 3 per vertex, or none
    std::vector<float> uvs_;       // 2 per vertex, or none
    std::vector<uint32_t> indices_;
    uint32_t indexSize_ = 2;
    std::vector<SubMesh> subMeshes_;
};

} // namespace kestrel
