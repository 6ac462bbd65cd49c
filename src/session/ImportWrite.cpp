#include "session/ImportWrite.h"

#include "assets/AssetsParser.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/Operations.h"

#include <algorithm>

namespace kestrel {

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

void WriteImportedArchive(KestrelState& state, const std::vector<InnerReplacement>& files) {
    if (files.empty()) return;
    ArchiveWriteInput input;
    input.archiveName = state.ArchiveName;
    input.workFileName = state.WorkFileName;
    input.splitPieceCount = state.SplitPieceCount;
    input.isBundle = state.isBundle;
    input.bundle = &state.Bundle;
    input.replacements = files;
    input.progress = [&state](uint64_t done, uint64_t total) {
        if (total == 0) return;
        state.Report().Progress(25 + static_cast<int>(std::min(done, total) * 75 / total));
        state.Report().Breathe();
    };
    uint32_t pieces = state.SplitPieceCount;
    input.splitPieceCountOut = &pieces;
    try {
        WriteArchive(input);
    } catch (const KestrelError& e) {
        throw KestrelError("Cannot import into " + state.ArchiveName + ": " + e.what() +
                               ". The archive is unchanged.",
                           e.OutputFailed());
    }
    state.SplitPieceCount = pieces;
}

std::vector<uint32_t> ListOrder(const KestrelState& state) {
    std::vector<uint32_t> order;
    for (const auto& row : state.assets.items.listRows)
        order.push_back(row.number);
    return order;
}

void ReopenInnerFile(KestrelState& state, const EntrySelector& entry,
                     const std::vector<uint32_t>& order) {
    state.SelectedEntry = entry;
    OpenArchive(state, state.WorkFileName);
    ItemTable& items = state.Items();
    if (order.size() != items.listRows.size()) return;
    // The window may show the rows sorted: each keeps its place.
    for (size_t k = 0; k < order.size(); ++k) {
        if (order[k] > 0 && order[k] <= items.Count()) FillListRow(state.assets, k, order[k] - 1);
    }
}

} // namespace kestrel
