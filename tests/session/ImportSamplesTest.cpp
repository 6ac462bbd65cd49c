// Export then import on the engine-written plain assets files of the samples: with no edits the
// archive stays byte for byte (and is not rewritten); a text asset made 1 KiB longer comes back
// out after a reopen while every other object exports its old bytes.
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "support/ExportRuns.h"
#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

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

TEST(ImportSamples, ExportThenImportKeepsEveryPlainSampleAndATextEditComesBack) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const std::vector<std::string> plain = PlainSamples(samples, 1, 15);
    ASSERT_FALSE(plain.empty()) << "no plain assets file of format 15 or older in MANIFEST.md";
    size_t identical = 0, texts = 0, textsBack = 0, converterAlerts = 0, streamedPictures = 0;
    for (const std::string& rel : plain) {
        SCOPED_TRACE(rel);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / rel, dir.Path());
        const std::vector<unsigned char> before = ReadFileBytes(archive);
        const uint64_t inode = FileInode(archive);
        KestrelState state;
        RecordedMessages messages;
        try {
            OpenAndExport(state, messages, archive);
            messages.alerts.clear();
            streamedPictures += SetStreamedPicturesAside(ImportRoot(state));
            ImportAll(state);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        // Pictures the texture importer does not take (cubemaps, streamed pixels) are told.
        converterAlerts += messages.alerts.size();
        const bool same = ReadFileBytes(archive) == before && FileInode(archive) == inode;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;

        const std::optional<size_t> text = FirstText(state, {49, 48});
        if (!text) continue;
        ++texts;
        const fs::path tree = ImportRoot(state);
        const std::string name = state.Items().ExportName[*text];
        std::vector<unsigned char> edited = ReadFileBytes(tree / name);
        edited.insert(edited.end(), 1024, 'k');
        WriteFileBytes(tree / name, edited);
        ImportAll(state);

        KestrelState again;
        RecordedMessages againMessages;
        OpenAndExport(again, againMessages, archive, (dir / "again").string());
        const std::vector<std::string> changed = RawFilesChanged(tree, ImportRoot(again));
        EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
        textsBack += changed.empty() ? 1 : 0;
    }
    std::cout << plain.size() << " plain samples of format 15 or older: " << identical
              << " unchanged by an unedited import; " << texts << " with a text asset or shader, "
              << textsBack
              << " of them giving the text made 1 KiB longer back with every other object "
              << "unchanged; " << converterAlerts << " pictures or sounds not taken back; "
              << streamedPictures << " pictures of streamed textures set aside\n";
}

} // namespace
