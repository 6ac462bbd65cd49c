#include "audio/AudioClipLayout.h"
#include "audio/SoundExport.h"
#include "audio/SoundImport.h"
#include "io/ByteSource.h"
#include "io/Writer.h"
#include "session/Converters.h"
#include "support/AudioObjects.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const fs::path& file) {
    const auto b = ReadFileBytes(file);
    return {b.begin(), b.end()};
}

std::string ReleaseOf(const EngineVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           "f1";
}

class AudioClipRows : public ::testing::Test {
protected:
    // One clip of `release` whose sound lies in `resource` (relative to the archive's directory)
    // at offset 40, between other bytes.
    void Install(const std::string& release, const std::vector<uint8_t>& body) {
        InstallOneClip(opened, dir.Path(), "clip.snd", Endian::Little, body);
        opened.inner.assets.header.engineVersion = release;
        opened.inner.assets.header.EngineMajorVersion = std::stoi(release);
    }

    void WriteResource(const fs::path& file, const std::vector<uint8_t>& sound) {
        std::vector<uint8_t> bytes(40, 0x11);
        bytes.insert(bytes.end(), sound.begin(), sound.end());
        bytes.resize(bytes.size() + 7, 0x22);
        fs::create_directories(file.parent_path());
        WriteWholeFile(file, bytes.data(), bytes.size());
    }

    void Export() {
        const ConverterContext context = ContextOf(opened.Scope());
        const ObjectRow& row = opened.Items().rows[0];
        ConverterInput in{
            context,
            Reader(opened.archive->Work())
                .Sub(16 + row.NameHeaderSize, row.ObjSize - row.NameHeaderSize, "clip"),
            "Unity_Assets_Files/level0/Sounds/", "clip.snd", 0};
        ExportSound(in, opened.inner.dirName, "level0.resS");
    }

    // Puts the audio file back into the clip; the import must succeed.
    void Import(const fs::path& audio) {
        const ConvertResult result = ImportSoundFile(opened.Scope(), 0, audio);
        EXPECT_TRUE(result.ok) << result.message;
    }

    TempDir dir;
    OpenedArchive opened;
    RecordedMessages& messages = opened.messages;
};

// Each row's first release, written by the builder: export gives the sound's bytes; importing the
// exported file unchanged gives back the object's bytes and leaves the resource file as it was.
TEST_F(AudioClipRows, EachRowExportsAndImportsBackTheSameBytes) {
    const std::vector<uint8_t> sound = MakeTinyWav(300);
    for (const AudioClipLayout& row : AudioClipLayouts()) {
        const std::string release = ReleaseOf(row.from);
        SCOPED_TRACE(release);
        // An ambisonic clip with a sub-sound index: the fields the older byte test stumbles on.
        const auto body = MakeVersionedAudioBody(release, Endian::Little, "sharedassets0.resource",
                                                 40, sound.size(), true, 3);
        Install(release, body);
        const fs::path resource = dir / "sharedassets0.resource";
        WriteResource(resource, sound);
        const auto resourceBefore = Bytes(resource);
        Export();
        ASSERT_TRUE(messages.alerts.empty()) << messages.alerts[0];
        const fs::path exported =
            dir / "Unity_Assets_Files/level0/Sounds/res_sharedassets0.resource/clip.snd.wav";
        ASSERT_TRUE(fs::exists(exported));
        EXPECT_EQ(Bytes(exported), sound);
        if (HaveFfprobe()) {
            EXPECT_EQ(ProbeFormatName(exported), "wav");
        }

        Import(exported);
        EXPECT_EQ(Bytes(dir / "Unity_Assets_Files/level0/clip.snd"), body);
        EXPECT_EQ(Bytes(resource), resourceBefore);
        fs::remove_all(dir / "Unity_Assets_Files");
    }
}

// A longer sound goes to the end of the resource file; the clip's offset and size follow it.
TEST_F(AudioClipRows, ALongerSoundIsAppendedAndTheClipPointsAtIt) {
    const std::vector<uint8_t> sound = MakeTinyWav(100);
    const std::string release = "2022.3.9f1";
    Install(release, MakeVersionedAudioBody(release, Endian::Little,
                                            "archive:/CAB-77/CAB-77.resource", 40, sound.size()));
    const fs::path resource = dir / "Unity_Assets_Files/level0/CAB-77.resource/CAB-77.resource";
    WriteResource(resource, sound);
    const uint64_t end = fs::file_size(resource);
    const std::vector<uint8_t> longer = MakeTinyWav(500);
    const fs::path edited = dir / "edited.wav";
    WriteWholeFile(edited, longer.data(), longer.size());
    Import(edited);
    ASSERT_TRUE(messages.alerts.empty()) << messages.alerts[0];
    EXPECT_EQ(fs::file_size(resource), end + longer.size());
    EXPECT_EQ(Bytes(dir / "Unity_Assets_Files/level0/clip.snd"),
              MakeVersionedAudioBody(release, Endian::Little, "archive:/CAB-77/CAB-77.resource",
                                     end, longer.size()));
}

TEST_F(AudioClipRows, AClipWithoutResourceIsNotSupported) {
    Install("2019.4.31f1", MakeVersionedAudioBody("2019.4.31f1", Endian::Little, "", 0, 0));
    Export();
    ASSERT_EQ(messages.notices.size(), 1u);
    EXPECT_EQ(messages.notices[0], "Not supported file clip.snd");
}

} // namespace
