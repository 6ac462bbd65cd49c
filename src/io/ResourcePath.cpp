#include "io/ResourcePath.h"

#include "common/Error.h"
#include "io/SafePath.h"

#include <algorithm>

namespace kestrel {
namespace {

std::string AfterLastSeparator(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string BeforeFirstSeparator(const std::string& path) {
    return path.substr(0, path.find_first_of("/\\"));
}

void RequireContainedPath(const std::string& relative, const std::string& shown,
                          const std::string& owner) {
    // A drive letter ("C:x") names a place outside the archive's directory on the engine's
    // Windows tools.
    const bool drive =
        relative.size() >= 2 && relative[1] == ':' &&
        ((relative[0] >= 'A' && relative[0] <= 'Z') || (relative[0] >= 'a' && relative[0] <= 'z'));
    bool refused = drive || relative.find('\0') != std::string::npos ||
                   (!relative.empty() && relative.front() == '/');
    size_t start = 0;
    while (!refused && start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        refused = relative.compare(start, end - start, "..") == 0;
        start = end + 1;
    }
    if (refused) {
        throw KestrelError("Refused resource path of " + owner + ": \"" + shown +
                           "\" leads outside the archive's directory");
    }
}

bool IsInnerFile(const ResourcePlaces& places, const std::string& name) {
    return std::any_of(places.innerFileNames.begin(), places.innerFileNames.end(),
                       [&](const std::string& inner) { return AfterLastSeparator(inner) == name; });
}

} // namespace

ResourceFileLocation LocateResourceFile(const ResourcePlaces& places, const std::string& storedPath,
                                        const std::string& owner) {
    ResourceFileLocation where;
    where.fileName = AfterLastSeparator(storedPath);
    const bool archivePath = storedPath.rfind("archive:", 0) == 0;
    const bool inExportTree =
        archivePath || (!places.innerFileNames.empty() && IsInnerFile(places, where.fileName));
    if (inExportTree) {
        const std::string tree = places.archiveTree.empty()
                                     ? BeforeFirstSeparator(places.archiveDirName)
                                     : places.archiveTree;
        where.relativePath = ExportTreeOf(tree) + where.fileName + "/" + where.fileName;
    } else {
        // Windows builds of the engine may store "\" separators; they separate directories.
        where.relativePath = storedPath;
        std::replace(where.relativePath.begin(), where.relativePath.end(), '\\', '/');
    }
    RequireContainedPath(where.relativePath, storedPath, owner);
    const std::string& base =
        inExportTree || places.archiveDir.empty() ? places.outputBaseDir : places.archiveDir;
    // The export tree's copy is refused through a link; the archive's folder is the user's own.
    where.file = JoinInside(base, where.relativePath, inExportTree ? Links::Refuse : Links::Follow);
    where.shownPath = base + where.relativePath;
    return where;
}

} // namespace kestrel
