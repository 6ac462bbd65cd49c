// Export then import on the engine-written plain assets files of the samples: with no edits the
// archive stays byte for byte (and is not rewritten); a text asset made 1 KiB longer comes back
// out after a reopen while every other object exports its old bytes.
#include "app/Options.h"
#include "assets/AssetsParser.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/AudioObjects.h"
#include "support/Manifest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <sys/stat.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// Plain assets files (no bundle, no pieces) of serialized format 15 or older.
std::vector<std::string> PlainSamples(const fs::path& samples) {
    std::vector<std::string> out;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 7 || cols[4] != "SerializedFile") continue;
        const int format = std::atoi(cols[6].c_str());
        if (format <= 0 || format > 15 || !fs::is_regular_file(samples / cols[1])) continue;
        out.push_back(cols[1]);
    }
    return out;
}

ino_t Inode(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_ino;
}

// The raw files directly in an export tree, by name.
std::map<std::string, std::vector<unsigned char>> RawFiles(const fs::path& tree) {
    std::map<std::string, std::vector<unsigned char>> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(tree, ec)) {
        if (e.is_regular_file()) files[e.path().filename().string()] = ReadFileBytes(e.path());
    }
    return files;
}

// Opens the archive and exports everything, as the export task does, into outputDir (the
// archive's own directory when empty).
void OpenAndExport(KestrelState& state, RecordedMessages& messages, const fs::path& archive,
                   const std::string& outputDir = "") {
    state.reporter = &messages;
    state.ConsoleMode = true;
    if (!outputDir.empty()) {
        state.CustomPathGiven = true;
        state.CustomPath = outputDir + "/";
    }
    SetExportAllSwitches(state);
    OpenArchive(state, archive.string());
    ExportFilteredItems(state);
}

// The first text asset with a payload, else the first shader (its text is a payload too), or
// none.
std::optional<size_t> FirstText(KestrelState& state) {
    for (const int32_t classId : {49, 48}) {
        for (size_t i = 0; i < state.Items().Count(); ++i) {
            const ObjectRow& row = state.Items().rows[i];
            if (row.ClassID == classId && row.PayloadOffset >= 4 && row.PayloadSize > 0) return i;
        }
    }
    return std::nullopt;
}

TEST(ImportSamples, ExportThenImportKeepsEveryPlainSampleAndATextEditComesBack) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    const std::vector<std::string> plain = PlainSamples(samples);
    ASSERT_FALSE(plain.empty()) << "no plain assets file of format 15 or older in MANIFEST.md";
    size_t identical = 0, texts = 0, textsBack = 0, converterAlerts = 0;
    for (const std::string& rel : plain) {
        SCOPED_TRACE(rel);
        TempDir dir;
        const fs::path archive = CopySampleWithCompanions(samples / rel, dir.Path());
        const std::vector<unsigned char> before = ReadFileBytes(archive);
        const ino_t inode = Inode(archive);
        KestrelState state;
        RecordedMessages messages;
        try {
            OpenAndExport(state, messages, archive);
            messages.alerts.clear();
            ImportAll(state);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        // Pictures the texture importer does not take (cubemaps, streamed pixels) are told.
        converterAlerts += messages.alerts.size();
        const bool same = ReadFileBytes(archive) == before && Inode(archive) == inode;
        EXPECT_TRUE(same) << "changed by an import of its own unedited export";
        identical += same ? 1 : 0;

        const std::optional<size_t> text = FirstText(state);
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
        const auto old = RawFiles(tree);
        const auto now = RawFiles(ImportRoot(again));
        EXPECT_EQ(old.size(), now.size());
        bool allSame = true;
        for (const auto& [file, bytes] : old) {
            const auto it = now.find(file);
            const bool ok = it != now.end() && it->second == bytes;
            EXPECT_TRUE(ok) << file;
            allSame = allSame && ok;
        }
        textsBack += allSame ? 1 : 0;
    }
    std::cout << plain.size() << " plain samples of format 15 or older: " << identical
              << " unchanged by an unedited import; " << texts << " with a text asset or shader, "
              << textsBack
              << " of them giving the text made 1 KiB longer back with every other object "
              << "unchanged; " << converterAlerts << " pictures or sounds not taken back\n";
}

} // namespace
