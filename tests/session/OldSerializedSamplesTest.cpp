// The samples of serialized formats 5 to 8 (Unity 2.x to 3.4, metadata at the end of the file),
// plain and inside UnityWeb bundles of formats 1 and 2: each lists the object count of the
// manifest and exports every object; the meshes, pictures and sounds it converts are read by
// independent tools (assimp, ImageMagick, ffprobe); an import of the unedited export leaves the
// archive byte for byte.
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/AudioObjects.h"
#include "support/Manifest.h"
#include "support/ObjFiles.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct FormatTally {
    size_t files = 0;
    uint64_t objects = 0;
    uint64_t exported = 0;                   // files written, raw and converted
    std::map<std::string, size_t> converted; // per kind: obj, picture, sound
    std::map<std::string, size_t> readBack;  // of those, read by their tool
    size_t identical = 0;
};

// The converted files of an export tree, each handed to its tool.
void CheckConverted(const fs::path& tree, FormatTally& t) {
    for (const auto& e : fs::recursive_directory_iterator(tree)) {
        if (!e.is_regular_file()) continue;
        ++t.exported;
        const std::string ext = e.path().extension().string();
        if (ext == ".obj") {
            ++t.converted["mesh"];
            const AssimpCounts c = ReadWithAssimp(e.path());
            if (!c.available) continue;
            EXPECT_TRUE(c.imported && c.vertices > 0) << e.path();
            t.readBack["mesh"] += c.imported && c.vertices > 0 ? 1 : 0;
        } else if (ext == ".png") {
            ++t.converted["picture"];
            if (!HaveImageMagick()) continue;
            const bool read = DecodePixel(e.path(), 0, 0).has_value();
            EXPECT_TRUE(read) << e.path();
            t.readBack["picture"] += read ? 1 : 0;
        } else if (ext == ".wav" || ext == ".ogg" || ext == ".mp3" || ext == ".aif") {
            ++t.converted["sound"];
            if (!HaveFfprobe()) continue;
            const bool read = !ProbeFormatName(e.path()).empty();
            EXPECT_TRUE(read) << e.path();
            t.readBack["sound"] += read ? 1 : 0;
        }
    }
}

TEST(OldSerializedSamples, ListExportConvertAndImportUnchanged) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    std::map<std::string, FormatTally> tallies;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 11) continue;
        const bool plain = cols[4] == "SerializedFile";
        if (!plain && !cols[4].starts_with("UnityWeb fmt") && !cols[4].starts_with("UnityRaw fmt"))
            continue;
        const int format = std::atoi(cols[6].c_str());
        if (format < 5 || format > 8 || !fs::is_regular_file(samples / cols[1])) continue;
        SCOPED_TRACE(cols[1]);
        FormatTally& t = tallies[(plain ? "format " : cols[4] + ", format ") + cols[6]];
        ++t.files;
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / cols[1], dir.Path());
        const std::vector<unsigned char> before = ReadFileBytes(archive);
        // "32 obj (typetree yes): ..." for a plain file, "4 SF inside, 97 obj: ..." for a bundle.
        const size_t counted = cols[10].rfind(' ', cols[10].find(" obj") - 1);
        const uint64_t expected =
            std::stoull(cols[10].substr(counted == std::string::npos ? 0 : counted + 1));
        RunOptions options;
        options.task = Task::kExport;
        options.outputDir = (dir / "out").string() + "/";
        options.outputs = kOutEverything | kOutPng;
        SilentReporter silent;
        try {
            const auto opened = Archive::Open(archive.string(), silent);
            uint64_t objects = 0;
            for (size_t i = 0; i < opened->InnerFileCount(); ++i) {
                const ParsedInnerFile inner = opened->Parse(i, options, nullptr);
                objects += inner.IsResourceItem() ? 0 : inner.Items().Count();
            }
            EXPECT_EQ(objects, expected);
            t.objects += objects;
            EXPECT_EQ(ExportArchive(*opened, options, silent).failed, 0u);
            CheckConverted(dir / "out", t);
            RunOptions import = options;
            import.task = Task::kImport;
            ImportArchive(*opened, import, silent);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const bool same = ReadFileBytes(archive) == before;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        t.identical += same ? 1 : 0;
    }
    if (tallies.empty()) GTEST_SKIP() << "no plain sample of formats 5 to 8 is present";
    for (const auto& [format, t] : tallies) {
        std::cout << "  " << format << ": " << t.files << " files, " << t.objects
                  << " objects, " << t.exported << " files exported";
        for (const auto& [kind, n] : t.converted) {
            const auto back = t.readBack.find(kind);
            std::cout << ", " << n << " " << kind << " ("
                      << (back == t.readBack.end() ? 0 : back->second) << " read back)";
        }
        std::cout << ", " << t.identical << " unchanged by an unedited import\n";
    }
}

} // namespace
