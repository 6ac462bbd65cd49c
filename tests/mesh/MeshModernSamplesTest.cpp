#include "common/Error.h"
#include "mesh/MeshExport.h"
#include "session/ConverterInput.h"
#include "support/ObjFiles.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kMeshClass = 43;

struct Tally {
    size_t meshes = 0;
    size_t converted = 0;
    size_t missingResource = 0;
    std::map<std::string, size_t> failures;
};

// The vertices a sub-mesh walk writes: the sum of the sub-meshes' declared vertex counts, from
// the OBJ's own comment lines "# SubMesh: k SubVertices = N ...".
size_t DeclaredVertices(const std::vector<std::string>& lines) {
    size_t sum = 0;
    const std::string key = " SubVertices = ";
    for (const std::string& line : lines) {
        const auto at = line.find(key);
        if (line.rfind("# SubMesh:", 0) == 0 && at != std::string::npos)
            sum += std::stoull(line.substr(at + key.size()));
    }
    return sum;
}

void ConvertMeshes(const OpenedArchive& a, const std::string& label, Tally& tally,
                   std::vector<std::string>& problems) {
    ForEachBody(a, kMeshClass, [&](size_t i, const Reader& body) {
        ++tally.meshes;
        const std::string& name = a.Items().ExportName[i];
        const ConverterContext context = ContextOf(a.Scope());
        ConverterInput in{context, body, "Unity_Assets_Files/" + a.inner.dirName + "/Mesh/", name,
                          i};
        try {
            ExportMeshOBJ(in, a.inner.assets.header.EngineMajorVersion);
        } catch (const KestrelError& e) {
            // A resource file the sample came without is told, not failed.
            if (std::string(e.what()).starts_with(a.options.text.MsgMissingFile)) {
                ++tally.missingResource;
                return;
            }
            ++tally.failures[e.what()];
            problems.push_back(label + " " + name + ": " + e.what());
            return;
        }
        ++tally.converted;
        const fs::path obj = in.OutputDir() / (name + ".obj");
        const auto lines = ObjLines(obj);
        size_t vertexLines = 0, faceLines = 0;
        for (const std::string& line : lines) {
            vertexLines += line.rfind("v ", 0) == 0;
            faceLines += line.rfind("f ", 0) == 0;
        }
        if (vertexLines != DeclaredVertices(lines)) {
            problems.push_back(label + " " + name + ": " + std::to_string(vertexLines) +
                               " vertex lines, declared " +
                               std::to_string(DeclaredVertices(lines)));
        }
        const AssimpCounts counts = ReadWithAssimp(obj);
        if (counts.available && (!counts.imported || counts.faces != faceLines)) {
            problems.push_back(label + " " + name + ": assimp read " +
                               std::to_string(counts.faces) + " faces of " +
                               std::to_string(faceLines));
        }
    });
}

TEST(MeshSamples, EveryMeshOfFormats17To22ConvertsToAnObjAssimpReads) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    SampleWalk walk(samples, 17, 22, "Mesh ");
    ASSERT_FALSE(walk.Samples().empty()) << "no mesh samples of formats 17 to 22 in MANIFEST.md";

    Tally tally;
    walk.Run([&](OpenedArchive& a, RecordedMessages&, const fs::path&, const std::string& label) {
        ConvertMeshes(a, label, tally, walk.problems);
    });

    std::cout << "[ meshes   ] formats 17-22: " << walk.Samples().size() << " samples, "
              << tally.meshes << " meshes, " << tally.converted
              << " to OBJ read by assimp with their vertex "
              << "count, " << tally.missingResource << " without their resource file\n";
    for (const auto& [message, n] : tally.failures)
        std::cout << "[ meshes   ] " << n << " failed: " << message << "\n";
    if (const std::string why = walk.SkipReason(tally.meshes); !why.empty()) GTEST_SKIP() << why;
    for (const std::string& p : walk.Failures())
        ADD_FAILURE() << p;
    EXPECT_GT(tally.meshes, 0u);
}

} // namespace
