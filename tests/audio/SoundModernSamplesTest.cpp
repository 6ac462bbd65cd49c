#include "audio/SoundExport.h"
#include "audio/SoundImport.h"
#include "common/Error.h"
#include "session/Converters.h"
#include "support/SampleWalk.h"
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

uint32_t U32At(const std::vector<unsigned char>& b, size_t pos) {
    return LoadU32(b.data() + pos, Endian::Little);
}

// The codec of an FMOD sample bank (FSB5, little-endian on every platform): the u32 "mode" at
// 24, 6 being GameCube ADPCM; ~0 unless the header's sizes add up to the file's size, which
// shows the bank was cut out whole.
uint32_t Fsb5Codec(const std::vector<unsigned char>& b) {
    if (b.size() < 28 || std::string(b.begin(), b.begin() + 4) != "FSB5") return ~0u;
    const uint64_t headerSize = U32At(b, 4) == 0 ? 64 : 60; // bank version 0 or 1
    const uint64_t total = headerSize + U32At(b, 12) + U32At(b, 16) + U32At(b, 20);
    return total == b.size() ? U32At(b, 24) : ~0u;
}

struct Tally {
    size_t clips = 0;
    size_t probed = 0;     // read by ffprobe
    size_t fsb = 0;        // FMOD banks ffprobe cannot read
    size_t gcadpcm = 0;    // of those, GameCube ADPCM
    size_t missing = 0;    // resource file absent upstream
    size_t roundTrips = 0; // imported back unchanged: same body, same resource bytes
};

std::map<fs::path, std::vector<unsigned char>> ResourceFiles(const fs::path& dir) {
    std::map<fs::path, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && IsResourceEntry(entry.path().filename().string()))
            files[entry.path()] = ReadFileBytes(entry.path());
    }
    return files;
}

void CheckClips(OpenedArchive& a, const fs::path& dir, const std::string& label, Tally& tally,
                std::vector<std::string>& problems) {
    const std::string soundsRel = "Unity_Assets_Files/" + a.inner.dirName + "/Sounds/";
    const InnerScope scope = a.Scope();
    ForEachBody(a, kAudioClip, [&](size_t i, const Reader& body) {
        ++tally.clips;
        const std::string& name = a.Items().ExportName[i];
        const fs::path sounds = fs::path(scope.OutputBaseDir()) / soundsRel;
        fs::remove_all(sounds);
        try {
            ExportSound(ConverterInput{ContextOf(scope), body, soundsRel, name, i}, a.inner.dirName,
                        fs::path(a.archive->Name()).filename().string() + ".resS");
        } catch (const KestrelError& e) {
            // A resource file the sample came without is told, not failed.
            if (std::string(e.what()).starts_with(a.options.text.MsgMissingFile)) {
                ++tally.missing;
            } else {
                problems.push_back(label + " " + name + ": " + e.what());
            }
            return;
        }
        std::vector<fs::path> written;
        if (fs::exists(sounds)) {
            for (const auto& entry : fs::recursive_directory_iterator(sounds))
                if (entry.is_regular_file()) written.push_back(entry.path());
        }
        if (written.size() != 1) {
            problems.push_back(label + " " + name + ": " + std::to_string(written.size()) +
                               " files written");
            return;
        }
        const auto bytes = ReadFileBytes(written[0]);
        const uint32_t codec = Fsb5Codec(bytes);
        if (!ProbeFormatName(written[0]).empty()) {
            ++tally.probed;
        } else if (codec != ~0u) {
            ++tally.fsb;
            tally.gcadpcm += codec == 6;
        } else {
            problems.push_back(label + " " + name + ": ffprobe cannot read " +
                               written[0].filename().string());
        }
        // Export then import with no edits: the same body, resource files untouched.
        const auto before = ResourceFiles(dir);
        const ConvertResult imported = ImportSoundFile(scope, i, written[0]);
        if (!imported.ok) {
            problems.push_back(label + " " + name + ": " + imported.message);
            return;
        }
        const auto raw = ReadFileBytes(fs::path(scope.OutputBaseDir()) / "Unity_Assets_Files" /
                                       a.inner.dirName / name);
        Reader original = body;
        const auto originalBytes = original.Bytes(original.Remaining(), "clip");
        if (std::equal(raw.begin(), raw.end(), originalBytes.begin(), originalBytes.end()) &&
            ResourceFiles(dir) == before) {
            ++tally.roundTrips;
        } else {
            problems.push_back(label + " " + name + ": import changed the bytes");
        }
    });
}

TEST(SoundSamples, EveryAudioClipOfFormats17To22ExportsAndImportsBack) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "sample archives are not present";
    if (!HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    SampleWalk walk(samples, 17, 22, "AudioClip ");
    ASSERT_FALSE(walk.Samples().empty()) << "no sound samples of formats 17 to 22 in MANIFEST.md";

    Tally tally;
    walk.Run([&](OpenedArchive& a, RecordedMessages&, const fs::path& dir,
                 const std::string& label) { CheckClips(a, dir, label, tally, walk.problems); });
    std::cout << "[ sounds   ] formats 17-22: " << walk.Samples().size() << " samples, "
              << tally.clips << " clips: " << tally.probed << " read by ffprobe, " << tally.fsb
              << " FSB banks (" << tally.gcadpcm << " GCADPCM), " << tally.missing
              << " without their resource file upstream, " << tally.roundTrips
              << " imported back unchanged\n";
    if (const std::string why = walk.SkipReason(tally.clips); !why.empty()) GTEST_SKIP() << why;
    for (const std::string& p : walk.Failures())
        ADD_FAILURE() << p;
    EXPECT_GT(tally.clips, 0u);
}

} // namespace
