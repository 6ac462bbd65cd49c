// Writing an archive back: the new working file first, then (for a compressed bundle) the archive
// re-packed from it, then (for split pieces) the pieces cut from the archive; every one under a
// temporary name, and all put in place only once every one is complete.
#include "bundle/ArchiveWriter.h"

#include "bundle/BundleWriteDetail.h"
#include "common/Error.h"
#include "io/AtomicFile.h"

#include <filesystem>
#include <optional>
#include <tuple>

namespace kestrel {

namespace {

namespace fs = std::filesystem;
namespace bw = bundle_write;

// A link to an archive is followed: the file it names is replaced, the link stays a link.
fs::path ReplaceTarget(const std::string& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        const fs::path real = fs::canonical(path, ec);
        if (!ec) return real;
    }
    return path;
}

// The new file of a user's archive keeps the old file's permissions.
void KeepPermissions(const AtomicOutputFile& out) {
    std::error_code ec;
    const fs::perms perms = fs::status(out.Target(), ec).permissions();
    if (!ec) fs::permissions(out.TempPath(), perms, fs::perm_options::replace, ec);
}

// A plain file's only inner file is the whole file.
void WritePlainFile(const std::shared_ptr<const ByteSource>& work,
                    const std::vector<InnerReplacement>& changes, OutputFile& out,
                    bw::WriteProgress& progress) {
    std::vector<bw::LaidEntry> whole{{0, work->Size(), 0, 0, nullptr}};
    const bw::DataLayout layout = bw::PlanLayout(whole, changes, 0, work->Size(), work->Name());
    bw::WriteDataArea(layout, work, 0, out, progress);
}

bool IsCompressedCopy(const ArchiveWriteInput& input) {
    return input.workFileName != input.archiveName &&
           fs::path(input.workFileName).extension() == ".TEMP";
}

} // namespace

void KeepArchivePacking(const BundleStructure& earlier, BundleStructure& reopened) {
    if (earlier.IsFormat6() && reopened.IsFormat6()) reopened.packing = bw::PackingOf(earlier);
}

void WriteArchive(const ArchiveWriteInput& input) {
    const bool split = input.splitPieceCount > 0;
    const bool copy = IsCompressedCopy(input);
    // Without a copy and without pieces the working file is the archive the user named.
    const bool inPlace = !split && !copy;
    if (input.isBundle && input.bundle == nullptr) {
        throw KestrelError("Internal error: no bundle records to write " + input.archiveName);
    }
    if (copy && !input.isBundle) {
        throw KestrelError("Internal error: " + input.workFileName + " is no bundle's copy");
    }
    const std::shared_ptr<const ByteSource> work =
        input.work ? input.work : FileSource::Open(input.workFileName, input.archiveName);
    // A UnityFS working copy that is still the file itself is not rewritten: the archive is packed
    // straight from the old copy and the replacements, and the caller reads on from the same. A
    // copy that is already put together this way is written out, so that what it holds on to
    // (the old copy, the replacements) does not pile up import after import.
    const bool splice = copy && input.isBundle && input.workOut != nullptr &&
                        input.bundle->IsFormat6() &&
                        dynamic_cast<const CompositeSource*>(work.get()) == nullptr;
    bw::WriteProgress progress{
        input.progress, 0,
        work->Size() * ((splice ? 0 : 1) + (copy ? 1 : 0) + (split ? 1 : 0))};

    bw::Step("working file");
    std::optional<AtomicOutputFile> newWork;
    BundleStructure records;
    const BundleStructure* old = input.bundle;
    std::shared_ptr<const ByteSource> archiveBytes;
    if (splice) {
        std::tie(records, archiveBytes) = bw::SpliceWorkFormat6(*old, work, input.replacements);
    } else {
        newWork.emplace(inPlace ? ReplaceTarget(input.workFileName) : fs::path(input.workFileName),
                        inPlace ? AtomicOutputFile::Flush::ToDisk
                                : AtomicOutputFile::Flush::RenameOnly);
        if (inPlace) KeepPermissions(*newWork);
        if (!input.isBundle) {
            WritePlainFile(work, input.replacements, newWork->File(), progress);
        } else if (old->IsRawWeb()) {
            records =
                bw::WriteWorkRawWeb(*old, work, input.replacements, newWork->File(), progress);
        } else if (old->IsFormat6()) {
            records = bw::WriteWorkFormat6(*old, work, input.replacements, copy, newWork->File(),
                                           progress);
        } else {
            throw KestrelError(input.archiveName + ": bundle format " +
                               std::to_string(old->FormatVersion) + " cannot be written");
        }
        archiveBytes = FileSource::Open(newWork->TempPath(), input.archiveName);
    }
    const std::shared_ptr<const ByteSource> newWorkBytes = archiveBytes;

    // A compressed bundle: the archive re-packed from the new working file. For pieces it is only
    // the source they are cut from, under a temporary name that is never committed.
    std::optional<AtomicOutputFile> archive;
    if (copy) {
        bw::Step("archive");
        const fs::path target =
            split ? fs::path(input.workFileName + ".packed") : ReplaceTarget(input.archiveName);
        archive.emplace(target, AtomicOutputFile::Flush::ToDisk);
        if (!split) KeepPermissions(*archive);
        if (records.IsRawWeb()) {
            bw::PackRawWeb(records, archiveBytes, archive->File(), progress);
        } else {
            bw::PackFormat6(records, archiveBytes, archive->File(), progress);
        }
        archiveBytes = FileSource::Open(archive->TempPath(), input.archiveName);
    }

    std::optional<bw::PieceSet> pieces;
    if (split) {
        bw::Step("pieces");
        pieces.emplace(input.archiveName);
        pieces->CutFrom(archiveBytes, progress);
    }

    bw::Step("commit");
    uint32_t pieceCount = input.splitPieceCount;
    if (split) {
        pieceCount = pieces->Commit(input.splitPieceCount);
        archive.reset();
    } else if (archive) {
        archive->Commit();
    }
    if (newWork) newWork->Commit();
    if (input.bundle != nullptr && input.isBundle) *input.bundle = std::move(records);
    if (input.workOut != nullptr) {
        *input.workOut = splice ? newWorkBytes
                                : FileSource::Open(input.workFileName, input.archiveName);
    }
    if (input.splitPieceCountOut != nullptr) *input.splitPieceCountOut = pieceCount;
}

} // namespace kestrel
