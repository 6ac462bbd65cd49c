#include "mesh/TreeMesh.h"

#include "common/Error.h"

#include <bit>
#include <string_view>

namespace kestrel {

namespace {

const FieldValue* Item(const FieldValue& value, std::string_view name) {
    for (const FieldValue& item : value.items) {
        if (item.field != nullptr && item.field->name == name) return &item;
    }
    return nullptr;
}

uint32_t Number(const FieldValue* value) {
    return value != nullptr && IsPrimitive(value->field->kind) ? static_cast<uint32_t>(value->bits)
                                                               : 0;
}

// An array of vectors ({x, y[, z]} of floats) into `count` floats per element; with `member`,
// the vector is that field of each element.
std::vector<float> VectorArray(const FieldValue* array, uint32_t count, const char* name,
                               const char* member = nullptr) {
    std::vector<float> out;
    if (array == nullptr) return out;
    if (array->field->kind != FieldKind::Array)
        throw KestrelError(std::string("the mesh field ") + name + " is no array");
    out.reserve(array->items.size() * count);
    for (const FieldValue& item : array->items) {
        const FieldValue* inner = member != nullptr ? Item(item, member) : &item;
        if (inner == nullptr)
            throw KestrelError(std::string("an element of the mesh field ") + name + " has no " +
                               member);
        const FieldValue& element = *inner;
        if (element.items.size() < count)
            throw KestrelError(std::string("an element of the mesh field ") + name +
                               " has too few components");
        for (uint32_t k = 0; k < count; ++k) {
            const FieldValue& c = element.items[k];
            if (c.field->kind != FieldKind::Float)
                throw KestrelError(std::string("the mesh field ") + name + " holds no floats");
            out.push_back(std::bit_cast<float>(static_cast<uint32_t>(c.bits)));
        }
    }
    return out;
}

} // namespace

std::optional<TreeMesh> TreeMesh::From(const FieldValue& root, Endian order) {
    const FieldValue* vertices = Item(root, "m_Vertices");
    const FieldValue* indexBuffer = Item(root, "m_IndexBuffer");
    const FieldValue* subMeshes = Item(root, "m_SubMeshes");
    if (vertices == nullptr || indexBuffer == nullptr || subMeshes == nullptr) return std::nullopt;
    TreeMesh mesh;
    mesh.meshCompression = static_cast<uint8_t>(Number(Item(root, "m_MeshCompression")));
    mesh.positions_ = VectorArray(vertices, 3, "m_Vertices");
    mesh.normals_ = VectorArray(Item(root, "m_Normals"), 3, "m_Normals");
    // The engines of format 5 keep each normal with its tangent.
    if (mesh.normals_.empty())
        mesh.normals_ = VectorArray(Item(root, "m_TangentSpace"), 3, "m_TangentSpace", "normal");
    mesh.uvs_ = VectorArray(Item(root, "m_UV"), 2, "m_UV");
    // m_Use16BitIndices (2.x) is 0 for 32-bit indices; later releases store 16-bit ones only.
    if (const FieldValue* use16 = Item(root, "m_Use16BitIndices"); use16 != nullptr)
        mesh.indexSize_ = Number(use16) != 0 ? 2 : 4;
    if (!indexBuffer->field->PackedArray() || indexBuffer->field->element->width != 1)
        throw KestrelError("the mesh field m_IndexBuffer is no byte array");
    const std::string& bytes = indexBuffer->bytes;
    mesh.indices_.reserve(bytes.size() / mesh.indexSize_);
    for (size_t at = 0; at + mesh.indexSize_ <= bytes.size(); at += mesh.indexSize_) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        mesh.indices_.push_back(mesh.indexSize_ == 2 ? LoadU16(p, order) : LoadU32(p, order));
    }
    if (subMeshes->field->kind != FieldKind::Array)
        throw KestrelError("the mesh field m_SubMeshes is no array");
    for (const FieldValue& s : subMeshes->items) {
        mesh.subMeshes_.push_back({Number(Item(s, "firstByte")), Number(Item(s, "indexCount")),
                                   Number(Item(s, "isTriStrip")),
                                   Number(Item(s, "triangleCount"))});
    }
    return mesh;
}

uint64_t TreeMesh::BytesPerVertex() const {
    uint64_t bytes = 12;
    if (!normals_.empty()) bytes += 12;
    if (!uvs_.empty()) bytes += 8;
    return bytes;
}

ObjSubMesh TreeMesh::SubMeshAt(uint64_t k) const {
    const SubMesh& s = subMeshes_[k];
    ObjSubMesh o;
    o.kind = s.isTriStrip != 0 ? FaceKind::TriangleStrip : FaceKind::TriangleList;
    o.firstIndex = s.firstByte / indexSize_;
    o.firstFace = o.kind == FaceKind::TriangleStrip ? o.firstIndex : o.firstIndex / 3;
    o.indexCount = s.indexCount;
    o.faceCount = s.isTriStrip != 0 ? s.triangleCount : s.indexCount / 3;
    // The sub-meshes of these releases share every vertex.
    o.firstVertex = 0;
    o.vertexCount = VertexTotal();
    return o;
}

uint32_t TreeMesh::Components(MeshAttribute attribute) {
    return attribute == MeshAttribute::TexCoord ? 2 : 3;
}

const std::vector<float>& TreeMesh::Values(MeshAttribute attribute) const {
    switch (attribute) {
    case MeshAttribute::Normal:
        return normals_;
    case MeshAttribute::TexCoord:
        return uvs_;
    default:
        return positions_;
    }
}

bool TreeMesh::HasAttribute(MeshAttribute attribute) const {
    // An attribute array of another length than the vertices' is not used.
    return Values(attribute).size() == VertexTotal() * Components(attribute) && VertexTotal() != 0;
}

bool TreeMesh::ReadAttribute(MeshAttribute attribute, uint64_t vertex, int count,
                             float* out) const {
    const std::vector<float>& values = Values(attribute);
    const uint64_t stride = Components(attribute);
    if (count < 0 || static_cast<uint64_t>(count) > stride || (vertex + 1) * stride > values.size())
        return false;
    for (int k = 0; k < count; ++k)
        out[k] = values[vertex * stride + static_cast<uint64_t>(k)];
    return true;
}

} // namespace kestrel
