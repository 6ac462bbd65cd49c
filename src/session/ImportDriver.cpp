#include "session/ImportDriver.h"

#include "assets/AssetsParser.h"
#include "assets/AssetsWrite.h"
#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/ResourceGrowth.h"
#include "io/SafePath.h"
#include "session/ConverterInput.h"
#include "session/ImportFiles.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::optional<ObjectEdit> ResourceEdit(const InnerScope& scope,
                                       const std::shared_ptr<const ByteSource>& file) {
    const ObjectRow& row = scope.inner.Items().rows.at(0);
    const uint64_t start = scope.inner.assets.DataOffset + row.ObjOffset;
    const uint64_t size = scope.inner.size;
    if (file->Size() == size && SameBytes(*file, 0, *scope.archive.Work(), start, size))
        return std::nullopt;
    // The item's 32-bit size cut the export of a larger resource short: its copy is not whole.
    if (size > row.ObjSize) {
        throw KestrelError(scope.archive.Name() + ": " + scope.inner.name +
                           " is larger than 4 GiB; its exported copy " + file->Name() +
                           " is not whole and is not imported");
    }
    return ObjectEdit{0, 0, row.ObjSize, file};
}

// The bytes of object `index` that its exported file holds.
uint64_t ExportedSize(const InnerScope& scope, size_t index) {
    if (scope.inner.IsResourceItem()) return scope.inner.size;
    const ObjectRow& row = scope.inner.Items().rows.at(index);
    if (HasInnerPayload(row.ClassID, row.PayloadSize)) return row.PayloadSize;
    return row.ObjSize > row.NameHeaderSize ? row.ObjSize - row.NameHeaderSize : 0;
}

// Matches each listed file to the objects whose export file name it bears (the name the export
// driver gives the raw file) and returns the edits of those whose bytes it changes. Files of no
// object are shown as not found.
std::vector<ObjectEdit> MatchRawFiles(const InnerScope& scope, const fs::path& root,
                                      const std::vector<std::string>& names) {
    const ItemTable& items = scope.inner.Items();
    std::unordered_map<std::string, std::vector<size_t>> byFileName;
    for (size_t i = 0; i < items.Count(); ++i)
        byFileName[FitFileNameLimit(SafeComponent(items.ExportName[i]))].push_back(i);
    const std::string shownRoot = scope.OutputBaseDir() + scope.TreeRelative();
    const InterfaceTexts& text = scope.options.text;

    std::vector<ObjectEdit> edits;
    for (size_t f = 0; f < names.size(); ++f) {
        const auto it = byFileName.find(names[f]);
        if (it == byFileName.end()) {
            scope.reporter.Alert(text.MsgFileNotFound + names[f] + "\r\n" + text.MsgWillBeSkipped);
        } else {
            const auto file = std::make_shared<PathSource>(root / names[f]);
            for (const size_t j : it->second) {
                // An editor that crashed or a failed copy leaves an empty file: it never empties
                // an object that holds bytes.
                if (file->Size() == 0 && ExportedSize(scope, j) != 0) {
                    scope.reporter.Alert(shownRoot + names[f] +
                                         ": the file is empty; its object is left unchanged");
                    continue;
                }
                std::optional<ObjectEdit> edit =
                    scope.inner.IsResourceItem()
                        ? ResourceEdit(scope, file)
                        : EditFromExportedFile(scope.inner.assets, scope.archive.Work(), j, file);
                // Objects that keep their size are told now, the others once they have moved.
                if (!edit || edit->SizeDelta() == 0)
                    scope.reporter.ProgressLine(shownRoot + items.ExportName[j]);
                if (edit) edits.push_back(std::move(*edit));
            }
        }
        scope.reporter.Progress(static_cast<int>((f + 1) * 25 / names.size()));
        scope.reporter.Breathe();
    }
    return edits;
}

// The progress lines of the objects that changed size: the shrinking ones by ascending offset,
// then the growing ones by descending offset.
std::vector<std::string> MovedObjectLines(const InnerScope& scope,
                                          const std::vector<ObjectEdit>& edits) {
    std::vector<std::pair<uint32_t, size_t>> shrinks;
    std::vector<std::pair<uint32_t, size_t>> grows;
    for (const ObjectEdit& e : edits) {
        const uint32_t offset = scope.inner.Items().rows[e.index].ObjOffset;
        if (e.SizeDelta() < 0) shrinks.emplace_back(offset, e.index);
        if (e.SizeDelta() > 0) grows.emplace_back(offset, e.index);
    }
    std::sort(shrinks.begin(), shrinks.end());
    std::sort(grows.rbegin(), grows.rend());
    const std::string shownRoot = scope.OutputBaseDir() + scope.TreeRelative();
    std::vector<std::string> lines;
    for (const auto* list : {&shrinks, &grows}) {
        for (const auto& [offset, index] : *list)
            lines.push_back(shownRoot + scope.inner.Items().ExportName[index]);
    }
    return lines;
}

// The new content of one inner file from its export tree, and the progress lines of its objects
// that move, told once the archive is written.
struct InnerImport {
    std::optional<InnerReplacement> replacement; // none when no byte of it changes
    std::vector<std::string> movedLines;
    size_t changedObjects = 0;
};

InnerImport ImportInnerFile(const InnerScope& scope) {
    InnerImport out;
    const fs::path root = ImportRoot(scope);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    ConvertEditedFiles(scope, root);
    const std::vector<std::string> names = RawFileNames(root, scope.options);
    if (names.empty()) return out;
    std::vector<ObjectEdit> edits = MatchRawFiles(scope, root, names);
    if (edits.empty()) return out;
    out.changedObjects = edits.size();
    out.movedLines = MovedObjectLines(scope, edits);
    // The new content refers to the working file, which stays as it is until the archive is
    // written.
    const std::shared_ptr<const ByteSource> bytes =
        scope.inner.IsResourceItem()
            ? edits.front().bytes
            : RewriteAssets(scope.inner.assets, scope.archive.Work(), scope.inner.base,
                            scope.inner.size, std::move(edits));
    out.replacement = InnerReplacement{scope.inner.index, bytes};
    return out;
}

} // namespace

bool HasExportTree(const Archive& archive, size_t entry, const RunOptions& options) {
    std::string relative = ExportTreeOf(archive.BaseName());
    if (archive.IsBundle())
        relative += SafeComponent(CutInnerName(archive.InnerFileNames().at(entry)));
    std::error_code ec;
    return fs::is_directory(JoinInside(archive.OutputBaseDir(options), relative), ec);
}

ImportSummary ImportInnerFiles(Archive& archive, const std::vector<size_t>& entries,
                               const RunOptions& options, Reporter& reporter) {
    ImportSummary summary;
    const FileLock importing = archive.LockForImport();
    // Pixels and sounds appended to resource files are cut off again when the import fails.
    ResourceGrowthScope growth;
    std::vector<InnerReplacement> replacements;
    std::vector<std::string> lines;
    for (const size_t entry : entries) {
        const ParsedInnerFile inner = archive.Parse(entry, options, &reporter);
        InnerImport imported = ImportInnerFile(InnerScope{archive, inner, options, reporter});
        if (!imported.replacement) continue;
        summary.changedObjects += imported.changedObjects;
        replacements.push_back(std::move(*imported.replacement));
        lines.insert(lines.end(), imported.movedLines.begin(), imported.movedLines.end());
    }
    if (!replacements.empty()) {
        std::sort(
            replacements.begin(), replacements.end(),
            [](const InnerReplacement& a, const InnerReplacement& b) { return a.entry < b.entry; });
        archive.Write(replacements, reporter);
        summary.written = true;
        growth.Keep();
    }
    for (const std::string& line : lines)
        reporter.ProgressLine(line);
    reporter.Progress(100);
    return summary;
}

} // namespace kestrel
