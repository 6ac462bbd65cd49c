// UnityFS bundles, format version 6, written back: the header with the new total size, the block
// info with its block table and the moved nodes, the data; a compressed archive re-packed with the
// packing it was opened with.
#include "bundle/BundleWriteDetail.h"
#include "codec/Codecs.h"
#include "common/CoreBudget.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

namespace kestrel::bundle_write {

namespace {

// The engine writes chunk-based bundles as blocks of 128 KiB of uncompressed data; a game reads
// them piece by piece, and one LZ4 block could not hold more than about 2 GiB anyway.
constexpr uint64_t kChunkBlockSize = 128 * 1024;
// Bit 31 of a compressed size marks a stored LZ4 block, so a stored block stays below it.
constexpr uint64_t kMaxStoredBlock = 0x7FFFFFFF;
constexpr uint8_t kInfoAtEndBit = 0x80;
constexpr uint8_t kInfoMethodMask = 0x3F;

constexpr uint64_t AlignUp16(uint64_t n) {
    return (n + 15) & ~uint64_t{15};
}

// Zero bytes from `out`'s position up to `pos`.
void PadTo(OutputFile& out, uint64_t pos) {
    if (pos > out.Position()) out.Write(std::vector<uint8_t>(pos - out.Position()));
}

bool IsLz4(uint8_t method) {
    return method == 2 || method == 3;
}

// Stored data keeps the block size of the archive as opened when it had several blocks, and is one
// block otherwise (while that fits).
uint64_t StoredBlockSize(const ArchivePacking& p, uint64_t length) {
    if (p.blockCount > 1 && p.firstBlockSize > 0 && p.firstBlockSize <= kMaxStoredBlock) {
        return p.firstBlockSize;
    }
    if (length <= kMaxStoredBlock) return std::max<uint64_t>(length, 1);
    return kChunkBlockSize;
}

// Blocks of `blockSize` bytes covering `length` (the last shorter; one empty block for no data),
// compressed sizes set to the uncompressed ones.
std::vector<FSBlock> CutBlocks(uint64_t length, uint64_t blockSize,
                               const std::array<uint8_t, 2>& flags) {
    std::vector<FSBlock> blocks;
    uint64_t pos = 0;
    do {
        const auto n = static_cast<uint32_t>(std::min(blockSize, length - pos));
        blocks.push_back({n, n, flags});
        pos += n;
    } while (pos < length);
    return blocks;
}

std::vector<uint8_t> BlockInfoBytes(const Unity3D_FS_Structure& fs,
                                    const std::vector<FSBlock>& blocks) {
    Writer w(Endian::Big);
    w.Bytes(fs.Hash.data(), fs.Hash.size());
    w.U32BE(static_cast<uint32_t>(blocks.size()));
    for (const auto& block : blocks) {
        w.U32BE(block.uncompressedSize);
        w.U32BE(block.compressedSize);
        w.Bytes(block.flags.data(), block.flags.size());
    }
    w.U32BE(static_cast<uint32_t>(fs.Nodes.size()));
    for (const auto& node : fs.Nodes) {
        w.U64BE(node.Offset);
        w.U64BE(node.Size);
        w.U32BE(node.Flags);
        w.CString(node.Name);
    }
    return w.Take();
}

// The flags the archive is written with: as opened, block info compressed only with LZ4.
std::array<uint8_t, 4> ArchiveFlags(const ArchivePacking& p) {
    std::array<uint8_t, 4> flags = p.flags;
    if (!IsLz4(flags[3] & kInfoMethodMask)) flags[3] &= static_cast<uint8_t>(~kInfoMethodMask);
    return flags;
}

// Compresses LZ4 blocks from `pos` of the working file to the end of `out`, a batch at a time: the
// calling thread and the spare cores it can take each compress blocks of the batch, which is then
// written in order, so the bytes do not depend on how many threads took part. At most one batch
// is held in memory.
void WriteLz4Blocks(const ByteSource& work, uint64_t pos, std::vector<FSBlock>& blocks,
                    OutputFile& out, WriteProgress& progress) {
    constexpr size_t kBatch = 16;
    std::vector<std::vector<uint8_t>> plain(kBatch);
    std::vector<std::vector<uint8_t>> packed(kBatch);
    for (size_t first = 0; first < blocks.size(); first += kBatch) {
        const size_t n = std::min(kBatch, blocks.size() - first);
        for (size_t k = 0; k < n; ++k) {
            plain[k].resize(blocks[first + k].uncompressedSize);
            if (work.ReadAt(pos, plain[k].data(), plain[k].size()) != plain[k].size()) {
                throw KestrelError(work.Name() + ": offset " + std::to_string(pos) +
                                   ": the working file ended before its data");
            }
            pos += plain[k].size();
        }
        RunOnCores(n, [&](size_t k) {
            packed[k].clear();
            LZ4EncodeBlock(plain[k], packed[k]);
        });
        for (size_t k = 0; k < n; ++k) {
            out.Write(packed[k]);
            blocks[first + k].compressedSize = static_cast<uint32_t>(packed[k].size());
            progress.Add(plain[k].size());
        }
    }
}

// Compresses [dataStart, end) of the working file as `blocks` plan it to the end of `out`, and
// sets each block's compressed size.
void WriteBlocks(const std::shared_ptr<const ByteSource>& work, uint64_t dataStart,
                 std::vector<FSBlock>& blocks, OutputFile& out, WriteProgress& progress) {
    const std::string& file = work->Name();
    const uint8_t method = blocks.front().Compression();
    if (method == kBlockLzma) {
        const uint64_t before = out.Position();
        SourceInput in(work, dataStart, work->Size());
        FileOutput sink(out);
        LZMAEncodeStream(in, sink, 0);
        progress.Add(work->Size() - dataStart);
        blocks.front().compressedSize = Fit32(out.Position() - before, file, "LZMA block");
        return;
    }
    if (IsLz4(method)) {
        WriteLz4Blocks(*work, dataStart, blocks, out, progress);
        return;
    }
    uint64_t pos = dataStart;
    for (auto& block : blocks) {
        CopyBytes(work, pos, block.uncompressedSize, out, progress);
        pos += block.uncompressedSize;
    }
}

} // namespace

ArchivePacking PackingOf(const BundleStructure& b) {
    if (b.packing.known) return b.packing;
    ArchivePacking p;
    p.known = true;
    // The flags as the archive had them (the records' flag bytes describe the working copy).
    p.flags = {static_cast<uint8_t>(b.flagsWord >> 24), static_cast<uint8_t>(b.flagsWord >> 16),
               static_cast<uint8_t>(b.flagsWord >> 8), static_cast<uint8_t>(b.flagsWord)};
    p.blocksPadded = b.blocksPadded;
    p.firstBlockFlags = b.FS.Blocks.empty() ? b.blockFlags : b.FS.Blocks.front().flags;
    p.firstBlockSize = b.FS.Blocks.empty() ? 0 : b.FS.Blocks.front().uncompressedSize;
    p.blockCount = static_cast<uint32_t>(b.FS.Blocks.size());
    return p;
}

namespace {

// The new working file of a format-6 bundle before it is written: its records, its bytes before
// the data area (the header with the new sizes, the block info, the padding) and the data area's
// layout.
struct Format6Work {
    BundleStructure records;
    std::vector<uint8_t> head;
    DataLayout layout;
};

Format6Work PlanWorkFormat6(const BundleStructure& old,
                            const std::shared_ptr<const ByteSource>& work,
                            const std::vector<InnerReplacement>& changes, bool workIsCopy) {
    const std::string& file = work->Name();
    Format6Work plan{old, {}, {}};
    BundleStructure& b = plan.records;
    auto& fs = b.FS;
    b.packing = PackingOf(old);
    if (work->Size() < old.dataStart || old.dataStart < old.headerEnd ||
        old.afterVersionsPos + 16 > old.headerEnd) {
        throw KestrelError(file + ": the bundle's directory does not match the file");
    }
    std::vector<LaidEntry> entries;
    for (const auto& n : fs.Nodes)
        entries.push_back({n.Offset, n.Size, 0, 0, nullptr});
    plan.layout = PlanLayout(std::move(entries), changes, 0, work->Size() - old.dataStart, file);
    const DataLayout& layout = plan.layout;
    for (size_t i = 0; i < fs.Nodes.size(); ++i) {
        fs.Nodes[i].Offset = layout.entries[i].newOffset;
        fs.Nodes[i].Size = layout.entries[i].newSize;
    }

    std::vector<FSBlock> blocks;
    if (workIsCopy) {
        const uint32_t size = Fit32(layout.newEnd, file, "data of the working copy");
        blocks.push_back({size, size, old.blockFlags});
    } else {
        blocks = CutBlocks(layout.newEnd, StoredBlockSize(b.packing, layout.newEnd),
                           b.packing.firstBlockFlags);
    }
    const std::vector<uint8_t> info = BlockInfoBytes(fs, blocks);
    const uint32_t infoSize = Fit32(info.size(), file, "block info");
    // The data follows the block info, on a multiple of 16 when the archive pads its blocks.
    const uint64_t infoEnd = old.headerEnd + infoSize;
    const uint64_t dataStart = b.packing.blocksPadded ? AlignUp16(infoEnd) : infoEnd;
    const uint64_t length = dataStart + layout.newEnd;

    Writer head;
    head.Data().resize(old.headerEnd);
    if (work->ReadAt(0, head.Data().data(), head.Size()) != head.Size()) {
        throw KestrelError(file + ": the file ended inside the bundle's header");
    }
    head.PutU64BEAt(old.afterVersionsPos, length);
    head.PutU32BEAt(old.afterVersionsPos + 8, infoSize);
    head.PutU32BEAt(old.afterVersionsPos + 12, infoSize);
    head.Bytes(info.data(), info.size());
    head.Zeros(static_cast<size_t>(dataStart) - head.Size());
    plan.head = head.Take();

    fs.TotalSize = length;
    fs.CompressedBlockInfoSize = infoSize;
    fs.UncompressedBlockInfoSize = infoSize;
    fs.BlockCount = static_cast<uint32_t>(blocks.size());
    fs.NodeCount = static_cast<uint32_t>(fs.Nodes.size());
    if (!workIsCopy) {
        fs.Blocks = blocks;
        b.blocksStart = dataStart;
    }
    b.dataStart = dataStart;
    return plan;
}

} // namespace

BundleStructure WriteWorkFormat6(const BundleStructure& old,
                                 const std::shared_ptr<const ByteSource>& work,
                                 const std::vector<InnerReplacement>& changes, bool workIsCopy,
                                 OutputFile& out, WriteProgress& progress) {
    Format6Work plan = PlanWorkFormat6(old, work, changes, workIsCopy);
    out.Write(plan.head);
    progress.Add(plan.head.size());
    WriteDataArea(plan.layout, work, old.dataStart, out, progress);
    return std::move(plan.records);
}

std::pair<BundleStructure, std::shared_ptr<const ByteSource>>
SpliceWorkFormat6(const BundleStructure& old, const std::shared_ptr<const ByteSource>& work,
                  const std::vector<InnerReplacement>& changes) {
    Format6Work plan = PlanWorkFormat6(old, work, changes, true);
    auto spliced = std::make_shared<CompositeSource>(work->Name());
    spliced->Append(std::move(plan.head));
    AppendDataArea(*spliced, plan.layout, work, old.dataStart);
    return {std::move(plan.records), std::move(spliced)};
}

void PackFormat6(BundleStructure& records, const std::shared_ptr<const ByteSource>& work,
                 OutputFile& out, WriteProgress& progress) {
    const std::string& file = work->Name();
    const ArchivePacking p = PackingOf(records);
    const uint64_t length = work->Size() - records.dataStart;
    const uint8_t method = FSBlock{0, 0, p.firstBlockFlags}.Compression();
    std::vector<FSBlock> blocks;
    if (IsLz4(method)) {
        blocks = CutBlocks(length, kChunkBlockSize, p.firstBlockFlags);
    } else if (method == kBlockLzma) {
        const uint32_t size = Fit32(length, file, "LZMA block");
        blocks.push_back({size, size, p.firstBlockFlags});
    } else {
        blocks = CutBlocks(length, StoredBlockSize(p, length), p.firstBlockFlags);
    }
    const std::array<uint8_t, 4> flags = ArchiveFlags(p);
    const bool atEnd = (flags[3] & kInfoAtEndBit) != 0;
    const bool lz4Info = IsLz4(flags[3] & kInfoMethodMask);
    auto storedInfo = [&] {
        std::vector<uint8_t> info = BlockInfoBytes(records.FS, blocks);
        if (!lz4Info) return std::make_pair(info, info.size());
        std::vector<uint8_t> packed;
        LZ4EncodeBlock(info, packed);
        return std::make_pair(packed, info.size());
    };

    CopyBytes(work, 0, records.headerEnd, out, progress);
    auto padBlocks = [&] {
        if (p.blocksPadded) PadTo(out, AlignUp16(out.Position()));
    };
    std::pair<std::vector<uint8_t>, size_t> info;
    uint64_t blocksStart = 0;
    if (atEnd) {
        padBlocks();
        blocksStart = out.Position();
        WriteBlocks(work, records.dataStart, blocks, out, progress);
        info = storedInfo();
        out.Write(info.first);
    } else {
        // The block info comes first, and its stored size must be known before the blocks are
        // written. Uncompressed it does not depend on the compressed sizes; compressed with LZ4
        // it is stored as literals, whose length does not either. Room for it is left and it is
        // written once the blocks are.
        const size_t plainSize = BlockInfoBytes(records.FS, blocks).size();
        const uint64_t infoPos = out.Position();
        out.Write(std::vector<uint8_t>(lz4Info ? LZ4LiteralBlockSize(plainSize) : plainSize));
        padBlocks();
        blocksStart = out.Position();
        WriteBlocks(work, records.dataStart, blocks, out, progress);
        std::vector<uint8_t> stored = BlockInfoBytes(records.FS, blocks);
        if (lz4Info) {
            std::vector<uint8_t> literal;
            LZ4LiteralBlock(stored, literal);
            stored = std::move(literal);
        }
        info = {std::move(stored), plainSize};
        out.WriteAt(infoPos, info.first.data(), info.first.size());
    }
    const uint32_t storedSize = Fit32(info.first.size(), file, "block info");
    PutU64BE(out, records.afterVersionsPos, out.Position());
    PutU32BE(out, records.afterVersionsPos + 8, storedSize);
    PutU32BE(out, records.afterVersionsPos + 12, Fit32(info.second, file, "block info"));
    out.WriteAt(records.afterVersionsPos + 16, flags.data(), flags.size());

    for (auto& block : blocks)
        block.compressedSize = block.uncompressedSize;
    records.FS.Blocks = std::move(blocks);
    records.blocksStart = blocksStart;
    records.packing = p;
}

} // namespace kestrel::bundle_write
