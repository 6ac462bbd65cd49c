#include "assets/AssetsParser.h"
#include "assets/Vocabulary.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

using namespace kestrel;

namespace {

// One serialized file listed in the samples manifest, with what the manifest says it holds.
struct ManifestEntry {
    std::string path;
    std::string engineVersion; // empty when the header has none
    int format = 0;
    bool bigEndian = false;
    std::optional<int32_t> platform;
    uint32_t objectCount = 0;
    std::map<std::string, uint32_t> classCounts;   // only the classes the manifest names
    std::map<std::string, uint32_t> textureCounts; // Texture2D objects per format name
};

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    const size_t b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + sep.size()) {
        out.push_back(s.substr(start, at - start));
    }
    out.push_back(s.substr(start));
    return out;
}

// "Texture2D 42, Mesh 13, ..." or "ARGB4444×34, ARGB32×5" into name -> count.
std::map<std::string, uint32_t> Counts(const std::string& list, const std::string& sep) {
    std::map<std::string, uint32_t> out;
    for (const std::string& item : Split(list, ", ")) {
        const size_t at = item.rfind(sep);
        if (at == std::string::npos) continue; // "..."
        out[Trim(item.substr(0, at))] =
            static_cast<uint32_t>(std::stoul(item.substr(at + sep.size())));
    }
    return out;
}

std::vector<ManifestEntry> ReadManifest(const std::filesystem::path& file) {
    std::vector<ManifestEntry> entries;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> cols = Split(line, "|");
        if (cols.size() < 12 || Trim(cols[4]) != "SerializedFile") continue;
        ManifestEntry e;
        e.path = Trim(cols[1]);
        e.engineVersion = Trim(cols[5]);
        if (e.engineVersion.front() == '(') e.engineVersion.clear();
        e.format = std::stoi(Trim(cols[6]));
        e.bigEndian = Trim(cols[7]) == "big";
        if (!Trim(cols[8]).empty()) e.platform = std::stoi(Trim(cols[8]));
        const std::string contents = Trim(cols[10]);
        e.objectCount = static_cast<uint32_t>(std::stoul(contents));
        const size_t listStart = contents.find("): ");
        const std::vector<std::string> parts = Split(contents.substr(listStart + 3), "; ");
        e.classCounts = Counts(parts[0], " ");
        for (size_t i = 1; i < parts.size(); ++i) {
            if (parts[i].rfind("tex: ", 0) == 0) e.textureCounts = Counts(parts[i].substr(5), "×");
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

// Class names of the vocabulary, so that names the manifest spells differently are left out.
const std::set<std::string>& KnownClassNames() {
    static const std::set<std::string> names = [] {
        std::set<std::string> out;
        for (int32_t id = 1; id <= 1120; ++id)
            out.insert(ClassName(id));
        return out;
    }();
    return names;
}

std::string ClassOf(const ObjectRow& row) {
    return row.ClassID <= 0 ? "MonoBehaviour" : ClassName(row.ClassID);
}

// Every plain serialized file of formats 5 to 15 among the samples parses, and its object
// count, byte order, engine version and per-class counts agree with the manifest.
TEST(AssetsSamples, SerializedFilesMatchTheManifest) {
    const std::filesystem::path dir = test::SamplesDir();
    if (dir.empty() || !std::filesystem::exists(dir / "MANIFEST.md")) {
        GTEST_SKIP() << "samples folder ../shared/samples not present";
    }
    const std::vector<ManifestEntry> entries = ReadManifest(dir / "MANIFEST.md");
    ASSERT_FALSE(entries.empty());
    int parsed = 0;
    for (const ManifestEntry& e : entries) {
        if (e.format < 5 || e.format > 15) continue;
        SCOPED_TRACE(e.path);
        if (!std::filesystem::exists(dir / e.path)) continue;
        ParseOptions options;
        options.innerFileName = std::filesystem::path(e.path).filename().string();
        AssetsFile file;
        ASSERT_NO_THROW(file = ParseAssets(FileSource::Open(dir / e.path), 0, options));
        ++parsed;
        EXPECT_EQ(file.header.formatVersion, e.format);
        EXPECT_EQ(file.header.BigEndianFlag == 1, e.bigEndian);
        EXPECT_EQ(file.header.engineVersion, e.engineVersion);
        EXPECT_NE(file.header.EngineMajorVersion, 0);
        if (e.platform) {
            EXPECT_EQ(static_cast<int32_t>(file.header.targetPlatform), *e.platform);
        }
        EXPECT_EQ(file.objectCount, e.objectCount);
        ASSERT_EQ(file.items.Count(), e.objectCount);

        std::map<std::string, uint32_t> classes, textures;
        for (size_t i = 0; i < file.items.Count(); ++i) {
            const ObjectRow& row = file.items.rows[i];
            ++classes[ClassOf(row)];
            if (row.ClassID == 28 && row.NameHeaderSize != 0) {
                ++textures[TextureFormatShortName(file.items.types[i].TextureFormat)];
            }
            EXPECT_LE(row.NameHeaderSize + row.PayloadOffset + row.PayloadSize,
                      std::max(row.ObjSize, row.NameHeaderSize + 4));
        }
        for (const auto& [name, count] : e.classCounts) {
            if (KnownClassNames().count(name) == 0) continue;
            EXPECT_EQ(classes[name], count) << name;
        }
        for (const auto& [format, count] : e.textureCounts)
            EXPECT_EQ(textures[format], count) << format;
    }
    EXPECT_GE(parsed, 50);
}

} // namespace
