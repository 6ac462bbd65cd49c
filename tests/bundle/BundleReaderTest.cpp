#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/Reader.h"
#include "session/Archive.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const fs::path& p) {
    std::vector<uint8_t> out(fs::file_size(p));
    std::ifstream in(p, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return out;
}

void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(p, {bytes.begin(), bytes.end()});
}

std::vector<uint8_t> OggResource(size_t size) {
    std::vector<uint8_t> out = {'O', 'g', 'g', 'S'};
    const auto noise = NoiseBytes(size - 4, 5);
    out.insert(out.end(), noise.begin(), noise.end());
    return out;
}

// Three inner files: an assets file spanning several 128 KiB blocks, a resource, and a second
// assets file whose name has a directory part.
std::vector<InnerFile> ThreeFiles() {
    return {{"CAB-first", MinimalAssetsFile("5.6.3p1", 200000), 4},
            {"CAB-first.resS", OggResource(70000), 0},
            {"archive:/CAB-second/CAB-second", MinimalAssetsFile("2017.4.1f1", 5000), 4}};
}

std::string BlockName(BlockKind k) {
    switch (k) {
    case BlockKind::Stored:
        return "Stored";
    case BlockKind::StoredZero:
        return "StoredZero";
    case BlockKind::Lz4:
        return "Lz4";
    case BlockKind::Lz4HC:
        return "Lz4HC";
    case BlockKind::Lz4StoredBit:
        return "Lz4StoredBit";
    case BlockKind::Lzma:
        return "Lzma";
    }
    return "?";
}

std::string InfoName(BlockInfoKind k) {
    switch (k) {
    case BlockInfoKind::StoredAtStart:
        return "InfoStored";
    case BlockInfoKind::Lz4AtStart:
        return "InfoLz4";
    case BlockInfoKind::Lz4HCAtStart:
        return "InfoLz4HC";
    case BlockInfoKind::StoredAtEnd:
        return "InfoAtEnd";
    }
    return "?";
}

using FsVariant = std::tuple<BlockKind, BlockInfoKind, uint32_t>;

class UnityFSVariants : public ::testing::TestWithParam<FsVariant> {};

TEST_P(UnityFSVariants, OpensWithTheRightBaseAndAnExactWorkingCopy) {
    const auto [blocks, info, blockSize] = GetParam();
    UnityFSOptions opt;
    opt.blocks = blocks;
    opt.blockInfo = info;
    opt.blockSize = blockSize;
    opt.headerPadding = blockSize == 65536 ? 3 : 0;
    const auto files = ThreeFiles();
    const BuiltBundle built = BuildUnityFS(files, opt);
    const bool inPlace = (blocks == BlockKind::Stored || blocks == BlockKind::StoredZero) &&
                         info == BlockInfoKind::StoredAtStart;
    const BuiltBundle expected = inPlace ? built : ExpectedWorkCopyFS(files, opt);

    TempDir dir;
    const fs::path archive = dir / "level0.unity3d";
    Write(archive, built.bytes);
    OpenedArchive a(archive.string());
    for (uint32_t i = 0; i < files.size(); ++i) {
        // Every inner file from the one working file, as the window selects them.
        a.Select(i);
        EXPECT_EQ(a.inner.base, expected.innerOffsets[i]) << i;
        EXPECT_TRUE(a.archive->IsBundle());
        const std::string& work = a.archive->WorkFileName();
        if (inPlace) {
            EXPECT_EQ(work, archive.string());
            EXPECT_FALSE(fs::exists(WorkingFileOf(archive)));
        } else {
            ASSERT_EQ(work, WorkingFileOf(archive));
            ASSERT_EQ(Bytes(work), expected.bytes);
        }
        EXPECT_EQ(Bytes(archive), built.bytes) << "the archive itself is never changed";
        // The inner file's own bytes lie at its base.
        const auto workBytes = Bytes(work);
        ASSERT_LE(a.inner.base + files[i].bytes.size(), workBytes.size());
        EXPECT_TRUE(std::equal(files[i].bytes.begin(), files[i].bytes.end(),
                               workBytes.begin() + static_cast<std::ptrdiff_t>(a.inner.base)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllStorages, UnityFSVariants,
    ::testing::Combine(::testing::Values(BlockKind::Stored, BlockKind::StoredZero, BlockKind::Lz4,
                                         BlockKind::Lz4HC, BlockKind::Lz4StoredBit,
                                         BlockKind::Lzma),
                       ::testing::Values(BlockInfoKind::StoredAtStart, BlockInfoKind::Lz4AtStart,
                                         BlockInfoKind::Lz4HCAtStart, BlockInfoKind::StoredAtEnd),
                       ::testing::Values(128u * 1024, 65536u)),
    [](const auto& info) {
        return BlockName(std::get<0>(info.param)) + InfoName(std::get<1>(info.param)) + "_" +
               std::to_string(std::get<2>(info.param));
    });

TEST(UnityFSWorkingCopy, ReopeningDecompressesNothingAndGivesTheSameBase) {
    TempDir dir;
    const auto files = ThreeFiles();
    UnityFSOptions opt; // LZ4HC block info, LZ4 blocks
    const fs::path archive = dir / "level0.unity3d";
    Write(archive, BuildUnityFS(files, opt).bytes);

    BundleStructure first;
    const ContainerInfo opened = ReadContainer(archive.string(), first);
    ASSERT_TRUE(opened.madeWorkCopy);
    EXPECT_TRUE(first.blockInfoRewritten);
    EXPECT_TRUE(first.dataCompressed);
    const auto copy = Bytes(opened.workFileName);

    BundleStructure again;
    const ContainerInfo reopened = ReadContainer(opened.workFileName, again);
    EXPECT_FALSE(reopened.madeWorkCopy);
    EXPECT_EQ(reopened.workFileName, opened.workFileName);
    EXPECT_FALSE(again.blockInfoRewritten);
    EXPECT_FALSE(again.dataCompressed);
    EXPECT_EQ(again.FS.BlockCount, 1u);
    EXPECT_EQ(Bytes(opened.workFileName), copy);
    EXPECT_FALSE(fs::exists(WorkingFileOf(opened.workFileName)));
    const auto a = InnerEntries(first);
    const auto b = InnerEntries(again);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].offset, b[i].offset);
        EXPECT_EQ(a[i].size, b[i].size);
        EXPECT_EQ(a[i].name, b[i].name);
    }
    // The record describes the working copy: one block, equal block-info sizes, the real length,
    // while Blocks keeps the archive's storage bytes for re-packing.
    EXPECT_EQ(first.FS.TotalSize, copy.size());
    EXPECT_EQ(first.FS.CompressedBlockInfoSize, first.FS.UncompressedBlockInfoSize);
    EXPECT_EQ(first.FS.BlockCount, 1u);
    ASSERT_EQ(first.FS.Blocks.size(), 3u);
    EXPECT_EQ(first.FS.Blocks[0].Storage(), 2);
    EXPECT_EQ(first.FS.Blocks[0].compressedSize, first.FS.Blocks[0].uncompressedSize);
    EXPECT_EQ(first.savedFlags[3], 0x40);
    EXPECT_EQ(first.FS.Flags[3], 0x43);
}

TEST(UnityFSInPlace, MultiBlockStoredBundleKeepsItsOwnBlockTable) {
    TempDir dir;
    const auto files = ThreeFiles();
    UnityFSOptions opt;
    opt.blocks = BlockKind::Stored;
    opt.blockInfo = BlockInfoKind::StoredAtStart;
    const BuiltBundle built = BuildUnityFS(files, opt);
    Write(dir / "a.bundle", built.bytes);
    BundleStructure b;
    const ContainerInfo info = ReadContainer((dir / "a.bundle").string(), b);
    EXPECT_FALSE(info.madeWorkCopy);
    // Nothing is written, so the record keeps describing the file as it is.
    EXPECT_EQ(b.FS.BlockCount, b.FS.Blocks.size());
    EXPECT_GT(b.FS.BlockCount, 1u);
    EXPECT_EQ(b.dataStart, b.blocksStart);
    EXPECT_EQ(InnerEntries(b)[2].offset, built.innerOffsets[2]);
}

TEST(UnityFSErrors, DamagedDirectoriesNameFileAndOffset) {
    TempDir dir;
    const fs::path archive = dir / "bad.unity3d";
    auto expectError = [&](const std::vector<uint8_t>& bytes, const std::string& part) {
        Write(archive, bytes);
        try {
            OpenedArchive a(archive.string());
            ADD_FAILURE() << "no error for " << part;
        } catch (const KestrelError& e) {
            const std::string msg = e.what();
            EXPECT_NE(msg.find(archive.string()), std::string::npos) << msg;
            EXPECT_NE(msg.find(part), std::string::npos) << msg;
        }
        EXPECT_FALSE(fs::exists(WorkingFileOf(archive)));
    };
    UnityFSOptions plain;
    plain.blocks = BlockKind::Stored;
    plain.blockInfo = BlockInfoKind::StoredAtStart;
    expectError(BuildUnityFS({}, plain).bytes, "holds no inner files");
    expectError(BuildUnityFS({}, {}).bytes, "bundle without data blocks");

    // A node reaching past the data.
    UnityFSOptions stored;
    stored.blocks = BlockKind::Stored;
    stored.blockInfo = BlockInfoKind::StoredAtEnd;
    auto bytes = BuildUnityFS({{"CAB-x", MinimalAssetsFile("5.0.0f4", 100)}}, stored).bytes;
    // At the end: node size (8 bytes), node flags (4), the name "CAB-x" and its NUL.
    const size_t nodeSize = bytes.size() - 6 - 4 - 8;
    bytes[nodeSize] = 0x7F;
    expectError(bytes, "lies outside");

    // A damaged LZ4 block reports the block's offset.
    UnityFSOptions lz4;
    lz4.blockInfo = BlockInfoKind::StoredAtStart;
    auto damaged = BuildUnityFS({{"CAB-x", MinimalAssetsFile("5.0.0f4", 1000)}}, lz4).bytes;
    Write(archive, damaged);
    BundleStructure intact;
    ReadContainer(archive.string(), intact);
    fs::remove(WorkingFileOf(archive));
    // The first token announces a literal run longer than the whole block.
    for (size_t i = 0; i < 4; ++i)
        damaged[intact.blocksStart + i] = 0xFF;
    expectError(damaged, "offset " + HexOffset(intact.blocksStart) + ": LZ4S: Block decode error");

    // Blocks are decoded a batch at a time on every core: of two damaged blocks in one batch the
    // first is named, whichever thread got there first.
    lz4.blockSize = 1024;
    const BuiltBundle many = BuildUnityFS({{"CAB-x", MinimalAssetsFile("5.0.0f4", 40 * 1024)}}, lz4);
    ASSERT_GT(many.blockAt.size(), 21u);
    damaged = many.bytes;
    // A literal run far longer than the block.
    for (const size_t k : {size_t{19}, size_t{21}})
        for (size_t i = 0; i < 8; ++i)
            damaged[many.blockAt[k] + i] = 0xFF;
    expectError(damaged, "offset " + HexOffset(many.blockAt[19]) + ": LZ4S: Block decode error");
    // A block of no bytes at all is damaged too (and read as such, with no buffer behind it).
    damaged = many.bytes;
    for (size_t i = 4; i < 8; ++i)
        damaged[many.recordAt[5] + i] = 0;
    expectError(damaged, "offset " + HexOffset(many.blockAt[5]) + ": ");
}

TEST(UnityFSErrors, Lz4BlockRunningPastTheDataHasItsOwnMessage) {
    TempDir dir;
    const fs::path archive = dir / "short.unity3d";
    UnityFSOptions lz4;
    lz4.blockInfo = BlockInfoKind::StoredAtStart;
    auto bytes = BuildUnityFS({{"CAB-x", MinimalAssetsFile("5.0.0f4", 1000)}}, lz4).bytes;
    Write(archive, bytes);
    BundleStructure intact;
    ReadContainer(archive.string(), intact);
    fs::remove(archive.string() + ".TEMP");
    bytes.resize(bytes.size() - 5); // the only block now declares 5 bytes more than there are
    Write(archive, bytes);
    try {
        OpenedArchive a(archive.string());
        ADD_FAILURE() << "no error";
    } catch (const KestrelError& e) {
        EXPECT_EQ(std::string(e.what()), archive.string() + ": offset " +
                                             HexOffset(intact.blocksStart) +
                                             ": Error size lz4 in data stream.");
    }
    EXPECT_FALSE(fs::exists(archive.string() + ".TEMP"));
}

TEST(UnityRW, CompressedUnityWebGivesAnExactWorkingCopy) {
    for (const bool endMarker : {false, true}) {
        for (const uint32_t levels : {1u, 3u}) {
            TempDir dir;
            const auto files = ThreeFiles();
            UnityRWOptions opt;
            opt.lzmaEndMarker = endMarker;
            opt.levelCount = levels;
            const fs::path archive = dir / "web.unity3d";
            Write(archive, BuildUnityRW(files, opt).bytes);
            const BuiltBundle expected = ExpectedWorkCopyRW(files, opt);
            // Each open removes the copy of the one before; the last stays open.
            OpenedArchive a;
            for (uint32_t i = 0; i < files.size(); ++i) {
                a.Open(archive.string(), Entry(i));
                ASSERT_EQ(a.archive->WorkFileName(), WorkingFileOf(archive));
                EXPECT_EQ(Bytes(a.archive->WorkFileName()), expected.bytes) << endMarker << levels;
                EXPECT_EQ(a.inner.base, expected.innerOffsets[i]);
                EXPECT_EQ(a.archive->Bundle().RW.FileSize, expected.bytes.size());
            }
            // Reopening the copy reads it in place.
            BundleStructure b;
            const auto info = ReadContainer(WorkingFileOf(archive), b);
            EXPECT_FALSE(info.madeWorkCopy);
            EXPECT_EQ(InnerEntries(b)[1].offset, expected.innerOffsets[1]);
        }
    }
}

TEST(UnityRW, UncompressedBundlesAreReadInPlace) {
    const auto files = ThreeFiles();
    for (const std::string sig : {"UnityRaw", "UnityWeb"}) {
        TempDir dir;
        UnityRWOptions opt;
        opt.signature = sig;
        opt.compressed = false;
        const BuiltBundle built = BuildUnityRW(files, opt);
        Write(dir / "raw.unity3d", built.bytes);
        OpenedArchive a((dir / "raw.unity3d").string(), Entry(2));
        EXPECT_EQ(a.archive->WorkFileName(), (dir / "raw.unity3d").string());
        EXPECT_EQ(a.inner.base, built.innerOffsets[2]);
        EXPECT_FALSE(fs::exists(WorkingFileOf(dir / "raw.unity3d")));
    }
}

TEST(UnityRW, UnityRawIsNeverDecompressed) {
    // Level sizes that differ would make a UnityWeb file decompress; UnityRaw ignores them.
    UnityRWOptions opt;
    opt.signature = "UnityRaw";
    opt.compressed = false;
    auto built = BuildUnityRW(ThreeFiles(), opt);
    BundleStructure probe;
    TempDir dir;
    Write(dir / "raw", built.bytes);
    ReadContainer((dir / "raw").string(), probe);
    built.bytes[probe.listPos + 3] ^= 0x01; // the last pair's compressed size
    Write(dir / "raw", built.bytes);
    BundleStructure b;
    const auto info = ReadContainer((dir / "raw").string(), b);
    EXPECT_FALSE(info.madeWorkCopy);
    EXPECT_NE(b.RW.Levels.back().compressedSize, b.RW.Levels.back().uncompressedSize);
    EXPECT_EQ(InnerEntries(b)[0].offset, built.innerOffsets[0]);
}

TEST(OtherFormats, AreReadAsPlainFilesAtPositionZero) {
    TempDir dir;
    // A UnityWeb header of format 4, and UnityFS headers of formats 2 and 4.
    for (const auto& [sig, version] : {std::pair<std::string, uint8_t>{"UnityWeb", 4},
                                       std::pair<std::string, uint8_t>{"UnityFS", 2},
                                       std::pair<std::string, uint8_t>{"UnityFS", 4}}) {
        std::vector<uint8_t> bytes(sig.begin(), sig.end());
        bytes.push_back(0);
        bytes.insert(bytes.end(), {0, 0, 0, version});
        const auto noise = NoiseBytes(200);
        bytes.insert(bytes.end(), noise.begin(), noise.end());
        Write(dir / "old.unity3d", bytes);
        OpenedArchive a((dir / "old.unity3d").string());
        EXPECT_FALSE(a.archive->IsBundle());
        EXPECT_EQ(a.inner.base, 0u);
        EXPECT_EQ(a.archive->Bundle().Signature, sig);
        EXPECT_EQ(a.Items().Count(), 1u);
        EXPECT_EQ(a.inner.resourceKind, "unknown");
    }
}

} // namespace
