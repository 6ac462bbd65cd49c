#include "session/ImportDriver.h"

#include "assets/AssetsWrite.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/SafePath.h"
#include "session/ExportDriver.h"
#include "session/ImportFiles.h"
#include "session/ImportWrite.h"
#include "session/Operations.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A file that is no assets file is one item covering the whole inner file: its raw file is the
// inner file's new content.
bool IsResourceItem(const KestrelState& state) {
    return state.assets.header.EngineMajorVersion == 0;
}

uint64_t OpenInnerFileSize(const KestrelState& state) {
    if (!state.isBundle) return state.WorkStream->Size() - state.assetsBase;
    return InnerEntries(state.Bundle).at(OpenInnerFileIndex(state)).size;
}

std::optional<ObjectEdit> ResourceEdit(const KestrelState& state,
                                       const std::shared_ptr<const ByteSource>& file) {
    const ObjectRow& row = state.assets.items.rows.at(0);
    const uint64_t start = state.assets.DataOffset + row.ObjOffset;
    const uint64_t size = OpenInnerFileSize(state);
    if (file->Size() == size && SameBytes(*file, 0, *state.WorkStream, start, size))
        return std::nullopt;
    // The item's 32-bit size cut the export of a larger resource short: its copy is not whole.
    if (size > row.ObjSize) {
        throw KestrelError(state.ArchiveName + ": " + state.InnerFileName +
                           " is larger than 4 GiB; its exported copy " + file->Name() +
                           " is not whole and is not imported");
    }
    return ObjectEdit{0, 0, row.ObjSize, file};
}

// Matches each listed file to the objects whose export file name it bears (the name the export
// driver gives the raw file) and returns the edits of those whose bytes it changes. Files of no
// object are shown as not found.
std::vector<ObjectEdit> MatchRawFiles(KestrelState& state, const fs::path& root,
                                      const std::vector<std::string>& names) {
    const ItemTable& items = state.Items();
    std::unordered_map<std::string, std::vector<size_t>> byFileName;
    for (size_t i = 0; i < items.Count(); ++i)
        byFileName[FitFileNameLimit(SafeComponent(items.ExportName[i]))].push_back(i);
    const std::string shownRoot = state.OutputBaseDir + ExportTreeRelative(state);
    const TLocalization& text = state.Localization;

    std::vector<ObjectEdit> edits;
    for (size_t f = 0; f < names.size(); ++f) {
        const auto it = byFileName.find(names[f]);
        if (it == byFileName.end()) {
            state.Report().Alert(text.MsgFileNotFound + names[f] + "\r\n" + text.MsgWillBeSkipped);
        } else {
            const auto file = std::make_shared<PathSource>(root / names[f]);
            for (const size_t j : it->second) {
                std::optional<ObjectEdit> edit =
                    IsResourceItem(state)
                        ? ResourceEdit(state, file)
                        : EditFromExportedFile(state.assets, state.WorkStream, j, file);
                // Objects that keep their size are told now, the others once they have moved.
                if ((!edit || edit->SizeDelta() == 0) && file->Size() > 0)
                    state.Report().ProgressLine(shownRoot + items.ExportName[j]);
                if (edit) edits.push_back(std::move(*edit));
            }
        }
        state.Report().Progress(static_cast<int>((f + 1) * 25 / names.size()));
        state.Report().Breathe();
    }
    return edits;
}

// The progress lines of the objects that changed size: the shrinking ones by ascending offset,
// then the growing ones by descending offset.
std::vector<std::string> MovedObjectLines(const KestrelState& state,
                                          const std::vector<ObjectEdit>& edits) {
    std::vector<std::pair<uint32_t, size_t>> shrinks;
    std::vector<std::pair<uint32_t, size_t>> grows;
    for (const ObjectEdit& e : edits) {
        const uint32_t offset = state.assets.items.rows[e.index].ObjOffset;
        if (e.SizeDelta() < 0) shrinks.emplace_back(offset, e.index);
        if (e.SizeDelta() > 0) grows.emplace_back(offset, e.index);
    }
    std::sort(shrinks.begin(), shrinks.end());
    std::sort(grows.rbegin(), grows.rend());
    const std::string shownRoot = state.OutputBaseDir + ExportTreeRelative(state);
    std::vector<std::string> lines;
    for (const auto* list : {&shrinks, &grows}) {
        for (const auto& [offset, index] : *list)
            lines.push_back(shownRoot + state.assets.items.ExportName[index]);
    }
    return lines;
}

// The new content of the open inner file from its export tree, and the progress lines of its
// objects that move, told once the archive is written.
struct InnerImport {
    std::optional<InnerReplacement> replacement; // none when no byte of it changes
    std::vector<std::string> movedLines;
};

InnerImport ImportOpenInnerFile(KestrelState& state) {
    InnerImport out;
    WorkStreamScope scope(state);
    const fs::path root = ImportRoot(state);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    ConvertEditedFiles(state, root);
    const std::vector<std::string> names = RawFileNames(root, state);
    if (names.empty()) return out;
    std::vector<ObjectEdit> edits = MatchRawFiles(state, root, names);
    if (edits.empty()) return out;
    out.movedLines = MovedObjectLines(state, edits);
    // The new content refers to the working file, which stays as it is until the archive is
    // written; the item table may be replaced meanwhile.
    const std::shared_ptr<const ByteSource> bytes =
        IsResourceItem(state) ? edits.front().bytes
                              : RewriteAssets(state.assets, state.WorkStream, state.assetsBase,
                                              OpenInnerFileSize(state), std::move(edits));
    out.replacement = InnerReplacement{OpenInnerFileIndex(state), bytes};
    return out;
}

// True when inner file `entry` of the open bundle has an export tree.
bool HasExportTree(const KestrelState& state, size_t entry) {
    const std::string relative = ExportTreeOf(state.ArchiveBaseName) +
                                 SafeComponent(CutInnerName(state.innerFileNames.at(entry)));
    std::error_code ec;
    return fs::is_directory(JoinInside(state.OutputBaseDir, relative), ec);
}

// Imports the inner files `entries` in this order (the open one first when listed), writes the
// archive once with every one that changed, and opens the inner file that was open before again.
void ImportInnerFiles(KestrelState& state, const std::vector<size_t>& entries) {
    const EntrySelector open = state.SelectedEntry;
    const size_t openIndex = OpenInnerFileIndex(state);
    const std::vector<uint32_t> order = ListOrder(state);
    size_t current = openIndex;
    std::vector<InnerReplacement> replacements;
    std::vector<std::string> lines;
    try {
        for (const size_t entry : entries) {
            if (entry != current) {
                state.SelectedEntry =
                    EntrySelector{static_cast<uint32_t>(entry), std::nullopt, true};
                OpenArchive(state, state.WorkFileName);
                current = entry;
            }
            InnerImport imported = ImportOpenInnerFile(state);
            if (!imported.replacement) continue;
            replacements.push_back(std::move(*imported.replacement));
            lines.insert(lines.end(), imported.movedLines.begin(), imported.movedLines.end());
        }
        if (!replacements.empty()) {
            std::sort(replacements.begin(), replacements.end(),
                      [](const InnerReplacement& a, const InnerReplacement& b) {
                          return a.entry < b.entry;
                      });
            WriteImportedArchive(state, replacements);
        }
    } catch (...) {
        // The archive is unchanged; the inner file open before is open again.
        if (current != openIndex) ReopenInnerFile(state, open, order);
        throw;
    }
    for (const std::string& line : lines)
        state.Report().ProgressLine(line);
    if (!replacements.empty() || current != openIndex) ReopenInnerFile(state, open, order);
    state.Report().Progress(100);
}

} // namespace

void ImportAll(KestrelState& state) {
    std::vector<size_t> entries = {OpenInnerFileIndex(state)};
    // Sound imports write into the exported copies of the resource entries: those go last.
    if (state.isBundle) {
        for (const size_t r : ResourceEntriesOf(state.innerFileNames, entries[0])) {
            if (HasExportTree(state, r)) entries.push_back(r);
        }
    }
    ImportInnerFiles(state, entries);
}

void ImportBundle(KestrelState& state) {
    if (!state.isBundle) {
        ImportAll(state);
        return;
    }
    std::vector<size_t> entries;
    for (const bool resources : {false, true}) {
        for (size_t i = 0; i < state.innerFileNames.size(); ++i) {
            if (IsResourceEntry(state.innerFileNames[i]) == resources && HasExportTree(state, i))
                entries.push_back(i);
        }
    }
    ImportInnerFiles(state, entries);
}

} // namespace kestrel
