#include "ArchiveWriterTestSupport.h"

#include "common/CoreBudget.h"
#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// One bundle kind the writer must handle.
struct Packing {
    std::string name;
    bool unityFS = true;
    UnityFSOptions fs;
    UnityRWOptions rw;
};

Packing FS(std::string name, BlockKind blocks, BlockInfoKind info) {
    Packing p{std::move(name), true, {}, {}};
    p.fs.blocks = blocks;
    p.fs.blockInfo = info;
    return p;
}

// The layout of the engines from 2019.4 on: header padded to 16, blocks on a multiple of 16 when
// padded.
Packing Modern(std::string name, uint32_t format, BlockKind blocks, BlockInfoKind info,
               bool padBlocks) {
    Packing p = FS(std::move(name), blocks, info);
    p.fs.formatVersion = format;
    p.fs.padBlocks = padBlocks;
    p.fs.engineVersion = "2021.3.5f1";
    return p;
}

Packing RW(std::string name, const std::string& signature, bool compressed, uint32_t levels) {
    Packing p{std::move(name), false, {}, {}};
    p.rw.signature = signature;
    p.rw.compressed = compressed;
    p.rw.levelCount = levels;
    return p;
}

std::vector<Packing> AllPackings() {
    using B = BlockKind;
    using I = BlockInfoKind;
    return {FS("Stored_InfoStored", B::Stored, I::StoredAtStart),
            FS("StoredZero_InfoStored", B::StoredZero, I::StoredAtStart),
            FS("Stored_InfoLz4", B::Stored, I::Lz4AtStart),
            FS("Lz4_InfoStored", B::Lz4, I::StoredAtStart),
            FS("Lz4_InfoLz4", B::Lz4, I::Lz4AtStart),
            FS("Lz4HC_InfoLz4HC", B::Lz4HC, I::Lz4HCAtStart),
            FS("Lz4StoredBit_InfoLz4HC", B::Lz4StoredBit, I::Lz4HCAtStart),
            FS("Lz4HC_InfoAtEnd", B::Lz4HC, I::StoredAtEnd),
            FS("Lzma_InfoLz4HC", B::Lzma, I::Lz4HCAtStart),
            FS("Lzma_InfoAtEnd", B::Lzma, I::StoredAtEnd),
            FS("Stored_InfoAtEnd", B::Stored, I::StoredAtEnd),
            Modern("Format7_Lz4HC_Padded", 7, B::Lz4HC, I::Lz4HCAtStart, true),
            Modern("Format8_Lz4_InfoAtEnd_Padded", 8, B::Lz4, I::StoredAtEnd, true),
            Modern("Format8_Stored_Padded", 8, B::Stored, I::StoredAtStart, true),
            Modern("Format7_Lzma", 7, B::Lzma, I::Lz4AtStart, false),
            RW("UnityRaw", "UnityRaw", false, 1),
            RW("UnityWeb", "UnityWeb", true, 1),
            RW("UnityWebLevels", "UnityWeb", true, 3),
            RW("UnityWebUncompressed", "UnityWeb", false, 1)};
}

BuiltBundle Build(const Packing& p, const std::vector<InnerFile>& files) {
    return p.unityFS ? BuildUnityFS(files, p.fs) : BuildUnityRW(files, p.rw);
}

// An edit of one inner file: its new bytes from the old ones.
struct Edit {
    std::string name;
    size_t entry;
    Bytes (*change)(const Bytes&);
};

std::vector<Edit> Edits() {
    return {{"FirstLonger", 0,
             [](const Bytes& b) {
                 Bytes out = b;
                 const Bytes more = NoiseBytes(150000, 9);
                 out.insert(out.end(), more.begin(), more.end());
                 return out;
             }},
            {"MiddleShorter", 1, [](const Bytes& b) { return Bytes(b.begin(), b.end() - 100); }},
            {"LastLonger", 2,
             [](const Bytes& b) {
                 Bytes out = b;
                 out.resize(out.size() + 1000, 0x5A);
                 return out;
             }},
            {"FirstEmptied", 0, [](const Bytes&) { return Bytes{}; }}};
}

// The records the writer left must describe its working file as a fresh read of it does.
void ExpectSameDirectory(const BundleStructure& written, const BundleStructure& reread) {
    const auto a = InnerEntries(written);
    const auto b = InnerEntries(reread);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].offset, b[i].offset) << i;
        EXPECT_EQ(a[i].size, b[i].size) << i;
    }
    EXPECT_EQ(written.dataStart, reread.dataStart);
    if (written.IsFormat6()) {
        EXPECT_EQ(written.FS.TotalSize, reread.FS.TotalSize);
        EXPECT_EQ(written.FS.BlockCount, reread.FS.BlockCount);
        EXPECT_EQ(written.FS.UncompressedBlockInfoSize, reread.FS.UncompressedBlockInfoSize);
        EXPECT_EQ(written.FS.CompressedBlockInfoSize, reread.FS.CompressedBlockInfoSize);
    } else {
        EXPECT_EQ(written.RW.FileSize, reread.RW.FileSize);
        ASSERT_EQ(written.RW.Levels.size(), reread.RW.Levels.size());
        for (size_t i = 0; i < written.RW.Levels.size(); ++i) {
            EXPECT_EQ(written.RW.Levels[i].compressedSize, reread.RW.Levels[i].compressedSize);
            EXPECT_EQ(written.RW.Levels[i].uncompressedSize, reread.RW.Levels[i].uncompressedSize);
        }
    }
}

// The archive keeps the packing it was opened with: header flags, the first block's flags on
// every block, LZ4 data cut into blocks of 128 KiB.
void ExpectSamePacking(const Bytes& before, const Bytes& after, const BundleStructure& opened,
                       const BundleStructure& reread) {
    const size_t flagsPos = opened.afterVersionsPos + 16;
    ASSERT_GE(after.size(), flagsPos + 4);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + flagsPos + 4 - 20, after.begin()))
        << "header up to the sizes";
    EXPECT_TRUE(std::equal(before.begin() + flagsPos, before.begin() + flagsPos + 4,
                           after.begin() + flagsPos))
        << "header flags";
    const uint8_t storage = opened.FS.Blocks.front().Storage();
    const bool lz4 = storage == 2 || storage == 3;
    for (size_t i = 0; i < reread.FS.Blocks.size(); ++i) {
        EXPECT_EQ(reread.FS.Blocks[i].flags, opened.FS.Blocks.front().flags) << i;
        if (lz4 && i + 1 < reread.FS.Blocks.size()) {
            EXPECT_EQ(reread.FS.Blocks[i].uncompressedSize, 128u * 1024) << i;
        }
    }
    if (storage == 0x41) {
        EXPECT_EQ(reread.FS.Blocks.size(), 1u);
    }
}

using WriterCase = std::tuple<Packing, Edit>;

class ArchiveWriterPackings : public ::testing::TestWithParam<WriterCase> {};

TEST_P(ArchiveWriterPackings, ReplacedInnerFileReopensWithEveryInnerFileAsExpected) {
    const auto& [packing, edit] = GetParam();
    TempDir dir;
    std::vector<InnerFile> files = WriterFiles();
    const fs::path archive = dir / "level0.unity3d";
    const Bytes original = Build(packing, files).bytes;
    PutFile(archive, original);
    WriterArchive opened = OpenForWriting(archive);
    const BundleStructure openedRecords = opened.bundle;
    const bool copy = opened.workFileName != archive.string();

    const Bytes changed = edit.change(files[edit.entry].bytes);
    files[edit.entry].bytes = changed;
    ArchiveWriteInput in;
    in.archiveName = archive.string();
    in.workFileName = opened.workFileName;
    in.isBundle = true;
    in.bundle = &opened.bundle;
    in.replacements = {{edit.entry, Memory(changed)}};
    WriteArchive(in);

    EXPECT_EQ(Listing(dir.Path()).size(), copy ? 2u : 1u) << "no temporary file is left";
    // The working file and the records describe the new content.
    BundleStructure workRecords;
    ReadContainer(opened.workFileName, workRecords);
    ExpectSameDirectory(opened.bundle, workRecords);
    const auto fromWork = InnerFileBytes(workRecords, opened.workFileName);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(fromWork[i], files[i].bytes) << "inner file " << i << " in the working file";

    // The archive reopens with the new content, and decompresses to the very working file.
    const WriterArchive again = OpenForWriting(archive);
    const auto fromArchive = InnerFileBytes(again.bundle, again.workFileName);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(fromArchive[i], files[i].bytes) << "inner file " << i << " in the archive";
    if (copy) {
        EXPECT_EQ(FileBytes(again.workFileName), FileBytes(opened.workFileName));
        ExpectSameDirectory(opened.bundle, again.bundle);
    }
    if (packing.unityFS) {
        ExpectSamePacking(original, FileBytes(archive), openedRecords, again.bundle);
    } else {
        EXPECT_EQ(FileBytes(archive)[0], 'U');
        EXPECT_EQ(copy, again.workFileName != archive.string()) << "compressed stays compressed";
    }
}

INSTANTIATE_TEST_SUITE_P(AllPackings, ArchiveWriterPackings,
                         ::testing::Combine(::testing::ValuesIn(AllPackings()),
                                            ::testing::ValuesIn(Edits())),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" +
                                    std::get<1>(info.param).name;
                         });

class ArchiveWriterIdentity : public ::testing::TestWithParam<Packing> {};

TEST_P(ArchiveWriterIdentity, SameBytesGiveTheSameWorkingFileAndAStoredArchiveUnchanged) {
    const Packing& packing = GetParam();
    TempDir dir;
    const auto files = WriterFiles();
    const fs::path archive = dir / "level0.unity3d";
    const Bytes original = Build(packing, files).bytes;
    PutFile(archive, original);
    WriterArchive opened = OpenForWriting(archive);
    const Bytes work = FileBytes(opened.workFileName);
    const BundleStructure before = opened.bundle;

    ArchiveWriteInput in;
    in.archiveName = archive.string();
    in.workFileName = opened.workFileName;
    in.isBundle = true;
    in.bundle = &opened.bundle;
    for (size_t i = 0; i < files.size(); ++i)
        in.replacements.push_back({i, Memory(files[i].bytes)});
    WriteArchive(in);
    EXPECT_EQ(FileBytes(opened.workFileName), work);
    ExpectSameDirectory(opened.bundle, before);
    if (opened.workFileName == archive.string()) {
        EXPECT_EQ(FileBytes(archive), original);
    }
    // A second write from the records the first one left gives the same archive again.
    const Bytes first = FileBytes(archive);
    WriteArchive(in);
    EXPECT_EQ(FileBytes(archive), first);
    EXPECT_EQ(FileBytes(opened.workFileName), work);
}

INSTANTIATE_TEST_SUITE_P(AllPackings, ArchiveWriterIdentity, ::testing::ValuesIn(AllPackings()),
                         [](const auto& info) { return info.param.name; });

TEST(ArchiveWriterLevels, LevelPairsEndingAtOrAfterAGrownEntryMoveWithIt) {
    TempDir dir;
    // Level pairs of the builder end at 2000 and 4000 bytes of data; the first entry ends inside
    // the first level, so both earlier levels move, and the last pair always spans all data.
    std::vector<InnerFile> files = {{"a", Bytes(900, 1), 4}, {"b", Bytes(5000, 2), 4}};
    UnityRWOptions opt;
    opt.signature = "UnityRaw";
    opt.compressed = false;
    opt.levelCount = 3;
    const fs::path archive = dir / "raw.unity3d";
    PutFile(archive, BuildUnityRW(files, opt).bytes);
    WriterArchive opened = OpenForWriting(archive);
    const auto levels = opened.bundle.RW.Levels;
    ArchiveWriteInput in;
    in.archiveName = in.workFileName = archive.string();
    in.isBundle = true;
    in.bundle = &opened.bundle;
    in.replacements = {{0, Memory(Bytes(1000, 3))}};
    WriteArchive(in);
    const auto& now = opened.bundle.RW.Levels;
    EXPECT_EQ(now[0].uncompressedSize, levels[0].uncompressedSize + 100);
    EXPECT_EQ(now[1].uncompressedSize, levels[1].uncompressedSize + 100);
    EXPECT_EQ(now[2].uncompressedSize, fs::file_size(archive) - opened.bundle.RW.HeaderSize);
    EXPECT_EQ(opened.bundle.RW.FileSize, fs::file_size(archive));
}

TEST(ArchiveWriterPlain, PlainFileIsReplacedWhole) {
    TempDir dir;
    const fs::path file = dir / "sharedassets0.assets";
    PutFile(file, MinimalAssetsFile("5.6.3p1", 100));
    ArchiveWriteInput in;
    in.archiveName = in.workFileName = file.string();
    const Bytes next = MinimalAssetsFile("5.6.3p1", 300);
    in.replacements = {{0, Memory(next)}};
    WriteArchive(in);
    EXPECT_EQ(FileBytes(file), next);
    EXPECT_EQ(Listing(dir.Path()).size(), 1u);
    in.replacements = {{1, Memory(next)}};
    EXPECT_THROW(WriteArchive(in), KestrelError);
}

TEST(ArchiveWriterPlain, ALinkedArchiveIsWrittenThroughTheLinkWithItsPermissions) {
    TempDir dir;
    const fs::path real = dir / "real.assets";
    const fs::path link = dir / "link.assets";
    PutFile(real, MinimalAssetsFile("5.6.3p1", 10));
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, link);
    ArchiveWriteInput in;
    in.archiveName = in.workFileName = link.string();
    const Bytes next = MinimalAssetsFile("5.6.3p1", 20);
    in.replacements = {{0, Memory(next)}};
    WriteArchive(in);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FileBytes(real), next);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ArchiveWriterErrors, OverlappingInnerFilesAreRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    auto files = WriterFiles();
    UnityRWOptions opt;
    opt.signature = "UnityRaw";
    opt.compressed = false;
    const fs::path archive = dir / "a.unity3d";
    const Bytes original = BuildUnityRW(files, opt).bytes;
    PutFile(archive, original);
    WriterArchive opened = OpenForWriting(archive);
    opened.bundle.RW.Entries[1].Offset -= 10; // now inside the first entry
    ArchiveWriteInput in;
    in.archiveName = in.workFileName = archive.string();
    in.isBundle = true;
    in.bundle = &opened.bundle;
    in.replacements = {{0, Memory(Bytes(10, 1))}};
    EXPECT_THROW(WriteArchive(in), KestrelError);
    EXPECT_EQ(FileBytes(archive), original);
    EXPECT_EQ(Listing(dir.Path()).size(), 1u);
}

} // namespace

// A compressed archive is packed a batch of blocks at a time on every spare core, straight from
// the working copy and the replacement when the caller takes the new content as read (workOut),
// from a rewritten working file otherwise: for every compression the archive is the same file
// byte for byte either way, with no spare core or all of them, over more blocks than one batch
// holds.
TEST(ArchiveWriterCores, ArchiveBytesDoNotDependOnTheCoresOrTheWayTheyAreRead) {
    for (const Packing& packing :
         {FS("Lz4_InfoLz4", BlockKind::Lz4, BlockInfoKind::Lz4AtStart),
          FS("Lz4HC_InfoLz4HC", BlockKind::Lz4HC, BlockInfoKind::Lz4HCAtStart),
          FS("Lz4_InfoAtEnd", BlockKind::Lz4, BlockInfoKind::StoredAtEnd),
          FS("Lz4_InfoStored", BlockKind::Lz4, BlockInfoKind::StoredAtStart),
          FS("Lzma_InfoLz4", BlockKind::Lzma, BlockInfoKind::Lz4AtStart)}) {
        SCOPED_TRACE(packing.name);
        // LZMA is one block, so a small file does; LZ4 takes more blocks than a batch.
        std::vector<InnerFile> files = WriterFiles();
        const bool lzma = packing.fs.blocks == BlockKind::Lzma;
        files[0].bytes = NoiseBytes((lzma ? 1 : 20) * 128 * 1024, 5);
        for (size_t i = 0; i < files[0].bytes.size(); i += 3)
            files[0].bytes[i] = 0; // compressible, so block sizes differ
        std::vector<Bytes> written;
        for (const int way : {0, 1, 2}) { // spliced with all cores, spliced alone, rewritten
            TempDir dir;
            const fs::path archive = dir / "level0.unity3d";
            PutFile(archive, Build(packing, files).bytes);
            WriterArchive opened = OpenForWriting(archive);
            const Bytes oldCopy = FileBytes(opened.workFileName);
            std::shared_ptr<const ByteSource> newWork;
            ArchiveWriteInput in;
            in.archiveName = archive.string();
            in.workFileName = opened.workFileName;
            in.isBundle = true;
            in.bundle = &opened.bundle;
            in.replacements = {{1, Memory(Bytes(1000, 7))}};
            if (way != 2) in.workOut = &newWork;
            {
                const CoreLease everySpareCore(way == 1 ? 1000 : 0);
                WriteArchive(in);
            }
            written.push_back(FileBytes(archive));
            const WriterArchive again = OpenForWriting(archive);
            EXPECT_EQ(InnerFileBytes(again.bundle, again.workFileName)[0], files[0].bytes);
            if (way != 2) {
                // The old copy is left as it was, and the new content reads as the reopened copy.
                EXPECT_EQ(FileBytes(opened.workFileName), oldCopy);
                Bytes spliced(newWork->Size());
                ASSERT_EQ(newWork->ReadAt(0, spliced.data(), spliced.size()), spliced.size());
                EXPECT_EQ(spliced, FileBytes(again.workFileName)) << way;
            }
        }
        EXPECT_EQ(written[0], written[1]);
        EXPECT_EQ(written[0], written[2]);
    }
}
