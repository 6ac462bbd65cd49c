#include "session/WorkingFiles.h"
#include "common/Error.h"
#include "session/Archive.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(p, {bytes.begin(), bytes.end()});
}

TEST(WorkingFiles, TheUsersFileBesideSplitPiecesIsNeitherOverwrittenNorDeleted) {
    TempDir dir;
    const fs::path base = dir / "sharedassets0.assets";
    WriteSplitPieces(base, BuildUnityFS({{"CAB-a", MinimalAssetsFile("5.0.0f4", 3000), 4}}).bytes,
                     1000);
    Write(base, {'m', 'i', 'n', 'e'});
    OpenedArchive a(base.string() + ".split0");
    a.archive.reset();
    EXPECT_EQ(ReadFileText(base), "mine");
}

TEST(WorkingFiles, TakenNamesAndLinksAreLeftAloneAndNeverFollowed) {
    TempDir dir;
    const fs::path archive = dir / "a.unity3d";
    Write(archive, BuildUnityFS({{"CAB-a", MinimalAssetsFile("5.0.0f4"), 4}}).bytes);
    Write(dir / "victim", {'v'});
    Write(dir / "a.unity3d.TEMP", {'t'});
    fs::create_symlink(dir / "victim", WorkingFileOf(archive));
    OpenedArchive a(archive.string());
    const std::string work = a.archive->WorkFileName();
    EXPECT_EQ(work, archive.string() + ".kestrel-" + std::to_string(::getpid()) + "-1.TEMP");
    a.archive.reset();
    EXPECT_FALSE(fs::exists(work));
    EXPECT_EQ(ReadFileText(dir / "victim"), "v");
    EXPECT_EQ(ReadFileText(dir / "a.unity3d.TEMP"), "t");
    EXPECT_TRUE(fs::is_symlink(WorkingFileOf(archive)));
}

TEST(WorkingFiles, ACopyLargerThanTheFreeSpaceIsRefusedBeforeWriting) {
    TempDir dir;
    fs::path made;
    try {
        CreateWorkingFile(dir / "huge.unity3d", ".TEMP", UINT64_MAX - 1, made);
        FAIL() << "no free-space error";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("Not enough free space for the working copy of " +
                                             (dir / "huge.unity3d").string()),
                  std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace

TEST(WorkingFiles, TheNamesAKilledRunLeftAreKnownByTheirArchiveAndPieces) {
    struct Case {
        const char* name;
        bool pieces; // the split pieces' commit is complete
        bool left;
    };
    for (const Case& c : std::vector<Case>{
             {"a.bundle.kestrel-12.TEMP", false, true},
             {"a.bundle.kestrel-12-3.joined", false, true},
             {"a.bundle.kestrel-12.joined.packed.kestrel-40.blocks", false, true},
             {".a.bundle.kestrel-12.joined.packed.kestrel-40-2.tmp", false, true},
             {"a.bundle.split3.kestrel-40.new", true, true},
             {"a.bundle.split3.kestrel-40.new", false, false}, // its journal may still need it
             {"a.bundle.kestrel-lock", true, false},
             {"a.bundle.kestrel-commit", true, false},
             {"a.bundle.split3", true, false},
             {"b.a.bundle.kestrel-12.TEMP", false, false},
             {".a.bundle.kestrel-12.tmp", false, false},
         }) {
        EXPECT_EQ(IsWorkingFileName(c.name, "a.bundle", c.pieces ? "a.bundle.split" : ""), c.left)
            << c.name << (c.pieces ? " (pieces)" : "");
    }
}
