#include "support/MeshObjects.h"

#include "io/Writer.h"

namespace kestrel::test {

namespace {

enum class Gen { E3, E4, E5 };

Gen GenOf(int engineMajor) {
    if (engineMajor <= 3) return Gen::E3;
    return engineMajor == 4 ? Gen::E4 : Gen::E5;
}

class BodyWriter {
public:
    BodyWriter(Endian order, MeshBodyFields* fields) : w(order), fields_(fields) {}

    void Count(const std::string& name, uint32_t n) {
        if (fields_ != nullptr) fields_->counts.emplace_back(name, w.Size());
        w.U32(n);
    }
    void EmptyVector(const std::string& name) {
        Count(name, 0);
        w.Align4();
    }
    void PackedVector(const std::string& name, bool ranged) {
        w.U32(0); // items
        if (ranged) {
            w.F32(0);
            w.F32(0);
        }
        EmptyVector(name);
        w.U8(0); // bit size
        w.Align4();
    }

    Writer w;

private:
    MeshBodyFields* fields_;
};

std::vector<SimpleSubMesh> SubMeshesOf(const SimpleMesh& m) {
    if (!m.subMeshes.empty()) return m.subMeshes;
    SimpleSubMesh all;
    all.indexCount = static_cast<uint32_t>(m.indices.size());
    all.vertexCount = static_cast<uint32_t>(m.positions.size());
    return {all};
}

void WriteSubMeshes(BodyWriter& b, Gen gen, const SimpleMesh& m) {
    const auto subs = SubMeshesOf(m);
    b.Count("sub-mesh count", static_cast<uint32_t>(subs.size()));
    for (const SimpleSubMesh& s : subs) {
        b.w.U32(2 * s.firstIndex);
        b.Count("sub-mesh index count", s.indexCount);
        if (gen == Gen::E3) {
            b.w.U32(s.triStrip ? 1 : 0);
            const uint32_t tris =
                s.triStrip ? (s.indexCount >= 2 ? s.indexCount - 2 : 0) : s.indexCount / 3;
            b.Count("sub-mesh triangle count", s.triangleCount.value_or(tris));
        } else {
            b.w.U32(0); // topology: triangles
        }
        b.w.U32(s.firstVertex);
        b.Count("sub-mesh vertex count", s.vertexCount);
        for (int k = 0; k < 6; ++k)
            b.w.F32(0.5f);
    }
}

void WriteBlendShapesAndBones(BodyWriter& b, const SimpleMesh& m) {
    b.EmptyVector("blend-shape vertex count");
    b.EmptyVector("blend-shape count");
    b.Count("blend-shape channel count", static_cast<uint32_t>(m.blendShapeChannels.size()));
    for (const std::string& name : m.blendShapeChannels) {
        b.Count("blend-shape channel name length", static_cast<uint32_t>(name.size()));
        b.w.Bytes(name);
        b.w.Align4();
        b.w.U32(0x1234); // name hash
        b.w.U32(0);      // frame index
        b.w.U32(1);      // frame count
    }
    b.EmptyVector("blend-shape full weight count");
    b.Count("bind pose count", m.bindPoseCount);
    for (uint32_t i = 0; i < m.bindPoseCount * 16; ++i)
        b.w.F32(i % 5 == 0 ? 1.0f : 0.0f);
    b.EmptyVector("bone name hash count");
    b.w.U32(0); // root bone name hash
}

void WriteIndexBuffer(BodyWriter& b, const SimpleMesh& m) {
    b.Count("index buffer size", static_cast<uint32_t>(2 * m.indices.size()));
    for (uint16_t i : m.indices)
        b.w.U16(i);
    b.w.Align4();
}

template <size_t N>
void PutFloats(Writer& w, const std::vector<std::array<float, N>>& values, size_t i) {
    for (size_t k = 0; k < N; ++k)
        w.F32(i < values.size() ? values[i][k] : 0.0f);
}

// Vertex data of engines 3 and earlier: one interleaved stream of position, normal, texture
// coordinates.
void WriteVertexData3(BodyWriter& b, const SimpleMesh& m) {
    b.w.U32(0x0B); // current channels: position, normal, first texture coordinates
    b.Count("vertex count", static_cast<uint32_t>(m.positions.size()));
    for (int s = 0; s < 4; ++s) {
        b.w.U32(s == 0 ? 0x0B : 0);
        b.w.U32(0);
        b.w.U32(s == 0 ? 32 : 0);
        b.w.U32(0);
    }
    b.Count("vertex data size", static_cast<uint32_t>(32 * m.positions.size()));
    for (size_t i = 0; i < m.positions.size(); ++i) {
        PutFloats(b.w, m.positions, i);
        PutFloats(b.w, m.normals, i);
        PutFloats(b.w, m.uvs, i);
    }
    b.w.Align4();
}

void WriteVertexData45(BodyWriter& b, Gen gen, const SimpleMesh& m) {
    const size_t n = m.positions.size();
    const uint8_t colorSize = m.colorChannel ? 4 : 0;
    const uint8_t uvStream = m.uvInSecondStream ? 1 : 0;
    const uint8_t uvOffset = m.uvInSecondStream ? 0 : static_cast<uint8_t>(24 + colorSize);
    const uint8_t uvDim = m.withTexCoords ? 2 : 0;
    const uint32_t stride0 = 24 + colorSize + (m.uvInSecondStream ? 0 : 4u * uvDim);
    const uint32_t stride1 = m.uvInSecondStream ? 4u * uvDim : 0;
    b.w.U32(0x0B);
    b.Count("vertex count", static_cast<uint32_t>(n));
    const size_t channelCount = gen == Gen::E4 ? 6 : 8;
    b.Count("channel count", static_cast<uint32_t>(channelCount));
    for (size_t c = 0; c < channelCount; ++c) {
        uint8_t rec[4] = {0, 0, 0, 0};
        if (c == 0) rec[3] = 3;
        if (c == 1) rec[1] = 12, rec[3] = 3;
        if (c == 2 && m.colorChannel) rec[1] = 24, rec[2] = 2, rec[3] = 4;
        if (c == 3) rec[0] = uvStream, rec[1] = uvOffset, rec[3] = uvDim;
        b.w.Bytes(rec, 4);
    }
    b.w.Align4();
    if (gen == Gen::E4) {
        b.Count("stream count", 4);
        for (int s = 0; s < 4; ++s) {
            b.w.U32(s == 0 ? 0x07 : s == 1 && m.uvInSecondStream ? 0x08 : 0); // channel mask
            b.w.U32(s == 1 ? static_cast<uint32_t>(stride0 * n) : 0);         // offset
            b.w.U8(static_cast<uint8_t>(s == 0 ? stride0 : s == 1 ? stride1 : 0));
            b.w.U8(0);
            b.w.U16(0);
        }
    }
    b.Count("vertex data size", static_cast<uint32_t>((stride0 + stride1) * n));
    for (size_t i = 0; i < n; ++i) {
        PutFloats(b.w, m.positions, i);
        PutFloats(b.w, m.normals, i);
        if (m.colorChannel) b.w.U32(0xFF8040C0u);
        if (!m.uvInSecondStream && uvDim != 0) PutFloats(b.w, m.uvs, i);
    }
    for (size_t i = 0; m.uvInSecondStream && uvDim != 0 && i < n; ++i)
        PutFloats(b.w, m.uvs, i);
    b.w.Align4();
}

void WriteCompressedMeshAndTail(BodyWriter& b, Gen gen) {
    const bool upTo4 = gen != Gen::E5;
    b.PackedVector("compressed vertices size", true);
    b.PackedVector("compressed UV size", true);
    if (upTo4) b.PackedVector("compressed bind poses size", true);
    b.PackedVector("compressed normals size", true);
    b.PackedVector("compressed tangents size", true);
    b.PackedVector("compressed weights size", false);
    b.PackedVector("compressed normal signs size", false);
    b.PackedVector("compressed tangent signs size", false);
    if (!upTo4) b.PackedVector("compressed float colours size", true);
    b.PackedVector("compressed bone indices size", false);
    b.PackedVector("compressed triangles size", false);
    if (upTo4) b.PackedVector("compressed colours size", false);
    if (!upTo4) b.w.U32(0); // UV info
    for (int k = 0; k < 6; ++k)
        b.w.F32(1.0f);
    b.w.U32(0); // mesh usage flags
    if (!upTo4) {
        b.EmptyVector("baked convex collision mesh size");
        b.EmptyVector("baked triangle collision mesh size");
    }
}

} // namespace

std::vector<uint8_t> MakeMeshBody(int engineMajor, Endian order, const SimpleMesh& mesh,
                                  MeshBodyFields* fields) {
    const Gen gen = GenOf(engineMajor);
    BodyWriter b(order, fields);
    WriteSubMeshes(b, gen, mesh);
    if (gen == Gen::E3) {
        b.w.U8(mesh.meshCompression);
        b.w.Align4();
        WriteIndexBuffer(b, mesh);
        b.EmptyVector("skin count");
        b.Count("bind pose count", mesh.bindPoseCount);
        for (uint32_t i = 0; i < mesh.bindPoseCount * 16; ++i)
            b.w.F32(1.0f);
        WriteVertexData3(b, mesh);
    } else {
        WriteBlendShapesAndBones(b, mesh);
        b.w.U8(mesh.meshCompression);
        if (gen == Gen::E4) b.w.U8(0); // stream compression
        b.w.U8(1);                     // readable
        b.w.U8(1);                     // keep vertices
        b.w.U8(1);                     // keep indices
        b.w.Align4();
        WriteIndexBuffer(b, mesh);
        b.EmptyVector("skin count");
        WriteVertexData45(b, gen, mesh);
    }
    WriteCompressedMeshAndTail(b, gen);
    return b.w.Take();
}

std::vector<uint8_t> MakeMeshObject(int engineMajor, Endian order, const std::string& name,
                                    const SimpleMesh& mesh) {
    Writer w(order);
    w.U32(static_cast<uint32_t>(name.size()));
    w.Bytes(name);
    w.Align4();
    const auto body = MakeMeshBody(engineMajor, order, mesh);
    w.Bytes(body.data(), body.size());
    return w.Take();
}

SimpleMesh MakeCubeMesh() {
    SimpleMesh m;
    // Each side: its normal axis and sign, and the two axes spanning it.
    struct Side {
        int axis;
        float sign;
    };
    constexpr Side kSides[] = {{0, 1}, {0, -1}, {1, 1}, {1, -1}, {2, 1}, {2, -1}};
    constexpr float kCorners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    for (const Side& side : kSides) {
        const auto base = static_cast<uint16_t>(m.positions.size());
        const int u = (side.axis + 1) % 3;
        const int v = (side.axis + 2) % 3;
        for (const auto& c : kCorners) {
            std::array<float, 3> p{};
            p[side.axis] = 0.5f * side.sign;
            p[u] = c[0];
            p[v] = c[1];
            std::array<float, 3> n{};
            n[side.axis] = side.sign;
            m.positions.push_back(p);
            m.normals.push_back(n);
            m.uvs.push_back({c[0] + 0.5f, c[1] + 0.5f});
        }
        for (uint16_t k : {0, 1, 2, 0, 2, 3})
            m.indices.push_back(static_cast<uint16_t>(base + k));
    }
    return m;
}

} // namespace kestrel::test
