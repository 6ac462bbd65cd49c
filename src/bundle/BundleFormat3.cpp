// UnityRaw / UnityWeb bundles, format version 3: a big-endian header with level pairs, then at
// HeaderSize the data (UnityWeb: one LZMA stream with an 8-byte size field) starting with the
// entry list.
#include "bundle/BundleDetail.h"
#include "codec/Codecs.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

namespace kestrel::bundle_detail {

namespace {

// Passes bytes on to another output and reports after each write.
class ProgressOutput : public ByteOutput {
public:
    ProgressOutput(ByteOutput& next, std::function<void(uint64_t)> report)
        : next_(next), report_(std::move(report)) {}
    void Write(const void* data, size_t n) override {
        next_.Write(data, n);
        report_(n);
    }

private:
    ByteOutput& next_;
    std::function<void(uint64_t)> report_;
};

// The size field of the LZMA stream at HeaderSize, when the file is long enough to hold it.
std::optional<uint64_t> DeclaredSize(const Reader& r, uint64_t headerSize) {
    if (headerSize > r.End() || r.End() - headerSize < 13) return std::nullopt;
    Reader field = r.Sub(headerSize + 5, 8, "LZMA size field");
    return field.U64LE("LZMA size field");
}

// Decompresses the data into path + ".TEMP": the header bytes as they are, then the decoded
// stream; FileSize, the last level pair and the complete-file-size field after the pairs are
// rewritten so that the copy reads as an uncompressed bundle.
void Decompress(Reader& r, ContainerInfo& info, Unity3D_Structure& b) {
    auto& rw = b.RW;
    const std::string& file = r.Name();
    const uint64_t headerSize = rw.HeaderSize;
    const uint64_t lastPair = b.listPos + (uint64_t{rw.LevelCount} - 1) * 8;
    if (headerSize < lastPair + 12) {
        Damaged(file, b.afterVersionsPos + 4,
                "header size " + std::to_string(headerSize) + " ends inside the header");
    }
    if (headerSize > r.End()) {
        Damaged(file, b.afterVersionsPos + 4,
                "header size " + std::to_string(headerSize) + " is beyond the end of the file");
    }
    const auto declared = DeclaredSize(r, headerSize);
    if (declared && *declared != UINT64_MAX && *declared > UINT32_MAX - headerSize) {
        Damaged(file, headerSize + 5,
                "uncompressed size " + std::to_string(*declared) + " does not fit the bundle");
    }

    const uint64_t total =
        declared && *declared != UINT64_MAX ? headerSize + *declared : UINT64_MAX;
    const std::unique_ptr<OutputFile> outFile = CreateWorkCopy(info, total);
    OutputFile& out = *outFile;
    CopyRange(r.Source(), 0, headerSize, out);
    SourceInput in(r.Source(), headerSize, r.End());
    FileOutput fileSink(out);
    ProgressOutput sink(fileSink,
                        [&](uint64_t) { ReportCopyProgress(info, out.Position(), total); });
    try {
        LZMADecodeStream(in, sink, std::nullopt);
    } catch (const KestrelError& e) {
        Damaged(file, headerSize, e.what());
    }
    const uint64_t length = out.Position();
    if (length > UINT32_MAX)
        Damaged(file, headerSize, "decompressed data too large for the bundle");
    const auto length32 = static_cast<uint32_t>(length);
    const auto dataSize = static_cast<uint32_t>(length - headerSize);
    PutU32BE(out, b.afterVersionsPos, length32);
    PutU32BE(out, lastPair, dataSize);
    PutU32BE(out, lastPair + 4, dataSize);
    PutU32BE(out, lastPair + 8, length32);
    out.Close();

    rw.FileSize = length32;
    rw.Levels.back() = {dataSize, dataSize};
    info.work = FileSource::Open(info.workFileName, info.options.shownName);
}

void ReadEntries(ContainerInfo& info, Unity3D_Structure& b) {
    auto& rw = b.RW;
    Reader r(info.work, Endian::Big);
    r.Seek(rw.HeaderSize, "entry list (header size)");
    rw.EntryCount = r.U32BE("entry count");
    // An entry takes at least 9 bytes: an empty name's NUL, offset and size.
    r.Require(uint64_t{rw.EntryCount} * 9, "entries");
    rw.Entries.resize(rw.EntryCount);
    for (auto& entry : rw.Entries) {
        entry.Name = r.CString(kMaxInnerNameLength, "entry name");
        entry.Offset = r.U32BE("entry offset");
        entry.Size = r.U32BE("entry size");
    }
    b.dataStart = rw.HeaderSize;
    CheckEntriesInside(b, info.work->Size(), info.options.shownName);
}

} // namespace

void ReadFormat3(Reader& r, ContainerInfo& info, Unity3D_Structure& b) {
    auto& rw = b.RW;
    b.PlayerVersion = r.CString(16, "player version");
    b.EngineVersion = r.CString(16, "engine version");
    b.afterVersionsPos = r.Pos();
    rw.FileSize = r.U32BE("file size");
    rw.HeaderSize = r.U32BE("header size");
    rw.LevelsToDownload = r.U32BE("levels to download");
    rw.LevelCount = r.U32BE("level count");
    b.listPos = r.Pos();
    r.Require(uint64_t{rw.LevelCount} * 8, "level pairs");
    rw.Levels.resize(rw.LevelCount);
    for (auto& level : rw.Levels) {
        level.compressedSize = r.U32BE("level compressed size");
        level.uncompressedSize = r.U32BE("level uncompressed size");
    }
    // UnityRaw is never compressed; without level pairs there is nothing that says it is.
    const bool compressed = b.Signature != "UnityRaw" && !rw.Levels.empty() &&
                            rw.Levels.back().compressedSize != rw.Levels.back().uncompressedSize;
    if (compressed) Decompress(r, info, b);
    ReadEntries(info, b);
}

} // namespace kestrel::bundle_detail
