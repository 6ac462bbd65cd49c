// The samples of serialized format 17 and later and the UnityFS 7 and 8 bundles: every inner file
// opens, the objects listed add up to the manifest's count, named objects show their names, the
// classes the manifest counts come out alike, and every object's raw or payload file is exported.
#include "assets/AssetsParser.h"
#include "assets/Vocabulary.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/ExportDriver.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <regex>
#include <set>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct ModernSample {
    std::string path;
    uint64_t objects = 0;
    std::map<std::string, uint64_t> classCounts;   // the classes the manifest names
    std::map<std::string, uint64_t> textureCounts; // Texture2D and Cubemap objects per format
};

// Texture formats whose names the engine kept since the format table was drawn up (later engines
// renamed or renumbered others, such as BC7 or the ASTC formats).
bool StableFormatName(const std::string& name) {
    static const std::set<std::string> names = {
        "Alpha8",   "RGB24",    "RGBA32",     "ARGB32",       "DXT1",         "DXT5",
        "RGBA4444", "ETC_RGB4", "ETC2_RGBA8", "DXT1Crunched", "DXT5Crunched", "RGB565"};
    return names.count(name) != 0;
}

std::vector<ModernSample> ModernSamples(const fs::path& samples) {
    std::vector<ModernSample> out;
    const std::regex unityFs(R"(UnityFS fmt([0-9]+))");
    const std::regex count(R"(^(?:[0-9]+ SF inside, )?([0-9]+) obj[^:]*: ([^;]*))");
    const std::regex item(R"(([A-Za-z0-9]+) ([0-9]+))");
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 11 || !fs::is_regular_file(samples / cols[1])) continue;
        std::smatch m;
        const bool newBundle = std::regex_search(cols[4], m, unityFs) && std::stoi(m[1].str()) >= 7;
        if (!newBundle && std::atoi(cols[6].c_str()) < 17) continue;
        if (!std::regex_search(cols[10], m, count)) continue;
        ModernSample s{cols[1], std::stoull(m[1].str()), {}, {}};
        const std::string list = m[2].str();
        for (auto it = std::sregex_iterator(list.begin(), list.end(), item);
             it != std::sregex_iterator(); ++it) {
            s.classCounts[(*it)[1].str()] += std::stoull((*it)[2].str());
        }
        const std::regex textures(R"(; tex: ([^;]*))");
        if (std::regex_search(cols[10], m, textures)) {
            const std::string formats = m[1].str();
            const std::regex format(R"(([A-Za-z0-9_]+)×([0-9]+))");
            for (auto it = std::sregex_iterator(formats.begin(), formats.end(), format);
                 it != std::sregex_iterator(); ++it) {
                s.textureCounts[(*it)[1].str()] += std::stoull((*it)[2].str());
            }
        }
        out.push_back(std::move(s));
    }
    return out;
}

struct Tally {
    uint64_t innerFiles = 0;
    uint64_t assetsFiles = 0;
    uint64_t objects = 0;
    uint64_t exported = 0;
    std::map<std::string, uint64_t> classes;
    std::map<std::string, uint64_t> textures;
};

// Exports every object of the open inner file and checks each one's file.
void ExportAndCheck(OpenedArchive& a, const std::string& what, Tally& tally) {
    a.options.outputs = kOutRawTextures | kOutRawMesh | kOutRawAudio;
    EXPECT_EQ(ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, false)).failed, 0u)
        << what;
    const fs::path tree =
        fs::path(a.archive->OutputBaseDir(a.options)) / "Unity_Assets_Files" / a.inner.dirName;
    const ItemTable& items = a.Items();
    for (size_t i = 0; i < items.Count(); ++i) {
        const ObjectRow& row = items.rows[i];
        const uint64_t size = HasInnerPayload(row.ClassID, row.PayloadSize)
                                  ? row.PayloadSize
                                  : row.ObjSize - row.NameHeaderSize;
        const fs::path file = tree / SafeComponent(items.ExportName[i]);
        if (size == 0 && HasInnerPayload(row.ClassID, row.PayloadSize)) continue;
        if (!fs::exists(file)) {
            ADD_FAILURE() << what << ": object " << i << " has no file " << file;
            continue;
        }
        EXPECT_EQ(fs::file_size(file), size) << what << " " << items.ExportName[i];
        ++tally.exported;
    }
}

void CountInnerFile(OpenedArchive& a, const std::string& what, Tally& tally) {
    ++tally.innerFiles;
    if (a.inner.assets.header.EngineMajorVersion == 0) return; // a resource, not an assets file
    ++tally.assetsFiles;
    const ItemTable& items = a.Items();
    tally.objects += items.Count();
    for (size_t i = 0; i < items.Count(); ++i) {
        const ObjectRow& row = items.rows[i];
        const std::string_view type = items.types[i].name;
        ++tally.classes[std::string(type.substr(0, type.find(' ')))];
        if (row.ClassID == 28 || row.ClassID == 89) {
            ++tally.textures[TextureFormatShortName(items.types[i].TextureFormat)];
        }
        // Named objects read their name field; their export name is that name unless it is empty.
        if (BeginsWithName(row.ClassID) && !a.inner.assets.types.empty() &&
            !a.inner.assets.types[row.typeIndex].hasTypeTree) {
            EXPECT_NE(row.NameHeaderSize, 0u) << what << " object " << i;
        }
    }
    ExportAndCheck(a, what, tally);
}

TEST(ModernSamples, EveryInnerFileListsAndExportsAllItsObjects) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const auto rows = ModernSamples(samples);
    ASSERT_GE(rows.size(), 20u) << "the manifest names the modern samples";
    for (const ModernSample& s : rows) {
        SCOPED_TRACE(s.path);
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples / s.path, dir.Path());
        OpenedArchive a;
        a.options.outputDir = (dir / "out").string() + "/";
        Tally tally;
        try {
            a.Open(copy.string());
            CountInnerFile(a, s.path, tally);
            for (uint32_t i = 1; i < a.archive->InnerFileNames().size(); ++i) {
                a.Select(i);
                CountInnerFile(a, s.path + " entry " + std::to_string(i), tally);
            }
        } catch (const KestrelError& e) {
            ADD_FAILURE() << e.what();
        }
        EXPECT_EQ(tally.objects, s.objects);
        for (const auto& [name, count] : s.classCounts)
            EXPECT_EQ(tally.classes[name], count) << name;
        for (const auto& [format, count] : s.textureCounts) {
            if (StableFormatName(format)) {
                EXPECT_EQ(tally.textures[format], count) << format;
            }
        }
        std::cout << "  " << s.path << ": " << tally.innerFiles << " inner, " << tally.assetsFiles
                  << " assets, " << tally.objects << "/" << s.objects << " objects, "
                  << tally.exported << " exported\n";
        a.archive.reset();
    }
}

} // namespace
