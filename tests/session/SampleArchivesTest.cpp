#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/Operations.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// The local paths of the manifest's table (its first column). Continuation pieces of a split
// archive are opened through their first piece.
std::vector<std::string> ManifestArchives(const fs::path& samples) {
    std::vector<std::string> out;
    const std::regex continuation(R"(\.split[1-9][0-9]*$)");
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 2) continue;
        const std::string& path = cols[1];
        if (path == "local path" || !fs::is_regular_file(samples / path)) continue;
        if (std::regex_search(path, continuation)) continue;
        out.push_back(path);
    }
    return out;
}

TEST(SampleArchives, EveryManifestArchiveOpensAndEveryInnerFileToo) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const auto archives = ManifestArchives(samples);
    ASSERT_FALSE(archives.empty()) << "no archive found through MANIFEST.md";
    size_t bundles = 0;
    for (const auto& rel : archives) {
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples / rel, dir.Path());
        OpenedArchive a;
        try {
            a.Open(copy.string());
        } catch (const KestrelError& e) {
            ADD_FAILURE() << rel << ": " << e.what();
            continue;
        }
        EXPECT_GT(a.Items().Count(), 0u) << rel;
        if (a.archive->IsBundle()) {
            ++bundles;
            EXPECT_FALSE(a.archive->InnerFileNames().empty()) << rel;
            // Every other inner file, selected in the open archive as the window does.
            for (uint32_t i = 1; i < a.archive->InnerFileNames().size(); ++i) {
                try {
                    a.Select(i);
                } catch (const KestrelError& e) {
                    ADD_FAILURE() << rel << " entry " << i << ": " << e.what();
                }
            }
            const fs::path out = dir / "Bundle";
            ExportBundleFiles(*a.archive, out.string() + "/", *a.reporter);
            for (const auto& e : InnerEntries(a.archive->Bundle())) {
                EXPECT_EQ(fs::file_size(out / SafeComponent(e.name)), e.size) << rel;
            }
        }
        a.archive.reset();
        for (const auto& e : fs::directory_iterator(dir.Path())) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "Bundle" ||
                        fs::exists(samples / fs::path(rel).parent_path() / name))
                << rel << " left " << name;
        }
    }
    EXPECT_GT(bundles, 10u);
}

} // namespace
