#include "audio/SoundExport.h"
#include "audio/SoundClip.h"
#include "common/Error.h"
#include "io/Writer.h"
#include "session/ConverterInput.h"
#include "support/AudioObjects.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>

#include <iostream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

class SoundExport : public ::testing::Test {
protected:
    void Install(const std::vector<uint8_t>& body, Endian order = Endian::Little) {
        InstallOneClip(opened, dir.Path(), "clip.snd", order, body);
    }

    ConverterInput Input() {
        const ObjectRow& row = opened.Items().rows[0];
        const uint64_t start = opened.inner.assets.DataOffset + row.ObjOffset + row.NameHeaderSize;
        const Endian order = opened.inner.assets.header.DataOrder();
        context.emplace(ContextOf(opened.Scope()));
        return ConverterInput{*context,
                              Reader(opened.archive->Work(), order)
                                  .Sub(start, row.ObjSize - row.NameHeaderSize, "clip"),
                              "Unity_Assets_Files/" + opened.inner.dirName + "/Sounds/",
                              opened.Items().ExportName[0], 0};
    }

    void Export() { ExportSound(Input(), opened.inner.dirName, "level0.resS"); }

    // The message of the KestrelError an export raises; empty when it raises none.
    std::string ExportError() {
        try {
            Export();
        } catch (const KestrelError& e) {
            return e.what();
        }
        return {};
    }

    std::string OutputBaseDir() const { return opened.archive->OutputBaseDir(opened.options); }

    [[nodiscard]] fs::path Sounds() const { return dir / "Unity_Assets_Files/level0/Sounds"; }

    // Writes `size` filler bytes followed by `audio` into a resource file.
    void WriteResource(const fs::path& file, size_t fillerSize, const std::vector<uint8_t>& audio) {
        std::vector<uint8_t> bytes(fillerSize, 0x5A);
        bytes.insert(bytes.end(), audio.begin(), audio.end());
        fs::create_directories(file.parent_path());
        WriteWholeFile(file, bytes.data(), bytes.size());
    }

    void ExpectNoSoundsWritten() { EXPECT_FALSE(fs::exists(Sounds())); }

    TempDir dir;
    OpenedArchive opened;
    std::optional<ConverterContext> context; // made from `opened` by each input
    RecordedMessages& messages = opened.messages;
};

// ffprobe must read the exported file as the named format.
void ExpectFormat(const fs::path& file, const std::string& format) {
    if (!HaveFfprobe()) {
        std::cerr << "ffprobe is not installed; " << file << " was not probed\n";
        return;
    }
    EXPECT_EQ(ProbeFormatName(file), format) << file;
}

std::vector<uint8_t> Bytes(const fs::path& file) {
    const auto b = ReadFileBytes(file);
    return {b.begin(), b.end()};
}

TEST(SoundSignature, TableAndMpegRule) {
    auto ext = [](std::vector<uint8_t> b) { return AudioExtension(b.data(), b.size()); };
    EXPECT_EQ(ext({'O', 'g', 'g', 'S'}), ".ogg");
    EXPECT_EQ(ext({'R', 'I', 'F', 'F'}), ".wav");
    EXPECT_EQ(ext({'F', 'O', 'R', 'M'}), ".aif");
    EXPECT_EQ(ext({'F', 'S', 'B', '5'}), ".fsb");
    EXPECT_EQ(ext({'I', 'D', '3', 3}), ".mp3");
    EXPECT_EQ(ext({0xFF, 0xFB, 0x90, 0x00}), ".mp3");
    // "ID3" with version 4 starts with 'I', not 0xFF, so it is not recognised.
    EXPECT_EQ(ext({'I', 'D', '3', 4}), "");
    EXPECT_EQ(ext({'o', 'g', 'g', 's'}), "");
    // Fewer than four bytes give no signature, even a lone 0xFF.
    EXPECT_EQ(ext({0xFF, 0xFB, 0x90}), "");
}

TEST_F(SoundExport, EmbeddedWavInBothByteOrders) {
    const auto wav = MakeTinyWav(101);
    for (Endian order : {Endian::Little, Endian::Big}) {
        Install(MakeEmbeddedAudioBody(4, order, wav), order);
        Export();
        const fs::path out = Sounds() / "clip.snd.wav";
        ASSERT_TRUE(fs::exists(out));
        EXPECT_EQ(Bytes(out), wav);
        ExpectFormat(out, "wav");
        fs::remove_all(dir / "Unity_Assets_Files");
    }
    EXPECT_EQ(messages.lines, (std::vector<std::string>{"clip.snd -> Audio File - .wav",
                                                        "clip.snd -> Audio File - .wav"}));
}

TEST_F(SoundExport, EmbeddedOggReadByProber) {
    const auto ogg = MakeTinyOgg(dir.Path());
    if (ogg.empty()) GTEST_SKIP() << "ffmpeg with libvorbis is not available";
    Install(MakeEmbeddedAudioBody(3, Endian::Little, ogg));
    Export();
    const fs::path out = Sounds() / "clip.snd.ogg";
    EXPECT_EQ(Bytes(out), ogg);
    EXPECT_EQ(ProbeFormatName(out), "ogg");
}

TEST_F(SoundExport, EmbeddedLengthPastObjectEndIsAnError) {
    auto body = MakeEmbeddedAudioBody(4, Endian::Little, MakeTinyWav(40));
    Writer patch;
    patch.Bytes(body.data(), body.size());
    patch.PutU32At(kSoundLengthPos, static_cast<uint32_t>(body.size() - kSoundDataPos + 1));
    Install(patch.Data());
    try {
        Export();
        FAIL() << "no error";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("clip.snd"), std::string::npos) << e.what();
    }
    ExpectNoSoundsWritten();
}

TEST_F(SoundExport, StreamedReadsResSEvenWhenOffsetLooksLikeSignature) {
    const auto wav = MakeTinyWav(64);
    // Offset 0x1FF is stored as FF 01 00 00: the body test alone would say ".mp3".
    WriteResource(dir / "level0.resS", 0x1FF, wav);
    Install(MakeStreamedAudioBody(Endian::Little, static_cast<uint32_t>(wav.size()), 0x1FF));
    Export();
    const fs::path out = Sounds() / "resS_level0.resS" / "clip.snd.wav";
    EXPECT_EQ(Bytes(out), wav);
    ExpectFormat(out, "wav");
}

TEST_F(SoundExport, StreamedUnknownDataGetsNoExtension) {
    const std::vector<uint8_t> raw = {1, 2, 3, 4, 5, 6, 7, 8};
    WriteResource(dir / "level0.resS", 0x1FF, raw);
    Install(MakeStreamedAudioBody(Endian::Little, 8, 0x1FF));
    Export();
    EXPECT_EQ(Bytes(Sounds() / "resS_level0.resS" / "clip.snd"), raw);
    EXPECT_FALSE(fs::exists(Sounds() / "resS_level0.resS" / "clip.snd.mp3"));
}

TEST_F(SoundExport, MissingResourceFileIsAnErrorAndNothingWritten) {
    Install(MakeStreamedAudioBody(Endian::Little, 10, 0));
    EXPECT_EQ(ExportError(), "Missing file: " + OutputBaseDir() + "level0.resS");
    ExpectNoSoundsWritten();

    Install(MakeNamedResourceAudioBody(Endian::Little, "sharedassets1.resource", 0, 10));
    EXPECT_EQ(ExportError(), "Missing file: " + OutputBaseDir() + "sharedassets1.resource");
    ExpectNoSoundsWritten();
    EXPECT_TRUE(messages.alerts.empty());
}

TEST_F(SoundExport, NamedResourceInBothByteOrders) {
    const auto wav = MakeTinyWav(33);
    WriteResource(dir / "sharedassets1.resource", 100, wav);
    for (Endian order : {Endian::Little, Endian::Big}) {
        Install(MakeNamedResourceAudioBody(order, "sharedassets1.resource", 100, wav.size()),
                order);
        Export();
        const fs::path out = Sounds() / "res_sharedassets1.resource" / "clip.snd.wav";
        EXPECT_EQ(Bytes(out), wav);
        ExpectFormat(out, "wav");
        fs::remove_all(dir / "Unity_Assets_Files");
    }
}

TEST_F(SoundExport, ArchivePathReadsExportedResourceEntry) {
    const auto wav = MakeTinyWav(20);
    Install(MakeNamedResourceAudioBody(Endian::Little, "archive:/CAB-1234/CAB-1234.resS", 8,
                                       wav.size()));
    opened.inner.dirName = "level0/CAB-1234";
    WriteResource(dir / "Unity_Assets_Files/level0/CAB-1234.resS/CAB-1234.resS", 8, wav);
    Export();
    const fs::path out =
        dir / "Unity_Assets_Files/level0/CAB-1234/Sounds/res_CAB-1234.resS/clip.snd.wav";
    EXPECT_EQ(Bytes(out), wav);
    EXPECT_TRUE(messages.alerts.empty());
}

TEST_F(SoundExport, PathsLeavingTheArchiveDirectoryAreRefused) {
    const auto wav = MakeTinyWav(20);
    // A real file beside the archive's directory that a crafted path could reach.
    WriteResource(dir / "secret.resource", 0, wav);
    const fs::path game = dir / "game";
    fs::create_directories(game);
    const std::vector<std::string> paths = {"../secret.resource", "/etc/hostname",
                                            "sub/../../secret.resource", "..\\secret.resource",
                                            "archive:/x/.."};
    for (const auto& path : paths) {
        InstallOneClip(opened, game, "clip.snd", Endian::Little,
                       MakeNamedResourceAudioBody(Endian::Little, path, 0, wav.size()));
        try {
            Export();
            ADD_FAILURE() << "accepted " << path;
        } catch (const KestrelError& e) {
            EXPECT_NE(std::string(e.what()).find("Refused resource path of clip.snd"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(fs::exists(game / "Unity_Assets_Files")) << path;
    }
}

TEST_F(SoundExport, ResourceRangesOutsideTheFileAreErrors) {
    const auto wav = MakeTinyWav(20);
    WriteResource(dir / "sharedassets1.resource", 4, wav);
    const uint64_t size = 4 + wav.size();
    const std::vector<std::pair<uint64_t, uint64_t>> ranges = {
        {4, wav.size() + 1}, {size + 1, 0}, {~0ull - 2, 8}, {8, ~0ull}};
    for (const auto& [offset, length] : ranges) {
        Install(
            MakeNamedResourceAudioBody(Endian::Little, "sharedassets1.resource", offset, length));
        EXPECT_THROW(Export(), KestrelError) << offset << " " << length;
        ExpectNoSoundsWritten();
    }
    WriteResource(dir / "level0.resS", 4, wav);
    Install(MakeStreamedAudioBody(Endian::Little, 0xFFFFFFF0u, 0xFFFFFFF0u));
    EXPECT_THROW(Export(), KestrelError);
    ExpectNoSoundsWritten();
}

TEST_F(SoundExport, ResourcePathLongerThanObjectIsAnError) {
    auto body = MakeNamedResourceAudioBody(Endian::Little, "a.resource", 0, 4);
    Writer patch;
    patch.Bytes(body.data(), body.size());
    patch.PutU32At(kResourcePathPos, 0xFFFFFFF0u);
    Install(patch.Data());
    EXPECT_THROW(Export(), KestrelError);
    ExpectNoSoundsWritten();
}

TEST_F(SoundExport, UnrecognisedBodiesAreReportedNotSupported) {
    // Not 24 bytes, no signature at 20, non-zero bytes at 20 to 27.
    std::vector<uint8_t> body(60, 0x11);
    Install(body);
    Export();
    // A short body whose bytes at 20 start like MPEG audio but stop after two bytes.
    std::vector<uint8_t> shortBody(22, 0);
    shortBody[20] = 0xFF;
    shortBody[21] = 0xFB;
    Install(shortBody);
    Export();
    // Zero marker bytes but fewer than 52 bytes.
    Install(std::vector<uint8_t>(48, 0));
    Export();
    EXPECT_EQ(messages.notices, std::vector<std::string>(3, "Not supported file clip.snd"));
    ExpectNoSoundsWritten();
}

TEST_F(SoundExport, EveryTruncatedBodyIsHandled) {
    const auto wav = MakeTinyWav(12);
    WriteResource(dir / "sharedassets1.resource", 0, wav);
    const std::vector<std::pair<std::vector<uint8_t>, fs::path>> cases = {
        {MakeEmbeddedAudioBody(4, Endian::Little, wav), Sounds() / "clip.snd.wav"},
        {MakeNamedResourceAudioBody(Endian::Little, "sharedassets1.resource", 0, wav.size()),
         Sounds() / "res_sharedassets1.resource" / "clip.snd.wav"}};
    for (const auto& [full, out] : cases) {
        // Every prefix is exported, refused with an error or reported; none reads out of bounds.
        for (size_t n = 0; n <= full.size(); ++n) {
            Install({full.begin(), full.begin() + static_cast<long>(n)});
            try {
                Export();
            } catch (const KestrelError&) {
            }
        }
        EXPECT_EQ(Bytes(out), wav);
    }
}

} // namespace
