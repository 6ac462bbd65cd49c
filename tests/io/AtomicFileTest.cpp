#include "io/AtomicFile.h"
#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p) {
    return kestrel::test::ReadFileText(p);
}

size_t EntryCount(const fs::path& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

TEST(AtomicOutputFile, TargetIsOldUntilCommitAndNewAfter) {
    TempDir dir;
    const fs::path target = dir / "archive.assets";
    std::ofstream(target) << "old";
    {
        AtomicOutputFile out(target);
        out.Write("new bytes", 9);
        EXPECT_EQ(Slurp(target), "old");
        out.Commit();
    }
    EXPECT_EQ(Slurp(target), "new bytes");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
    // Dropped without commit: the target keeps its bytes and no temporary file stays.
    {
        AtomicOutputFile out(target);
        out.Write("lost", 4);
    }
    EXPECT_EQ(Slurp(target), "new bytes");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(CreateUniqueFile, NeverClobbersOrFollowsAnExistingName) {
    TempDir dir;
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "mine";
    std::ofstream(dir / "a.TEMP") << "user file";
    fs::create_symlink(victim, dir / "a-1.TEMP");
    fs::path made;
    std::unique_ptr<OutputFile> file = CreateUniqueFile(dir.Path(), "a", ".TEMP", made);
    ASSERT_TRUE(file);
    EXPECT_EQ(made.filename(), "a-2.TEMP");
    file->Write("x", 1);
    file->Close();
    ScratchFiles::Remove(made);
    EXPECT_EQ(Slurp(dir / "a.TEMP"), "user file");
    EXPECT_EQ(Slurp(victim), "mine");
}

} // namespace
