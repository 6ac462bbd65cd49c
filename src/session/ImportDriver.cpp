#include "session/ImportDriver.h"

#include "assets/AssetsParser.h"
#include "assets/AssetsWrite.h"
#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/ResourceGrowth.h"
#include "io/SafePath.h"
#include "session/ConverterInput.h"
#include "session/ExportDriver.h"
#include "session/ImportFiles.h"
#include "session/JsonForms.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
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
// driver gives the raw file) and returns the edits of those whose bytes it changes, passing over
// the objects in `refused`. Files of no object are shown as not found.
std::vector<ObjectEdit> MatchRawFiles(const InnerScope& scope, const fs::path& root,
                                      const std::vector<std::string>& names,
                                      const std::set<size_t>& refused) {
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
            scope.reporter.Alert(text.MsgFileNotFound + names[f] + "\n" + text.MsgWillBeSkipped);
        } else {
            const auto file = std::make_shared<PathSource>(root / names[f]);
            for (const size_t j : it->second) {
                if (refused.contains(j)) continue;
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
                // Changed objects that keep their size are told now, the others once they have
                // moved; with -v every file of the tree is told.
                if (edit ? edit->SizeDelta() == 0 : scope.options.verbose)
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
    std::vector<size_t> changedByJson;    // their raw files are written anew afterwards
    std::vector<size_t> changedOtherwise; // their JSON files, where there are, are written anew
};

// Converted pictures wait here, inside the export tree, until they are weighed against the
// object's other files. A folder: the listing of raw files never takes it for an object's file.
constexpr const char* kStagingFolder = ".kestrel-import";

// One file of an object's export that changes the object: its raw file, a picture or its JSON.
struct ChangedForm {
    fs::path file;
    fs::path staged;                // a picture's raw object file, to take the raw file's place
    std::optional<ObjectEdit> edit; // a JSON file's edit of the whole object
};

// The JSON files among `names` (those bearing an object's JSON name and no object's raw name),
// taken out of `names`, each with the objects it belongs to.
std::vector<std::pair<std::string, std::vector<size_t>>>
TakeJsonFiles(const ItemTable& items, std::vector<std::string>& names) {
    std::unordered_map<std::string, std::vector<size_t>> byJsonName;
    std::set<std::string> rawNames;
    for (size_t i = 0; i < items.Count(); ++i) {
        byJsonName[JsonFileName(items.ExportName[i])].push_back(i);
        rawNames.insert(FitFileNameLimit(SafeComponent(items.ExportName[i])));
    }
    std::vector<std::pair<std::string, std::vector<size_t>>> json;
    std::vector<std::string> rest;
    for (std::string& name : names) {
        const auto it = byJsonName.find(name);
        if (it != byJsonName.end() && !rawNames.contains(name)) {
            json.emplace_back(name, it->second);
        } else {
            rest.push_back(std::move(name));
        }
    }
    names = std::move(rest);
    return json;
}

// The forms of each object that change it: JSON files and converted pictures. Objects whose JSON
// file cannot be taken are shown and go to `refused`.
std::map<size_t, std::vector<ChangedForm>>
ChangedForms(const InnerScope& scope, const fs::path& root,
             const std::vector<std::pair<std::string, std::vector<size_t>>>& jsonFiles,
             const std::vector<ConvertedFile>& converted, std::set<size_t>& refused) {
    std::map<size_t, std::vector<ChangedForm>> changed;
    const AssetsFile& assets = scope.inner.assets;
    const FileTypeTrees trees = jsonFiles.empty() ? FileTypeTrees{} : TypeTreesOf(scope);
    for (const auto& [name, indices] : jsonFiles) {
        for (const size_t j : indices) {
            try {
                std::optional<ObjectEdit> edit = EditFromJsonFile(scope, trees, j, root / name);
                if (edit) changed[j].push_back({root / name, {}, std::move(edit)});
            } catch (const KestrelError& e) {
                scope.reporter.Alert(e.what());
                refused.insert(j);
            }
        }
    }
    for (const ConvertedFile& c : converted) {
        try {
            if (EditFromExportedFile(assets, scope.archive.Work(), c.index,
                                     std::make_shared<PathSource>(c.output)))
                changed[c.index].push_back({c.editedFile, c.output, std::nullopt});
        } catch (const KestrelError& e) {
            scope.reporter.Alert(e.what());
            refused.insert(c.index);
        }
    }
    return changed;
}

// Weighs each object's changed forms against its raw file: an object changed by more than one of
// its files is refused with a message naming them; a picture alone puts its raw object file in
// the raw file's place; a JSON file alone gives its edit, returned.
std::vector<ObjectEdit> SettleForms(const InnerScope& scope, const fs::path& root,
                                    std::map<size_t, std::vector<ChangedForm>>& changed,
                                    std::set<size_t>& refused, InnerImport& out) {
    const ItemTable& items = scope.inner.Items();
    std::vector<ObjectEdit> jsonEdits;
    for (auto& [index, forms] : changed) {
        if (refused.contains(index)) continue;
        fs::path raw;
        try {
            raw = JoinInside(root, SafeComponent(items.ExportName[index]));
        } catch (const KestrelError& e) {
            scope.reporter.Alert(e.what());
            refused.insert(index);
            continue;
        }
        std::error_code ec;
        if (fs::is_regular_file(raw, ec) &&
            EditFromExportedFile(scope.inner.assets, scope.archive.Work(), index,
                                 std::make_shared<PathSource>(raw)))
            forms.insert(forms.begin(), ChangedForm{raw, {}, std::nullopt});
        if (forms.size() > 1) {
            std::string files;
            for (const ChangedForm& form : forms)
                files += (files.empty() ? "" : ", ") + form.file.string();
            scope.reporter.Alert(scope.OutputBaseDir() + scope.TreeRelative() +
                                 items.ExportName[index] + " was changed in more than one file (" +
                                 files +
                                 "); keep the edit in one of them. The object is left "
                                 "unchanged");
            refused.insert(index);
        } else if (!forms.front().staged.empty()) {
            fs::rename(forms.front().staged, raw, ec);
            if (ec) {
                throw KestrelError("Cannot write " + raw.string() + ": " + ec.message(), true);
            }
        } else if (forms.front().edit) {
            if (forms.front().edit->SizeDelta() == 0)
                scope.reporter.ProgressLine(scope.OutputBaseDir() + scope.TreeRelative() +
                                            items.ExportName[index]);
            jsonEdits.push_back(std::move(*forms.front().edit));
            out.changedByJson.push_back(index);
        }
    }
    return jsonEdits;
}

// Removes the staging folder when the inner file's import ends, whichever way.
struct StagingFolder {
    fs::path path;
    explicit StagingFolder(fs::path p) : path(std::move(p)) { Remove(); }
    ~StagingFolder() { Remove(); }
    void Remove() const {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

InnerImport ImportInnerFile(const InnerScope& scope) {
    InnerImport out;
    fs::path root;
    try {
        root = ImportRoot(scope);
    } catch (const KestrelError& e) {
        // A linked export tree is not read; the other inner files go on.
        scope.reporter.Alert(e.what());
        return out;
    }
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    // Links in the tree (a translation pack may carry them) are shown and never followed.
    const std::vector<fs::path> links = LinksIn(root);
    for (const fs::path& link : links)
        scope.reporter.Alert(LinkRefusedText(link) + "; it is not imported");
    const StagingFolder staging(root / kStagingFolder);
    const std::vector<ConvertedFile> converted =
        ConvertEditedFiles(scope, root, staging.path, links);
    std::vector<std::string> names = RawFileNames(root, scope.options);
    const auto jsonFiles = scope.inner.IsResourceItem()
                               ? std::vector<std::pair<std::string, std::vector<size_t>>>{}
                               : TakeJsonFiles(scope.inner.Items(), names);
    std::set<size_t> refused;
    auto changed = ChangedForms(scope, root, jsonFiles, converted, refused);
    std::vector<ObjectEdit> jsonEdits = SettleForms(scope, root, changed, refused, out);
    // A picture may have put a raw file where there was none: the raw files are listed again.
    if (!converted.empty()) {
        names = RawFileNames(root, scope.options);
        if (!jsonFiles.empty()) TakeJsonFiles(scope.inner.Items(), names);
    }
    std::vector<ObjectEdit> edits = MatchRawFiles(scope, root, names, refused);
    for (const ObjectEdit& e : edits)
        out.changedOtherwise.push_back(e.index);
    std::move(jsonEdits.begin(), jsonEdits.end(), std::back_inserter(edits));
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

// After the archive is written: the raw files of objects a JSON file changed, and the JSON files
// of objects another file changed, are written anew from the new archive, so that a later import
// does not take these unchanged copies for edits and undo the change. Files that are not there
// are not made.
void RefreshOtherForms(const Archive& archive, size_t entry, const InnerImport& imported,
                       const RunOptions& options, Reporter& reporter) {
    const ParsedInnerFile inner = archive.Parse(entry, options, nullptr);
    const InnerScope scope{archive, inner, options, reporter};
    const fs::path root = ImportRoot(scope);
    std::error_code ec;
    try {
        for (const size_t index : imported.changedByJson) {
            if (fs::is_regular_file(
                    JoinInside(root, SafeComponent(inner.Items().ExportName[index])), ec))
                RewriteRawFile(scope, index);
        }
        std::optional<FileTypeTrees> trees;
        for (const size_t index : imported.changedOtherwise) {
            if (!fs::is_regular_file(
                    fs::symlink_status(root / JsonFileName(inner.Items().ExportName[index]), ec)))
                continue;
            if (!trees) trees = TypeTreesOf(scope);
            WriteObjectJson(scope, *trees, index, root);
        }
    } catch (const KestrelError& e) {
        if (e.OutputFailed()) throw;
        reporter.Alert(e.what());
    }
}

} // namespace

bool HasExportTree(const Archive& archive, size_t entry, const RunOptions& options) {
    std::string relative = ExportTreeOf(archive.TreeName());
    if (archive.IsBundle())
        relative += SafeComponent(CutInnerName(archive.InnerFileNames().at(entry)));
    std::error_code ec;
    // A linked tree counts: its import shows the link.
    return fs::is_directory(JoinInside(archive.OutputBaseDir(options), relative, Links::Follow),
                            ec);
}

std::string ImportSummaryLine(const ImportSummary& summary, const InterfaceTexts& text) {
    if (!summary.written) return text.MsgImportUnchanged;
    std::string line = WithValue(text.MsgImportWritten, std::to_string(summary.changedObjects));
    // English counts one object in the singular.
    if (summary.changedObjects == 1 && line.starts_with("1 objects")) line.erase(8, 1);
    return line;
}

ImportSummary ImportInnerFiles(Archive& archive, const std::vector<size_t>& entries,
                               const RunOptions& options, Reporter& reporter) {
    ImportSummary summary;
    const FileLock importing = archive.LockForImport();
    // Pixels and sounds appended to resource files are cut off again when the import fails.
    ResourceGrowthScope growth;
    std::vector<InnerReplacement> replacements;
    std::vector<std::string> lines;
    std::vector<std::pair<size_t, InnerImport>> changedInner;
    for (const size_t entry : entries) {
        const ParsedInnerFile inner = archive.Parse(entry, options, &reporter);
        InnerImport imported = ImportInnerFile(InnerScope{archive, inner, options, reporter});
        if (!imported.replacement) continue;
        summary.changedObjects += imported.changedObjects;
        replacements.push_back(std::move(*imported.replacement));
        imported.replacement.reset();
        lines.insert(lines.end(), imported.movedLines.begin(), imported.movedLines.end());
        changedInner.emplace_back(entry, std::move(imported));
    }
    // A new inner file that could not be opened again (a whole-file edit of a damaged or unknown
    // file that now claims to be an assets file) is not written: the run would fail after the
    // archive changed, and Kestrel could not open it to undo the edit.
    for (const InnerReplacement& replacement : replacements) {
        try {
            ParseAssets(replacement.bytes, 0, ParseOptions{});
        } catch (const KestrelError& e) {
            throw KestrelError("Cannot import into " + archive.Name() +
                               ": the edited files would leave it unreadable (" + e.what() +
                               "). The archive is unchanged.");
        }
    }
    if (!replacements.empty()) {
        std::sort(
            replacements.begin(), replacements.end(),
            [](const InnerReplacement& a, const InnerReplacement& b) { return a.entry < b.entry; });
        archive.Write(replacements, reporter);
        summary.written = true;
        growth.Keep();
        for (const auto& [entry, imported] : changedInner)
            RefreshOtherForms(archive, entry, imported, options, reporter);
    }
    for (const std::string& line : lines)
        reporter.ProgressLine(line);
    reporter.Progress(100);
    return summary;
}

} // namespace kestrel
