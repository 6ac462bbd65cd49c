#pragma once
#include "session/State.h"

#include <string>

namespace kestrel {

// Turns the archive at `path` into a working file and an item table (see State.h for what it
// sets). Joins split pieces, decompresses compressed bundles into a ".TEMP" copy, selects the
// inner file state.SelectedEntry and parses it. Raises KestrelError on bad input; the working
// files it made for a failed open are removed again.
void OpenArchive(KestrelState& state, const std::string& path);

// Writes every inner file of the bundle opened last into dir (created when missing).
void ExportBundle(KestrelState& state, const std::string& dir);

// Deletes the working files of the archive opened last (".TEMP" copy, joined split file).
void CleanUpWorkingFiles(KestrelState& state);

// Keeps the working file open as state.WorkStream for one export or import, and closes it on
// every path out.
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

// Exports item `index` of the item table under the export tree (see session/ExportDriver.h).
void ExportItem(KestrelState& state, size_t index);

} // namespace kestrel
