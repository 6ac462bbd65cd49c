#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// UnityRaw / UnityWeb (formats 1 to 3) directory entry.
struct Unity3D_RW_bundle {
    std::string Name;
    uint32_t Offset = 0; // relative to HeaderSize
    uint32_t Size = 0;
};

struct LevelPair {
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

struct Unity3D_RW_Structure {
    uint32_t FileSize = 0;
    uint32_t HeaderSize = 0;
    uint32_t LevelsToDownload = 0;
    uint32_t LevelCount = 0;
    std::vector<LevelPair> Levels;
    uint32_t EntryCount = 0;
    std::vector<Unity3D_RW_bundle> Entries;
};

struct FSBlock {
    uint32_t uncompressedSize = 0;
    uint32_t compressedSize = 0;
    std::array<uint8_t, 2> flags{}; // in file order: flags[1] is the lowest byte
    uint8_t Storage() const { return flags[1]; }
    // How the block is compressed: the low six bits of its lowest flag byte (0 stored, 1 LZMA,
    // 2 LZ4, 3 LZ4HC). Bit 0x40 marks a block the engine may stream and is set by some writers
    // and not by others, so it says nothing about compression.
    uint8_t Compression() const { return flags[1] & 0x3F; }
};

inline constexpr uint8_t kBlockStored = 0;
inline constexpr uint8_t kBlockLzma = 1;
inline constexpr uint8_t kBlockLz4 = 2;
inline constexpr uint8_t kBlockLz4HC = 3;

// UnityFS (format 6) directory node.
struct Unity3D_FS_bundle {
    uint64_t Offset = 0; // in the uncompressed data
    uint64_t Size = 0;
    uint32_t Flags = 0;
    std::string Name;
};

struct Unity3D_FS_Structure {
    uint64_t TotalSize = 0;
    uint32_t CompressedBlockInfoSize = 0;
    uint32_t UncompressedBlockInfoSize = 0;
    std::array<uint8_t, 4> Flags{}; // in file order: Flags[3] is the lowest byte
    std::array<uint8_t, 16> Hash{};
    // BlockCount is the count in the working file's table (1 once a ".TEMP" copy was written);
    // Blocks keeps the blocks as the archive had them, with compressed sizes set to the
    // uncompressed sizes once decompressed (the re-packer reads the first block's storage).
    uint32_t BlockCount = 0;
    std::vector<FSBlock> Blocks;
    uint32_t NodeCount = 0;
    std::vector<Unity3D_FS_bundle> Nodes;
};

// How a UnityFS archive itself is packed, which re-packing after an import follows: its four
// header flag bytes and its first block's flag bytes and size, with its block count, as the archive
// has them. The records of a decompressed working copy no longer show them; `known` is set once
// they were carried over (by the archive writer, or by a reopen of the working copy).
struct ArchivePacking {
    bool known = false;
    std::array<uint8_t, 4> flags{};
    std::array<uint8_t, 2> firstBlockFlags{};
    uint32_t firstBlockSize = 0;
    uint32_t blockCount = 0;
    bool blocksPadded = false; // the data blocks start on a multiple of 16
};

// The parsed bundle header of the archive opened last.
struct BundleStructure {
    std::string Signature;
    uint32_t FormatVersion = 0;
    std::string PlayerVersion;
    std::string EngineVersion;
    Unity3D_RW_Structure RW;
    Unity3D_FS_Structure FS;
    bool blockInfoRewritten = false;
    bool dataCompressed = false;
    std::array<uint8_t, 4> savedFlags{};
    std::array<uint8_t, 2> blockFlags{0x00, 0x40};
    uint64_t headerEnd = 0;
    uint64_t blocksStart = 0;
    uint64_t afterVersionsPos = 0;
    uint64_t listPos = 0;
    // Position in the working file where entry (formats 1 to 3: HeaderSize) and node (format 6: the
    // data area) offsets count from.
    uint64_t dataStart = 0;
    ArchivePacking packing;

    // UnityFS as the engine writes it from 2019.4 on (formats 7 and 8, and format 6 of those
    // engines): what a writer needs to lay the bundle out again.
    bool modernLayout = false;   // header padded with zeros to a multiple of 16 before the info
    uint32_t flagsWord = 0;      // the header flags as the archive had them (native value)
    bool blockInfoAtEnd = false; // the archive kept its block info at the end (flag 0x80)
    bool blocksPadded = false;   // flag 0x200 meant padding: the blocks start on a multiple of 16
    uint64_t blockInfoPos = 0;   // where the (possibly compressed) block info sat in the archive

    bool IsBundleSignature() const {
        return Signature == "UnityRaw" || Signature == "UnityWeb" || Signature == "UnityFS";
    }
    // The UnityRaw / UnityWeb layout: formats 1 and 2 (engines 1 to 3.4) and format 3. The three
    // differ only in the header fields after the level pairs (see HasCompleteFileSize).
    bool IsRawWeb() const {
        if (!IsBundleSignature()) return false;
        if (FormatVersion == 3) return true;
        return Signature != "UnityFS" && (FormatVersion == 1 || FormatVersion == 2);
    }
    // From format 2 on the header holds the complete file size after the level pairs; format 1
    // goes on with a zero byte up to the header size.
    bool HasCompleteFileSize() const { return FormatVersion >= 2; }
    // The UnityFS layout: format 6, and formats 7 and 8 that add the alignment rules above.
    bool IsFormat6() const {
        return IsBundleSignature() && FormatVersion >= 6 && FormatVersion <= 8;
    }
};

} // namespace kestrel
