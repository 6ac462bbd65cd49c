#include "app/Tasks.h"

#include "common/Error.h"
#include "io/SafePath.h"
#include "session/GameFolder.h"
#include "session/JsonForms.h"
#include "session/Operations.h"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string FullPath(const std::string& path) {
    return fs::absolute(path).lexically_normal();
}

int ExportTask(const RunOptions& options, const std::string& path, Reporter& reporter) {
    reporter.ProgressLine("export\n");
    const auto archive = Archive::Open(FullPath(path), reporter, options.text);
    archive->RequireArchive(options.text);
    const ExportCount count = ExportArchive(*archive, options, reporter);
    if (count.failed != 0) {
        reporter.Alert(ExportFailedLine(count, MakeLocalization(false)));
        return 1;
    }
    return 0;
}

int ImportTask(const RunOptions& options, const std::string& path, Reporter& reporter) {
    const fs::path file(path);
    // The export tree the import reads: under -p DIR when given, else beside the archive, named
    // as the export names it (the file name up to its first dot).
    const std::string fileName = file.filename().string();
    const fs::path base =
        options.outputDir.empty() ? file.parent_path() : fs::path(options.outputDir);
    const fs::path dir =
        (base / ExportTreeOf(SafeComponent(fileName.substr(0, fileName.find('.'))))).parent_path();
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        reporter.Alert("Nothing to import: " + dir.string() + " does not exist.");
        return 1;
    }
    // Import rewrites the archive through a file beside it, and keeps its working copy there.
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (::access(folder.c_str(), W_OK) != 0) {
        reporter.Alert("Cannot import into " + path + ": import needs to write beside " +
                       "the archive, and " + folder.string() + " cannot be written to.");
        return 1;
    }
    reporter.ProgressLine("import\n");
    const auto archive = Archive::Open(path, reporter, options.text);
    archive->RequireArchive(options.text);
    if (!archive->IsBundle() || options.entry.given) {
        const size_t entry = archive->Resolve(options.entry);
        if (!HasExportTree(*archive, entry, options)) {
            std::string root = archive->OutputBaseDir(options) + ExportTreeOf(archive->BaseName());
            if (archive->IsBundle())
                root += SafeComponent(CutInnerName(archive->InnerFileNames()[entry])) + "/";
            reporter.Alert("Nothing to import: " + root + " does not exist.");
            return 1;
        }
    }
    const ImportSummary summary = ImportArchive(*archive, options, reporter);
    reporter.ProgressLine(ImportSummaryLine(summary, options.text));
    return 0;
}

int ExportBundleTask(const RunOptions& options, const std::string& path, Reporter& reporter) {
    reporter.ProgressLine("export\n");
    const auto archive = Archive::Open(FullPath(path), reporter, options.text);
    if (!archive->IsBundle()) {
        reporter.Alert("Not a bundle, no inner files to export: " + path);
        return 1;
    }
    // Refused, naming it, when a symbolic link lies on the way below the output folder.
    const std::filesystem::path dir =
        JoinInside(archive->OutputBaseDir(options), ExportTreeOf(archive->BaseName()) + "Bundle/");
    ExportBundleFiles(*archive, dir.string(), reporter);
    return 0;
}

int ListTask(const RunOptions& options, const std::string& path, Reporter& reporter) {
    const auto archive = Archive::Open(FullPath(path), reporter, options.text);
    archive->RequireArchive(options.text);
    ListArchive(*archive, options, reporter);
    return 0;
}

// list, export or import of every archive of a game folder.
int FolderTask(const RunOptions& options, const std::string& path, Reporter& reporter) {
    if (options.task == Task::kExportBundle || options.entry.given) {
        reporter.Alert(path + " is a folder: " +
                       (options.entry.given ? std::string("-e chooses an inner file of one archive")
                                            : std::string("exportbundle takes one bundle")) +
                       "; give an archive instead.");
        return 1;
    }
    if (options.task == Task::kExport) reporter.ProgressLine("export\n");
    if (options.task == Task::kImport) reporter.ProgressLine("import\n");
    const FolderSummary summary =
        RunOnFolder(fs::path(FullPath(path)), options, options.jobs, reporter);
    reporter.ProgressLine(FolderSummaryLine(summary, options.task, options.text));
    return summary.failures == 0 ? 0 : 1;
}

} // namespace

int RunTask(const RunOptions& given, const std::string& archive, Reporter& reporter) {
    try {
        RunOptions options = given;
        if (!options.typeSources.empty() && options.task != Task::kWindow)
            options.typeLibrary = LoadTypeSources(options.typeSources, options, reporter);
        std::error_code ec;
        if (options.task != Task::kWindow && fs::is_directory(archive, ec))
            return FolderTask(options, archive, reporter);
        switch (options.task) {
        case Task::kExport:
            return ExportTask(options, archive, reporter);
        case Task::kImport:
            return ImportTask(options, archive, reporter);
        case Task::kExportBundle:
            return ExportBundleTask(options, archive, reporter);
        case Task::kList:
            return ListTask(options, archive, reporter);
        case Task::kWindow:
            break;
        }
    } catch (const std::bad_alloc&) {
        reporter.Alert(OutOfMemoryMessage(archive, "to finish the task"));
    } catch (const std::length_error&) {
        reporter.Alert(OutOfMemoryMessage(archive, "to finish the task"));
    } catch (const std::exception& e) {
        // A failed task still removes its working files (the archive's destructor ran): a damaged
        // archive leaves nothing behind.
        reporter.Alert(e.what());
    }
    return 1;
}

} // namespace kestrel
