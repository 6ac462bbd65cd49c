// Every object with a type tree in the engine-written samples (plain serialized files and the
// serialized files inside bundles): read by its tree and written back, and through JSON and back,
// it must give its stored bytes.
#include "assets/FileTypeTrees.h"
#include "assets/ObjectJson.h"
#include "common/Error.h"
#include "session/Operations.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/RecordedMessages.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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

void CheckInnerFile(const OpenedArchive& opened, const std::string& where, Tally& tally) {
    const AssetsFile& file = opened.inner.assets;
    const auto& source = opened.archive->Work();
    const FileTypeTrees trees = ReadFileTypeTrees(source, opened.inner.base, file);
    const FieldContext context{trees.referenceTypes};
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

} // namespace
