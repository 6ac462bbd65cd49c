// Textures of the real samples as PNG/EXR pictures: every texture whose format has a decoder is
// exported and imported unedited, which leaves every file of the archive as it was (counted per
// format); for each format with an encoder one texture gets a rectangle drawn by ImageMagick and
// shows it after a reopen, while every other object keeps its raw bytes.
#include "assets/Vocabulary.h"
#include "image/PictureCodecs.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/ImportFiles.h"
#include "session/Operations.h"
#include "support/Manifest.h"
#include "support/OpenedArchive.h"
#include "support/PictureEdits.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace kestrel {
namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;
using Files = NamedFiles;

fs::path OpenCopy(OpenedArchive& a, const fs::path& sample, const fs::path& dir, uint32_t entry,
                  Files* copied = nullptr) {
    const fs::path copy = CopySampleWithCompanions(sample, dir);
    if (copied != nullptr) *copied = FilesIn(dir);
    a.Open(copy.string(), Entry(entry));
    return copy;
}

// A bundle's resource entries go into the export tree first, as the export task does: streamed
// textures read their pixels from there. Leaves inner file `entry` selected.
void ExportResourceEntries(OpenedArchive& a, uint32_t entry) {
    if (!a.archive->IsBundle()) return;
    const std::vector<std::string>& names = a.archive->InnerFileNames();
    for (size_t e = 0; e < names.size(); ++e) {
        if (!IsResourceEntry(names[e])) continue;
        a.Select(e);
        ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, true));
    }
    a.Select(entry);
}

void ImportAll(OpenedArchive& a) {
    ImportInnerFileAndResources(*a.archive, a.inner.index, a.options, *a.reporter);
}

fs::path PictureOf(const OpenedArchive& a, size_t i) {
    return ExportedPicture(ImportRoot(a.Scope()), a.Items().ExportName[i]);
}

// A picture's width and height: a PNG's from its header alone (reading every picture whole to
// pick the edit candidates took a fifth of this test), an EXR's by reading it.
std::pair<uint32_t, uint32_t> PictureSize(const fs::path& picture) {
    if (picture.extension() == ".png") {
        const std::vector<uint8_t> head = ReadFileBytes(picture);
        const auto word = [&](size_t at) {
            return uint32_t{head.at(at)} << 24 | uint32_t{head.at(at + 1)} << 16 |
                   uint32_t{head.at(at + 2)} << 8 | head.at(at + 3);
        };
        return {word(16), word(20)};
    }
    const image::ImagePlane plane = ReadPictureAsFloat(picture);
    return {plane.width, plane.height};
}

bool IsTexture(const ObjectRow& row) {
    return (row.ClassID == 28 || row.ClassID == 89) && row.ObjSize > row.NameHeaderSize;
}

struct Candidate {
    fs::path sample;
    uint32_t entry = 0;
    size_t index = 0;
    uint64_t area = 0;
};

struct Tally {
    std::map<int32_t, size_t> pictures; // per format
    size_t runs = 0, unchanged = 0, missingResources = 0;
    std::map<int32_t, Candidate> editable; // the smallest texture of each encodable format
    size_t edits = 0, editsBack = 0;
    std::vector<std::string> problems;
};

// Exports every decodable texture of one inner file as pictures, imports them unedited and
// checks that no file of the archive changed.
void UneditedRun(const fs::path& sample, uint32_t entry, Tally& tally, const std::string& label) {
    TempDir dir;
    OpenedArchive a;
    Files before;
    OpenCopy(a, sample, dir.Path(), entry, &before);
    ExportResourceEntries(a, entry);
    a.options.outputs |= kOutConvert | kOutPng;
    std::vector<size_t> textures;
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        if (IsTexture(a.Items().rows[i]) &&
            image::FindPictureCodec(a.Items().types[i].TextureFormat))
            textures.push_back(i);
    }
    if (textures.empty()) return;
    ExportObjects(a.Scope(), textures);
    // Streamed textures whose resource file the sample does not carry have no picture.
    tally.missingResources += a.messages.alerts.size();
    a.messages.alerts.clear();
    for (size_t i : textures) {
        const fs::path picture = PictureOf(a, i);
        if (picture.empty()) continue;
        const int32_t format = a.Items().types[i].TextureFormat;
        ++tally.pictures[format];
        const auto codec = image::FindPictureCodec(format);
        if (codec->encode == nullptr) continue;
        const auto [width, height] = PictureSize(picture);
        const uint64_t area = uint64_t{width} * height;
        Candidate& best = tally.editable[format];
        if (width > kDrawnTo && height > kDrawnTo &&
            (best.area == 0 || area < best.area))
            best = {sample, entry, i, area};
    }
    ++tally.runs;
    ImportAll(a);
    a.archive.reset();
    const bool same = FilesIn(dir.Path()) == before;
    tally.unchanged += same ? 1 : 0;
    if (!same) tally.problems.push_back(label + ": changed by an unedited import");
    for (const auto& alert : a.messages.alerts)
        tally.problems.push_back(label + ": " + alert);
}

void SetRawSwitches(RunOptions& options) {
    options.outputs |= kOutRawTextures | kOutRawAudio | kOutRawMesh;
}

// Draws the rectangle into the candidate's picture, imports, reopens and checks the picture and
// every raw file.
void EditRun(int32_t format, const Candidate& c, Tally& tally) {
    const std::string label = TextureFormatShortName(format, true) + " in " +
                              c.sample.filename().string() + " #" + std::to_string(c.entry);
    ++tally.edits;
    TempDir dir;
    OpenedArchive a;
    const fs::path copy = OpenCopy(a, c.sample, dir.Path(), c.entry);
    ExportResourceEntries(a, c.entry);
    SetRawSwitches(a.options);
    ExportObjects(a.Scope(), ExportedObjects(a.inner, a.options, true));
    const Files rawBefore = FilesIn(ImportRoot(a.Scope()));
    a.options.outputs = kOutConvert | kOutPng;
    ExportObjects(a.Scope(), {c.index});
    const fs::path picture = PictureOf(a, c.index);
    const std::string name = a.Items().ExportName[c.index];
    if (picture.empty() || !DrawRedRectangle(picture)) {
        tally.problems.push_back(label + ": no picture to draw into");
        return;
    }
    const image::ImagePlane drawn = ReadPictureAsFloat(picture);
    ImportAll(a);
    for (const auto& alert : a.messages.alerts)
        tally.problems.push_back(label + ": " + alert);
    a.archive.reset();

    OpenedArchive again;
    again.options.outputDir = (dir.Path() / "again").string() + "/";
    again.Open(copy.string(), Entry(c.entry));
    ExportResourceEntries(again, c.entry);
    SetRawSwitches(again.options);
    ExportObjects(again.Scope(), ExportedObjects(again.inner, again.options, true));
    const Files rawAfter = FilesIn(ImportRoot(again.Scope()));
    again.options.outputs = kOutConvert | kOutPng;
    ExportObjects(again.Scope(), {c.index});
    const std::string problem = DrawnRectangleProblem(PictureOf(again, c.index), drawn, format);
    again.archive.reset();
    std::vector<std::string> problems = RawFileProblems(rawBefore, rawAfter, {name});
    if (!problem.empty()) problems.push_back(problem);
    for (const std::string& p : problems)
        tally.problems.push_back(label + " " + name + ": " + p);
    tally.editsBack += problems.empty() ? 1 : 0;
}

TEST(TexturePngSamplesImport, UneditedPicturesLeaveTheArchiveAndADrawnRectangleComesBack) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    // Formats 5 to 8: their pictures are read back by ImageMagick in the old-format sample test.
    const auto list = SamplesHolding(samples, 9, 22, {"Texture2D", "Cubemap"});
    ASSERT_FALSE(list.empty()) << "no texture samples in MANIFEST.md";
    Tally tally;
    for (const std::string& local : list) {
        SCOPED_TRACE(local);
        size_t entries = 1;
        try {
            TempDir dir;
            OpenedArchive a;
            OpenCopy(a, samples / local, dir.Path(), 0);
            entries = a.archive->InnerFileCount();
        } catch (const std::exception& ex) {
            tally.problems.push_back(local + ": " + ex.what());
            continue;
        }
        for (uint32_t e = 0; e < entries; ++e) {
            const std::string label = local + " #" + std::to_string(e);
            try {
                UneditedRun(samples / local, e, tally, label);
            } catch (const std::exception& ex) {
                tally.problems.push_back(label + ": " + ex.what());
            }
        }
    }
    for (const auto& [format, candidate] : tally.editable) {
        if (candidate.area == 0) continue;
        try {
            EditRun(format, candidate, tally);
        } catch (const std::exception& ex) {
            tally.problems.push_back(TextureFormatShortName(format, true) + " edit: " + ex.what());
        }
    }
    size_t pictures = 0;
    std::cout << "[ png import ] pictures per format:";
    for (const auto& [format, count] : tally.pictures) {
        std::cout << " " << TextureFormatShortName(format, true) << " " << count;
        pictures += count;
    }
    std::cout << "\n[ png import ] " << list.size() << " samples: " << tally.runs
              << " unedited imports of " << pictures << " pictures, " << tally.unchanged
              << " left every archive file as it was (" << tally.missingResources
              << " streamed textures without their resource file); " << tally.edits
              << " formats edited, " << tally.editsBack
              << " with the rectangle back and every other object unchanged\n";
    for (const std::string& p : tally.problems)
        ADD_FAILURE() << p;
    EXPECT_GT(pictures, 0u);
    EXPECT_EQ(tally.unchanged, tally.runs);
    EXPECT_GT(tally.edits, 0u);
    EXPECT_EQ(tally.editsBack, tally.edits);
}

} // namespace
} // namespace kestrel
