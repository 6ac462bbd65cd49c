#include "app/Tasks.h"

#include "app/Options.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/Operations.h"

#include <filesystem>
#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// 1204 as "1,204".
std::string CountText(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

std::string FullPath(const std::string& path) {
    return fs::absolute(path).lexically_normal();
}

int ExportTask(KestrelState& state, const std::string& archive) {
    if (state.TypeFilterActive) {
        ApplyTypeNames(state);
    } else {
        SetExportAllSwitches(state);
    }
    state.Report().ProgressLine("export\r\n");
    OpenArchive(state, FullPath(archive));
    size_t attempted = 0;
    for (const auto& row : state.Items().rows)
        attempted += PassesTypeFilter(state, row.ClassID) ? 1 : 0;
    const size_t failures = ExportFilteredItems(state);
    if (failures != 0) {
        state.Report().Alert(CountText(failures) + " of " + CountText(attempted) +
                             (attempted == 1 ? " object" : " objects") + " failed");
        return 1;
    }
    return 0;
}

int ImportTask(KestrelState& state, const std::string& archive) {
    const fs::path path(archive);
    // The export tree the import reads: under -p DIR when given, else beside the archive, named
    // as the export names it (the file name up to its first dot).
    const std::string fileName = path.filename().string();
    const fs::path base = state.CustomPathGiven ? fs::path(state.CustomPath) : path.parent_path();
    const fs::path dir =
        base / "Unity_Assets_Files" / SafeComponent(fileName.substr(0, fileName.find('.')));
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        state.Report().Alert("Nothing to import: " + dir.string() + " does not exist.");
        return 1;
    }
    // Import rewrites the archive through a file beside it, and keeps its working copy there.
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (::access(folder.c_str(), W_OK) != 0) {
        state.Report().Alert("Cannot import into " + archive + ": import needs to write beside " +
                             "the archive, and " + folder.string() + " cannot be written to.");
        return 1;
    }
    state.Report().ProgressLine("import\r\n");
    OpenArchive(state, archive);
    const std::string root = state.OutputBaseDir + ExportTreeRelative(state);
    if (!fs::is_directory(root, ec)) {
        state.Report().Alert("Nothing to import: " + root + " does not exist.");
        return 1;
    }
    ImportAll(state);
    return 0;
}

int ExportBundleTask(KestrelState& state, const std::string& archive) {
    state.Report().ProgressLine("export\r\n");
    OpenArchive(state, FullPath(archive));
    if (!state.isBundle) {
        state.Report().Alert("Not a bundle, no inner files to export: " + archive);
        return 1;
    }
    ExportBundle(state,
                 state.OutputBaseDir + "Unity_Assets_Files/" + state.ArchiveBaseName + "/Bundle/");
    return 0;
}

int ListTask(KestrelState& state, const std::string& archive) {
    OpenArchive(state, FullPath(archive));
    for (const auto& row : state.Items().listRows)
        state.Report().ProgressLine(ListLine(row));
    return 0;
}

} // namespace

std::string ListLine(const TColumns_ListView& row) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string offset = "0x";
    const int digits = row.offset > 0xFFFFFFFFu ? 16 : 8;
    for (int i = digits - 1; i >= 0; --i)
        offset.push_back(kHex[(row.offset >> (4 * i)) & 0xF]);
    return std::to_string(row.number) + '\t' + row.name + '\t' + std::to_string(row.typeId) +
           row.typeText + '\t' + std::to_string(row.size) + '\t' + offset;
}

int RunTask(KestrelState& state, const std::string& task, const std::string& archive) {
    int code = 1;
    try {
        if (task == "export") {
            code = ExportTask(state, archive);
        } else if (task == "import") {
            code = ImportTask(state, archive);
        } else if (task == "exportbundle") {
            code = ExportBundleTask(state, archive);
        } else if (task == "list") {
            code = ListTask(state, archive);
        }
    } catch (const std::exception& e) {
        // A failed task still removes its working files: a damaged archive leaves nothing behind.
        state.Report().Alert(e.what());
        code = 1;
    }
    try {
        CleanUpWorkingFiles(state);
    } catch (const std::exception& e) {
        state.Report().Alert(e.what());
        code = 1;
    }
    return code;
}

} // namespace kestrel
