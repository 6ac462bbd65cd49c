#include "mesh/ObjWriter.h"

#include "common/Error.h"

#include <charconv>
#include <cmath>

namespace kestrel {

std::string MeshNumberText(float value, bool negate) {
    static const std::string kZero = "0.000000";
    if (negate) value *= -1.0f;
    if (!std::isfinite(value)) return kZero;
    // A mirrored zero is still zero; it is written without a sign.
    if (value == 0.0f) value = 0.0f;
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (ec != std::errc()) return kZero;
    std::string text(buf, end);
    // Large magnitudes in mesh data are garbage far more often than geometry: a text whose
    // first ".0" starts after its sixth character (1234567.0, -12345.0) is dropped.
    const auto dot = text.find(".0");
    if (dot != std::string::npos && dot >= 6) return kZero;
    return text;
}

namespace {

constexpr size_t kFlushSize = size_t{64} * 1024;

// Collects lines and hands them to the sink in large pieces.
class ObjText {
public:
    explicit ObjText(const ObjSink& sink) : sink_(sink) { buffer_.reserve(kFlushSize + 256); }
    ObjText& operator<<(std::string_view s) {
        buffer_ += s;
        return *this;
    }
    ObjText& operator<<(int64_t n) {
        char buf[24];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
        buffer_.append(buf, end);
        (void)ec;
        return *this;
    }
    ObjText& operator<<(uint64_t n) { return *this << static_cast<int64_t>(n); }
    void EndLine() {
        buffer_ += "\r\n";
        if (buffer_.size() >= kFlushSize) Flush();
    }
    void Flush() {
        if (!buffer_.empty()) sink_(buffer_);
        buffer_.clear();
    }

private:
    const ObjSink& sink_;
    std::string buffer_;
};

[[noreturn]] void Fail(const std::string& what) {
    throw KestrelError(what);
}

// The engine-3-to-5 mesh as the writer sees it: 16-bit indices, faces from FirstByte / 6 (a
// strip from FirstByte / 2), attributes read as float32 at the stream positions.
class LegacyMeshSource final : public ObjMeshSource {
public:
    explicit LegacyMeshSource(const TMeshBase& mesh) : mesh_(mesh) {}
    [[nodiscard]] uint64_t VertexTotal() const override { return mesh_.VertexCount; }
    [[nodiscard]] uint64_t VertexDataSize() const override { return mesh_.Data.Data.size(); }
    [[nodiscard]] uint64_t IndexTotal() const override { return mesh_.IndexTotal(); }
    [[nodiscard]] uint64_t BytesPerVertex() const override { return mesh_.BytesPerVertex(); }
    [[nodiscard]] uint64_t DataBytesPerVertex() const override {
        return mesh_.DataBytesPerVertex();
    }
    [[nodiscard]] uint64_t SubMeshCount() const override { return mesh_.SubMeshes.size(); }
    [[nodiscard]] ObjSubMesh SubMeshAt(uint64_t k) const override {
        const TSubMesh& s = mesh_.SubMeshes[k];
        const bool engine3 = mesh_.generation == MeshGeneration::Engine3;
        ObjSubMesh o;
        o.kind = engine3 && s.IsTriStrip != 0 ? FaceKind::TriangleStrip : FaceKind::TriangleList;
        o.firstFace = s.FirstByte / 6;
        o.firstIndex = o.kind == FaceKind::TriangleStrip ? s.FirstByte / 2 : 3 * o.firstFace;
        o.indexCount = s.IndexCount;
        o.faceCount = engine3 ? s.TriangleCount : s.IndexCount / 3;
        o.firstVertex = s.FirstVertex;
        o.vertexCount = s.VertexCount;
        return o;
    }
    [[nodiscard]] bool HasAttribute(MeshAttribute a) const override {
        return mesh_.HasAttribute(ChannelOf(a));
    }
    [[nodiscard]] bool ReadAttribute(MeshAttribute a, uint64_t vertex, int count,
                                     float* out) const override {
        const int64_t at = mesh_.AttributeOffset(ChannelOf(a), vertex, uint64_t{4} * count);
        if (at < 0) return false;
        for (int k = 0; k < count; ++k)
            out[k] = mesh_.DataFloat(at + int64_t{4} * k);
        return true;
    }
    [[nodiscard]] uint32_t IndexAt(uint64_t position) const override {
        return mesh_.IndexAt(position);
    }

private:
    static size_t ChannelOf(MeshAttribute a) {
        return a == MeshAttribute::Position ? kPositionChannel
               : a == MeshAttribute::Normal ? kNormalChannel
                                            : kTexCoordChannel;
    }
    const TMeshBase& mesh_;
};

void WriteSummary(const ObjMeshSource& mesh, ObjText& out) {
    uint64_t usedVertices = 0, usedIndices = 0, usedFaces = 0;
    for (uint64_t k = 0; k < mesh.SubMeshCount(); ++k) {
        const ObjSubMesh s = mesh.SubMeshAt(k);
        usedVertices += s.vertexCount;
        usedIndices += s.indexCount;
        usedFaces += s.faceCount;
    }
    // The per-vertex byte counts are shown as single bytes.
    out << "# Created by Kestrel Meshes = " << mesh.SubMeshCount()
        << " Vertices: total=" << mesh.VertexTotal() << "/used=" << usedVertices
        << " Indices: total=" << mesh.IndexTotal() << "/used=" << usedIndices
        << " Faces: total=" << mesh.IndexTotal() / 3 << "/used=" << usedFaces
        << " Bytes per Vertex: " << (mesh.BytesPerVertex() & 0xFF) << "/"
        << (mesh.DataBytesPerVertex() & 0xFF);
    out.EndLine();
}

// Writes `count` coordinates of an attribute; an attribute the mesh does not store is zero.
void WriteAttribute(const ObjMeshSource& mesh, ObjText& out, std::string_view tag,
                    MeshAttribute attribute, uint64_t vertex, int count, bool mirrorX) {
    out << tag;
    float values[4] = {0, 0, 0, 0};
    if (mesh.HasAttribute(attribute) && !mesh.ReadAttribute(attribute, vertex, count, values)) {
        Fail("vertex " + std::to_string(vertex) + " lies outside the vertex data");
    }
    for (int k = 0; k < count; ++k)
        out << " " << MeshNumberText(values[k], mirrorX && k == 0);
    out.EndLine();
}

void WriteVertices(const ObjMeshSource& mesh, const ObjSubMesh& s, ObjText& out) {
    const uint64_t first = s.firstVertex;
    const uint64_t last = first + s.vertexCount; // one past
    out << "# Vertices: (" << first + 1 << " to " << last << ")";
    out.EndLine();
    // Every vertex needs at least one byte of vertex data; this also bounds the text written.
    if (last > mesh.VertexTotal() || mesh.VertexTotal() > mesh.VertexDataSize()) {
        Fail("sub-mesh vertices lie outside the vertex data");
    }
    for (uint64_t i = first; i < last; ++i) {
        WriteAttribute(mesh, out, "v", MeshAttribute::Position, i, 3, true);
        WriteAttribute(mesh, out, "vt", MeshAttribute::TexCoord, i, 2, false);
        WriteAttribute(mesh, out, "vn", MeshAttribute::Normal, i, 3, true);
    }
}

// Face corners refer back from the last vertex written, so each sub-mesh uses only its own
// block of vertices.
class FaceWriter {
public:
    FaceWriter(const ObjMeshSource& mesh, const ObjSubMesh& s, ObjText& out)
        : mesh_(mesh), out_(out), first_(static_cast<int64_t>(s.firstVertex)),
          end_(static_cast<int64_t>(s.firstVertex + s.vertexCount)), base_(s.baseVertex) {}

    [[nodiscard]] int64_t Index(uint64_t position) const {
        if (position >= mesh_.IndexTotal()) Fail("face index position outside the index buffer");
        return int64_t{mesh_.IndexAt(position)} + base_;
    }
    void Face(int64_t a, int64_t b, int64_t c) {
        out_ << "f";
        for (int64_t n : {a, b, c}) {
            if (n < first_ || n >= end_) Fail("face index outside its sub-mesh's vertices");
            const int64_t rel = n - end_;
            out_ << " " << rel << "/" << rel << "/" << rel;
        }
        out_.EndLine();
    }

private:
    const ObjMeshSource& mesh_;
    ObjText& out_;
    int64_t first_;
    int64_t end_;
    int64_t base_;
};

void WriteTriangleList(const ObjSubMesh& s, FaceWriter& faces) {
    for (uint64_t j = 0; j < s.faceCount; ++j) {
        const uint64_t p = s.firstIndex + 3 * j;
        const int64_t a = faces.Index(p);
        const int64_t b = faces.Index(p + 1);
        const int64_t c = faces.Index(p + 2);
        faces.Face(c, b, a); // winding reversed to match the mirrored X axis
    }
}

// A quad a, b, c, d is the two triangles a, b, c and a, c, d.
void WriteQuads(const ObjSubMesh& s, FaceWriter& faces) {
    for (uint64_t j = 0; j < s.faceCount / 2; ++j) {
        const uint64_t p = s.firstIndex + 4 * j;
        const int64_t a = faces.Index(p), b = faces.Index(p + 1);
        const int64_t c = faces.Index(p + 2), d = faces.Index(p + 3);
        faces.Face(c, b, a);
        faces.Face(d, c, a);
    }
}

// A strip alternates its winding; a repeated index joins two runs of the strip.
void WriteTriangleStrip(const ObjSubMesh& s, FaceWriter& faces) {
    uint64_t p = s.firstIndex;
    const uint64_t end = p + s.indexCount;
    uint64_t q = 0;
    while (p + 2 < end) {
        const int64_t i0 = faces.Index(p), i1 = faces.Index(p + 1), i2 = faces.Index(p + 2);
        if (q % 2 == 0)
            faces.Face(i2, i1, i0);
        else
            faces.Face(i0, i1, i2);
        p += 3;
        while (p < end) {
            if (faces.Index(p) != faces.Index(p - 1)) {
                const int64_t a = faces.Index(p - 2), b = faces.Index(p - 1), c = faces.Index(p);
                if (q % 2 == 0)
                    faces.Face(a, b, c);
                else
                    faces.Face(c, b, a);
                ++q;
                ++p;
                continue;
            }
            ++p;
            while (p + 1 < end && faces.Index(p) == faces.Index(p + 1)) {
                ++q;
                ++p;
            }
            break;
        }
    }
}

} // namespace

void WriteObjText(const TMeshBase& mesh, const std::string& baseName, const ObjSink& sink) {
    WriteObjText(LegacyMeshSource(mesh), baseName, sink);
}

void WriteObjText(const ObjMeshSource& mesh, const std::string& baseName, const ObjSink& sink) {
    ObjText out(sink);
    WriteSummary(mesh, out);
    for (uint64_t k = 1; k <= mesh.SubMeshCount(); ++k) {
        const ObjSubMesh s = mesh.SubMeshAt(k - 1);
        out << "g " << baseName << "_" << k;
        out.EndLine();
        out << "# SubMesh: " << k << " SubVertices = " << s.vertexCount
            << " SubIndices = " << s.indexCount << " SubFaces = " << s.faceCount;
        out.EndLine();
        WriteVertices(mesh, s, out);
        out << "# Faces: (" << s.firstFace + 1 << " to " << s.firstFace + s.faceCount << ")";
        out.EndLine();
        FaceWriter faces(mesh, s, out);
        switch (s.kind) {
        case FaceKind::TriangleList:
            WriteTriangleList(s, faces);
            break;
        case FaceKind::TriangleStrip:
            WriteTriangleStrip(s, faces);
            break;
        case FaceKind::Quads:
            WriteQuads(s, faces);
            break;
        case FaceKind::None:
            break;
        }
    }
    out.Flush();
}

} // namespace kestrel
