#include "common/Error.h"
#include "mesh/MeshExport.h"
#include "session/ConverterInput.h"
#include "support/Manifest.h"
#include "support/ObjFiles.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kMeshClass = 43;

std::vector<std::string> MeshSamples(const fs::path& samples) {
    return SamplesHolding(samples, 9, 15, {"Mesh "});
}

struct Tally {
    size_t meshes = 0;
    size_t converted = 0;
    std::map<std::string, size_t> failures; // message without the export name
    std::vector<std::string> problems;      // anything the conversion must never do
};

const std::string& MessageOf(const std::string& text, const InterfaceTexts& l) {
    static const std::string kOther;
    for (const std::string* m :
         {&l.MsgMeshBigEndian, &l.MsgMeshCompressed, &l.MsgMeshFormat, &l.MsgMeshConvert}) {
        if (text.rfind(*m + " ", 0) == 0) return *m;
    }
    return kOther;
}

std::string Problem(const std::string& label, const std::string& name, const std::string& what) {
    std::string text = label;
    text.append(" ").append(name).append(": ").append(what);
    return text;
}

// Converts every mesh of the parsed inner file, as the export driver calls the converter.
void ConvertMeshes(const OpenedArchive& a, const std::string& label, Tally& tally) {
    ForEachBody(a, kMeshClass, [&](size_t i, const Reader& body) {
        ++tally.meshes;
        const std::string& name = a.Items().ExportName[i];
        const ConverterContext context = ContextOf(a.Scope());
        ConverterInput in{context, body, "Unity_Assets_Files/" + a.inner.dirName + "/Mesh/", name,
                          i};
        try {
            ExportMeshOBJ(in, a.inner.assets.header.EngineMajorVersion);
        } catch (const KestrelError& e) {
            const std::string& message = MessageOf(e.what(), a.options.text);
            if (message.empty()) tally.problems.push_back(Problem(label, name, e.what()));
            ++tally.failures[message];
            return;
        }
        ++tally.converted;
        const fs::path obj = in.OutputDir() / (name + ".obj");
        size_t faceLines = 0;
        for (const std::string& line : ObjLines(obj))
            faceLines += line.rfind("f ", 0) == 0;
        const AssimpCounts counts = ReadWithAssimp(obj);
        if (counts.available && (!counts.imported || counts.faces != faceLines)) {
            tally.problems.push_back(Problem(label, name,
                                             "assimp read " + std::to_string(counts.faces) +
                                                 " faces of " + std::to_string(faceLines)));
        }
    });
}

TEST(MeshSamples, EveryMeshOfFormats9To15ConvertsOrFailsWithAMeshMessage) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    const auto list = MeshSamples(samples);
    ASSERT_FALSE(list.empty()) << "no mesh samples in MANIFEST.md";

    Tally tally;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        TempDir dir;
        const fs::path copy = dir / fs::path(local).filename().string();
        fs::copy_file(samples / local, copy);
        OpenedArchive a(copy.string());
        const size_t entries = a.archive->InnerFileCount();
        for (size_t e = 0; e < entries; ++e) {
            if (e > 0) a.Select(e);
            ConvertMeshes(a, local, tally);
        }
        a.archive.reset();
    }

    std::cout << "[ meshes   ] " << list.size() << " samples, " << tally.meshes << " meshes, "
              << tally.converted << " converted\n";
    for (const auto& [message, n] : tally.failures) {
        std::cout << "[ meshes   ] " << n << " failed: " << message << "\n";
    }
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_GT(tally.meshes, 0u);
    EXPECT_EQ(tally.failures[""], 0u);
}

} // namespace
