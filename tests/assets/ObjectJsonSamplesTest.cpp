// Every object with a type tree in the engine-written samples (plain serialized files and the
// serialized files inside bundles): read by its tree and written back, and through JSON and back,
// it must give its stored bytes.
#include "assets/FileTypeTrees.h"
#include "assets/ObjectJson.h"
#include "common/Error.h"
#include "session/JsonForms.h"
#include "session/Operations.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/RecordedMessages.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <map>

using namespace kestrel;
using namespace kestrel::test;

namespace {

namespace fs = std::filesystem;

struct Tally {
    std::map<int32_t, size_t> roundTripped; // per serialized format
    size_t withRegistry = 0;                // of them, objects with managed references
    std::vector<std::string> failures;
};

bool HoldsRegistry(const TreeField& f) {
    if (f.kind == FieldKind::Registry) return true;
    if (f.kind == FieldKind::Array) return HoldsRegistry(*f.element);
    for (const TreeField* child : f.fields) {
        if (HoldsRegistry(*child)) return true;
    }
    return false;
}

std::vector<uint8_t> Stored(Reader object) {
    std::vector<uint8_t> bytes(object.Remaining());
    object.Bytes(bytes.data(), bytes.size(), "object");
    return bytes;
}

void CheckInnerFile(const OpenedArchive& opened, const std::string& where, Tally& tally,
                    const TypeTreeLibrary* lender = nullptr) {
    const AssetsFile& file = opened.inner.assets;
    const auto& source = opened.archive->Work();
    FileTypeTrees trees = ReadFileTypeTrees(source, opened.inner.base, file);
    if (lender != nullptr) lender->Lend(trees);
    const FieldContext context{trees.ReferenceTypes()};
    const Endian order = file.header.DataOrder();
    const Reader whole(source, order);
    for (size_t i = 0; i < file.items.rows.size(); ++i) {
        const ObjectRow& row = file.items.rows[i];
        const TypeTree* tree = trees.TreeOf(file, row);
        if (tree == nullptr) continue;
        const std::string name = where + " object " + std::to_string(i) + ": ";
        try {
            const Reader object = whole.Sub(file.DataOffset + row.ObjOffset, row.ObjSize, "object");
            const std::vector<uint8_t> stored = Stored(object);
            Reader walk = object;
            const FieldValue fields = ReadObjectFields(*tree, walk, context);
            Writer written(order);
            WriteObjectFields(fields, written);
            if (written.Data() != stored) {
                tally.failures.push_back(name + "written back differently");
                continue;
            }
            if (JsonToObject(*tree, FieldsToJson(fields), order, context) != stored) {
                tally.failures.push_back(name + "differs after JSON");
                continue;
            }
            ++tally.roundTripped[file.header.formatVersion];
            tally.withRegistry += HoldsRegistry(tree->Root()) ? 1 : 0;
        } catch (const KestrelError& e) {
            tally.failures.push_back(name + e.what());
        }
    }
}

void CheckSample(const fs::path& samples, const std::string& local, Tally& tally) {
    TempDir dir;
    const fs::path copy = CopySampleWithCompanions(samples / local, dir.Path());
    OpenedArchive opened;
    try {
        opened.Open(copy.string());
        const Archive& archive = *opened.archive;
        const std::vector<std::string>& names = archive.InnerFileNames();
        for (size_t e = 0; e < archive.InnerFileCount(); ++e) {
            if (archive.IsBundle() && IsResourceEntry(names[e])) continue;
            opened.Select(e);
            CheckInnerFile(opened, local + (archive.IsBundle() ? "/" + names[e] : ""), tally);
        }
    } catch (const KestrelError&) {
        // Files the parser does not open (old formats, resource data) carry no tree it reads.
    }
}

TEST(ObjectJsonSamples, EveryObjectWithATypeTreeRoundTrips) {
    const fs::path samples = KESTREL_SAMPLES_DIR;
    if (!fs::exists(samples / "MANIFEST.md")) GTEST_SKIP() << "no samples at " << samples;
    Tally tally;
    for (const ManifestRow& row : ReadManifestRows(samples)) {
        if (row.size() < 2 || !fs::is_regular_file(samples / row[1])) continue;
        CheckSample(samples, row[1], tally);
    }
    size_t total = 0;
    for (const auto& [format, count] : tally.roundTripped) {
        std::cout << "serialized format " << format << ": " << count << " objects round-tripped\n";
        total += count;
    }
    std::cout << tally.withRegistry << " of them hold a managed references registry; "
              << tally.failures.size() << " failures\n";
    EXPECT_GT(total, 0u);
    EXPECT_TRUE(tally.failures.empty())
        << tally.failures.size() << " failures, first: " << tally.failures.front();
    for (size_t i = 0; i < tally.failures.size() && i < 30; ++i)
        ADD_FAILURE() << tally.failures[i];
}

// Stripped player files with a file of the same engine version that keeps its trees: every object
// a lent tree serves reads and writes back to its stored bytes, through JSON too.
TEST(ObjectJsonSamples, TreesLentByAFileOfTheSameEngineVersionReadStrippedObjects) {
    const fs::path samples = KESTREL_SAMPLES_DIR;
    if (!fs::exists(samples / "MANIFEST.md")) GTEST_SKIP() << "no samples at " << samples;
    const std::pair<const char*, const char*> pairs[] = {
        {"Alexander-Hjelm__Vector-Command/Build/Build_Data/level0",
         "ata4__disunity/mainData/14/58e88e08b508c8ede1b1f198647de952"},
        {"2019Ganjil-RealitasVirtualDanAugmentasi__tugas-1-driving-simulation-nadanr/"
         "DrivingCar_Data/sharedassets0.assets",
         "post-kerbin-mining-corporation__Waterfall/GameData/Waterfall/Particles/"
         "waterfalltestparticles.particle"},
    };
    for (const auto& [stripped, donor] : pairs) {
        if (!fs::exists(samples / stripped) || !fs::exists(samples / donor))
            GTEST_SKIP() << "sample pair absent: " << stripped;
        RecordedMessages messages;
        RunOptions options;
        const auto library = LoadTypeSources({(samples / donor).string()}, options, messages);
        OpenedArchive opened;
        opened.Open((samples / stripped).string());
        opened.Select(0);
        Tally tally;
        CheckInnerFile(opened, stripped, tally, library.get());
        size_t read = 0;
        for (const auto& [format, count] : tally.roundTripped) read += count;
        std::cout << stripped << ": " << read << " objects read by lent trees\n";
        EXPECT_GT(read, 0u) << stripped;
        EXPECT_TRUE(tally.failures.empty()) << tally.failures.front();
    }
}

// The first string value of a JSON document other than a name, found depth first.
nlohmann::ordered_json* FirstText(nlohmann::ordered_json& doc, const std::string& key = "") {
    if (doc.is_string() && key != "m_Name" && !doc.get<std::string>().empty()) return &doc;
    if (doc.is_object()) {
        for (auto it = doc.begin(); it != doc.end(); ++it) {
            if (auto* found = FirstText(it.value(), it.key())) return found;
        }
    }
    if (doc.is_array()) {
        for (auto& item : doc) {
            if (auto* found = FirstText(item, key)) return found;
        }
    }
    return nullptr;
}

// Through the export tree: every sample exported raw with its JSON files and imported with no
// edit is byte for byte the same; in the first sample whose MonoBehaviours hold text, one string
// made a longer Cyrillic one comes back after a reopen and no other raw file changes.
TEST(ObjectJsonSamples, UneditedJsonChangesNoArchiveAndATranslationComesBack) {
    const fs::path samples = KESTREL_SAMPLES_DIR;
    if (!fs::exists(samples / "MANIFEST.md")) GTEST_SKIP() << "no samples at " << samples;
    size_t archives = 0, jsonFiles = 0, translated = 0;
    for (const ManifestRow& row : ReadManifestRows(samples)) {
        if (row.size() < 7 || !fs::is_regular_file(samples / row[1])) continue;
        // Formats 5 to 8 (11,000 objects of Unity 2 and 3) are left to the walk above, which takes
        // every one of them through its JSON, and to the old-format sample test, which imports
        // them unedited through the archive: here they would double the run under the sanitizers.
        if (const int format = std::atoi(row[6].c_str()); format > 0 && format < 9) continue;
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples / row[1], dir.Path());
        const auto before = ReadFileBytes(copy);
        OpenedArchive a;
        a.options.outputs = kOutRawOnly | kOutJson;
        try {
            a.Open(copy.string());
        } catch (const KestrelError&) {
            continue; // not an archive the parser opens
        }
        SCOPED_TRACE(row[1]);
        ExportArchive(*a.archive, a.options, a.messages);
        const fs::path tree = dir / "Unity_Assets_Files";
        std::error_code ec;
        if (!fs::is_directory(tree, ec)) continue;
        std::vector<fs::path> monoJson;
        for (const auto& [rel, bytes] : FilesIn(tree, true)) {
            if (!rel.ends_with(".json")) continue;
            ++jsonFiles;
            if (rel.ends_with(".114.json") || rel.find(".-") != std::string::npos)
                monoJson.push_back(tree / rel);
        }
        ImportArchive(*a.archive, a.options, a.messages);
        a.archive.reset();
        EXPECT_EQ(ReadFileBytes(copy), before) << "changed by an unedited import";
        ++archives;
        if (translated != 0) continue;
        for (const fs::path& json : monoJson) {
            const auto bytes = ReadFileBytes(json);
            auto doc = nlohmann::ordered_json::parse(bytes.begin(), bytes.end());
            nlohmann::ordered_json* text = FirstText(doc);
            if (text == nullptr) continue;
            const std::string russian = text->get<std::string>() + " — перевод на русский язык";
            *text = russian;
            const std::string edited = doc.dump(1);
            WriteFileBytes(json, {edited.begin(), edited.end()});
            const auto raw = FilesIn(tree, true);
            OpenedArchive b;
            b.options.outputs = kOutRawOnly | kOutJson;
            b.Open(copy.string());
            ImportArchive(*b.archive, b.options, b.messages);
            EXPECT_TRUE(b.messages.alerts.empty()) << b.messages.alerts.front();
            b.Open(copy.string());
            b.options.outputDir = (dir / "again").string() + "/";
            ExportArchive(*b.archive, b.options, b.messages);
            const auto again = FilesIn(dir / "again" / "Unity_Assets_Files", true);
            const fs::path editedRaw = fs::relative(json, tree).replace_extension();
            size_t otherRawChanged = 0;
            for (const auto& [rel, bytes] : raw) {
                if (rel.ends_with(".json") || rel == editedRaw) continue;
                const bool changed = again.count(rel) != 0 && again.at(rel) != bytes;
                EXPECT_FALSE(changed) << rel;
                otherRawChanged += changed ? 1 : 0;
            }
            const auto newJson = again.at(fs::relative(json, tree).string());
            EXPECT_NE(std::string(newJson.begin(), newJson.end()).find("перевод на русский"),
                      std::string::npos);
            EXPECT_EQ(otherRawChanged, 0u);
            std::cout << row[1] << ": " << json.filename() << " translated\n";
            translated = 1;
            break;
        }
    }
    std::cout << archives << " archives with " << jsonFiles
              << " JSON files exported and imported unedited\n";
    EXPECT_GT(jsonFiles, 0u);
    EXPECT_EQ(translated, 1u) << "no MonoBehaviour of the samples holds text";
}

} // namespace
