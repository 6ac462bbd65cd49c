// Objects with a type tree as JSON through the built program: export -t json, an unedited import
// that changes nothing, a translator's longer Cyrillic text and a font glyph's advance taken back
// in both byte orders, and JSON files an import refuses for their object alone.
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"
#include "support/TypeTreeObjects.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// A font asset's glyph table: a name and glyphs of {index, {width, advance}}.
std::vector<TypeTreeNode> GlyphTableTree() {
    return {{0, -1, 0, "MonoBehaviour", "Base"},
            {1, -1, 0x4000, "string", "m_Name"},
            {2, -1, 0x4001, "Array", "Array"},
            {3, 4, 0, "int", "size"},
            {3, 1, 0, "char", "data"},
            {1, -1, 0, "vector", "m_GlyphTable"},
            {2, -1, 0, "Array", "Array"},
            {3, 4, 0, "int", "size"},
            {3, -1, 0, "Glyph", "data"},
            {4, 4, 0, "unsigned int", "m_Index"},
            {4, -1, 0, "GlyphMetrics", "m_Metrics"},
            {5, 4, 0, "float", "m_Width"},
            {5, 4, 0, "float", "m_HorizontalAdvance"}};
}

std::vector<uint8_t> GlyphTableBody(Endian order) {
    Writer w(order);
    w.U32(3);
    for (uint32_t i = 0; i < 3; ++i) {
        w.U32(65 + i);
        w.F32(10.0f + static_cast<float>(i));
        w.F32(12.5f);
    }
    return w.Take();
}

// A level file with a dialogue MonoBehaviour, a font asset and a GameObject that no edit touches;
// `typeTrees` false strips their trees as player builds do, `hashSalt` changes their type hashes.
fs::path WriteLevel(const TempDir& dir, bool bigEndian, bool typeTrees = true,
                    uint8_t hashSalt = 0, const char* name = "level0.assets") {
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.1f1";
    plan.bigEndian = bigEndian;
    plan.typeTrees = typeTrees;
    plan.typeHashSalt = hashSalt;
    plan.trees = {{-1, MonoBehaviourLikeTree()}, {-2, GlyphTableTree()}};
    plan.objects.push_back({-1, std::nullopt, MonoBehaviourLikeBody({}, plan.Order())});
    plan.objects.push_back({-2, "Font SDF", GlyphTableBody(plan.Order())});
    plan.objects.push_back({1, std::nullopt, std::vector<uint8_t>(16, 7)});
    const auto bytes = BuildAssetsFile(plan);
    const fs::path archive = dir / name;
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    return archive;
}

std::string ReadText(const fs::path& file) {
    return kestrel::test::ReadFileText(file);
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// The JSON file whose text holds `key`.
fs::path JsonHolding(const fs::path& tree, const std::string& key) {
    for (const auto& [name, text] : FilesIn(tree)) {
        if (name.ends_with(".json") && std::string(text.begin(), text.end()).find(key) !=
                                           std::string::npos)
            return tree / name;
    }
    ADD_FAILURE() << "no JSON file in " << tree << " holds " << key;
    return {};
}

CliResult Kestrel(const std::vector<std::string>& args) {
    return RunKestrel(args, "C.UTF-8");
}

// Exports with -t json (into `into` when given, with trees from `types` when given) and fails the
// test when that fails.
void ExportJson(const fs::path& archive, const fs::path& into = {}, const fs::path& types = {}) {
    std::vector<std::string> args = {"export", archive.string(), "-t", "json"};
    if (!into.empty()) args.insert(args.end(), {"-p", into.string()});
    if (!types.empty()) args.insert(args.end(), {"--types", types.string()});
    const CliResult result = Kestrel(args);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
}

class JsonCli : public ::testing::TestWithParam<bool> {};

TEST_P(JsonCli, TranslatorsEditsComeBackAndNothingElseMoves) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, GetParam());
    const fs::path tree = dir / "Unity_Assets_Files/level0";
    ASSERT_NO_FATAL_FAILURE(ExportJson(archive));
    const auto original = ReadFileBytes(archive);
    const auto exported = FilesIn(tree);
    EXPECT_EQ(std::count_if(exported.begin(), exported.end(),
                            [](const auto& f) { return f.first.ends_with(".json"); }),
              2)
        << "the GameObject's tree (a PPtr without its fields) is no tree to read by";

    // Nothing edited: nothing written.
    ASSERT_EQ(Kestrel({"import", archive.string()}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(archive), original);

    const fs::path dialogue = JsonHolding(tree, "m_Entries");
    const fs::path font = JsonHolding(tree, "m_GlyphTable");
    Json text = Json::parse(ReadText(dialogue));
    const std::string russian = "До свидания, путник! Возвращайся скорее.";
    text["m_Entries"][1]["m_Localized"] = russian;
    WriteText(dialogue, text.dump(2));
    Json glyphs = Json::parse(ReadText(font));
    glyphs["m_GlyphTable"][1]["m_Metrics"]["m_HorizontalAdvance"] = 14.25;
    WriteText(font, glyphs.dump(2));
    const CliResult imported = Kestrel({"import", archive.string()});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_GT(ReadFileBytes(archive).size(), original.size());

    // Exported anew elsewhere: the edits are there, and every other file is as it was.
    const fs::path again = dir / "again";
    ASSERT_NO_FATAL_FAILURE(ExportJson(archive, again));
    const auto reexported = FilesIn(again / "Unity_Assets_Files/level0");
    EXPECT_EQ(Json::parse(reexported.at(dialogue.filename().string()))["m_Entries"][1]
                         ["m_Localized"],
              russian);
    EXPECT_EQ(Json::parse(reexported.at(font.filename().string()))["m_GlyphTable"][1]["m_Metrics"]
                         ["m_HorizontalAdvance"],
              14.25);
    ASSERT_EQ(reexported.size(), exported.size());
    size_t differing = 0;
    for (const auto& [name, bytes] : exported)
        differing += reexported.at(name) != bytes ? 1 : 0;
    EXPECT_EQ(differing, 4u) << "two JSON files and their two raw files";
    // The import wrote the raw files of the JSON-edited objects anew (the edited JSON files stay
    // as the translator wrote them), so a second import finds nothing to undo.
    for (const auto& [name, bytes] : FilesIn(tree)) {
        if (name.ends_with(".json")) {
            EXPECT_EQ(Json::parse(bytes), Json::parse(reexported.at(name))) << name;
        } else {
            EXPECT_EQ(bytes, reexported.at(name)) << name;
        }
    }
    const auto afterEdit = ReadFileBytes(archive);
    ASSERT_EQ(Kestrel({"import", archive.string()}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(archive), afterEdit);
}

TEST(JsonCliTypes, AStrippedFileBorrowsTheTreesWhoseTypeHashesMatch) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, false, false);
    const fs::path donor = WriteLevel(dir, false, true, 0, "donor.assets");
    const fs::path otherLayout = WriteLevel(dir, false, true, 7, "other.assets");
    const auto jsonFiles = [](const fs::path& tree) {
        const auto files = FilesIn(tree);
        return std::count_if(files.begin(), files.end(),
                             [](const auto& f) { return f.first.ends_with(".json"); });
    };
    const CliResult unmatched = Kestrel({"export", archive.string(), "-t", "json", "--types",
                                         otherLayout.string(), "-p", (dir / "other").string()});
    ASSERT_EQ(unmatched.exitCode, 0) << unmatched.err;
    EXPECT_EQ(jsonFiles(dir / "other/Unity_Assets_Files/level0"), 0);
    EXPECT_NE((unmatched.out + unmatched.err).find("3 of 3 objects have no type tree"),
              std::string::npos)
        << unmatched.out << unmatched.err;

    const fs::path tree = dir / "Unity_Assets_Files/level0";
    ASSERT_NO_FATAL_FAILURE(ExportJson(archive, {}, donor));
    EXPECT_EQ(jsonFiles(tree), 2);
    const fs::path dialogue = JsonHolding(tree, "m_Entries");
    Json text = Json::parse(ReadText(dialogue));
    text["m_Entries"][0]["m_Localized"] = "Привет";
    WriteText(dialogue, text.dump());
    const CliResult imported = Kestrel({"import", archive.string(), "--types", donor.string()});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    ASSERT_NO_FATAL_FAILURE(ExportJson(archive, dir / "again", donor));
    EXPECT_EQ(Json::parse(ReadText(dir / "again/Unity_Assets_Files/level0" /
                                   dialogue.filename()))["m_Entries"][0]["m_Localized"],
              "Привет");
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, JsonCli, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Big" : "Little"; });

struct BadJson {
    const char* name;
    std::function<void(const fs::path& json, const fs::path& raw)> spoil;
    const char* message; // a part of the error
};

TEST(JsonCliRefusals, ABadJsonFileLeavesItsObjectAndTheArchiveAlone) {
    const BadJson cases[] = {
        {"Truncated", [](const fs::path& j,
                         const fs::path&) { WriteText(j, ReadText(j).substr(0, 40)); },
         "level0/"},
        {"StringForANumber",
         [](const fs::path& j, const fs::path&) {
             Json t = Json::parse(ReadText(j));
             t["m_Entries"][0]["m_Count"] = "seven";
             WriteText(j, t.dump());
         },
         "m_Entries[0].m_Count"},
        {"HalfAGigabyte",
         [](const fs::path& j, const fs::path&) { fs::resize_file(j, 500u << 20); },
         "more JSON than an object"},
        {"RawFileEditedToo",
         [](const fs::path& j, const fs::path& raw) {
             Json t = Json::parse(ReadText(j));
             t["m_Name"] = "Changed";
             WriteText(j, t.dump());
             WriteText(raw, ReadText(raw) + "x");
         },
         "was changed in more than one file"},
    };
    for (const BadJson& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path archive = WriteLevel(dir, false);
        const fs::path tree = dir / "Unity_Assets_Files/level0";
        ASSERT_NO_FATAL_FAILURE(ExportJson(archive));
        const auto original = ReadFileBytes(archive);
        const fs::path json = JsonHolding(tree, "m_Entries");
        fs::path raw = json;
        raw.replace_extension();
        c.spoil(json, raw);
        const CliResult result = Kestrel({"import", archive.string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(ReadFileBytes(archive), original);
    }
}

} // namespace
