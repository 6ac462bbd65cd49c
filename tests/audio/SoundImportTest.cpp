#include "audio/SoundImport.h"
#include "audio/SoundExport.h"
#include "common/Error.h"
#include "io/Reader.h"
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

void WriteBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
    fs::create_directories(file.parent_path());
    WriteWholeFile(file, bytes.data(), bytes.size());
}

std::vector<uint8_t> Filled(size_t count, uint8_t value) {
    return std::vector<uint8_t>(count, value);
}

// A reader over bytes in the given order, for checking the fields of a rebuilt body.
Reader Over(const std::vector<uint8_t>& bytes, Endian order) {
    return Reader(std::make_shared<MemorySource>("body", bytes), order);
}

class SoundImport : public ::testing::Test {
protected:
    void Install(const std::vector<uint8_t>& body, Endian order = Endian::Little) {
        InstallOneClip(opened, dir.Path(), "clip.snd", order, body);
        fs::create_directories(RawFile().parent_path());
    }

    // The edited audio file, in the Sounds tree as the import driver finds it.
    fs::path Edited(const std::vector<uint8_t>& audio) {
        fs::path file = dir / "Unity_Assets_Files/level0/Sounds/clip.snd.wav";
        WriteBytes(file, audio);
        return file;
    }

    // An import the test expects to succeed.
    void Import(const fs::path& audio) {
        const ConvertResult result = TryImport(0, audio);
        EXPECT_TRUE(result.ok) << result.message;
    }
    ConvertResult TryImport(size_t index, const fs::path& audio) {
        return ImportSoundFile(opened.Scope(), index, audio);
    }

    [[nodiscard]] fs::path RawFile() const { return dir / "Unity_Assets_Files/level0/clip.snd"; }

    // Only the edited file and the raw object directory: no staged or stray files.
    void ExpectNoRawFile() {
        EXPECT_FALSE(fs::exists(RawFile()));
        for (const auto& entry : fs::directory_iterator(RawFile().parent_path())) {
            EXPECT_TRUE(entry.is_directory()) << entry.path();
        }
    }

    TempDir dir;
    OpenedArchive opened;
    RecordedMessages& messages = opened.messages;
};

TEST_F(SoundImport, EmbeddedFiveBytesArePaddedToTwentyEight) {
    for (Endian order : {Endian::Little, Endian::Big}) {
        // The old audio is 86 bytes with 2 bytes of padding after it; all of it is replaced.
        auto oldBody = MakeEmbeddedAudioBody(4, order, MakeTinyWav(41));
        const auto fieldsBefore = std::vector<uint8_t>(oldBody.begin(), oldBody.begin() + 16);
        Install(oldBody, order);
        const std::vector<uint8_t> five = {'R', 'I', 'F', 'F', 9};
        Import(Edited(five));

        const auto body = Bytes(RawFile());
        ASSERT_EQ(body.size(), 28u);
        EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.begin() + 16), fieldsBefore);
        Reader r = Over(body, order);
        r.Seek(16);
        EXPECT_EQ(r.U32("length"), 5u);
        EXPECT_EQ(std::vector<uint8_t>(body.begin() + 20, body.begin() + 25), five);
        EXPECT_EQ(std::vector<uint8_t>(body.begin() + 25, body.end()), Filled(3, 0));
    }
}

TEST_F(SoundImport, EmbeddedRoundTripGivesTheSameBody) {
    const auto body = MakeEmbeddedAudioBody(4, Endian::Little, MakeTinyWav(37));
    Install(body);
    const ObjectRow& row = opened.Items().rows[0];
    const uint64_t start = opened.inner.assets.DataOffset + row.NameHeaderSize;
    ExportSound(ConverterInput{ContextOf(opened.Scope()),
                               Reader(opened.archive->Work()).Sub(start, body.size(), "clip"),
                               "Unity_Assets_Files/level0/Sounds/", "clip.snd", 0},
                "level0", "level0.resS");
    Import(dir / "Unity_Assets_Files/level0/Sounds/clip.snd.wav");
    EXPECT_EQ(Bytes(RawFile()), body);
}

TEST_F(SoundImport, AShorterSoundIsAppendedAndTheStoredOneStaysWhole) {
    const auto old = Filled(100, 0xA1);
    std::vector<uint8_t> resource = Filled(64, 0x5A);
    resource.insert(resource.end(), old.begin(), old.end());
    WriteBytes(dir / "level0.resS", resource);
    Install(MakeStreamedAudioBody(Endian::Little, 100, 64));

    const auto wav = MakeTinyWav(10); // 54 bytes
    Import(Edited(wav));

    const auto after = Bytes(dir / "level0.resS");
    ASSERT_EQ(after.size(), resource.size() + wav.size());
    EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 164), resource);
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 164, after.end()), wav);
    EXPECT_EQ(Bytes(RawFile()), MakeStreamedAudioBody(Endian::Little, 54, 164));

    // The same sound once more changes nothing in the resource file.
    Install(MakeStreamedAudioBody(Endian::Little, 54, 164));
    Import(Edited(wav));
    EXPECT_EQ(Bytes(dir / "level0.resS"), after);
    EXPECT_EQ(Bytes(RawFile()), MakeStreamedAudioBody(Endian::Little, 54, 164));
}

TEST_F(SoundImport, StreamedLongerSoundIsAppendedAndTheFileGrows) {
    std::vector<uint8_t> resource = Filled(64, 0x5A);
    const auto old = Filled(30, 0xA1);
    resource.insert(resource.end(), old.begin(), old.end());
    WriteBytes(dir / "level0.resS", resource);
    Install(MakeStreamedAudioBody(Endian::Big, 30, 64), Endian::Big);

    const auto wav = MakeTinyWav(50);
    Import(Edited(wav));

    const auto after = Bytes(dir / "level0.resS");
    ASSERT_EQ(after.size(), resource.size() + wav.size());
    EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 94), resource);
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 94, after.end()), wav);
    EXPECT_EQ(Bytes(RawFile()),
              MakeStreamedAudioBody(Endian::Big, static_cast<uint32_t>(wav.size()), 94));
}

TEST_F(SoundImport, NamedResourceWithSixtyFourBitFieldsGetsTheNewPlace) {
    const fs::path resourceFile = dir / "sharedassets1.resource";
    WriteBytes(resourceFile, Filled(200, 0x33));
    Install(MakeNamedResourceAudioBody(Endian::Big, "sharedassets1.resource", 40, 120),
            Endian::Big);

    const auto small = MakeTinyWav(20); // 64 bytes, shorter than the old 120
    Import(Edited(small));
    auto after = Bytes(resourceFile);
    ASSERT_EQ(after.size(), 200u + 64u);
    EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 200), Filled(200, 0x33));
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 200, after.end()), small);
    EXPECT_EQ(Bytes(RawFile()),
              MakeNamedResourceAudioBody(Endian::Big, "sharedassets1.resource", 200, 64));
}

TEST_F(SoundImport, ArchivePathWritesIntoTheExportedResourceEntry) {
    Install(MakeNamedResourceAudioBody(Endian::Little, "archive:/CAB-1234/CAB-1234.resS", 0, 4));
    opened.inner.dirName = "level0/CAB-1234";
    const fs::path entry = dir / "Unity_Assets_Files/level0/CAB-1234.resS/CAB-1234.resS";
    WriteBytes(entry, Filled(4, 0x77));
    const auto wav = MakeTinyWav(8);
    Import(Edited(wav));
    EXPECT_EQ(Bytes(entry).size(), 4 + wav.size());
    EXPECT_EQ(Bytes(dir / "Unity_Assets_Files/level0/CAB-1234/clip.snd"),
              MakeNamedResourceAudioBody(Endian::Little, "archive:/CAB-1234/CAB-1234.resS", 4,
                                         wav.size()));
}

TEST_F(SoundImport, MissingResourceFailsAndNothingWritten) {
    Install(MakeStreamedAudioBody(Endian::Little, 10, 0));
    const ConvertResult result = TryImport(0, Edited(MakeTinyWav(4)));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message,
              "Missing file: " + opened.archive->OutputBaseDir(opened.options) + "level0.resS");
    EXPECT_TRUE(messages.alerts.empty());
    ExpectNoRawFile();
}

TEST_F(SoundImport, RefusedPathsTouchNothing) {
    const fs::path game = dir / "game";
    fs::create_directories(game);
    const fs::path outside = dir / "secret.resource";
    WriteBytes(outside, Filled(16, 0x10));
    InstallOneClip(opened, game, "clip.snd", Endian::Little,
                   MakeNamedResourceAudioBody(Endian::Little, "../secret.resource", 0, 4));
    const fs::path audio = dir / "edit.wav";
    WriteBytes(audio, MakeTinyWav(4));
    EXPECT_FALSE(TryImport(0, audio).ok);
    EXPECT_EQ(Bytes(outside), Filled(16, 0x10));
    EXPECT_FALSE(fs::exists(game / "Unity_Assets_Files"));
}

TEST_F(SoundImport, OldRangeOutsideResourceIsAnErrorAndTouchesNothing) {
    WriteBytes(dir / "level0.resS", Filled(50, 0x42));
    Install(MakeStreamedAudioBody(Endian::Little, 100, 10)); // old data would end at 110
    EXPECT_FALSE(TryImport(0, Edited(MakeTinyWav(4))).ok);
    EXPECT_EQ(Bytes(dir / "level0.resS"), Filled(50, 0x42));
    ExpectNoRawFile();
}

TEST_F(SoundImport, UnsupportedBodyIsReported) {
    Install(Filled(60, 0x11));
    Import(Edited(MakeTinyWav(4)));
    EXPECT_EQ(messages.notices, std::vector<std::string>{"Not supported file clip.snd"});
    ExpectNoRawFile();
}

TEST_F(SoundImport, ItemOutsideTheTableIsAnError) {
    Install(MakeEmbeddedAudioBody(4, Endian::Little, MakeTinyWav(4)));
    EXPECT_FALSE(TryImport(1, Edited(MakeTinyWav(4))).ok);
    opened.Items().rows[0].ObjSize += 1000; // the object would pass the working file's end
    EXPECT_FALSE(TryImport(0, Edited(MakeTinyWav(4))).ok);
    ExpectNoRawFile();
}

} // namespace
