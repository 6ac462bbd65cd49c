// Textures of the real samples (serialized formats up to 15, every inner file) through the whole
// import: pictures exported to DDS, KTX and PVR and imported unedited leave the archive byte for
// byte (streamed textures, whose pixels move into the object, are counted apart); a rectangle
// drawn into one DXT5 or RGBA32 texture's DDS by ImageMagick comes back out after a reopen while
// every other object exports its old raw bytes.
#include "assets/Vocabulary.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/AudioObjects.h"
#include "support/Manifest.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureHeader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>

namespace kestrel {
namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;
using Files = std::map<std::string, std::vector<unsigned char>>;

// The regular files directly in `dir`, by name.
Files FilesIn(const fs::path& dir) {
    Files files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.is_regular_file()) files[e.path().filename().string()] = ReadFileBytes(e.path());
    }
    return files;
}

struct Container {
    uint8_t kind; // TextureFormatSupports kind
    bool KestrelState::*exportSwitch;
};
constexpr Container kContainers[] = {
    {1, &KestrelState::ExportDDS}, {3, &KestrelState::ExportKTX}, {4, &KestrelState::ExportPVR}};

bool IsTexture(const ObjectRow& row) {
    return (row.ClassID == 28 || row.ClassID == 89) && row.ObjSize > row.NameHeaderSize;
}

bool IsStreamed(const KestrelState& state, size_t i) {
    const ObjectRow& row = state.assets.items.rows[i];
    Reader object = Reader(state.WorkStream, state.assets.header.DataOrder())
                        .Sub(state.assets.DataOffset + row.ObjOffset + row.NameHeaderSize,
                             row.ObjSize - row.NameHeaderSize, "texture");
    return ProbeTextureLayout(object) == TextureLayout::Streamed;
}

// Opens inner file `entry` of a fresh copy of the sample in `dir`; `copied` (when given)
// receives the copied files before the open adds its working files.
fs::path OpenCopy(KestrelState& state, RecordedMessages& messages, const fs::path& sample,
                  const fs::path& dir, uint32_t entry, Files* copied = nullptr) {
    const fs::path copy = CopySampleWithCompanions(sample, dir);
    if (copied != nullptr) *copied = FilesIn(dir);
    state.ConsoleMode = true;
    state.reporter = &messages;
    state.SelectedEntry.index = entry;
    OpenArchive(state, copy.string());
    return copy;
}

struct Tally {
    size_t innerFiles = 0, runs = 0, unchanged = 0, pictures = 0, streamed = 0;
    size_t edits = 0, editsBack = 0;
    std::vector<std::string> problems;
};

// Exports the textures of the open inner file to one container, drops the pictures of streamed
// textures (counted), imports and checks that no file of the archive changed.
void UneditedRun(const fs::path& sample, uint32_t entry, const Container& c, Tally& tally,
                 const std::string& label) {
    TempDir dir;
    KestrelState state;
    RecordedMessages messages;
    Files before;
    OpenCopy(state, messages, sample, dir.Path(), entry, &before);
    state.ExportConvert = true;
    state.*c.exportSwitch = true;
    state.WorkStream = FileSource::Open(state.WorkFileName);
    std::vector<size_t> textures;
    for (size_t i = 0; i < state.Items().Count(); ++i) {
        if (!IsTexture(state.Items().rows[i]) ||
            !TextureFormatSupports(state.Items().types[i].TextureFormat, c.kind))
            continue;
        if (IsStreamed(state, i)) {
            ++tally.streamed;
        } else {
            textures.push_back(i);
        }
    }
    state.WorkStream.reset();
    if (textures.empty()) return;
    ExportItems(state, textures);
    tally.pictures += textures.size();
    ++tally.runs;
    ImportAll(state);
    CleanUpWorkingFiles(state);
    Files after = FilesIn(dir.Path());
    const bool same = after == before;
    tally.unchanged += same ? 1 : 0;
    if (!same) tally.problems.push_back(label + ": changed by an unedited import");
    for (const auto& alert : messages.alerts)
        tally.problems.push_back(label + ": " + alert);
}

// Every object is written as its raw file, and nothing converted.
void SetRawSwitches(KestrelState& state) {
    state.ExportRawTextures = true;
    state.ExportRawAudio = true;
    state.ExportRawMesh = true;
}

// The DXT5 and RGBA32 textures of the open inner file with their pixels inside the object.
std::vector<size_t> EditableTextures(KestrelState& state) {
    state.WorkStream = FileSource::Open(state.WorkFileName);
    std::vector<size_t> found;
    for (size_t i = 0; i < state.Items().Count(); ++i) {
        const int32_t format = state.Items().types[i].TextureFormat;
        const ObjectRow& row = state.Items().rows[i];
        if (row.ClassID == 28 && row.ObjSize > row.NameHeaderSize &&
            (format == 4 || format == 12) && !IsStreamed(state, i))
            found.push_back(i);
    }
    state.WorkStream.reset();
    return found;
}

// Draws a green square into the texture's DDS with ImageMagick, imports, reopens and checks.
void EditRun(const fs::path& sample, uint32_t entry, Tally& tally, const std::string& label) {
    TempDir dir;
    KestrelState state;
    RecordedMessages messages;
    const fs::path copy = OpenCopy(state, messages, sample, dir.Path(), entry);
    std::vector<size_t> all(state.Items().Count());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    SetRawSwitches(state);
    ExportItems(state, all); // raw files only
    const Files rawBefore = FilesIn(ImportRoot(state));
    state.ExportConvert = true;
    state.ExportDDS = true;
    // The first of them whose picture is not empty.
    std::optional<size_t> index;
    fs::path dds;
    for (size_t i : EditableTextures(state)) {
        ExportItems(state, {i});
        dds = ImportRoot(state) / "Textures" / (state.Items().ExportName[i] + ".dds");
        if (fs::exists(dds)) {
            index = i;
            break;
        }
    }
    if (!index) return;
    ++tally.edits;
    const std::string name = state.Items().ExportName[*index];
    const int32_t format = state.Items().types[*index].TextureFormat;
    const std::string compression = format == 12 ? "dxt5" : "none";
    const int drawn = std::system(("convert '" + dds.string() + "[0]' -fill '#00FF00' -draw " +
                                   "'rectangle 0,0 3,3' -define dds:compression=" + compression +
                                   " '" + dds.string() + "'")
                                      .c_str());
    if (drawn != 0) {
        tally.problems.push_back(label + ": ImageMagick could not draw into " + dds.string());
        return;
    }
    ImportAll(state);
    CleanUpWorkingFiles(state);

    KestrelState again;
    RecordedMessages againMessages;
    again.ConsoleMode = true;
    again.reporter = &againMessages;
    again.SelectedEntry.index = entry;
    again.CustomPathGiven = true;
    again.CustomPath = (dir.Path() / "again").string() + "/";
    OpenArchive(again, copy.string());
    std::vector<size_t> everything(again.Items().Count());
    for (size_t i = 0; i < everything.size(); ++i)
        everything[i] = i;
    SetRawSwitches(again);
    ExportItems(again, everything);
    const Files rawAfter = FilesIn(ImportRoot(again));
    again.ExportConvert = true;
    again.ExportDDS = true;
    ExportItems(again, {*index});
    const auto pixel = DecodePixel(ImportRoot(again) / "Textures" / (name + ".dds"), 1, 1);
    CleanUpWorkingFiles(again);

    bool ok = pixel && pixel->r < 16 && pixel->g > 240 && pixel->b < 16;
    if (!ok) tally.problems.push_back(label + " " + name + ": the drawn square is not there");
    for (const auto& [file, bytes] : rawBefore) {
        const auto it = rawAfter.find(file);
        if (file == name) {
            ok = ok && it != rawAfter.end() && it->second != bytes;
        } else if (it == rawAfter.end() || it->second != bytes) {
            ok = false;
            tally.problems.push_back(label + " " + file + ": changed by the edit of " + name);
        }
    }
    ok = ok && rawAfter.size() == rawBefore.size();
    tally.editsBack += ok ? 1 : 0;
}

TEST(TextureSamplesImport, UneditedPicturesLeaveTheArchiveAndADrawnSquareComesBack) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    const auto list = SamplesHolding(samples, 0, 15, {"Texture2D", "Cubemap"});
    ASSERT_FALSE(list.empty()) << "no texture samples in MANIFEST.md";
    Tally tally;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        size_t entries = 1;
        {
            TempDir dir;
            KestrelState state;
            RecordedMessages messages;
            OpenCopy(state, messages, samples / local, dir.Path(), 0);
            if (state.isBundle) entries = state.innerFileNames.size();
            CleanUpWorkingFiles(state);
        }
        for (uint32_t e = 0; e < entries; ++e) {
            const std::string label = local + " #" + std::to_string(e);
            ++tally.innerFiles;
            try {
                for (const Container& c : kContainers)
                    UneditedRun(samples / local, e, c, tally, label);
            } catch (const std::exception& ex) {
                tally.problems.push_back(label + ": " + ex.what());
            }
        }
        try {
            const size_t before = tally.edits;
            for (uint32_t e = 0; e < entries && tally.edits == before; ++e)
                EditRun(samples / local, e, tally, local + " #" + std::to_string(e));
        } catch (const std::exception& ex) {
            tally.problems.push_back(local + " edit: " + ex.what());
        }
    }
    std::cout << "[ texture import ] " << list.size() << " samples, " << tally.innerFiles
              << " inner files: " << tally.runs << " unedited imports of " << tally.pictures
              << " DDS/KTX/PVR pictures, " << tally.unchanged << " left every archive file as it "
              << "was; " << tally.streamed << " streamed-texture pictures set apart; "
              << tally.edits << " samples with a DXT5 or RGBA32 texture edited, " << tally.editsBack
              << " with the square back and every other object unchanged\n";
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_EQ(tally.unchanged, tally.runs);
    EXPECT_GT(tally.edits, 0u);
    EXPECT_EQ(tally.editsBack, tally.edits);
}

} // namespace
} // namespace kestrel
