// Export then import on the engine-written plain assets files of the samples: with no edits the
// archive stays byte for byte (and is not rewritten); a text asset made longer comes back out
// after a reopen while every other object exports its old bytes, and from format 16 on every
// object still starts on a multiple of 8 from the data offset.
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/AudioObjects.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>
#include <limits>
#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// Opens the archive and exports everything, as the export task does, into outputDir (the
// archive's own directory when empty).
void OpenAndExport(OpenedArchive& a, const fs::path& archive, const std::string& outputDir = "") {
    if (!outputDir.empty()) a.options.outputDir = outputDir + "/";
    a.options.outputs = kOutEverything;
    a.Open(archive.string());
    ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, false));
}

// Imports the edited files of the open inner file, as "Import all", and parses it again.
void ImportAll(OpenedArchive& a) {
    ImportInnerFileAndResources(*a.archive, a.inner.index, a.options, *a.reporter);
    a.Select(a.inner.index);
}

// The first object with a text payload among the classes, tried in the order given; or none.
std::optional<size_t> FirstText(const OpenedArchive& a, const std::vector<int32_t>& classIds) {
    const auto& rows = a.Items().rows;
    for (const int32_t classId : classIds) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const ObjectRow& row = rows[i];
            if (row.ClassID == classId && row.PayloadOffset >= 4 && row.PayloadSize > 0) return i;
        }
    }
    return std::nullopt;
}

// The names of the raw files directly in `before` that are missing from `after` or differ there,
// then those only in `after`; empty when the two hold the same files.
std::vector<std::string> RawFilesChanged(const fs::path& before, const fs::path& after) {
    const auto old = FilesIn(before);
    const auto now = FilesIn(after);
    std::vector<std::string> changed;
    for (const auto& [file, bytes] : old) {
        const auto it = now.find(file);
        if (it == now.end() || it->second != bytes) changed.push_back(file);
    }
    for (const auto& entry : now) {
        if (!old.contains(entry.first)) changed.push_back(entry.first);
    }
    return changed;
}

// Removes the pictures of textures streamed from a resource file (the "res_" folders): an import
// puts their pixels inside the object, so they change the archive by design. Returns how many.
size_t SetStreamedPicturesAside(const fs::path& tree) {
    size_t removed = 0;
    for (const char* kind : {"Textures", "Cubemap"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(tree / kind, ec)) {
            if (e.is_directory() && e.path().filename().string().starts_with("res_"))
                removed += static_cast<size_t>(fs::remove_all(e.path()) - 1);
        }
    }
    return removed;
}

// The plain samples of serialized formats first..last; the first object of textClasses (in that
// order) with a text payload is made `growth` bytes longer. Up to format 15 the pictures of
// streamed textures are set aside and the pictures or sounds not taken back are counted; from 16
// on the objects' alignment and the file size are checked after the edit.
struct SampleRun {
    std::string formats;
    int first;
    int last;
    std::vector<int32_t> textClasses;
    size_t growth;
};

void ExportImportEdit(const SampleRun& run) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const bool modern = run.first >= 16;
    const std::vector<std::string> plain = PlainSamples(samples, run.first, run.last);
    ASSERT_FALSE(plain.empty()) << "no plain assets file of " << run.formats << " in MANIFEST.md";
    size_t identical = 0, texts = 0, textsBack = 0, converterAlerts = 0, streamedPictures = 0;
    for (const std::string& rel : plain) {
        SCOPED_TRACE(rel);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / rel, dir.Path());
        const std::vector<unsigned char> before = ReadFileBytes(archive);
        const uint64_t inode = FileInode(archive);
        OpenedArchive a;
        RecordedMessages& messages = a.messages;
        try {
            OpenAndExport(a, archive);
            if (!modern) {
                messages.alerts.clear();
                streamedPictures += SetStreamedPicturesAside(ImportRoot(a.Scope()));
            }
            ImportAll(a);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        // Pictures the texture importer does not take (cubemaps, streamed pixels) are told.
        if (!modern) converterAlerts += messages.alerts.size();
        const bool same = ReadFileBytes(archive) == before && FileInode(archive) == inode;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;

        const std::optional<size_t> text = FirstText(a, run.textClasses);
        if (!text) continue;
        ++texts;
        const fs::path tree = ImportRoot(a.Scope());
        const std::string name = a.Items().ExportName[*text];
        std::vector<unsigned char> edited = ReadFileBytes(tree / name);
        edited.insert(edited.end(), run.growth, 'k');
        WriteFileBytes(tree / name, edited);
        ImportAll(a);

        OpenedArchive again;
        OpenAndExport(again, archive, (dir / "again").string());
        if (modern) {
            for (const ObjectRow& row : again.Items().rows)
                EXPECT_EQ(row.ObjOffset % 8, 0u) << "an object left the file's alignment";
            EXPECT_EQ(again.inner.assets.fileSize, fs::file_size(archive));
        }
        const std::vector<std::string> changed = RawFilesChanged(tree, ImportRoot(again.Scope()));
        EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
        textsBack += changed.empty() ? 1 : 0;
    }
    std::cout << plain.size() << " plain samples of " << run.formats << ": " << identical
              << " unchanged by an unedited import; " << texts << " with a text, " << textsBack
              << " of them giving the text made " << run.growth
              << " bytes longer back with every other object unchanged; " << converterAlerts
              << " pictures or sounds not taken back; " << streamedPictures
              << " pictures of streamed textures set aside\n";
}

TEST(ImportSamples, ExportThenImportKeepsEveryPlainSampleAndATextEditComesBack) {
    // A text asset, else a shader (its text is a payload too), made 1 KiB longer.
    ExportImportEdit({"format 15 or older", 1, 15, {49, 48}, 1024});
}

TEST(ModernImportSamples, ExportThenImportKeepsEverySampleAndATextEditComesBackAligned) {
    ExportImportEdit({"format 16 and later", 16, std::numeric_limits<int>::max(), {49}, 1001});
}

} // namespace
