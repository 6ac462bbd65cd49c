#pragma once
// A game folder as one input: every archive below it, found by its content, worked on by a pool of
// workers, one archive each at a time. The export tree keeps the folder's relative paths: the
// archive GAME_Data/level0 of the folder has its tree in
// OUTPUT/Unity_Assets_Files/GAME_Data/level0/ (its whole file name, so that "a/data.unity3d"
// and "a/data.bundle" stay apart), and import reads exactly that tree back.
#include "common/Reporter.h"
#include "session/RunOptions.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {

// One archive of a game folder.
struct FolderArchive {
    // "/"-separated below the folder; split pieces by the name they join into ("a/b.assets" for
    // "a/b.assets.split0", ...): also the archive's export tree below "Unity_Assets_Files/".
    std::string relativePath;
    std::filesystem::path file; // the file opened: the archive, or its ".split0" piece
    uint64_t bytes = 0;         // the archive's bytes on disk (all its pieces)
};

// What the walk of a game folder found, in a stable order (by relative path, byte by byte).
struct FolderContents {
    std::vector<FolderArchive> archives;
    // Files that are no archive (pictures, programs, text) and symbolic links, which are not
    // followed. Resource files (.resS, .resource), split pieces after the first, Kestrel's own
    // working files, "*.bak" and the export trees (Unity_Assets_Files/) are not counted.
    size_t skippedFiles = 0;
    // Addressables catalogs found on the way ("catalog.json", "catalog_*.json", ".bin"), sorted.
    std::vector<std::filesystem::path> catalogs;
};

// True when the file starts as an archive Kestrel reads: a bundle's signature, or an assets
// header that names an engine version.
bool LooksLikeArchive(const std::filesystem::path& file);

// Walks `folder` (not following symbolic links). Raises a KestrelError naming the folder when it
// cannot be read.
FolderContents WalkGameFolder(const std::filesystem::path& folder);

// The worker count of a run: `jobs` when set, else the number of cores.
unsigned WorkerCount(unsigned jobs);

struct FolderSummary {
    size_t archives = 0;     // archives worked on (for import: those with an export tree)
    size_t objects = 0;      // objects listed or exported; for import, objects changed
    size_t failures = 0;     // archives that failed, and failed objects of the others
    size_t skippedFiles = 0; // see FolderContents
    size_t written = 0;      // import: archives written
    size_t withoutTree = 0;  // import: archives left alone, their export tree absent
    std::vector<std::string> writtenArchives; // import: their relative paths, sorted
};

// The summary line that ends a folder run, in the interface language.
std::string FolderSummaryLine(const FolderSummary& summary, Task task, const InterfaceTexts& text);

// Lists, exports or imports (options.task) every archive of the folder with WorkerCount(jobs)
// workers. Output lines are whole lines; `list` prints "## RELATIVE/PATH" before each archive's
// rows, the archives in the walk's order. A failure of one archive is reported (Alert, naming
// it) and counted, and the others go on. Progress over the whole run goes to
// reporter.ProgressText. Import writes each changed archive as a single-archive import does; an
// archive whose export tree is absent is left alone. With one worker the run stays on the
// caller's thread and passes the archives' breaths (Reporter::Breathe) on, so that a window
// running it keeps painting.
FolderSummary RunOnFolder(const std::filesystem::path& folder, const RunOptions& options,
                          unsigned jobs, Reporter& reporter);

} // namespace kestrel
