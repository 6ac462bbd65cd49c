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

uint64_t FaceCountOf(const TMeshBase& mesh, const TSubMesh& s) {
    return mesh.generation == MeshGeneration::Engine3 ? s.TriangleCount : s.IndexCount / 3;
}

bool IsStrip(const TMeshBase& mesh, const TSubMesh& s) {
    return mesh.generation == MeshGeneration::Engine3 && s.IsTriStrip != 0;
}

void WriteSummary(const TMeshBase& mesh, ObjText& out) {
    uint64_t usedVertices = 0, usedIndices = 0, usedFaces = 0;
    for (const TSubMesh& s : mesh.SubMeshes) {
        usedVertices += s.VertexCount;
        usedIndices += s.IndexCount;
        usedFaces += FaceCountOf(mesh, s);
    }
    // The per-vertex byte counts are shown as single bytes.
    out << "# Created by Kestrel Meshes = " << uint64_t{mesh.SubMeshes.size()}
        << " Vertices: total=" << uint64_t{mesh.VertexCount} << "/used=" << usedVertices
        << " Indices: total=" << mesh.IndexTotal() << "/used=" << usedIndices
        << " Faces: total=" << mesh.FaceTotal() << "/used=" << usedFaces
        << " Bytes per Vertex: " << (mesh.BytesPerVertex() & 0xFF) << "/"
        << (mesh.DataBytesPerVertex() & 0xFF);
    out.EndLine();
}

// Writes `count` coordinates of an attribute; an attribute the mesh does not store is zero.
void WriteAttribute(const TMeshBase& mesh, ObjText& out, std::string_view tag, size_t channel,
                    uint64_t vertex, int count, bool mirrorX) {
    out << tag;
    if (!mesh.HasAttribute(channel)) {
        for (int k = 0; k < count; ++k)
            out << " " << MeshNumberText(0.0f, false);
        out.EndLine();
        return;
    }
    const int64_t at = mesh.AttributeOffset(channel, vertex, uint64_t{4} * count);
    if (at < 0) Fail("vertex " + std::to_string(vertex) + " lies outside the vertex data");
    for (int k = 0; k < count; ++k) {
        out << " " << MeshNumberText(mesh.DataFloat(at + int64_t{4} * k), mirrorX && k == 0);
    }
    out.EndLine();
}

void WriteVertices(const TMeshBase& mesh, const TSubMesh& s, ObjText& out) {
    const uint64_t first = s.FirstVertex;
    const uint64_t last = first + s.VertexCount; // one past
    out << "# Vertices: (" << first + 1 << " to " << last << ")";
    out.EndLine();
    // Every vertex needs at least one byte of vertex data; this also bounds the text written.
    if (last > mesh.VertexCount || mesh.VertexCount > mesh.Data.Data.size()) {
        Fail("sub-mesh vertices lie outside the vertex data");
    }
    for (uint64_t i = first; i < last; ++i) {
        WriteAttribute(mesh, out, "v", kPositionChannel, i, 3, true);
        WriteAttribute(mesh, out, "vt", kTexCoordChannel, i, 2, false);
        WriteAttribute(mesh, out, "vn", kNormalChannel, i, 3, true);
    }
}

// Face corners refer back from the last vertex written, so each sub-mesh uses only its own
// block of vertices.
class FaceWriter {
public:
    FaceWriter(const TMeshBase& mesh, const TSubMesh& s, ObjText& out)
        : mesh_(mesh), out_(out), first_(s.FirstVertex),
          end_(static_cast<int64_t>(s.FirstVertex) + s.VertexCount) {}

    [[nodiscard]] uint16_t Index(uint64_t position) const {
        if (position >= mesh_.IndexTotal()) Fail("face index position outside the index buffer");
        return mesh_.IndexAt(position);
    }
    void Face(uint16_t a, uint16_t b, uint16_t c) {
        out_ << "f";
        for (uint16_t n : {a, b, c}) {
            if (n < first_ || n >= end_) Fail("face index outside its sub-mesh's vertices");
            const int64_t rel = int64_t{n} - end_;
            out_ << " " << rel << "/" << rel << "/" << rel;
        }
        out_.EndLine();
    }

private:
    const TMeshBase& mesh_;
    ObjText& out_;
    int64_t first_;
    int64_t end_;
};

void WriteTriangleList(uint64_t firstFace, uint64_t faceCount, FaceWriter& faces) {
    for (uint64_t j = firstFace; j < firstFace + faceCount; ++j) {
        const uint16_t a = faces.Index(3 * j);
        const uint16_t b = faces.Index(3 * j + 1);
        const uint16_t c = faces.Index(3 * j + 2);
        faces.Face(c, b, a); // winding reversed to match the mirrored X axis
    }
}

// A strip alternates its winding; a repeated index joins two runs of the strip.
void WriteTriangleStrip(const TSubMesh& s, FaceWriter& faces) {
    uint64_t p = s.FirstByte / 2;
    const uint64_t end = p + s.IndexCount;
    uint64_t q = 0;
    while (p + 2 < end) {
        const uint16_t i0 = faces.Index(p), i1 = faces.Index(p + 1), i2 = faces.Index(p + 2);
        if (q % 2 == 0)
            faces.Face(i2, i1, i0);
        else
            faces.Face(i0, i1, i2);
        p += 3;
        while (p < end) {
            if (faces.Index(p) != faces.Index(p - 1)) {
                const uint16_t a = faces.Index(p - 2), b = faces.Index(p - 1), c = faces.Index(p);
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
    ObjText out(sink);
    WriteSummary(mesh, out);
    uint64_t k = 0;
    for (const TSubMesh& s : mesh.SubMeshes) {
        ++k;
        const uint64_t firstFace = s.FirstByte / 6;
        const uint64_t faceCount = FaceCountOf(mesh, s);
        out << "g " << baseName << "_" << k;
        out.EndLine();
        out << "# SubMesh: " << k << " SubVertices = " << uint64_t{s.VertexCount}
            << " SubIndices = " << uint64_t{s.IndexCount} << " SubFaces = " << faceCount;
        out.EndLine();
        WriteVertices(mesh, s, out);
        out << "# Faces: (" << firstFace + 1 << " to " << firstFace + faceCount << ")";
        out.EndLine();
        FaceWriter faces(mesh, s, out);
        if (IsStrip(mesh, s))
            WriteTriangleStrip(s, faces);
        else
            WriteTriangleList(firstFace, faceCount, faces);
    }
    out.Flush();
}

} // namespace kestrel
