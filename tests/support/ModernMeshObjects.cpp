#include "common/EngineVersion.h"
#include "io/Writer.h"
#include "support/MeshObjects.h"

namespace kestrel::test {
namespace {

bool AtLeast(const EngineVersion& v, int major, int minor = 0) {
    return v.major > major || (v.major == major && v.minor >= minor);
}

void Align(Writer& w) {
    w.Align4();
}

void EmptyVector(Writer& w) {
    w.U32(0);
}

void PackedVector(Writer& w, bool ranged) {
    w.U32(0);
    if (ranged) {
        w.F32(0);
        w.F32(0);
    }
    EmptyVector(w);
    w.U8(0);
    Align(w);
}

uint16_t Half(float f) {
    // The builder's values are 0, 0.5 and 1 and their negatives: exact in half precision.
    if (f == 0.0f) return 0;
    const uint16_t sign = f < 0 ? 0x8000 : 0;
    const float a = f < 0 ? -f : f;
    return static_cast<uint16_t>(sign | (a == 1.0f ? 0x3C00 : a == 0.5f ? 0x3800 : 0x4000));
}

std::vector<uint8_t> VertexData(const SimpleMesh& m, bool halfUv, uint32_t& stride0) {
    const size_t n = m.positions.size();
    Writer w(Endian::Little);
    stride0 = 28;
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k)
            w.F32(m.positions[i][k]);
        for (int k = 0; k < 3; ++k)
            w.F32(i < m.normals.size() ? m.normals[i][k] : 0.0f);
        w.U32(0xFF8040C0u);
    }
    while (w.Size() % 16 != 0)
        w.U8(0);
    for (size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 2; ++k) {
            const float f = i < m.uvs.size() ? m.uvs[i][k] : 0.0f;
            if (halfUv)
                w.U16(Half(f));
            else
                w.F32(f);
        }
    }
    return w.Take();
}

void Channels(Writer& w, const EngineVersion& v, bool halfUv) {
    const bool numbering2018 = AtLeast(v, 2018);
    const size_t count = numbering2018 ? 14 : 8;
    const size_t color = numbering2018 ? 3 : 2;
    const size_t uv0 = numbering2018 ? 4 : 3;
    w.U32(static_cast<uint32_t>(count));
    for (size_t c = 0; c < count; ++c) {
        uint8_t rec[4] = {0, 0, 0, 0}; // stream, offset, format, dimension
        if (c == 0) rec[3] = 3;
        if (c == 1) rec[1] = 12, rec[3] = 3;
        // Format 2 is the colour format before 2019 and 8-bit unsigned normalized after.
        if (c == color) rec[1] = 24, rec[2] = 2, rec[3] = 4;
        if (c == uv0) rec[0] = 1, rec[2] = halfUv ? 1 : 0, rec[3] = 2;
        w.Bytes(rec, 4);
    }
}

std::vector<SimpleSubMesh> SubMeshesOf(const SimpleMesh& m) {
    if (!m.subMeshes.empty()) return m.subMeshes;
    SimpleSubMesh all;
    all.indexCount = static_cast<uint32_t>(m.indices.size());
    all.vertexCount = static_cast<uint32_t>(m.positions.size());
    return {all};
}

} // namespace

ModernMeshBytes MakeModernMeshBody(const std::string& engineVersion, const SimpleMesh& m,
                                   const ModernMeshOptions& o) {
    const EngineVersion v = ParseEngineVersion(engineVersion);
    const bool hasBaseVertex = AtLeast(v, 2017, 3);
    const bool hasIndexFormat =
        AtLeast(v, 2017, 4) || (v.major == 2017 && v.minor == 3 &&
                                (o.meshCompression == 0 || (v.patch >= 1 && v.type == 'p')));
    const bool wide = o.index32 && hasIndexFormat;
    const uint32_t indexSize = wide ? 4 : 2;
    ModernMeshBytes out;
    Writer w(Endian::Little);

    const auto subs = SubMeshesOf(m);
    w.U32(static_cast<uint32_t>(subs.size()));
    for (const SimpleSubMesh& s : subs) {
        w.U32(indexSize * s.firstIndex);
        w.U32(s.indexCount);
        w.U32(static_cast<uint32_t>(o.topology));
        if (hasBaseVertex) w.U32(o.baseVertex);
        w.U32(s.firstVertex);
        w.U32(s.vertexCount);
        for (int k = 0; k < 6; ++k)
            w.F32(0.25f);
    }
    EmptyVector(w); // blend-shape vertices
    EmptyVector(w); // blend shapes
    w.U32(static_cast<uint32_t>(m.blendShapeChannels.size()));
    for (const std::string& name : m.blendShapeChannels) {
        w.U32(static_cast<uint32_t>(name.size()));
        w.Bytes(name);
        Align(w);
        w.U32(0x1234);
        w.U32(0);
        w.U32(1);
    }
    EmptyVector(w); // full weights
    w.U32(m.bindPoseCount);
    for (uint32_t i = 0; i < m.bindPoseCount * 16; ++i)
        w.F32(i % 5 == 0 ? 1.0f : 0.0f);
    EmptyVector(w); // bone name hashes
    w.U32(0);       // root bone name hash
    if (AtLeast(v, 2019)) {
        EmptyVector(w); // bone bounding boxes
        EmptyVector(w); // variable bone count weights
    }
    w.U8(o.meshCompression);
    w.U8(1);
    w.U8(0);
    w.U8(0);
    Align(w);
    if (hasIndexFormat) w.U32(wide ? 1 : 0);
    const uint32_t hasBase = hasBaseVertex ? o.baseVertex : 0;
    w.U32(static_cast<uint32_t>(indexSize * m.indices.size()));
    for (uint16_t i : m.indices) {
        if (wide)
            w.U32(i - hasBase);
        else
            w.U16(static_cast<uint16_t>(i - hasBase));
    }
    Align(w);
    if (!AtLeast(v, 2018, 2)) EmptyVector(w); // skin
    if (!AtLeast(v, 2018)) w.U32(0x8F);       // current channels
    w.U32(static_cast<uint32_t>(m.positions.size()));
    Channels(w, v, o.halfTexCoords);
    uint32_t stride0 = 0;
    out.vertexData = VertexData(m, o.halfTexCoords, stride0);
    const bool streamed = !o.streamPath.empty() && AtLeast(v, 2018, 3);
    w.U32(streamed ? 0 : static_cast<uint32_t>(out.vertexData.size()));
    if (!streamed) w.Bytes(out.vertexData.data(), out.vertexData.size());
    Align(w);
    for (bool ranged : {true, true, true, true, false, false, false, true, false, false})
        PackedVector(w, ranged);
    w.U32(0); // UV info
    for (int k = 0; k < 6; ++k)
        w.F32(1.0f);
    w.U32(0);                           // mesh usage flags
    if (AtLeast(v, 2022, 1)) w.U32(30); // cooking options
    EmptyVector(w);
    EmptyVector(w);
    if (AtLeast(v, 2018, 2)) {
        w.F32(1.0f);
        w.F32(1.0f);
    }
    if (AtLeast(v, 2018, 3)) {
        Align(w);
        if (AtLeast(v, 2020, 1))
            w.U64(streamed ? o.streamOffset : 0);
        else
            w.U32(static_cast<uint32_t>(streamed ? o.streamOffset : 0));
        w.U32(streamed ? static_cast<uint32_t>(out.vertexData.size()) : 0);
        const std::string path = streamed ? o.streamPath : "";
        w.U32(static_cast<uint32_t>(path.size()));
        w.Bytes(path);
        Align(w);
    }
    out.body = w.Take();
    return out;
}

} // namespace kestrel::test
