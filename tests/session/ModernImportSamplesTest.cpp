// Export then import on the engine-written plain assets files of serialized format 17 and later:
// with no edits the archive stays byte for byte; a text asset made 1,001 bytes longer comes back
// out after a reopen, every other object exports its old bytes, and every object still starts on
// a multiple of 8 from the data offset.
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "support/ExportRuns.h"
#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <iostream>
#include <limits>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

TEST(ModernImportSamples, ExportThenImportKeepsEverySampleAndATextEditComesBackAligned) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const std::vector<std::string> plain =
        PlainSamples(samples, 16, std::numeric_limits<int>::max());
    ASSERT_FALSE(plain.empty()) << "no plain assets file of format 16 or later in MANIFEST.md";
    size_t identical = 0, texts = 0, textsBack = 0;
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
            ImportAll(state);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const bool same = ReadFileBytes(archive) == before && FileInode(archive) == inode;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;

        const std::optional<size_t> text = FirstText(state, {49});
        if (!text) continue;
        ++texts;
        const fs::path tree = ImportRoot(state);
        const std::string name = state.Items().ExportName[*text];
        std::vector<unsigned char> edited = ReadFileBytes(tree / name);
        edited.insert(edited.end(), 1001, 'k');
        WriteFileBytes(tree / name, edited);
        ImportAll(state);

        KestrelState again;
        RecordedMessages againMessages;
        OpenAndExport(again, againMessages, archive, (dir / "again").string());
        for (const ObjectRow& row : again.Items().rows)
            EXPECT_EQ(row.ObjOffset % 8, 0u) << "an object left the file's alignment";
        EXPECT_EQ(again.assets.fileSize, fs::file_size(archive));
        const std::vector<std::string> changed = RawFilesChanged(tree, ImportRoot(again));
        EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
        textsBack += changed.empty() ? 1 : 0;
    }
    std::cout << plain.size() << " plain samples of format 16 and later: " << identical
              << " unchanged by an unedited import; " << texts << " with a text asset, "
              << textsBack << " of them giving the text made 1,001 bytes longer back with every "
              << "other object unchanged\n";
}

} // namespace
