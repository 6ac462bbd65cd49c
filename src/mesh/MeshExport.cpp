#include "mesh/MeshExport.h"

#include "io/AtomicFile.h"

#include "common/EngineVersion.h"
#include "common/Error.h"
#include "io/ResourceFile.h"
#include "io/ResourcePath.h"
#include "io/Writer.h"
#include "mesh/MeshClass.h"
#include "mesh/MeshLayout.h"
#include "mesh/MeshObject.h"
#include "mesh/ObjWriter.h"
#include "mesh/TreeMesh.h"

#include "assets/FileTypeTrees.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace kestrel {

namespace {

// Writes the OBJ text through the atomic output file, so a failed conversion leaves no partial
// file (and an earlier export of the same mesh intact).
template <class Mesh> void SaveObj(const ConverterInput& in, const Mesh& mesh) {
    AtomicOutputFile out(in.OutputFile(in.exportName + ".obj"),
                         AtomicOutputFile::Flush::RenameOnly);
    WriteObjText(mesh, StripExtension(in.exportName),
                 [&out](std::string_view chunk) { out.Write(chunk.data(), chunk.size()); });
    out.Commit();
}

// Where the vertex data streamed into a resource file lies; a missing file is its own error.
ResourceFileLocation StreamedVerticesFile(const ConverterInput& in, const MeshObject& mesh) {
    const ConverterContext& context = in.context;
    const ResourceFileLocation where =
        LocateResourceFile(context.places, mesh.streamData.path, in.exportName);
    if (!ResourceFileExists(where.file))
        throw KestrelError(context.text.MsgMissingFile + where.shownPath);
    return where;
}

// Reads vertex data streamed into a resource file.
void LoadStreamedVertices(const ResourceFileLocation& where, MeshObject& mesh) {
    Reader file(OpenResourceFile(where.file), Endian::Little);
    if (mesh.streamData.offset > file.End()) {
        file.Fail(mesh.streamData.offset, "streamed vertex data", "lies past the end of the file");
    }
    file.Seek(mesh.streamData.offset, "streamed vertex data");
    mesh.SetVertexData(file.Bytes(mesh.streamData.size, "streamed vertex data"));
}

// Meshes of 5.5 and later, read by the layout row of their engine version.
void ExportMeshObject(const ConverterInput& in, const MeshLayout& layout) {
    const InterfaceTexts& text = in.context.text;
    const auto failure = [&in](const std::string& message, const std::string& why) {
        return KestrelError(message + " " + in.exportName + (why.empty() ? "" : ": " + why));
    };
    MeshObject mesh;
    try {
        Reader r = in.object;
        mesh.Read(r, layout);
    } catch (const std::exception& e) {
        throw failure(text.MsgMeshFormat, e.what());
    }
    if (mesh.meshCompression != 0) throw failure(text.MsgMeshCompressed, "");
    if (mesh.Streamed() && mesh.vertexData.empty()) {
        const ResourceFileLocation where = StreamedVerticesFile(in, mesh);
        try {
            LoadStreamedVertices(where, mesh);
        } catch (const std::exception& e) {
            throw failure(text.MsgMeshFormat, e.what());
        }
    }
    try {
        SaveObj(in, mesh);
    } catch (const std::exception& e) {
        throw failure(text.MsgMeshConvert, e.what());
    }
    in.Report().ProgressLine(in.exportName + " -> OBJ");
}

// Formats 5 to 8 carry type trees; a mesh whose tree stores separate vertex arrays is read by
// it, in either byte order. False when the file or the tree is of another kind.
bool ExportTreeMesh(const ConverterInput& in) {
    const AssetsFile& assets = in.context.assets;
    if (assets.metadataStart == 0 || in.index >= assets.items.rows.size()) return false;
    const InterfaceTexts& text = in.context.text;
    const auto failure = [&in](const std::string& message, const std::string& why) {
        return KestrelError(message + " " + in.exportName + (why.empty() ? "" : ": " + why));
    };
    std::optional<TreeMesh> mesh;
    try {
        // The trees of these formats lie at absolute positions: no assets base is needed.
        const FileTypeTrees trees = ReadFileTypeTrees(in.object.Source(), 0, assets);
        const ObjectRow& row = assets.items.rows[in.index];
        const TypeTree* tree = trees.TreeOf(assets, row);
        if (tree == nullptr) return false;
        const uint64_t start = assets.DataOffset + row.ObjOffset;
        Reader object(in.object.Source(), start, start + row.ObjSize, assets.header.DataOrder());
        mesh = TreeMesh::From(ReadObjectFields(*tree, object), assets.header.DataOrder());
    } catch (const std::exception& e) {
        throw failure(text.MsgMeshFormat, e.what());
    }
    if (!mesh) return false;
    if (mesh->meshCompression != 0) throw failure(text.MsgMeshCompressed, "");
    try {
        SaveObj(in, *mesh);
    } catch (const std::exception& e) {
        throw failure(text.MsgMeshConvert, e.what());
    }
    in.Report().ProgressLine(in.exportName + " -> OBJ");
    return true;
}

} // namespace

void ExportMeshOBJ(const ConverterInput& in, int32_t engineMajorVersion) {
    const ConverterContext& context = in.context;
    const InterfaceTexts& text = context.text;
    const auto failure = [&in](const std::string& message) {
        return KestrelError(message + " " + in.exportName);
    };
    if (ExportTreeMesh(in)) return;

    if (context.assets.header.BigEndianFlag == 1) {
        // Shown on the command line's standard output as well as by the driver's error report.
        in.Report().ProgressLine(text.MsgMeshBigEndian + " " + in.exportName);
        throw failure(text.MsgMeshBigEndian);
    }

    if (const MeshLayout* layout =
            MeshLayoutFor(ParseEngineVersion(context.assets.header.engineVersion))) {
        ExportMeshObject(in, *layout);
        return;
    }

    TMeshBase mesh;
    TMeshBase::ReadResult result = TMeshBase::ReadResult::Ok;
    try {
        Reader r = in.object;
        r.SetOrder(Endian::Little);
        result = mesh.Read(r, engineMajorVersion);
    } catch (const std::exception&) {
        throw failure(text.MsgMeshFormat);
    }
    if (result == TMeshBase::ReadResult::Compressed) throw failure(text.MsgMeshCompressed);

    try {
        SaveObj(in, mesh);
    } catch (const std::exception&) {
        throw failure(text.MsgMeshConvert);
    }
    in.Report().ProgressLine(in.exportName + " -> OBJ");
}

namespace {

// Triangles `indices` indices make: a list 3 each, a strip one after the first two, quads two
// per four; lines and points none. Topology numbers as the engine stores them (0 list, 1 strip,
// 2 quads).
uint64_t TrianglesOf(uint64_t indices, uint32_t topology) {
    switch (topology) {
    case 0:
        return indices / 3;
    case 1:
        return indices >= 3 ? indices - 2 : 0;
    case 2:
        return indices / 4 * 2;
    default:
        return 0;
    }
}

MeshCounts CountsOf(const ObjMeshSource& mesh) {
    MeshCounts counts;
    counts.vertices = mesh.VertexTotal();
    counts.subMeshes = mesh.SubMeshCount();
    for (uint64_t k = 0; k < counts.subMeshes; ++k) {
        const ObjSubMesh sub = mesh.SubMeshAt(k);
        if (sub.kind != FaceKind::None) counts.triangles += TrianglesOf(sub.indexCount, [&] {
            switch (sub.kind) {
            case FaceKind::TriangleStrip:
                return 1u;
            case FaceKind::Quads:
                return 2u;
            default:
                return 0u;
            }
        }());
    }
    return counts;
}

} // namespace

MeshCounts ReadMeshCounts(const ConverterInput& in, int32_t engineMajorVersion) {
    const AssetsFile& assets = in.context.assets;
    if (assets.metadataStart != 0 && in.index < assets.items.rows.size()) {
        const FileTypeTrees trees = ReadFileTypeTrees(in.object.Source(), 0, assets);
        const ObjectRow& row = assets.items.rows[in.index];
        if (const TypeTree* tree = trees.TreeOf(assets, row)) {
            const uint64_t start = assets.DataOffset + row.ObjOffset;
            Reader object(in.object.Source(), start, start + row.ObjSize, assets.header.DataOrder());
            const auto mesh =
                TreeMesh::From(ReadObjectFields(*tree, object), assets.header.DataOrder());
            if (mesh) {
                MeshCounts counts = CountsOf(*mesh);
                counts.compressed = mesh->meshCompression != 0;
                return counts;
            }
        }
    }
    if (const MeshLayout* layout = MeshLayoutFor(ParseEngineVersion(assets.header.engineVersion))) {
        MeshObject mesh;
        Reader r = in.object;
        mesh.Read(r, *layout);
        MeshCounts counts;
        counts.vertices = mesh.vertexCount;
        counts.subMeshes = mesh.subMeshes.size();
        for (const MeshSubMesh& sub : mesh.subMeshes)
            counts.triangles += TrianglesOf(sub.indexCount, static_cast<uint32_t>(sub.topology));
        counts.compressed = mesh.meshCompression != 0;
        return counts;
    }
    TMeshBase mesh;
    Reader r = in.object;
    r.SetOrder(Endian::Little);
    MeshCounts counts;
    counts.compressed = mesh.Read(r, engineMajorVersion) == TMeshBase::ReadResult::Compressed;
    counts.vertices = mesh.VertexCount;
    counts.subMeshes = mesh.SubMeshes.size();
    for (const TSubMesh& sub : mesh.SubMeshes) {
        if (mesh.generation == MeshGeneration::Engine3)
            counts.triangles += sub.IsTriStrip ? TrianglesOf(sub.IndexCount, 1) : sub.IndexCount / 3;
        else
            counts.triangles += TrianglesOf(sub.IndexCount, sub.Topology);
    }
    return counts;
}

} // namespace kestrel
