#include "mesh/MeshLayout.h"
#include "common/Error.h"
#include "io/Writer.h"
#include "mesh/MeshExport.h"
#include "session/ConverterInput.h"
#include "support/AudioObjects.h"
#include "support/MeshObjects.h"
#include "support/ObjFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// A release inside a layout row: its first final (or patch) release.
std::string ReleaseOf(const EngineVersion& v) {
    const char type = v.type == 'p' ? 'p' : 'f';
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           type + std::to_string(v.build == 0 ? 1 : v.build);
}

// The cube with one vertex no face uses, so that stream 1 starts after padding.
SimpleMesh TestMesh() {
    SimpleMesh m = MakeCubeMesh();
    m.positions.push_back({0.25f, 0.5f, -1.0f});
    m.normals.push_back({0, 1, 0});
    m.uvs.push_back({1, 0});
    m.colorChannel = true;
    return m;
}

// One mesh export: a working file holding one Mesh object of an engine release.
class ModernMeshRun {
public:
    ModernMeshRun() {
        inner.name = "level0";
        inner.dirName = "level0";
    }

    ConverterInput Input(const std::string& release, const std::vector<uint8_t>& body) {
        inner.assets.header.engineVersion = release;
        inner.assets.header.EngineMajorVersion = std::stoi(release);
        Writer file;
        file.Zeros(16);
        file.U32(4);
        file.Bytes("Cube");
        file.Bytes(body.data(), body.size());
        file.Zeros(8);
        work = std::make_shared<MemorySource>("level0", file.Take());
        const std::string base = dir.Path().string() + "/";
        context.emplace(ConverterContext{
            inner.assets, ResourcePlaces{base, base, inner.dirName, {}, {}}, messages, options.text,
            options.noFlipTexture, options.Writes(kOutDds), options.executableDir});
        return ConverterInput{*context, Reader(work).Sub(24, body.size(), "mesh"),
                              "Unity_Assets_Files/level0/Mesh/", "Cube.mesh", 0};
    }

    [[nodiscard]] fs::path Obj() const {
        return dir / "Unity_Assets_Files/level0/Mesh/Cube.mesh.obj";
    }

    // The OBJ lines of the mesh exported by the engine-5 reader (whose layout 5.0 to 5.4 share).
    std::vector<std::string> Engine5Lines(const SimpleMesh& mesh) {
        inner.assets.header.engineVersion.clear();
        ExportMeshOBJ(Input("5", MakeMeshBody(5, Endian::Little, mesh)), 5);
        return ObjLines(Obj());
    }

    std::vector<std::string> Lines(const std::string& release, const std::vector<uint8_t>& body) {
        fs::remove(Obj());
        ExportMeshOBJ(Input(release, body), std::stoi(release));
        return ObjLines(Obj());
    }

    TempDir dir;
    RunOptions options;
    ParsedInnerFile inner;
    std::shared_ptr<const ByteSource> work;
    std::optional<ConverterContext> context; // made from `options` and `inner` by each input
    RecordedMessages messages;
};

// Every line but the summary, which tells each layout's strides.
std::vector<std::string> Body(std::vector<std::string> lines) {
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
}

size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : lines)
        n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(MeshLayoutRows, EveryRowCoversTheNextWithoutGaps) {
    const auto rows = MeshLayouts();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().from, Version(5, 5));
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i - 1].until, rows[i].from) << "row " << i;
    EXPECT_EQ(MeshLayoutFor(ParseEngineVersion("5.4.6f1")), nullptr);
    EXPECT_EQ(MeshLayoutFor(ParseEngineVersion("6000.3.1f1")), &rows.back());
}

// The builder writes each row's first release by its own reading of the engine's type trees;
// every row must give the OBJ the engine-5 reader gives for the same mesh, which assimp reads
// with the vertex count the object declares.
TEST(MeshLayoutRows, EachRowExportsTheMeshAsTheEngine5ReaderDoes) {
    const SimpleMesh mesh = TestMesh();
    ModernMeshRun run;
    const auto expected = Body(run.Engine5Lines(mesh));
    ASSERT_EQ(CountPrefix(expected, "v "), 25u);
    for (const MeshLayout& row : MeshLayouts()) {
        const std::string release = ReleaseOf(row.from);
        SCOPED_TRACE(release);
        const auto lines = run.Lines(release, MakeModernMeshBody(release, mesh).body);
        EXPECT_EQ(Body(lines), expected);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines[0].find("Vertices: total=25/used=25"), std::string::npos) << lines[0];
        const AssimpCounts counts = ReadWithAssimp(run.Obj());
        if (counts.available) {
            EXPECT_TRUE(counts.imported);
            EXPECT_EQ(counts.faces, 12u);
        }
    }
}

// 32-bit indices, a base vertex and half-float texture coordinates give the same OBJ as plain
// 16-bit indices and floats.
TEST(MeshLayoutRows, WideIndicesBaseVertexAndHalfFloats) {
    SimpleMesh mesh = TestMesh();
    SimpleSubMesh second;
    second.firstIndex = 18;
    second.indexCount = 18;
    second.firstVertex = 12;
    second.vertexCount = 12;
    mesh.subMeshes = {second};
    ModernMeshRun run;
    const auto expected = Body(run.Engine5Lines(mesh));
    ASSERT_EQ(CountPrefix(expected, "f "), 6u);
    ModernMeshOptions options;
    options.index32 = true;
    options.baseVertex = 12;
    options.halfTexCoords = true;
    for (const char* release : {"2017.4.40f1", "2019.4.31f1", "2022.3.9f1", "6000.0.23f1"}) {
        SCOPED_TRACE(release);
        EXPECT_EQ(Body(run.Lines(release, MakeModernMeshBody(release, mesh, options).body)),
                  expected);
    }
}

// Vertex data streamed into a resource file beside the archive, or into a bundle's resource
// entry that an earlier export wrote into the export tree.
TEST(MeshLayoutRows, StreamedVertexDataIsReadFromItsResourceFile) {
    const SimpleMesh mesh = TestMesh();
    ModernMeshRun run;
    const auto expected = Body(run.Engine5Lines(mesh));
    struct Case {
        std::string path;
        fs::path file;
    };
    const Case cases[] = {
        {"sharedassets0.assets.resS", run.dir / "sharedassets0.assets.resS"},
        {"archive:/CAB-1234/CAB-1234.resS",
         run.dir / "Unity_Assets_Files/level0/CAB-1234.resS/CAB-1234.resS"},
    };
    for (const Case& c : cases) {
        for (const char* release : {"2018.4.19f1", "2020.3.35f1"}) {
            SCOPED_TRACE(c.path + " " + release);
            ModernMeshOptions options;
            options.streamPath = c.path;
            options.streamOffset = 48;
            const ModernMeshBytes bytes = MakeModernMeshBody(release, mesh, options);
            std::vector<uint8_t> resource(48, 0xAB);
            resource.insert(resource.end(), bytes.vertexData.begin(), bytes.vertexData.end());
            resource.resize(resource.size() + 5, 0xCD);
            fs::create_directories(c.file.parent_path());
            WriteWholeFile(c.file, resource.data(), resource.size());
            EXPECT_EQ(Body(run.Lines(release, bytes.body)), expected);
            EXPECT_TRUE(run.messages.alerts.empty());
            fs::remove(c.file);
            // Without its resource file the mesh is not converted: the missing-file error.
            fs::remove(run.Obj());
            try {
                ExportMeshOBJ(run.Input(release, bytes.body), 2018);
                ADD_FAILURE() << "no error for the missing resource file";
            } catch (const KestrelError& e) {
                const std::string what = e.what();
                EXPECT_TRUE(what.starts_with(run.options.text.MsgMissingFile)) << what;
                EXPECT_NE(what.find(c.file.filename().string()), std::string::npos) << what;
            }
            EXPECT_FALSE(fs::exists(run.Obj()));
            EXPECT_TRUE(run.messages.alerts.empty());
        }
    }
}

TEST(MeshLayoutRows, CompressedMeshesAndShortBodiesFailWithTheMeshMessages) {
    ModernMeshRun run;
    ModernMeshOptions options;
    options.meshCompression = 1;
    // Every row reads a compressed mesh to its end (2017.3 before 2017.3.1p1 without the index
    // format field), then refuses it.
    for (const MeshLayout& row : MeshLayouts()) {
        const std::string release = ReleaseOf(row.from);
        SCOPED_TRACE(release);
        try {
            ExportMeshOBJ(run.Input(release, MakeModernMeshBody(release, TestMesh(), options).body),
                          2019);
            ADD_FAILURE() << "a compressed mesh converted";
        } catch (const KestrelError& e) {
            EXPECT_EQ(std::string(e.what()), run.options.text.MsgMeshCompressed + " Cube.mesh");
        }
    }
    // A body cut short fails with the format message and writes nothing.
    auto body = MakeModernMeshBody("2020.3.35f1", TestMesh()).body;
    body.resize(body.size() / 2);
    EXPECT_THROW(ExportMeshOBJ(run.Input("2020.3.35f1", body), 2020), KestrelError);
    EXPECT_FALSE(fs::exists(run.Obj()));
}

} // namespace
