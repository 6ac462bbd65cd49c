#include "support/BundleBuilder.h"

#include "codec/Codecs.h"
#include "io/ByteStreams.h"
#include "io/Writer.h"

#include <algorithm>
#include <climits>
#include <lz4.h>
#include <lz4hc.h>
#include <lzma.h>
#include <stdexcept>

namespace kestrel::test {

namespace {

struct Block {
    uint32_t uncompressedSize = 0;
    uint32_t compressedSize = 0;
    uint8_t storage = 0;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Lz4Raw(std::span<const uint8_t> src, bool high) {
    std::vector<uint8_t> out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(src.size()))));
    const auto* in = reinterpret_cast<const char*>(src.data());
    auto* dst = reinterpret_cast<char*>(out.data());
    const int n = high ? LZ4_compress_HC(in, dst, static_cast<int>(src.size()),
                                         static_cast<int>(out.size()), LZ4HC_CLEVEL_DEFAULT)
                       : LZ4_compress_default(in, dst, static_cast<int>(src.size()),
                                              static_cast<int>(out.size()));
    if (n <= 0) throw std::runtime_error("LZ4 compression failed in the bundle builder");
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<uint8_t> LzmaWithProject(std::span<const uint8_t> src, uint64_t sizeField) {
    std::vector<uint8_t> out;
    SpanInput in(src);
    VectorOutput sink(out);
    LZMAEncodeStream(in, sink, sizeField);
    return out;
}

// The "alone" layout as liblzma writes it (with end marker), its size field filled in.
std::vector<uint8_t> LzmaAloneWithEndMarker(std::span<const uint8_t> src) {
    lzma_options_lzma opt{};
    lzma_lzma_preset(&opt, 6);
    opt.dict_size = 0x80000;
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&s, &opt) != LZMA_OK) throw std::runtime_error("lzma_alone_encoder");
    std::vector<uint8_t> out(src.size() + src.size() / 2 + 4096);
    s.next_in = src.data();
    s.avail_in = src.size();
    s.next_out = out.data();
    s.avail_out = out.size();
    const lzma_ret ret = lzma_code(&s, LZMA_FINISH);
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    if (ret != LZMA_STREAM_END) throw std::runtime_error("LZMA compression failed in the builder");
    for (int i = 0; i < 8; ++i)
        out[5 + i] = static_cast<uint8_t>(uint64_t{src.size()} >> (8 * i));
    return out;
}

Block MakeBlock(std::span<const uint8_t> chunk, BlockKind kind) {
    Block b;
    b.uncompressedSize = static_cast<uint32_t>(chunk.size());
    switch (kind) {
    case BlockKind::Stored:
    case BlockKind::StoredZero:
        b.storage = kind == BlockKind::Stored ? 0x40 : 0x00;
        b.bytes.assign(chunk.begin(), chunk.end());
        b.compressedSize = b.uncompressedSize;
        break;
    case BlockKind::Lz4:
    case BlockKind::Lz4HC:
        b.storage = kind == BlockKind::Lz4 ? 2 : 3;
        b.bytes = Lz4Raw(chunk, kind == BlockKind::Lz4HC);
        b.compressedSize = static_cast<uint32_t>(b.bytes.size());
        break;
    case BlockKind::Lz4StoredBit:
        b.storage = 3;
        b.bytes.assign(chunk.begin(), chunk.end());
        b.compressedSize = b.uncompressedSize | kStoredBlockBit;
        break;
    case BlockKind::Lzma:
        b.storage = 0x41;
        b.bytes = LzmaWithProject(chunk, 0);
        b.compressedSize = static_cast<uint32_t>(b.bytes.size());
        break;
    }
    return b;
}

std::vector<uint8_t> Concat(const std::vector<InnerFile>& files, std::vector<uint64_t>& offsets) {
    std::vector<uint8_t> data;
    for (const auto& f : files) {
        offsets.push_back(data.size());
        data.insert(data.end(), f.bytes.begin(), f.bytes.end());
    }
    return data;
}

uint8_t InfoFlagByte(BlockInfoKind kind) {
    switch (kind) {
    case BlockInfoKind::StoredAtStart:
        return 0x40;
    case BlockInfoKind::Lz4AtStart:
        return 0x42;
    case BlockInfoKind::Lz4HCAtStart:
        return 0x43;
    case BlockInfoKind::StoredAtEnd:
        return 0xC0;
    }
    return 0x40;
}

} // namespace

BuiltBundle BuildUnityFS(const std::vector<InnerFile>& files, const UnityFSOptions& o) {
    std::vector<uint64_t> nodeOffsets;
    const std::vector<uint8_t> data = Concat(files, nodeOffsets);
    std::vector<Block> blocks;
    for (size_t pos = 0; pos < data.size();
         pos += std::min<size_t>(o.blockSize, data.size() - pos)) {
        const size_t n = std::min<size_t>(o.blockSize, data.size() - pos);
        blocks.push_back(MakeBlock(std::span<const uint8_t>(data).subspan(pos, n), o.blocks));
        if (o.streamedBit == StreamedBit::Cleared) blocks.back().storage &= 0x3F;
        if (o.streamedBit == StreamedBit::Set) blocks.back().storage |= 0x40;
    }

    Writer info(Endian::Big);
    info.Bytes(o.hash.data(), o.hash.size());
    info.U32BE(static_cast<uint32_t>(blocks.size()));
    for (const auto& b : blocks) {
        info.U32BE(b.uncompressedSize);
        info.U32BE(b.compressedSize);
        info.U8(0);
        info.U8(b.storage);
    }
    info.U32BE(static_cast<uint32_t>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        info.U64BE(nodeOffsets[i]);
        info.U64BE(files[i].bytes.size());
        info.U32BE(files[i].flags);
        info.CString(files[i].name);
    }
    const bool lz4Info =
        o.blockInfo == BlockInfoKind::Lz4AtStart || o.blockInfo == BlockInfoKind::Lz4HCAtStart;
    const std::vector<uint8_t> storedInfo =
        lz4Info ? Lz4Raw(info.Data(), o.blockInfo == BlockInfoKind::Lz4HCAtStart) : info.Data();
    const bool modern = o.formatVersion >= 7;
    auto pad16 = [](Writer& to) { to.Zeros((16 - to.Size() % 16) % 16); };

    Writer w(Endian::Big);
    w.CString("UnityFS");
    w.U32BE(o.formatVersion);
    w.CString(o.playerVersion);
    w.CString(o.engineVersion);
    const size_t afterVersions = w.Size();
    w.U64BE(0); // total size, set below
    w.U32BE(static_cast<uint32_t>(storedInfo.size()));
    w.U32BE(static_cast<uint32_t>(info.Size()));
    w.U32BE((uint32_t{o.headerPadding} << 8) | (o.padBlocks ? 0x200u : 0u) |
            InfoFlagByte(o.blockInfo));
    w.Zeros(o.headerPadding);
    if (modern) pad16(w);
    BuiltBundle out;
    const bool atEnd = o.blockInfo == BlockInfoKind::StoredAtEnd;
    const auto putInfo = [&] {
        for (size_t k = 0; k < blocks.size(); ++k)
            out.recordAt.push_back(w.Size() + 20 + 10 * k);
        w.Bytes(storedInfo.data(), storedInfo.size());
    };
    if (!atEnd) putInfo();
    if (o.padBlocks) pad16(w);
    const uint64_t blocksStart = w.Size();
    for (const auto& b : blocks) {
        out.blockAt.push_back(w.Size());
        w.Bytes(b.bytes.data(), b.bytes.size());
    }
    if (atEnd) putInfo();
    w.PutU64BEAt(afterVersions, w.Size());

    for (uint64_t off : nodeOffsets)
        out.innerOffsets.push_back(blocksStart + off);
    out.bytes = w.Take();
    return out;
}

BuiltBundle ExpectedWorkCopyFS(const std::vector<InnerFile>& files, const UnityFSOptions& options) {
    UnityFSOptions copy = options;
    copy.blocks = BlockKind::Stored;
    copy.blockInfo = BlockInfoKind::StoredAtStart;
    copy.blockSize = UINT32_MAX;
    return BuildUnityFS(files, copy);
}

BuiltBundle BuildUnityRW(const std::vector<InnerFile>& files, const UnityRWOptions& o) {
    Writer dir(Endian::Big);
    size_t dirSize = 4;
    for (const auto& f : files)
        dirSize += f.name.size() + 1 + 8;
    dir.U32BE(static_cast<uint32_t>(files.size()));
    std::vector<uint64_t> offsets;
    uint64_t next = dirSize;
    for (const auto& f : files) {
        dir.CString(f.name);
        dir.U32BE(static_cast<uint32_t>(next));
        dir.U32BE(static_cast<uint32_t>(f.bytes.size()));
        offsets.push_back(next);
        next += f.bytes.size();
    }
    for (const auto& f : files)
        dir.Bytes(f.bytes.data(), f.bytes.size());
    const std::vector<uint8_t>& data = dir.Data();
    const std::vector<uint8_t> stored =
        !o.compressed
            ? data
            : (o.lzmaEndMarker ? LzmaAloneWithEndMarker(data)
                               : LzmaWithProject(data, o.claimedSize.value_or(data.size())));
    const uint32_t claimed = o.claimedSize.value_or(static_cast<uint32_t>(data.size()));

    Writer w(Endian::Big);
    w.CString(o.signature);
    w.U32BE(o.formatVersion);
    w.CString(o.playerVersion);
    w.CString(o.engineVersion);
    const size_t afterVersions = w.Size();
    w.U32BE(0); // file size, set below
    w.U32BE(0); // header size, set below
    w.U32BE(o.levelCount);
    w.U32BE(o.levelCount);
    for (uint32_t i = 0; i + 1 < o.levelCount; ++i) {
        w.U32BE(1000 * (i + 1));
        w.U32BE(2000 * (i + 1));
    }
    if (o.levelCount > 0) {
        w.U32BE(static_cast<uint32_t>(stored.size()));
        w.U32BE(claimed);
    }
    const size_t completeSize = w.Size();
    if (o.formatVersion >= 2) w.U32BE(0);
    if (o.formatVersion < 3) w.U8(0);
    const auto headerSize = static_cast<uint32_t>(w.Size());
    w.Bytes(stored.data(), stored.size());
    const auto total = static_cast<uint32_t>(w.Size());
    w.PutU32BEAt(afterVersions, total);
    w.PutU32BEAt(afterVersions + 4, headerSize);
    if (o.formatVersion >= 2) w.PutU32BEAt(completeSize, total);

    BuiltBundle out;
    for (uint64_t off : offsets)
        out.innerOffsets.push_back(headerSize + off);
    out.bytes = w.Take();
    return out;
}

BuiltBundle ExpectedWorkCopyRW(const std::vector<InnerFile>& files, const UnityRWOptions& options) {
    UnityRWOptions copy = options;
    copy.compressed = false;
    return BuildUnityRW(files, copy);
}

uint32_t WriteSplitPieces(const std::filesystem::path& base, const std::vector<uint8_t>& bytes,
                          size_t pieceSize) {
    uint32_t n = 0;
    size_t pos = 0;
    do {
        const size_t len = std::min(pieceSize, bytes.size() - pos);
        WriteWholeFile(base.string() + ".split" + std::to_string(n), bytes.data() + pos, len);
        pos += len;
        ++n;
    } while (pos < bytes.size());
    return n;
}

std::vector<uint8_t> MinimalAssetsFile(const std::string& engineVersion, size_t padding) {
    Writer w(Endian::Little);
    w.Zeros(16); // metadata size, file size, format version, data offset: set below
    w.U32LE(0);  // endianness: little
    w.CString(engineVersion);
    w.U32LE(5); // target platform
    w.U8(0);    // no type trees
    w.U32LE(0); // type count
    w.U32LE(0); // object count
    w.Align4();
    const auto dataOffset = static_cast<uint32_t>(w.Size());
    const std::vector<uint8_t> tail = NoiseBytes(padding, 7);
    w.Bytes(tail.data(), tail.size());
    w.PutU32BEAt(0, dataOffset - 20);
    w.PutU32BEAt(4, static_cast<uint32_t>(w.Size()));
    w.PutU32BEAt(8, 15);
    w.PutU32BEAt(12, dataOffset);
    return w.Take();
}

std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> out(count);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

} // namespace kestrel::test
