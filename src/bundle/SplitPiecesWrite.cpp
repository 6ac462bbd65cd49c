// Split pieces written anew. The new pieces are written under temporary names and flushed; then a
// journal beside them lists the renames that put them in place and the old pieces to delete, and is
// itself written atomically. Its appearance is the moment of the commit: a run stopped after it is
// completed by the next open (FinishPieceCommit), one stopped before it left every piece old.
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleWriteDetail.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kJournalMagic = "kestrel piece commit 1";
constexpr uint64_t kJournalMaxSize = 64ull << 20;

struct PieceNames {
    std::string dir;       // with the trailing "/", or empty
    std::string pieceStem; // file name of a piece without its number
    std::string journal;   // file name of the journal
};

PieceNames NamesOf(const std::string& firstPiece) {
    const fs::path p(firstPiece);
    const std::string name = p.filename().string();
    const std::string ext = p.extension().string(); // ".split0" in the user's case
    if (ext.size() < 2 || ext.back() != '0') {
        throw KestrelError(firstPiece + ": not the first piece of a split archive");
    }
    PieceNames n;
    n.dir = p.has_parent_path() ? p.parent_path().string() + "/" : std::string();
    n.pieceStem = name.substr(0, name.size() - 1);
    n.journal = name.substr(0, name.size() - ext.size()) + ".kestrel-commit";
    return n;
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A piece of this archive: the piece stem followed by decimal digits.
bool IsPieceName(const PieceNames& n, std::string_view name) {
    if (name.size() <= n.pieceStem.size() || name.substr(0, n.pieceStem.size()) != n.pieceStem) {
        return false;
    }
    for (char c : name.substr(n.pieceStem.size())) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

struct JournalEntry {
    char kind = 0; // 'R' rename temp over piece, 'D' delete piece
    std::string temp;
    std::string piece;
};

// The journal: the magic text, then records of NUL-ended fields ("R", temp, piece or "D", piece),
// then "E". File names hold neither NUL nor "/", so no name can break the layout.
std::vector<uint8_t> JournalBytes(const std::vector<JournalEntry>& entries) {
    std::vector<uint8_t> out(kJournalMagic.begin(), kJournalMagic.end());
    auto field = [&out](std::string_view s) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    };
    out.push_back(0);
    for (const auto& e : entries) {
        field(std::string(1, e.kind));
        if (e.kind == 'R') field(e.temp);
        field(e.piece);
    }
    field("E");
    return out;
}

std::vector<JournalEntry> ParseJournal(const PieceNames& n, const std::vector<uint8_t>& bytes,
                                       const std::string& shown) {
    std::vector<std::string> fields;
    std::string current;
    for (uint8_t c : bytes) {
        if (c == 0) {
            fields.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(static_cast<char>(c));
        }
    }
    auto damaged = [&shown] {
        return KestrelError(shown +
                            ": damaged commit journal of split pieces; the pieces may be a mix of "
                            "two versions");
    };
    if (!current.empty() || fields.size() < 2 || fields.front() != kJournalMagic ||
        fields.back() != "E") {
        throw damaged();
    }
    std::vector<JournalEntry> entries;
    for (size_t i = 1; i + 1 < fields.size();) {
        JournalEntry e;
        e.kind = fields[i].size() == 1 ? fields[i][0] : 0;
        if (e.kind == 'R' && i + 3 < fields.size()) {
            e.temp = fields[i + 1];
            e.piece = fields[i + 2];
            i += 3;
        } else if (e.kind == 'D' && i + 2 < fields.size()) {
            e.piece = fields[i + 1];
            i += 2;
        } else {
            throw damaged();
        }
        const bool tempOk =
            e.kind == 'D' || (IsPlainName(e.temp) && e.temp.rfind(e.piece + ".kestrel-", 0) == 0);
        if (!IsPlainName(e.piece) || !IsPieceName(n, e.piece) || !tempOk) throw damaged();
        entries.push_back(std::move(e));
    }
    return entries;
}

// Carries out the journal's entries; every step may already have been done by a stopped run.
void Apply(const PieceNames& n, const std::vector<JournalEntry>& entries) {
    for (const auto& e : entries) {
        std::error_code ec;
        if (e.kind == 'R') {
            if (!fs::exists(n.dir + e.temp, ec)) continue; // renamed before
            fs::rename(n.dir + e.temp, n.dir + e.piece, ec);
            if (ec) {
                throw KestrelError("Cannot put the new piece " + n.dir + e.piece +
                                   " in place: " + ec.message());
            }
        } else {
            fs::remove(n.dir + e.piece, ec);
            if (ec) throw KestrelError("Cannot delete " + n.dir + e.piece + ": " + ec.message());
        }
    }
    SyncDirectory(n.dir);
    std::error_code ec;
    fs::remove(n.dir + n.journal, ec);
    SyncDirectory(n.dir);
}

} // namespace

std::string PieceCommitJournal(const std::string& firstPiece) {
    const PieceNames n = NamesOf(firstPiece);
    return n.dir + n.journal;
}

std::string ArchiveLockFile(const std::string& archive) {
    const fs::path p(archive);
    const std::string ext = p.extension().string();
    if (ext.size() == 7 && ext.back() == '0' && ext.rfind(".split", 0) == 0)
        return archive.substr(0, archive.size() - ext.size()) + ".kestrel-lock";
    return archive + ".kestrel-lock";
}

std::optional<FileLock> HoldPiecesForReading(const std::string& firstPiece) {
    const std::string lockFile = ArchiveLockFile(firstPiece);
    std::optional<FileLock> shared =
        FileLock::TakeIfPossible(lockFile, kPiecesLockByte, FileLock::Mode::kShared);
    std::error_code ec;
    if (!fs::exists(PieceCommitJournal(firstPiece), ec)) return shared;
    // A journal while no writer holds the pieces: its writer stopped. Complete it alone.
    shared.reset();
    {
        const std::optional<FileLock> exclusive =
            FileLock::TakeIfPossible(lockFile, kPiecesLockByte, FileLock::Mode::kExclusive);
        FinishPieceCommit(firstPiece);
    }
    return FileLock::TakeIfPossible(lockFile, kPiecesLockByte, FileLock::Mode::kShared);
}

void FinishPieceCommit(const std::string& firstPiece) {
    const PieceNames n = NamesOf(firstPiece);
    const std::string journal = n.dir + n.journal;
    std::error_code ec;
    if (!fs::exists(journal, ec)) return;
    const auto source = FileSource::Open(journal);
    if (source->Size() > kJournalMaxSize) {
        throw KestrelError(journal + ": damaged commit journal of split pieces (too large)");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(source->Size()));
    if (source->ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) {
        throw KestrelError(journal + ": cannot read the commit journal of split pieces");
    }
    Apply(n, ParseJournal(n, bytes, journal));
}

namespace bundle_write {

PieceSet::PieceSet(const std::string& firstPiece) {
    const PieceNames n = NamesOf(firstPiece);
    dir_ = n.dir;
    pieceStem_ = n.pieceStem;
    journal_ = n.journal;
}

PieceSet::~PieceSet() {
    if (committed_) return;
    for (const auto& t : temps_) {
        std::error_code ec;
        fs::remove(dir_ + t, ec);
        ScratchFiles::Remove(dir_ + t);
    }
}

void PieceSet::CutFrom(const std::shared_ptr<const ByteSource>& source, WriteProgress& progress) {
    const uint64_t size = source->Size();
    uint64_t pos = 0;
    do {
        const uint64_t n = std::min(kPieceSize, size - pos);
        const std::string piece = pieceStem_ + std::to_string(temps_.size());
        fs::path made;
        auto file =
            CreateUniqueFile(dir_.empty() ? fs::path(".") : fs::path(dir_),
                             piece + ".kestrel-" + std::to_string(::getpid()), ".new", made);
        if (!file) throw KestrelError("Cannot write the new piece " + dir_ + piece);
        temps_.push_back(made.filename().string());
        CopyBytes(source, pos, n, *file, progress);
        file->Sync();
        file->Close();
        pos += n;
    } while (pos < size);
}

uint32_t PieceSet::Commit(uint32_t oldCount) {
    const PieceNames n{dir_, pieceStem_, journal_};
    std::vector<JournalEntry> entries;
    for (size_t i = 0; i < temps_.size(); ++i)
        entries.push_back({'R', temps_[i], pieceStem_ + std::to_string(i)});
    for (uint32_t i = static_cast<uint32_t>(temps_.size()); i < oldCount; ++i)
        entries.push_back({'D', {}, pieceStem_ + std::to_string(i)});
    SyncDirectory(dir_);
    // From here the temporary pieces belong to the journal: a signal must not remove them, or a
    // stopped commit could not be completed. They stay locked until they are in place.
    for (const auto& t : temps_)
        ScratchFiles::KeepOnSignal(dir_ + t);
    // Readers of the pieces wait while they are replaced, so that none joins a mix.
    const std::string stem =
        journal_.substr(0, journal_.size() - std::string(".kestrel-commit").size());
    const FileLock readersOut = *FileLock::Take(dir_ + stem + ".kestrel-lock", kPiecesLockByte,
                                                FileLock::Mode::kExclusive, /*wait=*/true);
    try {
        Step("journal");
        const std::vector<uint8_t> journal = JournalBytes(entries);
        WriteFileAtomically(dir_ + journal_, journal.data(), journal.size());
    } catch (...) {
        for (const auto& t : temps_)
            ScratchFiles::Add(dir_ + t);
        throw;
    }
    committed_ = true;
    Step("renames");
    Apply(n, entries);
    for (const auto& t : temps_)
        ScratchFiles::Remove(dir_ + t);
    return static_cast<uint32_t>(temps_.size());
}

} // namespace bundle_write

} // namespace kestrel
