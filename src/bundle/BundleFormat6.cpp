// UnityFS bundles, format versions 6 to 8: a big-endian header, the block info (LZ4-compressed or
// stored after the header, or stored at the end of the file), then the data blocks. When anything
// is compressed the bundle is rewritten into a ".TEMP" copy: the header, the block info reduced to
// one uncompressed block, and the decoded data. The engines from 2019.4 on pad the header to a
// multiple of 16 and may pad the block info too (see ModernFlags).
#include <algorithm>

#include "bundle/BundleDetail.h"
#include "codec/Codecs.h"
#include "common/CoreBudget.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

namespace kestrel::bundle_detail {

namespace {

constexpr uint8_t kInfoLz4 = 0x42;
constexpr uint8_t kInfoLz4HC = 0x43;
constexpr uint8_t kInfoAtEnd = 0xC0;
constexpr uint8_t kUncompressedFlag = 0x40;

bool IsLz4Block(const FSBlock& block) {
    return block.Compression() == kBlockLz4 || block.Compression() == kBlockLz4HC;
}

void ReadHeader(Reader& r, BundleStructure& b) {
    auto& fs = b.FS;
    b.PlayerVersion = r.CString(16, "player version");
    b.EngineVersion = r.CString(16, "engine version");
    b.afterVersionsPos = r.Pos();
    fs.TotalSize = r.U64BE("total size");
    fs.CompressedBlockInfoSize = r.U32BE("compressed block info size");
    fs.UncompressedBlockInfoSize = r.U32BE("uncompressed block info size");
    r.Bytes(fs.Flags.data(), fs.Flags.size(), "flags");
    b.flagsWord = LoadU32(fs.Flags.data(), Endian::Big);
    b.modernLayout = UsesModernLayout(b.FormatVersion, b.EngineVersion);
    if (b.modernLayout) {
        ReadModernFlags(r, b);
    } else {
        r.Skip(fs.Flags[2], "header padding");
    }
    b.savedFlags = fs.Flags;
    b.headerEnd = r.Pos();
}

// The header bytes followed by the uncompressed block info, as the working copy starts.
std::vector<uint8_t> BlockInfoImage(Reader& r, BundleStructure& b) {
    if (b.modernLayout) return ModernBlockInfoImage(r, b);
    auto& fs = b.FS;
    b.blockInfoPos = b.headerEnd;
    r.Seek(0);
    std::vector<uint8_t> image = r.Bytes(b.headerEnd, "header");
    const uint8_t where = fs.Flags[3];
    if (where == kInfoLz4 || where == kInfoLz4HC) {
        const uint64_t packedSize = BlockBytesInArchive(fs.CompressedBlockInfoSize);
        const std::vector<uint8_t> packed = r.Bytes(packedSize, "compressed block info");
        try {
            LZ4DecodeBlock(packed, fs.CompressedBlockInfoSize, fs.UncompressedBlockInfoSize, image);
        } catch (const KestrelError& e) {
            Damaged(r.Name(), b.headerEnd, e.what());
        }
        b.blockInfoRewritten = true;
        b.savedFlags[3] = kUncompressedFlag;
    } else if (where == kInfoAtEnd) {
        b.blockInfoAtEnd = true;
        if (fs.CompressedBlockInfoSize > r.End() - b.headerEnd) {
            Damaged(r.Name(), b.afterVersionsPos + 8, "block info larger than the file");
        }
        b.blockInfoPos = r.End() - fs.CompressedBlockInfoSize;
        Reader tail = r.Sub(r.End() - fs.CompressedBlockInfoSize, fs.CompressedBlockInfoSize,
                            "block info at the end");
        const std::vector<uint8_t> info = tail.Bytes(fs.CompressedBlockInfoSize, "block info");
        image.insert(image.end(), info.begin(), info.end());
        b.blockInfoRewritten = true;
        fs.Flags[3] = kUncompressedFlag;
        b.savedFlags[3] = kUncompressedFlag;
    } else {
        const std::vector<uint8_t> info = r.Bytes(fs.CompressedBlockInfoSize, "block info");
        image.insert(image.end(), info.begin(), info.end());
    }
    b.blocksStart = r.Pos();
    return image;
}

void ParseBlockInfo(const std::shared_ptr<const ByteSource>& image, BundleStructure& b) {
    auto& fs = b.FS;
    Reader r(image, Endian::Big);
    r.Seek(b.headerEnd);
    r.Bytes(fs.Hash.data(), fs.Hash.size(), "block info hash");
    fs.BlockCount = r.U32BE("block count");
    b.listPos = r.Pos();
    r.Require(uint64_t{fs.BlockCount} * 10, "block table");
    fs.Blocks.resize(fs.BlockCount);
    for (auto& block : fs.Blocks) {
        block.uncompressedSize = r.U32BE("block uncompressed size");
        block.compressedSize = r.U32BE("block compressed size");
        r.Bytes(block.flags.data(), block.flags.size(), "block flags");
        if (block.Compression() != kBlockStored) b.dataCompressed = true;
    }
    fs.NodeCount = r.U32BE("node count");
    // A node takes at least 21 bytes: offset, size, flags and an empty name's NUL.
    r.Require(uint64_t{fs.NodeCount} * 21, "node table");
    fs.Nodes.resize(fs.NodeCount);
    for (auto& node : fs.Nodes) {
        node.Offset = r.U64BE("node offset");
        node.Size = r.U64BE("node size");
        node.Flags = r.U32BE("node flags");
        node.Name = r.CString(kMaxInnerNameLength, "node name");
    }
}

// The block table cut to its first entry, followed by the node list written anew.
void ReduceToOneBlock(std::vector<uint8_t>& image, BundleStructure& b) {
    Writer w(Endian::Big);
    w.Data().assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(b.listPos + 10));
    w.PutU32BEAt(b.listPos - 4, 1);
    w.U32BE(b.FS.NodeCount);
    for (const auto& node : b.FS.Nodes) {
        w.U64BE(node.Offset);
        w.U64BE(node.Size);
        w.U32BE(node.Flags);
        w.CString(node.Name);
    }
    image = w.Take();
}

uint64_t TotalUncompressed(const BundleStructure& b) {
    uint64_t total = 0;
    for (const auto& block : b.FS.Blocks)
        total += block.uncompressedSize;
    return total;
}

// Every block must lie inside the archive before anything is written.
void CheckBlocksInside(const Reader& r, const BundleStructure& b) {
    uint64_t pos = b.blocksStart;
    for (const auto& block : b.FS.Blocks) {
        const uint64_t bytes = BlockBytesInArchive(block.compressedSize);
        if (block.Compression() > kBlockLz4HC) {
            Damaged(r.Name(), b.listPos,
                    "block compression " + std::to_string(block.Compression()) + " is unknown");
        }
        // An LZ4 block's declared size reaching past the data has a message of its own.
        if (IsLz4Block(block) && (pos > r.End() || bytes > r.End() - pos))
            Damaged(r.Name(), pos, kLz4SizeError);
        // Nor may it declare more bytes than its packed ones can give: the decode's buffer is
        // taken at the declared size.
        if (IsLz4Block(block) &&
            block.uncompressedSize > std::max(LZ4MaxDecodedSize(bytes), bytes)) {
            Damaged(r.Name(), pos, kLz4SizeError);
        }
        r.Sub(pos, bytes, "data block");
        if (block.Compression() == kBlockStored && bytes != block.uncompressedSize) {
            Damaged(r.Name(), b.listPos,
                    "stored block of " + std::to_string(bytes) + " bytes declares " +
                        std::to_string(block.uncompressedSize));
        }
        pos += bytes;
    }
}

// Decodes the blocks in order to the end of `out`. Runs of LZ4 blocks go a batch at a time to every
// spare core, each block read, decoded and written at its own place by one of them; memory stays
// at one batch.
void DecodeBlocks(Reader& r, const BundleStructure& b, OutputFile& out,
                  const std::function<void()>& blockDone) {
    constexpr size_t kBatch = 16;
    constexpr uint64_t kBatchBytes = 64 << 20;
    const std::vector<FSBlock>& blocks = b.FS.Blocks;
    std::vector<std::vector<uint8_t>> packed(kBatch);
    std::vector<std::vector<uint8_t>> plain(kBatch);
    std::vector<uint64_t> at(kBatch); // where each block of a batch lies in the archive
    std::vector<uint64_t> to(kBatch); // and where it goes in the working copy
    uint64_t pos = b.blocksStart;
    for (size_t i = 0; i < blocks.size();) {
        const FSBlock& block = blocks[i];
        if (!IsLz4Block(block)) {
            const uint64_t bytes = BlockBytesInArchive(block.compressedSize);
            try {
                if (block.Compression() == kBlockLzma) {
                    SourceInput in(r.Source(), pos, pos + bytes);
                    FileOutput sink(out);
                    LZMADecodeStream(in, sink, block.uncompressedSize);
                } else {
                    CopyRange(r.Source(), pos, bytes, out);
                }
            } catch (const KestrelError& e) {
                Damaged(r.Name(), pos, e.what());
            }
            pos += bytes;
            ++i;
            blockDone();
            continue;
        }
        size_t n = 0;
        uint64_t written = out.Position();
        // A batch holds at most kBatch blocks and, past its first, kBatchBytes of decoded data.
        for (; n < kBatch && i + n < blocks.size() && IsLz4Block(blocks[i + n]) &&
               (n == 0 || written - to[0] + blocks[i + n].uncompressedSize <= kBatchBytes);
             ++n) {
            at[n] = pos;
            to[n] = written;
            pos += BlockBytesInArchive(blocks[i + n].compressedSize);
            written += blocks[i + n].uncompressedSize;
        }
        const ByteSource& source = *r.Source();
        RunOnCores(n, [&](size_t k) {
            const FSBlock& lz4 = blocks[i + k];
            try {
                // Every block was checked to lie inside the archive.
                packed[k].resize(static_cast<size_t>(BlockBytesInArchive(lz4.compressedSize)));
                if (source.ReadAt(at[k], packed[k].data(), packed[k].size()) != packed[k].size())
                    throw KestrelError("the file ended inside the LZ4 block");
                plain[k].resize(lz4.uncompressedSize);
                LZ4DecodeBlock(packed[k], lz4.compressedSize, plain[k]);
            } catch (const KestrelError& e) {
                Damaged(r.Name(), at[k], e.what());
            }
            out.WriteAt(to[k], plain[k].data(), plain[k].size());
        });
        out.Seek(written);
        for (size_t k = 0; k < n; ++k)
            blockDone();
        i += n;
    }
}

void WriteWorkCopy(Reader& r, ContainerInfo& info, BundleStructure& b, std::vector<uint8_t> image) {
    auto& fs = b.FS;
    if (fs.BlockCount == 0) Damaged(r.Name(), b.listPos - 4, "bundle without data blocks");
    const uint64_t total = TotalUncompressed(b);
    if (total > UINT32_MAX) {
        Damaged(r.Name(), b.listPos,
                std::to_string(total) + " bytes of data do not fit one block of the working copy");
    }
    CheckBlocksInside(r, b);
    if (fs.BlockCount > 1) ReduceToOneBlock(image, b);
    fs.UncompressedBlockInfoSize = static_cast<uint32_t>(image.size() - b.headerEnd);
    // The copy keeps the padding rule of its archive: its one block starts on a multiple of 16.
    if (b.blocksPadded) image.resize(static_cast<size_t>(AlignUp16(image.size())), 0);

    const uint64_t declared = image.size() + total;
    const std::unique_ptr<OutputFile> outFile = CreateWorkCopy(info, declared);
    OutputFile& out = *outFile;
    out.Write(image);
    DecodeBlocks(r, b, out, [&] { ReportCopyProgress(info, out.Position(), declared); });
    const uint64_t length = out.Position();
    const auto single = static_cast<uint32_t>(length - image.size());
    PutU64BE(out, b.afterVersionsPos, length);
    PutU32BE(out, b.afterVersionsPos + 8, fs.UncompressedBlockInfoSize);
    PutU32BE(out, b.afterVersionsPos + 12, fs.UncompressedBlockInfoSize);
    out.WriteAt(b.afterVersionsPos + 16, b.savedFlags.data(), b.savedFlags.size());
    PutU32BE(out, b.listPos, single);
    PutU32BE(out, b.listPos + 4, single);
    out.WriteAt(b.listPos + 8, b.blockFlags.data(), b.blockFlags.size());
    out.Close();

    fs.TotalSize = length;
    fs.CompressedBlockInfoSize = fs.UncompressedBlockInfoSize;
    fs.BlockCount = 1;
    for (auto& block : fs.Blocks)
        block.compressedSize = block.uncompressedSize;
    b.dataStart = image.size();
    info.work = FileSource::Open(info.workFileName, info.options.shownName);
}

} // namespace

void ReadFormat6(Reader& r, ContainerInfo& info, BundleStructure& b) {
    ReadHeader(r, b);
    auto image = std::make_shared<MemorySource>(r.Name() + " (block info)", BlockInfoImage(r, b));
    ParseBlockInfo(image, b);
    const uint64_t total = TotalUncompressed(b);
    if (b.blockInfoRewritten || b.dataCompressed) {
        WriteWorkCopy(r, info, b, image->Bytes());
    } else {
        b.dataStart = b.blocksStart;
        if (total > r.End() - std::min(b.blocksStart, r.End())) {
            Damaged(r.Name(), b.blocksStart,
                    "data blocks of " + std::to_string(total) +
                        " bytes run past the end of the file");
        }
    }
    CheckEntriesInside(b, b.dataStart + total, info.options.shownName);
}

} // namespace kestrel::bundle_detail
