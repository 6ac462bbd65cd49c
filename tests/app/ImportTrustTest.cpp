// What an import refuses so that no edit is lost and no archive is written over: a second import
// at the same time, an archive changed since it was opened, hostile or damaged export trees; and
// what a failed import leaves: the resource files as they were.
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

#include <functional>

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

// Puts a symbolic link to `target` in the place of `file`.
void LinkInstead(const fs::path& file, const fs::path& target) {
    fs::remove_all(file);
    fs::create_symlink(target, file);
}

void Put32(std::vector<unsigned char>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The exported DDS header made a BC7 picture of w x h with the extended header's array size, and
// `pixels` bytes after it.
std::vector<unsigned char> Bc7Picture(std::vector<unsigned char> dds, uint32_t w, uint32_t h,
                                      uint32_t arraySize, size_t pixels) {
    dds.resize(128);
    Put32(dds, 12, h);
    Put32(dds, 16, w);
    Put32(dds, 28, 0);
    Put32(dds, 84, 0x30315844); // "DX10"
    for (const uint32_t field : {98u, 3u, 0u, arraySize, 0u}) {
        dds.resize(dds.size() + 4);
        Put32(dds, dds.size() - 4, field);
    }
    dds.resize(dds.size() + pixels, 0x5A);
    return dds;
}

// Export trees travel as translation packs (zip and tar keep symbolic links) and pictures come
// from any editor. Each row spoils the tree of an exported bundle and runs a task, which must say
// what it refused and fail, change no file outside the tree, and leave an archive that exports as
// before but for the one edit every import row makes in the other inner file. Symbolic links below
// the output folder are never followed, whether they lead out of the tree or stay inside it.
TEST(ImportTrust, HostileTreesAreRefusedAndTheRestGoesOn) {
    using Spoil = std::function<void(const fs::path& tree, const fs::path& outside)>;
    const auto picture = [](const fs::path& tree) {
        return tree / "CAB-main/Textures/res_CAB-main/hero.tex.dds";
    };
    const auto redo = [&](auto change) {
        return [=](const fs::path& tree, const fs::path&) {
            auto bytes = ReadFileBytes(picture(tree));
            change(bytes);
            WriteFileBytes(picture(tree), bytes);
        };
    };
    const auto moveOut = [](const char* inTree) {
        return [=](const fs::path& tree, const fs::path& outside) {
            fs::rename(tree / inTree, outside / "moved");
            fs::create_symlink(outside / "moved", tree / inTree);
        };
    };
    struct Row {
        const char* task;
        Spoil spoil;
        const char* said;
    };
    const Row rows[] = {
        {"import", [](const fs::path& t, const fs::path&) { Edit(t / "CAB-main/notes.txt", ""); },
         "CAB-main/notes.txt: the file is empty; its object is left unchanged"},
        {"import",
         [](const fs::path& t, const fs::path& o) {
             LinkInstead(t / "CAB-main/notes.txt", o / "secret.txt");
         },
         "CAB-main/notes.txt: a symbolic link (to "},
        {"import",
         [](const fs::path& t, const fs::path&) {
             LinkInstead(t / "CAB-main/notes.txt", "../CAB-second/dialogue.txt");
         },
         "CAB-main/notes.txt: a symbolic link (to ../CAB-second/dialogue.txt); Kestrel does not "
         "follow links below the output folder; it is not imported"},
        {"import",
         [&](const fs::path& t, const fs::path& o) {
             auto bytes = ReadFileBytes(picture(t));
             bytes.back() ^= 0xFF;
             WriteFileBytes(o / "hero.dds", bytes);
             LinkInstead(picture(t), o / "hero.dds");
         },
         "res_CAB-main/hero.tex.dds: a symbolic link (to "},
        {"import",
         [&](const fs::path& t, const fs::path& o) {
             redo([](auto& b) { b.back() ^= 0xFF; })(t, o);
             moveOut("CAB-main/Textures")(t, o);
         },
         "CAB-main/Textures: a symbolic link (to "},
        {"import", moveOut("CAB-main"), "scene/CAB-main: a symbolic link (to "},
        {"import", redo([](auto& b) { Put32(b, 12, 0), Put32(b, 16, 0); }),
         "hero.tex.dds, offset 12: a picture of 0 x 0 pixels holds no pixels"},
        {"import", redo([](auto& b) { Put32(b, 28, 0xFFFFFFFF); }),
         "hero.tex.dds, offset 28: 4294967295 mip levels; a picture of 8 x 8 has at most 4"},
        {"import", redo([](auto& b) { b = Bc7Picture(b, 1, 1, 1, 1); }),
         "hero.tex.dds: the header describes 1 level(s) of a 1 x 1 picture in texture format 25 "
         "(16 bytes), but 1 bytes follow it"},
        {"import", redo([](auto& b) { b = Bc7Picture(b, 8, 8, 0x7FFFFFFF, 64); }),
         "hero.tex.dds, offset 140: array size 2147483647; a picture file holds one image"},
        {"import", redo([](auto& b) { b.resize(b.size() + (1 << 20)); }),
         "(64 bytes), but 1048640 bytes follow it"},
        {"export", [](const fs::path& t, const fs::path& o) { LinkInstead(t, o); },
         "Unity_Assets_Files/scene: a symbolic link (to "},
        {"export",
         [](const fs::path& t, const fs::path& o) {
             LinkInstead(t / "CAB-second/dialogue.txt", o / "secret.txt");
         },
         "CAB-second/dialogue.txt: a symbolic link (to "},
    };
    for (const Row& row : rows) {
        TempDir dir;
        const fs::path bundle = dir / "scene.bundle";
        WriteStreamedTextureBundle(bundle);
        ASSERT_EQ(RunKestrel({"export", bundle.string()}, "C.UTF-8").exitCode, 0);
        const fs::path tree = dir / "Unity_Assets_Files/scene";
        NamedFiles expected = FilesIn(tree, true);
        const fs::path outside = dir / "outside";
        fs::create_directories(outside);
        Edit(outside / "secret.txt", "the user's own file");
        if (row.task == std::string("import")) {
            Edit(tree / "CAB-second/dialogue.txt", "edited");
            expected["CAB-second/dialogue.txt"] = {'e', 'd', 'i', 't', 'e', 'd'};
        }
        row.spoil(tree, outside);
        const NamedFiles outsideBefore = FilesIn(outside, true);

        const CliResult r = RunKestrel({row.task, bundle.string()}, "C.UTF-8");
        EXPECT_EQ(r.exitCode, 1) << row.said;
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        EXPECT_EQ(FilesIn(outside, true), outsideBefore) << row.said;
        ASSERT_EQ(RunKestrel({"export", bundle.string(), "-p", (dir / "again").string()}, "C.UTF-8")
                      .exitCode,
                  0);
        EXPECT_EQ(FilesIn(dir / "again/Unity_Assets_Files/scene", true), expected) << row.said;
    }
}

// A 30-byte resource file is one object; an edit that makes it claim a type list it does not hold
// would leave an archive no run opens again: refused, exit 1, archive unchanged. Any other file
// that shows no assets header is no archive at all.
TEST(ImportTrust, AnEditThatWouldLeaveTheArchiveUnreadableIsNotWritten) {
    TempDir dir;
    Writer head(Endian::Big);
    for (const uint32_t field : {100u, 30u, 17u, 48u, 0u}) head.U32(field);
    std::vector<uint8_t> damaged = head.Take();
    damaged.resize(30, 'x');
    WriteFileBytes(dir / "a.assets", damaged);
    const CliResult refused = RunKestrel({"list", (dir / "a.assets").string()}, "C.UTF-8");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("a.assets: not an archive Kestrel can read"), std::string::npos)
        << refused.err;
    // An assets header of a format newer than this program: one item, and the format named.
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "6000.9.1f1";
    plan.objects.push_back({49, "readme", TextBody("123")});
    auto newer = BuildAssetsFile(plan);
    newer[11] = 23; // the big-endian format version
    WriteFileBytes(dir / "new.assets", {newer.begin(), newer.end()});
    const CliResult listed = RunKestrel({"list", (dir / "new.assets").string()}, "C.UTF-8");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("serialized format 23 is not read yet"), std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("1\tnew\t0 (unknown)"), std::string::npos) << listed.out;
    const fs::path archive = dir / "a.resS";
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
