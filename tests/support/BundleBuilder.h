#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

// One inner file of a bundle to build.
struct InnerFile {
    std::string name;
    std::vector<uint8_t> bytes;
    uint32_t flags = 4; // UnityFS node flags: 4 marks a serialized file, 0 a resource
};

// How the data blocks of a UnityFS bundle are stored (the lowest byte of each block's flags).
enum class BlockKind {
    Stored,       // 0x40, bytes as they are
    StoredZero,   // 0x00, bytes as they are
    Lz4,          // 2, raw LZ4 block from the fast compressor
    Lz4HC,        // 3, raw LZ4 block from the high-compression compressor
    Lz4StoredBit, // 3, bytes as they are with bit 31 set in the compressed size
    Lzma,         // 0x41, LZMA properties and data without size field
};

// Where and how the block info is stored (the lowest byte of the header flags).
enum class BlockInfoKind {
    StoredAtStart, // 0x40
    Lz4AtStart,    // 0x42
    Lz4HCAtStart,  // 0x43
    StoredAtEnd,   // 0xC0
};

// Bit 0x40 of each data block's flags: as the engine sets it (stored 0x40, LZMA 0x41, LZ4 2 and
// 3), cleared (LZMA 0x01, as other tools save bundles) or set on every block.
enum class StreamedBit { AsEngine, Cleared, Set };

struct UnityFSOptions {
    BlockKind blocks = BlockKind::Lz4;
    StreamedBit streamedBit = StreamedBit::AsEngine;
    BlockInfoKind blockInfo = BlockInfoKind::Lz4HCAtStart;
    uint32_t blockSize = 128 * 1024; // data is cut into blocks of this many bytes
    uint8_t headerPadding = 0;       // the flags' second byte: bytes skipped after the flags
    // Formats 7 and 8 (engines from 2019.4 on): the header is padded to a multiple of 16 before
    // the block info, and padBlocks sets flag 0x200 and starts the blocks on a multiple of 16
    // (give an engine version from 2020.3.34, 2021.3.2 or 2022.1.1 on; before those the flag
    // marks an encrypted bundle). headerPadding must stay 0 then.
    uint32_t formatVersion = 6;
    bool padBlocks = false;
    std::string playerVersion = "5.x.x";
    std::string engineVersion = "5.6.3p1";
    std::array<uint8_t, 16> hash = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
};

struct UnityRWOptions {
    std::string signature = "UnityWeb"; // "UnityRaw" or "UnityWeb"
    bool compressed = true;             // UnityWeb: the data as one LZMA stream
    bool lzmaEndMarker = false;         // write the stream with liblzma's end marker
    uint32_t levelCount = 1;            // earlier level pairs carry made-up cumulative sizes
    // The uncompressed size the stream's size field and the last level pair claim; unset: the
    // real one.
    std::optional<uint32_t> claimedSize;
    std::string playerVersion = "3.x.x";
    std::string engineVersion = "4.3.4f1";
    // 1 and 2 (engines up to 3.4): no complete file size after the level pairs in format 1; both
    // end the header with a zero byte, as the engine writes them.
    uint32_t formatVersion = 3;
};

// A built archive and where each inner file starts once the archive is uncompressed as its
// working copy (absolute positions in that copy; for an uncompressed archive, in the archive).
struct BuiltBundle {
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> innerOffsets;
    // UnityFS: where each data block starts in the archive, and where its record lies (its sizes
    // and flags) when the block info is stored uncompressed.
    std::vector<uint64_t> blockAt, recordAt;
};

BuiltBundle BuildUnityFS(const std::vector<InnerFile>& files, const UnityFSOptions& options = {});
BuiltBundle BuildUnityRW(const std::vector<InnerFile>& files, const UnityRWOptions& options = {});

// The working copy the reader must make of a bundle built with these options: the same bundle
// with its data as one stored block and its block info stored after the header (UnityFS), or
// with its data uncompressed (UnityWeb). Built directly, not by decompressing.
BuiltBundle ExpectedWorkCopyFS(const std::vector<InnerFile>& files, const UnityFSOptions& options);
BuiltBundle ExpectedWorkCopyRW(const std::vector<InnerFile>& files, const UnityRWOptions& options);

// Writes bytes cut into pieces of pieceSize as base + ".split0", ".split1", ...; returns the
// number of pieces.
uint32_t WriteSplitPieces(const std::filesystem::path& base, const std::vector<uint8_t>& bytes,
                          size_t pieceSize);

// A small serialized assets file (format 15, little-endian, no objects) followed by `padding`
// bytes of varied data, for tests that need a valid inner assets file but no objects.
std::vector<uint8_t> MinimalAssetsFile(const std::string& engineVersion, size_t padding = 0);

// Deterministic, poorly compressible bytes.
std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed = 1);

} // namespace kestrel::test
