// Pins small outputs of the test bundle builder byte for byte, so that the reader tests built on it
// rest on layouts checked against the formats by hand.
#include "support/BundleBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel::test;

namespace {

const std::vector<InnerFile> kOneFile = {{"a", {0x41, 0x42}, 4}};

std::vector<uint8_t> UnityFSHeader(uint8_t totalSize, uint8_t infoSize, uint8_t infoFlags) {
    return {
        'U', 'n', 'i', 't',      'y', 'F', 'S', 0,         // signature
        0,   0,   0,   6,                                  // format version
        '5', '.', 'x', '.',      'x', 0,                   // player version
        '5', '.', '6', '.',      '3', 'p', '1', 0,         // engine version
        0,   0,   0,   0,        0,   0,   0,   totalSize, // total size
        0,   0,   0,   infoSize, 0,   0,   0,   56, // block info sizes: compressed, uncompressed
        0,   0,   0,   infoFlags};
}

std::vector<uint8_t> BlockInfo(uint8_t compressedSize, uint8_t storage) {
    return {1, 2,       3,  4,  5,   6,  7,  8,
            9, 10,      11, 12, 13,  14, 15, 16, // hash
            0, 0,       0,  1,                   // block count
            0, 0,       0,  2,  0,   0,  0,  compressedSize,
            0, storage,                         // the block
            0, 0,       0,  1,                  // node count
            0, 0,       0,  0,  0,   0,  0,  0, // node offset
            0, 0,       0,  0,  0,   0,  0,  2, // node size
            0, 0,       0,  4,  'a', 0};        // node flags, name
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(BundleBuilder, UnityFSStoredLayout) {
    UnityFSOptions o;
    o.blocks = BlockKind::Stored;
    o.blockInfo = BlockInfoKind::StoredAtStart;
    const BuiltBundle b = BuildUnityFS(kOneFile, o);
    EXPECT_EQ(b.bytes, Join({UnityFSHeader(104, 56, 0x40), BlockInfo(2, 0x40), {0x41, 0x42}}));
    EXPECT_EQ(b.innerOffsets, std::vector<uint64_t>{102});
    EXPECT_EQ(ExpectedWorkCopyFS(kOneFile, o).bytes, b.bytes);
}

TEST(BundleBuilder, UnityFSLz4BlockWithBlockInfoAtTheEnd) {
    UnityFSOptions o;
    o.blocks = BlockKind::Lz4;
    o.blockInfo = BlockInfoKind::StoredAtEnd;
    // "AB" as a raw LZ4 block: a token announcing two literals, then the literals.
    EXPECT_EQ(BuildUnityFS(kOneFile, o).bytes,
              Join({UnityFSHeader(105, 56, 0xC0), {0x20, 0x41, 0x42}, BlockInfo(3, 2)}));
}

TEST(BundleBuilder, UnityRawLayoutAndSplitPieces) {
    UnityRWOptions o;
    o.signature = "UnityRaw";
    o.compressed = false;
    const BuiltBundle b = BuildUnityRW(kOneFile, o);
    const std::vector<uint8_t> expected = {'U',  'n', 'i', 't', 'y', 'R', 'a', 'w', 0,
                                           0,    0,   0,   3, // signature, format version
                                           '3',  '.', 'x', '.', 'x', 0,   '4', '.', '3',
                                           '.',  '4', 'f', '1', 0,   0,   0,   0,   71, // file size
                                           0,    0,   0,   55, // header size
                                           0,    0,   0,   1,  // levels to download
                                           0,    0,   0,   1,  // level count
                                           0,    0,   0,   16,  0,   0,   0,   16, // the level pair
                                           0,    0,   0,   71, // complete file size
                                           0,    0,   0,   1,   'a', 0,   0,   0,   0,
                                           14,   0,   0,   0,   2, // entry count and entry
                                           0x41, 0x42};
    EXPECT_EQ(b.bytes, expected);
    EXPECT_EQ(b.innerOffsets, std::vector<uint64_t>{69});

    TempDir dir;
    EXPECT_EQ(WriteSplitPieces(dir / "r", b.bytes, 30), 3u);
    EXPECT_EQ(ReadFileBytes(dir / "r.split0").size(), 30u);
    EXPECT_EQ(ReadFileBytes(dir / "r.split2").size(), 11u);
    auto joined = ReadFileBytes(dir / "r.split0");
    for (const char* piece : {"r.split1", "r.split2"}) {
        const auto p = ReadFileBytes(dir / piece);
        joined.insert(joined.end(), p.begin(), p.end());
    }
    EXPECT_EQ(std::vector<uint8_t>(joined.begin(), joined.end()), expected);
}

} // namespace
