#include "mesh/MeshExport.h"
#include "common/Error.h"
#include "io/Writer.h"
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

// One converter run: a working file holding one Mesh object, the inner file describing it, and
// the export tree in a temporary directory.
class MeshRun {
public:
    MeshRun() {
        inner.name = "level0";
        inner.dirName = "level0";
    }

    // Puts the object (name field + body) into a working file at `objectStart` and describes it
    // by one item row, as the parser would.
    ConverterInput Input(const std::vector<uint8_t>& body,
                         const std::string& exportName = "Cube.mesh", uint64_t objectStart = 16) {
        std::vector<uint8_t> file(objectStart, 0xEE);
        Writer name;
        name.U32(4);
        name.Bytes("Cube");
        file.insert(file.end(), name.Data().begin(), name.Data().end());
        file.insert(file.end(), body.begin(), body.end());
        file.resize(file.size() + 8, 0xEE); // the next object's bytes must stay unread
        work = std::make_shared<MemorySource>("level0", file);

        ObjectRow row;
        row.ObjOffset = static_cast<uint32_t>(objectStart);
        row.ObjSize = static_cast<uint32_t>(8 + body.size());
        row.ClassID = 43;
        row.NameHeaderSize = 8;
        inner.Items().Clear();
        inner.Items().rows.push_back(row);
        inner.Items().ExportName.push_back(exportName);
        inner.Items().types.push_back({"Mesh", 0});
        context.emplace(ConverterContext{
            inner.assets, ResourcePlaces{dir.Path().string() + "/", "", inner.dirName, {}, {}},
            messages, options.text, options.noFlipTexture, options.Writes(kOutDds),
            options.executableDir});
        return ConverterInput{*context, Reader(work).Sub(objectStart + 8, body.size(), "mesh"),
                              "Unity_Assets_Files/level0/Mesh/", exportName, 0};
    }

    [[nodiscard]] fs::path MeshDir() const { return dir / "Unity_Assets_Files/level0/Mesh"; }
    [[nodiscard]] fs::path Obj(const std::string& name = "Cube.mesh") const {
        return MeshDir() / (name + ".obj");
    }

    std::vector<std::string> Lines(const SimpleMesh& mesh, int engine) {
        ExportMeshOBJ(Input(MakeMeshBody(engine, Endian::Little, mesh)), engine);
        return ObjLines(Obj());
    }

    // The face lines of an engine-3 mesh.
    std::vector<std::string> Faces(const SimpleMesh& mesh) {
        std::vector<std::string> faces;
        for (const std::string& line : Lines(mesh, 3)) {
            if (line.rfind("f ", 0) == 0) faces.push_back(line);
        }
        return faces;
    }

    // The conversion must fail with exactly `message` + " " + the export name, and leave no file.
    void ExpectFailure(const std::vector<uint8_t>& body, int engine, const std::string& message) {
        try {
            ExportMeshOBJ(Input(body), engine);
            ADD_FAILURE() << "no failure; expected " << message;
        } catch (const KestrelError& e) {
            EXPECT_EQ(std::string(e.what()), message + " Cube.mesh");
        }
        EXPECT_TRUE(!fs::exists(MeshDir()) || fs::is_empty(MeshDir()));
    }

    TempDir dir;
    RunOptions options;
    ParsedInnerFile inner;
    std::shared_ptr<const ByteSource> work;
    std::optional<ConverterContext> context; // made from `options` and `inner` by each input
    RecordedMessages messages;
};

class MeshExport : public ::testing::TestWithParam<int>, protected MeshRun {
protected:
    std::vector<std::string> Convert(const SimpleMesh& mesh, int engine) {
        return Lines(mesh, engine);
    }
};

INSTANTIATE_TEST_SUITE_P(Generations, MeshExport, ::testing::Values(3, 4, 5),
                         [](const auto& info) { return "Engine" + std::to_string(info.param); });

TEST_P(MeshExport, CubeSummaryFirstFaceAndVertexLines) {
    const auto lines = Convert(MakeCubeMesh(), GetParam());
    ASSERT_GE(lines.size(), 80u);
    EXPECT_EQ(lines[0],
              "# Created by Kestrel Meshes = 1 Vertices: total=24/used=24 "
              "Indices: total=36/used=36 Faces: total=12/used=12 Bytes per Vertex: 32/32");
    EXPECT_EQ(lines[1], "g Cube_1");
    EXPECT_EQ(lines[2], "# SubMesh: 1 SubVertices = 24 SubIndices = 36 SubFaces = 12");
    EXPECT_EQ(lines[3], "# Vertices: (1 to 24)");
    // First cube vertex: (0.5, -0.5, -0.5), normal +X, texture coordinates (0, 0); X mirrored.
    EXPECT_EQ(lines[4], "v -0.500000 -0.500000 -0.500000");
    EXPECT_EQ(lines[5], "vt 0.000000 0.000000");
    EXPECT_EQ(lines[6], "vn -1.000000 0.000000 0.000000");
    EXPECT_EQ(lines[4 + 72], "# Faces: (1 to 12)");
    EXPECT_EQ(lines[5 + 72], "f -22/-22/-22 -23/-23/-23 -24/-24/-24");
    EXPECT_EQ(lines.size(), 5u + 72u + 12u);
    EXPECT_TRUE(ObjHasCrLfLines(Obj()));
    EXPECT_EQ(messages.lines, std::vector<std::string>{"Cube.mesh -> OBJ"});

    const AssimpCounts counts = ReadWithAssimp(Obj());
    if (!counts.available) GTEST_SKIP() << "assimp is not installed";
    EXPECT_EQ(counts.meshes, 1u);
    EXPECT_EQ(counts.faces, 12u);
    EXPECT_EQ(counts.vertices, 24u);
}

TEST_P(MeshExport, SubMeshesUseRelativeIndicesToTheirOwnBlock) {
    SimpleMesh m = MakeCubeMesh();
    // Sides 0-1 (vertices 0-7, indices 0-11), sides 2-5 (vertices 8-23, indices 12-35), and an
    // empty sub-mesh.
    m.subMeshes = {{0, 12, 0, 8, false, {}}, {12, 24, 8, 16, false, {}}, {36, 0, 24, 0, false, {}}};
    const auto lines = Convert(m, GetParam());
    EXPECT_EQ(lines[0],
              "# Created by Kestrel Meshes = 3 Vertices: total=24/used=24 "
              "Indices: total=36/used=36 Faces: total=12/used=12 Bytes per Vertex: 32/32");
    // Block 1: 8 vertices, first triangle 0,1,2 counted back from vertex 8.
    const size_t faces1 = 4 + 3 * 8;
    EXPECT_EQ(lines[faces1], "# Faces: (1 to 4)");
    EXPECT_EQ(lines[faces1 + 1], "f -6/-6/-6 -7/-7/-7 -8/-8/-8");
    // Block 2 starts at vertex 8: its first triangle 8,9,10 is counted back from vertex 24.
    const size_t head2 = faces1 + 1 + 4;
    EXPECT_EQ(lines[head2], "g Cube_2");
    EXPECT_EQ(lines[head2 + 1], "# SubMesh: 2 SubVertices = 16 SubIndices = 24 SubFaces = 8");
    EXPECT_EQ(lines[head2 + 2], "# Vertices: (9 to 24)");
    const size_t faces2 = head2 + 3 + size_t{3} * 16;
    EXPECT_EQ(lines[faces2], "# Faces: (5 to 12)");
    EXPECT_EQ(lines[faces2 + 1], "f -14/-14/-14 -15/-15/-15 -16/-16/-16");
    // An empty sub-mesh: its vertex range reads "one more than the end to the end".
    const size_t head3 = faces2 + 1 + 8;
    EXPECT_EQ(lines[head3], "g Cube_3");
    EXPECT_EQ(lines[head3 + 2], "# Vertices: (25 to 24)");
    EXPECT_EQ(lines[head3 + 3], "# Faces: (13 to 12)");
    EXPECT_EQ(lines.size(), head3 + 4);

    const AssimpCounts counts = ReadWithAssimp(Obj());
    if (!counts.available) GTEST_SKIP() << "assimp is not installed";
    EXPECT_EQ(counts.meshes, 2u); // the empty group holds no faces
    EXPECT_EQ(counts.faces, 12u);
}

TEST_P(MeshExport, CoordinateTextRules) {
    SimpleMesh m;
    m.positions = {{1.5f, 2.0f, -3.0f}, {1234567.0f, 1234567.5f, -0.0f}, {0.0f, 0.25f, 1e-7f}};
    m.normals = {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    m.uvs = {{0.125f, 1.0f}, {-12345.0f, 12345.0f}, {0.5f, 0.5f}};
    m.indices = {0, 1, 2};
    const auto lines = Convert(m, GetParam());
    EXPECT_EQ(lines[4], "v -1.500000 2.000000 -3.000000");
    EXPECT_EQ(lines[5], "vt 0.125000 1.000000");
    EXPECT_EQ(lines[6], "vn 0.000000 1.000000 0.000000");
    // 1234567.000000 has ".0" at its eighth character, so it is dropped; ".5" is kept.
    EXPECT_EQ(lines[7], "v 0.000000 1234567.500000 0.000000");
    EXPECT_EQ(lines[8], "vt 0.000000 12345.000000");
    EXPECT_EQ(lines[10], "v 0.000000 0.250000 0.000000");
    EXPECT_EQ(lines[14], "f -1/-1/-1 -2/-2/-2 -3/-3/-3");
}

TEST_P(MeshExport, CompressionFlag) {
    SimpleMesh m = MakeCubeMesh();
    m.meshCompression = 1;
    const auto body = MakeMeshBody(GetParam(), Endian::Little, m);
    if (GetParam() <= 3) {
        // The byte is not a refusal for engines 3 and earlier.
        ExportMeshOBJ(Input(body), GetParam());
        EXPECT_TRUE(fs::exists(Obj()));
    } else {
        ExpectFailure(body, GetParam(), "Compression meshes are not supported.");
        options.text = MakeLocalization(true);
        ExpectFailure(body, GetParam(), "Сжатые mesh не поддерживаются.");
    }
}

TEST_P(MeshExport, BigEndianFileFailsBeforeReading) {
    inner.assets.header.BigEndianFlag = 1;
    // Even an empty body fails with this message: nothing is read.
    ExpectFailure({}, GetParam(), "Not supported convertanion meshes big endian.");
    EXPECT_EQ(messages.lines,
              std::vector<std::string>{"Not supported convertanion meshes big endian. Cube.mesh"});
    options.text = MakeLocalization(true);
    ExpectFailure(MakeMeshBody(GetParam(), Endian::Big, MakeCubeMesh()), GetParam(),
                  "Not supported convertanion meshes big endian.");
}

TEST_P(MeshExport, EveryTruncationFailsWithTheFormatMessage) {
    const auto body = MakeMeshBody(GetParam(), Endian::Little, MakeCubeMesh());
    for (size_t n = 0; n < body.size(); ++n) {
        SCOPED_TRACE(n);
        ExpectFailure({body.begin(), body.begin() + static_cast<ptrdiff_t>(n)}, GetParam(),
                      "Error memory: This format meshes not supported!!!");
    }
    EXPECT_TRUE(messages.lines.empty());
}

// Counts that only describe what is written fail at conversion; all others fail while reading.
bool FailsAtConversion(const std::string& field) {
    return field == "vertex count" || field == "sub-mesh vertex count" ||
           field == "sub-mesh index count" || field == "sub-mesh triangle count";
}

TEST_P(MeshExport, AbsurdCountsFailWithoutHugeAllocations) {
    SimpleMesh m = MakeCubeMesh();
    m.blendShapeChannels = {"smile"};
    m.bindPoseCount = 1;
    MeshBodyFields fields;
    const auto body = MakeMeshBody(GetParam(), Endian::Little, m, &fields);
    ASSERT_GE(fields.counts.size(), 15u);
    for (const auto& [field, offset] : fields.counts) {
        for (uint32_t absurd : {0xFFFFFFFFu, 0x7FFFFFF0u, 0x00100000u}) {
            SCOPED_TRACE(field + " = " + std::to_string(absurd));
            auto bad = body;
            for (int k = 0; k < 4; ++k)
                bad[offset + k] = static_cast<uint8_t>(absurd >> (8 * k));
            // An engine-3 list sub-mesh takes its faces from the triangle count: its index
            // count is only shown.
            if (GetParam() == 3 && field == "sub-mesh index count") {
                ExportMeshOBJ(Input(bad), GetParam());
                fs::remove_all(MeshDir());
                continue;
            }
            ExpectFailure(bad, GetParam(),
                          FailsAtConversion(field)
                              ? "Error: Convertanion mesh!!!"
                              : "Error memory: This format meshes not supported!!!");
        }
    }
}

TEST_P(MeshExport, ReferencesOutsideTheDataFailAtConversion) {
    const std::string kConvert = "Error: Convertanion mesh!!!";
    SimpleMesh m = MakeCubeMesh();
    m.indices[4] = 24; // past the last vertex
    ExpectFailure(MakeMeshBody(GetParam(), Endian::Little, m), GetParam(), kConvert);

    m = MakeCubeMesh();
    m.subMeshes = {{30, 12, 0, 24, false, {}}}; // faces 10 to 13 of a 12-face buffer
    ExpectFailure(MakeMeshBody(GetParam(), Endian::Little, m), GetParam(), kConvert);

    m = MakeCubeMesh();
    m.subMeshes = {{0, 36, 20, 4, false, {}}}; // indices below the sub-mesh's first vertex
    ExpectFailure(MakeMeshBody(GetParam(), Endian::Little, m), GetParam(), kConvert);
}

TEST_P(MeshExport, FailedConversionKeepsTheEarlierFile) {
    ExportMeshOBJ(Input(MakeMeshBody(GetParam(), Endian::Little, MakeCubeMesh())), GetParam());
    const std::string before = ReadFileText(Obj());
    SimpleMesh m = MakeCubeMesh();
    m.indices[0] = 500;
    EXPECT_THROW(ExportMeshOBJ(Input(MakeMeshBody(GetParam(), Endian::Little, m)), GetParam()),
                 KestrelError);
    EXPECT_EQ(ReadFileText(Obj()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(MeshDir()), fs::directory_iterator()), 1);
}

TEST_P(MeshExport, ObjectOffTheFourByteGridReadsTheSame) {
    const auto body = MakeMeshBody(GetParam(), Endian::Little, MakeCubeMesh());
    ExportMeshOBJ(Input(body, "Cube.mesh", 16), GetParam());
    const std::string aligned = ReadFileText(Obj());
    // Padding follows the object's own start, wherever the assets file lies in the working file.
    ExportMeshOBJ(Input(body, "Cube.mesh", 18), GetParam());
    EXPECT_EQ(ReadFileText(Obj()), aligned);
}

TEST_P(MeshExport, ExportNameGivesGroupAndFileNames) {
    ExportMeshOBJ(
        Input(MakeMeshBody(GetParam(), Endian::Little, MakeCubeMesh()), "Rock_00001.mesh"),
        GetParam());
    const auto lines = ObjLines(Obj("Rock_00001.mesh"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "g Rock_00001_1");
}

TEST(MeshExportEngine3, TriangleStrips) {
    MeshRun strip;
    SimpleMesh m;
    m.positions.resize(4);
    m.indices = {0, 1, 2, 3};
    m.subMeshes = {{0, 4, 0, 4, true, {}}};
    auto faces = strip.Faces(m);
    EXPECT_EQ(faces, (std::vector<std::string>{"f -2/-2/-2 -3/-3/-3 -4/-4/-4",
                                               "f -3/-3/-3 -2/-2/-2 -1/-1/-1"}));

    // A repeated index joins two runs: 0 1 2 3 | 3 4 | 4 5 6 gives (2,1,0), (1,2,3), (6,5,4).
    m.positions.resize(7);
    m.indices = {0, 1, 2, 3, 3, 4, 4, 5, 6};
    m.subMeshes = {{0, 9, 0, 7, true, {}}};
    faces = strip.Faces(m);
    EXPECT_EQ(faces, (std::vector<std::string>{"f -5/-5/-5 -6/-6/-6 -7/-7/-7",
                                               "f -6/-6/-6 -5/-5/-5 -4/-4/-4",
                                               "f -1/-1/-1 -2/-2/-2 -3/-3/-3"}));

    // A strip ending in a repeated index leaves too few positions for another triangle: the walk
    // stops without reading past the strip.
    m.positions.resize(5);
    m.indices = {0, 1, 2, 3, 3, 4};
    m.subMeshes = {{0, 6, 0, 5, true, {}}};
    faces = strip.Faces(m);
    EXPECT_EQ(faces.size(), 2u);
}

TEST(MeshExportEngine45, StreamsColoursAndMissingTexCoords) {
    for (int engine : {4, 5}) {
        SCOPED_TRACE(engine);
        MeshRun run;
        SimpleMesh m = MakeCubeMesh();
        m.colorChannel = true;
        m.uvInSecondStream = true;
        m.blendShapeChannels = {"a", "four", "fiver"};
        auto lines = run.Lines(m, engine);
        // Stream 0: position, normal, colour (28 bytes); stream 1: texture coordinates (8).
        EXPECT_NE(lines[0].find("Bytes per Vertex: 36/36"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[4 + 3 * 23 + 1], "vt 0.000000 1.000000"); // last vertex of side 5

        m.withTexCoords = false;
        m.uvInSecondStream = false;
        lines = run.Lines(m, engine);
        EXPECT_EQ(lines[5], "vt 0.000000 0.000000");
        EXPECT_EQ(lines[5 + 3 * 2], "vt 0.000000 0.000000");
    }
}

} // namespace
