// UnityRaw / UnityWeb bundles, format versions 1 to 3: a big-endian header with level pairs, then
// at HeaderSize the data (UnityWeb: one LZMA stream with an 8-byte size field) starting with the
// entry list. The level pairs are cumulative: each gives where its level ends in the compressed
// stream and in the data. After the pairs format 2 adds the complete file size, format 3 that and
// the size of the data's header; format 1 goes straight on to the zero byte that ends the header.
#include "bundle/BundleDetail.h"
#include "codec/Codecs.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

namespace kestrel::bundle_detail {

namespace {

// Passes the decoded bytes on to the working copy as they come, counts them and reports after
// each write; more bytes than the archive declares stop the decoding at once, so a stream that
// runs on never fills the disk.
class BoundedOutput : public ByteOutput {
public:
    BoundedOutput(ByteOutput& next, uint64_t limit, std::function<void()> report)
        : next_(next), limit_(limit), report_(std::move(report)) {}
    void Write(const void* data, size_t n) override {
        if (n > limit_ - written_) {
            throw KestrelError("the compressed data runs past the " + std::to_string(limit_) +
                               " bytes it declares");
        }
        next_.Write(data, n);
        written_ += n;
        report_();
    }
    uint64_t Written() const { return written_; }

private:
    ByteOutput& next_;
    uint64_t limit_;
    uint64_t written_ = 0;
    std::function<void()> report_;
};

// The size field of the LZMA stream at HeaderSize, when the file is long enough to hold it.
std::optional<uint64_t> DeclaredSize(const Reader& r, uint64_t headerSize) {
    if (headerSize > r.End() || r.End() - headerSize < 13) return std::nullopt;
    Reader field = r.Sub(headerSize + 5, 8, "LZMA size field");
    return field.U64LE("LZMA size field");
}

// Decompresses the data into path + ".TEMP": the header bytes as they are, then the decoded
// stream; FileSize, the last level pair and (from format 2 on) the complete-file-size field after
// the pairs are rewritten so that the copy reads as an uncompressed bundle.
void Decompress(Reader& r, ContainerInfo& info, BundleStructure& b) {
    auto& rw = b.RW;
    const std::string& file = r.Name();
    const uint64_t headerSize = rw.HeaderSize;
    const uint64_t lastPair = b.listPos + (uint64_t{rw.LevelCount} - 1) * 8;
    const uint64_t fieldsEnd = lastPair + 8 + (b.HasCompleteFileSize() ? 4 : 0);
    if (headerSize < fieldsEnd) {
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

    // Without a size in the stream (it ends with an end marker) the last level pair gives the
    // size the data must have.
    std::optional<uint64_t> size = declared;
    if (size && *size == UINT64_MAX) {
        size = rw.Levels.back().uncompressedSize;
        if (*size == 0) size.reset();
    }
    const uint64_t total = size ? headerSize + *size : UINT64_MAX;
    const std::unique_ptr<OutputFile> outFile = CreateWorkCopy(info, total);
    OutputFile& out = *outFile;
    CopyRange(r.Source(), 0, headerSize, out);
    SourceInput in(r.Source(), headerSize, r.End());
    FileOutput fileSink(out);
    BoundedOutput sink(fileSink, size.value_or(UINT32_MAX - headerSize),
                       [&] { ReportCopyProgress(info, out.Position(), total); });
    const auto endsEarly = [&] {
        return "the compressed data ends after " + std::to_string(sink.Written()) + " of the " +
               std::to_string(*size) + " bytes it declares";
    };
    try {
        LZMADecodeStream(in, sink, std::nullopt);
    } catch (const KestrelError& e) {
        const bool early =
            size && sink.Written() < *size && e.what() == std::string(kLzmaDataError);
        Damaged(file, headerSize, early ? endsEarly() + " (" + e.what() + ")" : e.what());
    }
    if (size && sink.Written() != *size) Damaged(file, headerSize, endsEarly());
    const uint64_t length = out.Position();
    if (length > UINT32_MAX)
        Damaged(file, headerSize, "decompressed data too large for the bundle");
    const auto length32 = static_cast<uint32_t>(length);
    const auto dataSize = static_cast<uint32_t>(length - headerSize);
    PutU32BE(out, b.afterVersionsPos, length32);
    PutU32BE(out, lastPair, dataSize);
    PutU32BE(out, lastPair + 4, dataSize);
    if (b.HasCompleteFileSize()) PutU32BE(out, lastPair + 8, length32);
    out.Close();

    rw.FileSize = length32;
    rw.Levels.back() = {dataSize, dataSize};
    info.work = FileSource::Open(info.workFileName, info.options.shownName);
}

void ReadEntries(ContainerInfo& info, BundleStructure& b) {
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

void ReadRawWeb(Reader& r, ContainerInfo& info, BundleStructure& b) {
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
