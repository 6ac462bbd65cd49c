// UnityRaw / UnityWeb bundles, format versions 1 to 3, written back: the header with its sizes and
// level pairs, the entry list with the moved offsets, the data; a compressed archive as one LZMA
// stream.
#include "bundle/BundleWriteDetail.h"
#include "codec/Codecs.h"
#include "common/Error.h"
#include "io/ByteStreams.h"

namespace kestrel::bundle_write {

namespace {

// Reads a range of a source and counts what passed for the progress callback.
class CountingInput : public ByteInput {
public:
    CountingInput(const std::shared_ptr<const ByteSource>& source, uint64_t begin, uint64_t end,
                  WriteProgress& progress)
        : in_(source, begin, end), progress_(progress) {}
    size_t Read(void* dst, size_t n) override {
        const size_t got = in_.Read(dst, n);
        progress_.Add(got);
        return got;
    }

private:
    SourceInput in_;
    WriteProgress& progress_;
};

uint64_t EntryListSize(const Unity3D_RW_Structure& rw) {
    uint64_t size = 4;
    for (const auto& e : rw.Entries)
        size += e.Name.size() + 1 + 8;
    return size;
}

// A level pair other than the last ends at a position of the uncompressed data; the inner files
// that end at or before it belong to it, so their size changes move it.
void MoveLevels(Unity3D_RW_Structure& rw, const DataLayout& layout, const std::string& file) {
    for (size_t i = 0; i + 1 < rw.Levels.size(); ++i) {
        LevelPair& pair = rw.Levels[i];
        int64_t delta = 0;
        for (const auto& e : layout.entries) {
            if (e.oldOffset + e.oldSize <= pair.uncompressedSize) {
                delta += static_cast<int64_t>(e.newSize) - static_cast<int64_t>(e.oldSize);
            }
        }
        const int64_t unc = int64_t{pair.uncompressedSize} + delta;
        const int64_t comp = int64_t{pair.compressedSize} + delta;
        pair.uncompressedSize =
            Fit32(static_cast<uint64_t>(std::max<int64_t>(unc, 0)), file, "level size");
        pair.compressedSize =
            Fit32(static_cast<uint64_t>(std::max<int64_t>(comp, 0)), file, "level size");
    }
}

// Writes FileSize, the level pairs and (from format 2 on) the complete-file-size field after them
// into the header.
void PatchHeader(const BundleStructure& b, OutputFile& out) {
    const auto& rw = b.RW;
    PutU32BE(out, b.afterVersionsPos, rw.FileSize);
    for (size_t i = 0; i < rw.Levels.size(); ++i) {
        PutU32BE(out, b.listPos + 8 * i, rw.Levels[i].compressedSize);
        PutU32BE(out, b.listPos + 8 * i + 4, rw.Levels[i].uncompressedSize);
    }
    const uint64_t completeSizePos = b.listPos + 8 * uint64_t{rw.LevelCount};
    if (b.HasCompleteFileSize() && rw.LevelCount > 0 && completeSizePos + 4 <= rw.HeaderSize) {
        PutU32BE(out, completeSizePos, rw.FileSize);
    }
}

} // namespace

BundleStructure WriteWorkRawWeb(const BundleStructure& old,
                                const std::shared_ptr<const ByteSource>& work,
                                const std::vector<InnerReplacement>& changes, OutputFile& out,
                                WriteProgress& progress) {
    const std::string& file = work->Name();
    BundleStructure b = old;
    auto& rw = b.RW;
    const uint64_t headerSize = rw.HeaderSize;
    const uint64_t listSize = EntryListSize(rw);
    if (work->Size() < headerSize + listSize || rw.Levels.size() != rw.LevelCount) {
        throw KestrelError(file + ": the bundle's directory does not match the file");
    }
    std::vector<LaidEntry> entries;
    for (const auto& e : rw.Entries)
        entries.push_back({e.Offset, e.Size, 0, 0, nullptr});
    const DataLayout layout =
        PlanLayout(std::move(entries), changes, listSize, work->Size() - headerSize, file);

    rw.FileSize = Fit32(headerSize + layout.newEnd, file, "bundle");
    MoveLevels(rw, layout, file);
    if (!rw.Levels.empty()) {
        const uint32_t dataSize = rw.FileSize - rw.HeaderSize;
        rw.Levels.back() = {dataSize, dataSize};
    }
    Writer list(Endian::Big);
    list.U32BE(rw.EntryCount);
    for (size_t i = 0; i < rw.Entries.size(); ++i) {
        auto& e = rw.Entries[i];
        e.Offset = Fit32(layout.entries[i].newOffset, file, "inner file offset");
        e.Size = Fit32(layout.entries[i].newSize, file, "inner file \"" + e.Name + "\"");
        list.CString(e.Name);
        list.U32BE(e.Offset);
        list.U32BE(e.Size);
    }

    CopyBytes(work, 0, headerSize, out, progress);
    PatchHeader(b, out);
    out.Write(list.Data());
    WriteDataArea(layout, work, headerSize, out, progress);
    return b;
}

void PackRawWeb(const BundleStructure& records, const std::shared_ptr<const ByteSource>& work,
                OutputFile& out, WriteProgress& progress) {
    const std::string& file = work->Name();
    BundleStructure b = records;
    auto& rw = b.RW;
    const uint64_t headerSize = rw.HeaderSize;
    const uint64_t dataSize = work->Size() - headerSize;
    CopyBytes(work, 0, headerSize, out, progress);
    CountingInput in(work, headerSize, work->Size(), progress);
    FileOutput sink(out);
    LZMAEncodeStream(in, sink, dataSize);
    const uint64_t length = out.Position();
    rw.FileSize = Fit32(length, file, "compressed bundle");
    if (!rw.Levels.empty()) {
        rw.Levels.back() = {static_cast<uint32_t>(length - headerSize),
                            static_cast<uint32_t>(dataSize)};
    }
    PatchHeader(b, out);
}

} // namespace kestrel::bundle_write
