// Textures of the real samples (serialized formats up to 15, every inner file) through the whole
// import: pictures exported to DDS, KTX and PVR and imported unedited leave the archive and its
// resource files byte for byte (streamed textures counted among them); a rectangle
// drawn into one DXT5 or RGBA32 texture's DDS by ImageMagick comes back out after a reopen while
// every other object exports its old raw bytes.
#include "assets/Vocabulary.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/AudioObjects.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureFormats.h"
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
        const std::string name = e.path().filename().string();
        if (e.is_regular_file()) files[name] = ReadFileBytes(e.path());
    }
    return files;
}

struct Container {
    uint8_t kind;    // TextureFormatSupports kind
    uint16_t output; // OutputKind bit of the container
};
constexpr Container kContainers[] = {{1, kOutDds}, {3, kOutKtx}, {4, kOutPvr}};

bool IsTexture(const ObjectRow& row) {
    return (row.ClassID == 28 || row.ClassID == 89) && row.ObjSize > row.NameHeaderSize;
}

bool IsStreamed(const OpenedArchive& a, size_t i) {
    return ProbeTextureLayout(a.Scope().ObjectBody(i)) == TextureLayout::Streamed;
}

// Imports the edited files of the open inner file and its resource entries, as "Import all".
void ImportAll(OpenedArchive& a) {
    ImportInnerFileAndResources(*a.archive, a.inner.index, a.options, *a.reporter);
}

// Opens inner file `entry` of a fresh copy of the sample in `dir`; `copied` (when given)
// receives the copied files before the open adds its working files.
fs::path OpenCopy(OpenedArchive& a, const fs::path& sample, const fs::path& dir, uint32_t entry,
                  Files* copied = nullptr) {
    const fs::path copy = CopySampleWithCompanions(sample, dir);
    if (copied != nullptr) *copied = FilesIn(dir);
    a.Open(copy.string(), Entry(entry));
    return copy;
}

struct Tally {
    size_t innerFiles = 0, runs = 0, unchanged = 0, pictures = 0, streamed = 0;
    size_t edits = 0, editsBack = 0;
    std::vector<std::string> problems;
};

// Exports the textures of the open inner file to one container (streamed ones counted), imports
// and checks that no file of the archive, its resource files included, changed.
void UneditedRun(const fs::path& sample, uint32_t entry, const Container& c, Tally& tally,
                 const std::string& label) {
    TempDir dir;
    OpenedArchive a;
    Files before;
    OpenCopy(a, sample, dir.Path(), entry, &before);
    a.options.outputs |= kOutConvert | c.output;
    std::vector<size_t> textures;
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        if (!IsTexture(a.Items().rows[i]) ||
            !TextureFormatSupports(a.Items().types[i].TextureFormat, c.kind))
            continue;
        tally.streamed += IsStreamed(a, i) ? 1 : 0;
        textures.push_back(i);
    }
    if (textures.empty()) return;
    ExportObjects(a.Scope(), textures);
    tally.pictures += textures.size();
    ++tally.runs;
    ImportAll(a);
    a.archive.reset();
    Files after = FilesIn(dir.Path());
    const bool same = after == before;
    tally.unchanged += same ? 1 : 0;
    if (!same) tally.problems.push_back(label + ": changed by an unedited import");
    for (const auto& alert : a.messages.alerts)
        tally.problems.push_back(label + ": " + alert);
}

// Every object is written as its raw file, and nothing converted.
void SetRawSwitches(RunOptions& options) {
    options.outputs |= kOutRawTextures | kOutRawAudio | kOutRawMesh;
}

// The DXT5 and RGBA32 textures of the open inner file with their pixels inside the object.
std::vector<size_t> EditableTextures(const OpenedArchive& a) {
    std::vector<size_t> found;
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        const int32_t format = a.Items().types[i].TextureFormat;
        const ObjectRow& row = a.Items().rows[i];
        if (row.ClassID == 28 && row.ObjSize > row.NameHeaderSize &&
            (format == 4 || format == 12) && !IsStreamed(a, i))
            found.push_back(i);
    }
    return found;
}

// Draws a green square into the texture's DDS with ImageMagick, imports, reopens and checks.
void EditRun(const fs::path& sample, uint32_t entry, Tally& tally, const std::string& label) {
    TempDir dir;
    OpenedArchive a;
    const fs::path copy = OpenCopy(a, sample, dir.Path(), entry);
    std::vector<size_t> all(a.Items().Count());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    SetRawSwitches(a.options);
    ExportObjects(a.Scope(), all); // raw files only
    const Files rawBefore = FilesIn(ImportRoot(a.Scope()));
    a.options.outputs |= kOutConvert | kOutDds;
    // The first of them whose picture is not empty.
    std::optional<size_t> index;
    fs::path dds;
    for (size_t i : EditableTextures(a)) {
        ExportObjects(a.Scope(), {i});
        dds = ImportRoot(a.Scope()) / "Textures" / (a.Items().ExportName[i] + ".dds");
        if (fs::exists(dds)) {
            index = i;
            break;
        }
    }
    if (!index) return;
    ++tally.edits;
    const std::string name = a.Items().ExportName[*index];
    const int32_t format = a.Items().types[*index].TextureFormat;
    const std::string compression = format == 12 ? "dxt5" : "none";
    const int drawn = std::system(("convert '" + dds.string() + "[0]' -fill '#00FF00' -draw " +
                                   "'rectangle 0,0 3,3' -define dds:compression=" + compression +
                                   " '" + dds.string() + "'")
                                      .c_str());
    if (drawn != 0) {
        tally.problems.push_back(label + ": ImageMagick could not draw into " + dds.string());
        return;
    }
    ImportAll(a);
    a.archive.reset();

    OpenedArchive again;
    again.options.outputDir = (dir.Path() / "again").string() + "/";
    again.Open(copy.string(), Entry(entry));
    std::vector<size_t> everything(again.Items().Count());
    for (size_t i = 0; i < everything.size(); ++i)
        everything[i] = i;
    SetRawSwitches(again.options);
    ExportObjects(again.Scope(), everything);
    const Files rawAfter = FilesIn(ImportRoot(again.Scope()));
    again.options.outputs |= kOutConvert | kOutDds;
    ExportObjects(again.Scope(), {*index});
    const auto pixel = DecodePixel(ImportRoot(again.Scope()) / "Textures" / (name + ".dds"), 1, 1);
    again.archive.reset();

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
            OpenedArchive a;
            OpenCopy(a, samples / local, dir.Path(), 0);
            entries = a.archive->InnerFileCount();
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
              << "was (" << tally.streamed << " pictures of streamed textures among them); "
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
