#include "audio/SoundExport.h"
#include "audio/SoundImport.h"
#include "io/ByteSource.h"
#include "session/Converters.h"
#include "session/ExportDriver.h"
#include "support/AudioObjects.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kAudioClip = 83;

// ffprobe's format names for the extensions the sound export gives.
std::string ExpectedFormat(const std::string& extension) {
    static const std::map<std::string, std::string> kFormats = {
        {".ogg", "ogg"}, {".wav", "wav"}, {".aif", "aiff"}, {".mp3", "mp3"}, {".fsb", "fsb"}};
    const auto it = kFormats.find(extension);
    return it == kFormats.end() ? "" : it->second;
}

// FMOD sample banks of the engine carry Vorbis, which ffprobe names but cannot read; their header
// sizes must then add up to the exported file's size, which shows the bank was cut out whole.
bool Fsb5SizesAddUp(const fs::path& file) {
    const auto bytes = ReadFileBytes(file);
    if (bytes.size() < 24 || std::string(bytes.begin(), bytes.begin() + 4) != "FSB5") return false;
    auto u32 = [&](size_t pos) {
        return static_cast<uint64_t>(bytes[pos]) | (static_cast<uint64_t>(bytes[pos + 1]) << 8) |
               (static_cast<uint64_t>(bytes[pos + 2]) << 16) |
               (static_cast<uint64_t>(bytes[pos + 3]) << 24);
    };
    const uint64_t headerSize = u32(4) == 0 ? 64 : 60; // bank version 0 or 1
    return headerSize + u32(12) + u32(16) + u32(20) == bytes.size();
}

// Exports every AudioClip of the opened assets file and returns the files written.
std::vector<fs::path> ExportAllSounds(const OpenedArchive& a) {
    const ItemTable& items = a.Items();
    const InnerScope scope = a.Scope();
    const ConverterContext context = ContextOf(scope);
    const std::string resourceName = fs::path(a.archive->Name()).filename().string() + ".resS";
    for (size_t i = 0; i < items.Count(); ++i) {
        const ObjectRow& row = items.rows[i];
        if (row.ClassID != kAudioClip || row.ObjSize <= row.NameHeaderSize) continue;
        ExportSound(ConverterInput{context, scope.ObjectBody(i),
                                   "Unity_Assets_Files/" + a.inner.dirName + "/Sounds/",
                                   items.ExportName[i], i},
                    a.inner.dirName, resourceName);
    }
    std::vector<fs::path> written;
    const fs::path sounds =
        fs::path(scope.OutputBaseDir()) / "Unity_Assets_Files" / a.inner.dirName / "Sounds";
    if (!fs::exists(sounds)) return written;
    for (const auto& entry : fs::recursive_directory_iterator(sounds)) {
        if (entry.is_regular_file()) written.push_back(entry.path());
    }
    return written;
}

size_t CountClips(const OpenedArchive& a) {
    size_t n = 0;
    for (const auto& row : a.Items().rows)
        n += row.ClassID == kAudioClip ? 1 : 0;
    return n;
}

std::map<fs::path, std::vector<unsigned char>> ResourceFiles(const fs::path& dir) {
    std::map<fs::path, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const auto ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".resS" || ext == ".resource")) {
            files[entry.path()] = ReadFileBytes(entry.path());
        }
    }
    return files;
}

// Importing the exported sounds unchanged gives back every clip's body byte for byte and leaves
// the resource files as they were.
void ExpectUnchangedRoundTrip(const OpenedArchive& a, const fs::path& dir,
                              const std::vector<fs::path>& written) {
    const auto resourcesBefore = ResourceFiles(dir);
    const ItemTable& items = a.Items();
    const InnerScope scope = a.Scope();
    size_t imported = 0;
    for (const auto& file : written) {
        const std::string stem = file.filename().string().substr(
            0, file.filename().string().size() - file.extension().string().size());
        for (size_t i = 0; i < items.Count(); ++i) {
            if (items.ExportName[i] != stem) continue;
            const ConvertResult result = ImportSoundFile(scope, i, file);
            EXPECT_TRUE(result.ok) << stem << ": " << result.message;
            const ObjectRow& row = items.rows[i];
            const auto raw = ReadFileBytes(fs::path(scope.OutputBaseDir()) / "Unity_Assets_Files" /
                                           a.inner.dirName / stem);
            Reader body = scope.ObjectBody(i);
            const auto original = body.Bytes(row.ObjSize - row.NameHeaderSize, "clip");
            EXPECT_TRUE(std::equal(raw.begin(), raw.end(), original.begin(), original.end()))
                << stem;
            ++imported;
            break;
        }
    }
    EXPECT_EQ(imported, written.size());
    EXPECT_EQ(ResourceFiles(dir), resourcesBefore);
}

// Exports every AudioClip of the assets file opened in `a`, probes each file written and
// imports it back unchanged. Returns the number of clips.
size_t CheckSoundsOfOpenFile(const OpenedArchive& a, const fs::path& dir) {
    const RecordedMessages& messages = a.messages;
    const size_t clips = CountClips(a);
    if (clips == 0) return 0;
    const auto written = ExportAllSounds(a);
    EXPECT_TRUE(messages.alerts.empty()) << messages.alerts.front();
    EXPECT_TRUE(messages.notices.empty()) << messages.notices.front();
    EXPECT_EQ(written.size(), clips) << a.inner.dirName;
    for (const auto& file : written) {
        const std::string format = ExpectedFormat(file.extension().string());
        EXPECT_FALSE(format.empty()) << file;
        if (format == "fsb" && ProbeFormatName(file).empty()) {
            EXPECT_TRUE(Fsb5SizesAddUp(file)) << file;
        } else {
            EXPECT_EQ(ProbeFormatName(file), format) << file;
        }
        std::cout << "[ sound    ] " << fs::relative(file, dir).string() << " ("
                  << fs::file_size(file) << " bytes)\n";
    }
    ExpectUnchangedRoundTrip(a, dir, written);
    return clips;
}

struct PlainSample {
    const char* assets;   // relative to the samples directory
    const char* resource; // copied beside it, or nullptr
};

class SoundSamples : public ::testing::TestWithParam<PlainSample> {};

// Plain assets files parsed directly: every AudioClip exports and ffprobe reads each file as the
// format its extension names.
TEST_P(SoundSamples, EveryClipExportsAndProbes) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "samples directory is absent";
    if (!HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const fs::path source = samples / GetParam().assets;
    if (!fs::exists(source)) GTEST_SKIP() << source << " is absent";

    TempDir dir;
    const fs::path work = dir / source.filename().string();
    fs::copy_file(source, work);
    if (GetParam().resource != nullptr) {
        fs::copy_file(samples / GetParam().resource,
                      dir / fs::path(GetParam().resource).filename().string());
    }
    OpenedArchive a(work.string());
    EXPECT_EQ(a.inner.dirName,
              work.filename().string().substr(0, work.filename().string().find('.')));
    EXPECT_GT(CheckSoundsOfOpenFile(a, dir.Path()), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PlainAssets, SoundSamples,
    ::testing::Values(
        PlainSample{
            "jmazzola__Damage-Control-Unity-Prototype/BUILD/Build_Data/sharedassets3.assets",
            nullptr},
        PlainSample{"Boxfort__Oscillator/Build_Data/sharedassets1.assets",
                    "Boxfort__Oscillator/Build_Data/sharedassets1.resource"},
        PlainSample{"Boxfort__Oscillator/Build_Data/sharedassets2.assets",
                    "Boxfort__Oscillator/Build_Data/sharedassets2.resource"}));

// Exports the single item of an opened resource entry with the export driver, which writes it
// to Root + ExportName: the place "archive:" resource paths of the bundle's sounds point to.
void ExportResourceEntry(const OpenedArchive& a) {
    ExportObjects(a.Scope(), {0});
    const fs::path written = fs::path(a.archive->OutputBaseDir(a.options)) / "Unity_Assets_Files" /
                             a.inner.dirName / a.Items().ExportName[0];
    ASSERT_TRUE(fs::exists(written)) << written;
    EXPECT_EQ(fs::file_size(written), a.Items().rows[0].ObjSize);
}

class SoundBundleSamples : public ::testing::TestWithParam<const char*> {};

// Bundles opened as an archive: the resource entries are exported first, then every AudioClip
// of every inner assets file of formats 9 to 15 exports, probes and imports back unchanged.
TEST_P(SoundBundleSamples, EveryClipExportsAndProbes) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "samples directory is absent";
    if (!HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const fs::path source = samples / GetParam();
    if (!fs::exists(source)) GTEST_SKIP() << source << " is absent";

    TempDir dir;
    const fs::path work = dir / source.filename().string();
    fs::copy_file(source, work);
    OpenedArchive a(work.string());
    const size_t entries = a.archive->InnerFileNames().size();
    ASSERT_GT(entries, 0u);
    std::vector<size_t> assetsEntries;
    for (size_t i = 0; i < entries; ++i) {
        a.Select(i);
        const int32_t format = a.inner.assets.header.formatVersion;
        if (a.inner.assets.header.EngineMajorVersion == 0 && a.Items().Count() == 1) {
            ExportResourceEntry(a);
        } else if (format >= 9 && format <= 15) {
            assetsEntries.push_back(i);
        }
    }
    size_t clips = 0;
    for (size_t i : assetsEntries) {
        a.Select(i);
        clips += CheckSoundsOfOpenFile(a, dir.Path());
    }
    a.archive.reset();
    std::cout << "[ sound    ] " << GetParam() << ": " << clips << " clips\n";
    EXPECT_GT(clips, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, SoundBundleSamples,
    ::testing::Values("ata4__disunity/bundle/3/bluedoor.unity3d",
                      "SpiritWolf2015__U3d5_AB/AssetBundles/Android/e0_ui_root_prefab.unity3d",
                      "BigGiantHead__eBookReader/AssetBundles/Android/book2"));

} // namespace
