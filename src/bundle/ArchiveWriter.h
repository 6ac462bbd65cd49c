#pragma once
// Writing an archive back after an import: the container around the edited inner files (UnityRaw
// and UnityWeb formats 1 to 3, UnityFS format 6 and later), the recompressed archive of a
// compressed bundle, the split pieces. Every file that replaces the archive, a piece or the working
// file is written beside it under a temporary name, flushed and renamed over it only when complete.
#include "bundle/BundleTypes.h"
#include "io/ByteSource.h"
#include "io/FileLock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The whole new content of one inner file: an entry (formats 1 to 3) or node (format 6 on) of the
// bundle, by its index in InnerEntries(); index 0 for a plain assets file, whose only inner file is
// the whole file.
struct InnerReplacement {
    size_t entry = 0;
    std::shared_ptr<const ByteSource> bytes;
};

struct ArchiveWriteInput {
    std::string archiveName; // the archive as the user named it (a ".split0" name for pieces)
    std::string
        workFileName; // the working file: the archive itself, a ".TEMP" copy or joined pieces
    uint32_t splitPieceCount = 0; // > 0: the archive lies in pieces
    bool isBundle = false;
    BundleStructure* bundle = nullptr; // records as read at open; updated to describe the new file
    std::vector<InnerReplacement> replacements; // at most one per entry, in entry order
    std::function<void(uint64_t done, uint64_t total)> progress;
    uint32_t* splitPieceCountOut = nullptr; // when set: receives the number of pieces written
    // The bytes of the working file as the caller reads them (empty: the file workFileName
    // names). The new working file is written from these.
    std::shared_ptr<const ByteSource> work;
    // When set, receives the bytes of the new working file. A compressed bundle's working copy
    // read from the file itself is then not rewritten: the new content is read from the old copy
    // and the replacements (which it keeps), and the archive is packed from that in one pass.
    std::shared_ptr<const ByteSource>* workOut = nullptr;
};

// Writes the new working file (the old one with the replacements, every following entry moved by
// the size changes before it) and, when the working file is a copy, the archive and its pieces from
// it. Afterwards the working file (or *workOut) and `bundle` describe the new archive. Raises
// KestrelError on failure; the archive and each piece are then byte for byte the old ones (pieces
// whose commit had begun are completed into the new ones by the next open, see FinishPieceCommit).
// A compressed bundle (a ".TEMP" working copy) is re-packed with the packing of the archive as
// opened (ArchivePacking): LZ4 as blocks of 128 KiB, LZMA as one block, stored as stored; a
// UnityWeb bundle as one LZMA stream. Pieces are cut from the archive itself, 1 MiB each.
void WriteArchive(const ArchiveWriteInput& input);

// Completes a commit of new split pieces that a stopped run left half done: when the journal
// beside the pieces of `firstPiece` (a ".split0" name) exists, its renames and deletions are
// carried out and it is removed, so that every piece is the new one. Called before the pieces are
// joined. Raises KestrelError when the journal is damaged or a rename fails.
void FinishPieceCommit(const std::string& firstPiece);

// The name of the commit journal of the pieces of `firstPiece`: "NAME.kestrel-commit" beside
// "NAME.split0".
std::string PieceCommitJournal(const std::string& firstPiece);

// The stable lock file of an archive: "ARCHIVE.kestrel-lock" beside it ("NAME.kestrel-lock"
// beside "NAME.split0" for pieces). Byte kImportLockByte is held exclusively for a whole import;
// byte kPiecesLockByte is held exclusively while new pieces are put in place and shared while
// pieces are read, so that no reader joins a mix of old and new pieces.
std::string ArchiveLockFile(const std::string& archive);
inline constexpr uint32_t kImportLockByte = 0;
inline constexpr uint32_t kPiecesLockByte = 1;

// Holds the pieces of `firstPiece` for reading: a shared lock on the pieces' byte of their lock
// file, after completing a commit that a stopped run left half done (FinishPieceCommit, under the
// exclusive lock, so a live writer's journal is never applied by a reader). Without a lock file
// (a folder that cannot be written) the journal is completed all the same and nothing is held.
std::optional<FileLock> HoldPiecesForReading(const std::string& firstPiece);

// A reopen of the working copy reads records that no longer tell how the archive was packed;
// this carries the packing of the records of the earlier open over to the new ones.
void KeepArchivePacking(const BundleStructure& earlier, BundleStructure& reopened);

// For tests: called with the name of each step of WriteArchive before it runs ("working file",
// "archive", "pieces", "journal", "renames", "commit"); a hook that throws stands for a write that
// fails at that point. Empty: no hook.
void SetArchiveWriteHookForTesting(std::function<void(const std::string& step)> hook);

} // namespace kestrel
