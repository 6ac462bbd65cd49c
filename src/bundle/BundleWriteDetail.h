#pragma once
// Shared by the archive writer's source files; not part of the container's interface.
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleDetail.h"
#include "io/ByteSource.h"
#include "io/CompositeSource.h"
#include "io/ResourceFile.h"
#include "io/Writer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::bundle_write {

// Counts the bytes a write has moved, for the caller's progress callback.
struct WriteProgress {
    std::function<void(uint64_t done, uint64_t total)> report;
    uint64_t done = 0;
    uint64_t total = 0;
    void Add(uint64_t bytes) {
        done += bytes;
        if (report) report(std::min(done, total), total);
    }
};

// One inner file in the data area, positions relative to the start of the data area.
struct LaidEntry {
    uint64_t oldOffset = 0;
    uint64_t oldSize = 0;
    uint64_t newOffset = 0;
    uint64_t newSize = 0;
    std::shared_ptr<const ByteSource> replacement; // null: the old bytes stay
};

// The data area of the new working file: every inner file (in directory order) moved by the size
// changes of the inner files before it in the file, the bytes between them kept.
struct DataLayout {
    std::vector<LaidEntry> entries;
    uint64_t begin = 0;  // the walk starts here (formats 1 to 3: after the entry list)
    uint64_t oldEnd = 0; // length of the old data area
    uint64_t newEnd = 0; // length of the new data area
};

// Plans the new data area. `entries` hold old offsets and sizes; raises when a replacement names
// no entry or two inner files overlap (the bytes of one would be written twice).
DataLayout PlanLayout(std::vector<LaidEntry> entries, const std::vector<InnerReplacement>& changes,
                      uint64_t begin, uint64_t oldEnd, const std::string& file);

// Appends [layout.begin, newEnd) of the new data area to `out` without copying: old bytes of
// `work` at dataStart + their old position, and the replacements, in order.
void AppendDataArea(CompositeSource& out, const DataLayout& layout,
                    const std::shared_ptr<const ByteSource>& work, uint64_t dataStart);

// Writes [layout.begin, newEnd) of the new data area to the end of `out`, reading the old bytes
// from `work` at dataStart + their old position and every replacement in chunks.
void WriteDataArea(const DataLayout& layout, const std::shared_ptr<const ByteSource>& work,
                   uint64_t dataStart, OutputFile& out, WriteProgress& progress);

// Copies [pos, pos + size) of `source` to the end of `out` in chunks.
void CopyBytes(const std::shared_ptr<const ByteSource>& source, uint64_t pos, uint64_t size,
               OutputFile& out, WriteProgress& progress);

using bundle_detail::PutU32BE;
using bundle_detail::PutU64BE;

// Raises the error of a value that does not fit a 32-bit field of the bundle.
uint32_t Fit32(uint64_t value, const std::string& file, const std::string& what);

// UnityRaw / UnityWeb (formats 1 to 3): writes the new working file to `out` and returns the
// records describing it.
BundleStructure WriteWorkRawWeb(const BundleStructure& old,
                                const std::shared_ptr<const ByteSource>& work,
                                const std::vector<InnerReplacement>& changes, OutputFile& out,
                                WriteProgress& progress);

// UnityWeb (formats 1 to 3): the compressed archive (header, one LZMA stream with its 8-byte size
// field) from the new working file; updates nothing in the records but the sizes the archive keeps.
void PackRawWeb(const BundleStructure& records, const std::shared_ptr<const ByteSource>& work,
                OutputFile& out, WriteProgress& progress);

// Format 6: writes the new working file to `out` and returns the records describing it. A copy
// keeps one uncompressed block; an archive read in place gets its stored blocks cut anew.
BundleStructure WriteWorkFormat6(const BundleStructure& old,
                                 const std::shared_ptr<const ByteSource>& work,
                                 const std::vector<InnerReplacement>& changes, bool workIsCopy,
                                 OutputFile& out, WriteProgress& progress);

// Format 6, a working copy: the records of the new working file and its bytes, put together from
// the old working file and the replacements without writing them.
std::pair<BundleStructure, std::shared_ptr<const ByteSource>>
SpliceWorkFormat6(const BundleStructure& old, const std::shared_ptr<const ByteSource>& work,
                  const std::vector<InnerReplacement>& changes);

// Format 6: the archive re-packed from the new working file with the packing it was opened with,
// in one pass over it. Updates the block records and blocksStart of `records`.
void PackFormat6(BundleStructure& records, const std::shared_ptr<const ByteSource>& work,
                 OutputFile& out, WriteProgress& progress);

// The packing of the archive the records were read from (see ArchivePacking).
ArchivePacking PackingOf(const BundleStructure& records);

// New pieces of a split archive, written under temporary names beside the old ones and committed
// all at once through a journal (see FinishPieceCommit).
class PieceSet {
public:
    // firstPiece: the ".split0" name the archive was opened by.
    explicit PieceSet(const std::string& firstPiece);
    ~PieceSet();
    PieceSet(const PieceSet&) = delete;
    PieceSet& operator=(const PieceSet&) = delete;

    // Cuts `source` into pieces of kPieceSize bytes (the last shorter), each flushed to disk.
    void CutFrom(const std::shared_ptr<const ByteSource>& source, WriteProgress& progress);
    // Puts the new pieces in place of the old ones (oldCount of them) and deletes the old pieces
    // beyond the new count. Returns the new count.
    uint32_t Commit(uint32_t oldCount);

    static constexpr uint64_t kPieceSize = kSplitPieceSize; // as resource pieces are cut

private:
    std::string dir_;
    std::string pieceStem_; // file name of a piece without its number ("NAME.split")
    std::string journal_;   // file name of the commit journal
    std::vector<std::string> temps_;
    bool committed_ = false;
};

// The test hook of SetArchiveWriteHookForTesting, and running it for a step.
std::function<void(const std::string&)>& Hook();
void Step(const char* name);

} // namespace kestrel::bundle_write
