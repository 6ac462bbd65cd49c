#include "session/ImportDriver.h"

#include "assets/AssetsWrite.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/SafePath.h"
#include "session/ExportDriver.h"
#include "session/ImportFiles.h"
#include "session/ImportWrite.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Keeps the working file open for the import and closes it on every path out.
class WorkStreamScope {
public:
    explicit WorkStreamScope(KestrelState& state) : state_(state) {
        state_.WorkStream = FileSource::Open(state_.WorkFileName, state_.ArchiveName);
    }
    ~WorkStreamScope() { state_.WorkStream.reset(); }
    WorkStreamScope(const WorkStreamScope&) = delete;
    WorkStreamScope& operator=(const WorkStreamScope&) = delete;

private:
    KestrelState& state_;
};

// A file that is no assets file is one item covering the whole inner file: its raw file is the
// inner file's new content.
bool IsResourceItem(const KestrelState& state) {
    return state.assets.header.EngineMajorVersion == 0;
}

std::optional<ObjectEdit> ResourceEdit(const KestrelState& state,
                                       const std::shared_ptr<const ByteSource>& file) {
    const ObjectRow& row = state.assets.items.rows.at(0);
    const uint64_t start = state.assets.DataOffset + row.ObjOffset;
    if (file->Size() == row.ObjSize && SameBytes(*file, 0, *state.WorkStream, start, row.ObjSize))
        return std::nullopt;
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

uint64_t OpenInnerFileSize(const KestrelState& state) {
    if (!state.isBundle) return state.WorkStream->Size() - state.assetsBase;
    return InnerEntries(state.Bundle).at(OpenInnerFileIndex(state)).size;
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

} // namespace

void ImportAll(KestrelState& state) {
    std::vector<std::string> lines;
    {
        WorkStreamScope scope(state);
        const fs::path root = ImportRoot(state);
        std::error_code ec;
        if (!fs::is_directory(root, ec)) return;
        ConvertEditedFiles(state, root);
        const std::vector<std::string> names = RawFileNames(root, state);
        if (names.empty()) return;

        std::vector<ObjectEdit> edits = MatchRawFiles(state, root, names);
        if (edits.empty()) {
            // No byte of any object changes: the archive is left as it is.
            state.Report().Progress(100);
            return;
        }
        lines = MovedObjectLines(state, edits);
        const std::shared_ptr<const ByteSource> inner =
            IsResourceItem(state) ? edits.front().bytes
                                  : RewriteAssets(state.assets, state.WorkStream, state.assetsBase,
                                                  OpenInnerFileSize(state), std::move(edits));
        WriteImportedArchive(state, {{OpenInnerFileIndex(state), inner}});
    }
    for (const std::string& line : lines)
        state.Report().ProgressLine(line);
    ReopenAfterImport(state);
    state.Report().Progress(100);
}

} // namespace kestrel
