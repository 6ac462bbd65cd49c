#include "ArchiveWriterTestSupport.h"

#include "session/Archive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMiB = 1024 * 1024;

Reporter& Quiet() {
    static SilentReporter silent;
    return silent;
}

struct SplitCase {
    std::string name;
    BlockKind blocks;
    BlockInfoKind info;
    long change; // bytes added to the first inner file
    uint32_t piecesAfter;
};

class ArchiveWriterSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ArchiveWriterSplit, PiecesAreCutAgainFromTheArchiveTheGameLoads) {
    const SplitCase& c = GetParam();
    TempDir dir;
    // About 2.3 MiB of poorly compressible data: three pieces.
    std::vector<InnerFile> files = WriterFiles(9);
    UnityFSOptions opt;
    opt.blocks = c.blocks;
    opt.blockInfo = c.info;
    const fs::path base = dir / "level0.unity3d";
    ASSERT_EQ(WriteSplitPieces(base, BuildUnityFS(files, opt).bytes, kMiB), 3u);
    const auto archive = Archive::Open(base.string() + ".split0", Quiet());
    ASSERT_EQ(archive->SplitPieceCount(), 3u);

    Bytes& first = files[0].bytes;
    if (c.change > 0) {
        const Bytes more = NoiseBytes(static_cast<size_t>(c.change), 3);
        first.insert(first.end(), more.begin(), more.end());
    } else {
        first.resize(first.size() - static_cast<size_t>(-c.change));
    }
    archive->Write({{0, Memory(first)}}, Quiet());
    EXPECT_EQ(archive->SplitPieceCount(), c.piecesAfter);

    uint32_t count = 0;
    const Bytes joined = JoinedPieces(base, count);
    EXPECT_EQ(count, c.piecesAfter) << "no old piece is left beyond the new ones";
    for (uint32_t i = 0; i + 1 < count; ++i)
        EXPECT_EQ(fs::file_size(base.string() + ".split" + std::to_string(i)), kMiB) << i;
    EXPECT_FALSE(fs::exists(PieceCommitJournal(base.string() + ".split0")));
    EXPECT_EQ(Listing(dir.Path()).size(), count + archive->WorkingFiles().size())
        << "only the pieces and this run's working files";
    // The pieces join into a bundle that decompresses into the working file the writer left.
    const fs::path rejoined = dir / "rejoined.unity3d";
    PutFile(rejoined, joined);
    const WriterArchive again = OpenForWriting(rejoined);
    Bytes work(archive->Work()->Size());
    ASSERT_EQ(archive->Work()->ReadAt(0, work.data(), work.size()), work.size());
    EXPECT_EQ(FileBytes(again.workFileName), work);
    const auto inner = InnerFileBytes(again.bundle, again.workFileName);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(inner[i], files[i].bytes) << i;

    // A second import starts from the first one's result as the open archive reads it.
    files[1].bytes = NoiseBytes(300000, 9);
    archive->Write({{1, Memory(files[1].bytes)}}, Quiet());
    const fs::path second = dir / "second.unity3d";
    PutFile(second, JoinedPieces(base, count));
    const WriterArchive last = OpenForWriting(second);
    const auto lastInner = InnerFileBytes(last.bundle, last.workFileName);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(lastInner[i], files[i].bytes) << i;

    // And the program opens the new pieces.
    const auto reopened = Archive::Open(base.string() + ".split0", Quiet());
    EXPECT_EQ(reopened->SplitPieceCount(), c.piecesAfter);
    EXPECT_EQ(reopened->Parse(1, RunOptions{}, nullptr).size, files[1].bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    GrowAndShrink, ArchiveWriterSplit,
    ::testing::Values(
        SplitCase{"StoredGrows", BlockKind::Stored, BlockInfoKind::StoredAtStart, 1 << 20, 4},
        SplitCase{"StoredShrinks", BlockKind::Stored, BlockInfoKind::StoredAtStart, -600000, 2},
        SplitCase{"Lz4Grows", BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart, 1 << 20, 4},
        SplitCase{"Lz4Shrinks", BlockKind::Lz4, BlockInfoKind::Lz4HCAtStart, -600000, 2},
        SplitCase{"Lz4InfoAtEndShrinks", BlockKind::Lz4HC, BlockInfoKind::StoredAtEnd, -600000, 2}),
    [](const auto& info) { return info.param.name; });

TEST(ArchiveWriterSplitPlain, PlainAssetsPiecesAreCutAgain) {
    TempDir dir;
    const fs::path base = dir / "sharedassets0.assets";
    WriteSplitPieces(base, MinimalAssetsFile("5.6.3p1", 1500000), kMiB);
    const auto archive = Archive::Open(base.string() + ".split0", Quiet());
    ASSERT_EQ(archive->SplitPieceCount(), 2u);
    const Bytes next = MinimalAssetsFile("5.6.3p1", 2500000);
    archive->Write({{0, Memory(next)}}, Quiet());
    uint32_t count = 0;
    EXPECT_EQ(JoinedPieces(base, count), next);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(archive->SplitPieceCount(), 3u);
    EXPECT_EQ(FileBytes(archive->WorkFileName()), next);
}

} // namespace
