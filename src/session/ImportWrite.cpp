#include "session/ImportWrite.h"

#include "assets/AssetsParser.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/SafePath.h"
#include "session/Operations.h"
#include "session/WorkingFiles.h"

#include <algorithm>
#include <filesystem>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A plain assets file: the new file is written beside it and renamed over it. A link is
// followed, so the file it names is replaced and the link stays.
void WritePlainFile(KestrelState& state, const ByteSource& bytes) {
    std::error_code ec;
    fs::path target = state.WorkFileName;
    if (fs::is_symlink(target, ec)) target = fs::canonical(target);
    const fs::perms mode = fs::status(target).permissions();
    const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    RequireFreeSpace(dir, bytes.Size(), "the new " + state.ArchiveName);

    AtomicOutputFile out(target, AtomicOutputFile::Flush::ToDisk);
    constexpr size_t kBufferSize = size_t{1} << 20;
    std::vector<uint8_t> buffer(kBufferSize);
    const uint64_t total = bytes.Size();
    for (uint64_t pos = 0; pos < total;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize, total - pos));
        if (bytes.ReadAt(pos, buffer.data(), want) != want) {
            throw KestrelError("Internal error: the new " + state.ArchiveName + " ends early");
        }
        out.Write(buffer.data(), want);
        pos += want;
        state.Report().Progress(25 + static_cast<int>(pos * 75 / total));
        state.Report().Breathe();
    }
    // The new file keeps the old one's permissions.
    fs::permissions(out.TempPath(), mode, ec);
    out.Commit();
}

} // namespace

size_t OpenInnerFileIndex(const KestrelState& state) {
    if (!state.isBundle) return 0;
    const std::vector<InnerEntry> entries = InnerEntries(state.Bundle);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].offset == state.assetsBase &&
            SafeComponent(CutInnerName(entries[i].name)) == state.InnerFileName) {
            return i;
        }
    }
    throw KestrelError(state.ArchiveName + ": the open inner file is not in the bundle's list");
}

void WriteImportedArchive(KestrelState& state, const std::vector<NewInnerFile>& files) {
    if (files.empty()) return;
    try {
        if (state.isBundle || state.SplitPieceCount > 0) {
            throw KestrelError("writing bundles and split archives back is not in this build yet");
        }
        if (files.size() != 1 || files[0].entry != 0) {
            throw KestrelError("Internal error: a plain assets file has one inner file");
        }
        WritePlainFile(state, *files[0].bytes);
    } catch (const KestrelError& e) {
        throw KestrelError("Cannot import into " + state.ArchiveName + ": " + e.what() +
                               ". The archive is unchanged.",
                           e.OutputFailed());
    }
}

void ReopenAfterImport(KestrelState& state) {
    std::vector<uint32_t> order;
    for (const auto& row : state.Items().listRows)
        order.push_back(row.number);
    OpenArchive(state, state.WorkFileName);
    ItemTable& items = state.Items();
    if (order.size() != items.listRows.size()) return;
    // The window may show the rows sorted: each keeps its place.
    for (size_t k = 0; k < order.size(); ++k) {
        if (order[k] > 0 && order[k] <= items.Count()) FillListRow(state.assets, k, order[k] - 1);
    }
}

} // namespace kestrel
