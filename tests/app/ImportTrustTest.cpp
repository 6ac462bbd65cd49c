// What an import refuses so that no edit is lost and no archive is written over: a second import
// at the same time, an archive changed since it was opened, an empty raw file; and what a failed
// import leaves: the resource files as they were.
#include "bundle/ArchiveWriter.h"
#include "common/Error.h"
#include "io/FileLock.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/OpenedArchive.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

fs::path WriteLevel(const TempDir& dir) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody("123456789")});
    plan.objects.push_back({21, "m", NoiseBytes(64, 2)});
    const auto bytes = BuildAssetsFile(plan);
    const fs::path archive = dir / "level0.assets";
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    return archive;
}

void Edit(const fs::path& file, const std::string& text) {
    WriteFileBytes(file, {text.begin(), text.end()});
}

TEST(ImportTrust, ASecondImportStopsNamingTheFirstAndReadersGoOn) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    Edit(dir / "Unity_Assets_Files/level0/readme.txt", "edited");
    const auto before = ReadFileBytes(archive);
    {
        // This process stands for a run in the middle of its import.
        std::optional<FileLock> held = FileLock::Take(
            ArchiveLockFile(archive.string()), kImportLockByte, FileLock::Mode::kExclusive, false);
        ASSERT_TRUE(held);
        held->WriteNote("process 4242\n");
        const CliResult second = RunKestrel({"import", archive.string()}, "C.UTF-8");
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE(second.err.find("another Kestrel run is importing into it (process 4242)"),
                  std::string::npos)
            << second.err;
        EXPECT_EQ(ReadFileBytes(archive), before);
        EXPECT_EQ(RunKestrel({"list", archive.string()}, "C.UTF-8").exitCode, 0);
    }
    EXPECT_EQ(RunKestrel({"import", archive.string()}, "C.UTF-8").exitCode, 0);
    EXPECT_NE(ReadFileBytes(archive), before);
}

TEST(ImportTrust, AnArchiveChangedSinceItWasOpenedIsNotWrittenOver) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    OpenedArchive window(archive.string());
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    Edit(dir / "Unity_Assets_Files/level0/readme.txt", "from the command line");
    ASSERT_EQ(RunKestrel({"import", archive.string()}, "C.UTF-8").exitCode, 0);
    const auto changed = ReadFileBytes(archive);
    Edit(dir / "Unity_Assets_Files/level0/readme.txt", "from the window");
    try {
        ImportArchive(*window.archive, window.options, window.messages);
        FAIL() << "the window's import wrote over the command line's";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("was changed by another program or run"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ReadFileBytes(archive), changed);
}

TEST(ImportTrust, AnEmptyRawFileLeavesItsObjectAndTheRestGoesOn) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    Edit(dir / "Unity_Assets_Files/level0/m.mat", "");
    Edit(dir / "Unity_Assets_Files/level0/readme.txt", "edited");
    const CliResult r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("m.mat: the file is empty; its object is left unchanged"),
              std::string::npos)
        << r.err;
    const OpenedArchive after(archive.string());
    EXPECT_EQ(after.Items().rows[0].PayloadSize, 6u);
    EXPECT_EQ(after.Items().rows[1].ObjSize - after.Items().rows[1].NameHeaderSize, 64u);
}

// A damaged 30-byte file is one unknown object; an edit that makes it claim a type list it does
// not hold would leave an archive no run opens again: refused, exit 1, archive unchanged.
TEST(ImportTrust, AnEditThatWouldLeaveTheArchiveUnreadableIsNotWritten) {
    TempDir dir;
    Writer head(Endian::Big);
    for (const uint32_t field : {100u, 30u, 17u, 48u, 0u}) head.U32(field);
    std::vector<uint8_t> damaged = head.Take();
    damaged.resize(30, 'x');
    const fs::path archive = dir / "a.assets";
    WriteFileBytes(archive, damaged);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    Writer edit(Endian::Big);
    for (const uint32_t field : {10u, 60u, 17u, 48u, 0u}) edit.U32(field);
    for (const char c : std::string("2019.4.1f1")) edit.U8(static_cast<uint8_t>(c));
    edit.U8(0);
    edit.U32(0x05000000); // target platform
    edit.U8(1);
    edit.U32(0x40420F00); // a million types, little-endian
    std::vector<uint8_t> claimed = edit.Take();
    claimed.resize(60, 0xFF);
    WriteFileBytes(dir / "Unity_Assets_Files/a/a", claimed);
    const CliResult r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("would leave it unreadable"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(archive), damaged);
}

TEST(ImportTrust, AFailedImportCutsTheResourceFileBack) {
    TempDir dir;
    const fs::path bundle = dir / "scene.bundle";
    WriteStreamedTextureBundle(bundle);
    ASSERT_EQ(RunKestrel({"export", bundle.string()}, "C.UTF-8").exitCode, 0);
    const fs::path resS = dir / "Unity_Assets_Files/scene/CAB-main.resS/CAB-main.resS";
    const auto before = ReadFileBytes(resS);
    // A picture of other pixels: appended to the resource entry's exported copy.
    const fs::path dds =
        dir / "Unity_Assets_Files/scene/CAB-main/Textures/res_CAB-main/hero.tex.dds";
    auto picture = ReadFileBytes(dds);
    for (size_t i = picture.size() - 16; i < picture.size(); ++i)
        picture[i] ^= 0x5A;
    WriteFileBytes(dds, picture);
    OpenedArchive a(bundle.string());
    SetArchiveWriteHookForTesting([](const std::string& step) {
        if (step == "archive") throw KestrelError("disk full (test)", true);
    });
    EXPECT_THROW(ImportArchive(*a.archive, a.options, a.messages), KestrelError);
    SetArchiveWriteHookForTesting({});
    EXPECT_EQ(ReadFileBytes(resS), before);
}

} // namespace
