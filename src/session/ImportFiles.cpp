#include "session/ImportFiles.h"

#include "common/Error.h"
#include "io/Reader.h"
#include "io/SafePath.h"
#include "session/Converters.h"

#include <algorithm>
#include <array>
#include <set>
#include <unordered_map>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A regular file itself, not a symbolic link to one: links in an export tree are never followed.
bool IsRegularFile(const fs::directory_entry& entry) {
    std::error_code ec;
    return fs::is_regular_file(entry.symlink_status(ec));
}

// True when a symbolic link lies beside `file` under its name or its name and a suffix (the
// further images "_2", ... of a picture, the DDS a CRN file is made from).
bool HasLinkedCompanion(const fs::path& file, const std::vector<fs::path>& links) {
    const std::string name = file.filename().string();
    return std::any_of(links.begin(), links.end(), [&](const fs::path& link) {
        return link.parent_path() == file.parent_path() &&
               link.filename().string().starts_with(name);
    });
}

} // namespace

fs::path ImportRoot(const InnerScope& scope) {
    return JoinInside(scope.OutputBaseDir(), scope.TreeRelative());
}

bool SelectedByTypeFilter(std::string_view fileName, const std::vector<std::string>& filter) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string extension = LowerAscii(fileName.substr(dot + 1));
    return std::any_of(filter.begin(), filter.end(), [&](const std::string& entry) {
        return entry == "114" ? extension.starts_with('-') : extension == LowerAscii(entry);
    });
}

std::vector<std::string> RawFileNames(const fs::path& root, const RunOptions& options) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (!IsRegularFile(entry)) continue;
        const std::string name = entry.path().filename().string();
        if (!options.typeFilterActive || SelectedByTypeFilter(name, options.typeFilter))
            names.insert(name);
    }
    if (ec) throw KestrelError("Cannot list " + root.string() + ": " + ec.message());
    return {names.begin(), names.end()};
}

std::vector<fs::path> CollectFiles(const fs::path& dir, std::string_view extension) {
    std::vector<fs::path> found;
    const std::string wanted = "." + std::string(extension);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!IsRegularFile(*it)) continue;
        if (extension.empty() || LowerAscii(it->path().extension().string()) == wanted)
            found.push_back(it->path());
    }
    if (ec) throw KestrelError("Cannot list " + dir.string() + ": " + ec.message());
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<ConvertedFile> ConvertEditedFiles(const InnerScope& scope, const fs::path& root,
                                              const fs::path& staging,
                                              const std::vector<fs::path>& links) {
    std::vector<ConvertedFile> converted;
    size_t runs = 0;
    const ItemTable& items = scope.inner.Items();
    std::unordered_map<std::string, size_t> byExportName;
    for (size_t i = items.Count(); i-- > 0;)
        byExportName[items.ExportName[i]] = i; // the first object of a name wins
    for (const ConverterRow& scan : ConverterRows()) {
        if (scan.importFile == nullptr) continue;
        const fs::path dir = root / std::string(scan.directory);
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(dir, ec))) continue;
        for (const fs::path& file : CollectFiles(dir, scan.extension)) {
            const auto it = byExportName.find(file.stem().string());
            if (it == byExportName.end()) continue;        // an image of no object is passed over
            if (HasLinkedCompanion(file, links)) continue; // the link is shown already
            if (runs == 0) CreateDirectories(staging);
            const fs::path output = staging / std::to_string(runs++);
            const ConvertResult result = scan.importFile(scope, {it->second, file, output});
            if (!result.ok) scope.reporter.Alert(result.message);
            std::error_code exists;
            if (result.ok && fs::is_regular_file(output, exists))
                converted.push_back({it->second, file, output});
            scope.reporter.Breathe();
        }
    }
    return converted;
}

} // namespace kestrel
