#pragma once
#include "session/State.h"

#include <cstddef>
#include <vector>

namespace kestrel {

// "Unity_Assets_Files/" + ArchiveDirName + "/": the export tree of the archive opened last,
// relative to OutputBaseDir.
std::string ExportTreeRelative(const KestrelState& state);

// Exports one item of the item table (its payload, raw object file and converted files, as the
// export switches say). An error is shown through Reporter::Alert and does not stop the caller;
// returns false when one occurred. Requires state.WorkStream to be open.
bool ExportItemChecked(KestrelState& state, size_t index);

// True when an item of this class passes the -t filter (always without -t).
bool PassesTypeFilter(const KestrelState& state, int32_t classId);

// The command-line export loop: opens the working file, writes the progress line of each item
// that passes the type filter (every item with everyItem) and exports it. Returns the number of
// items that failed.
size_t ExportFilteredItems(KestrelState& state, bool everyItem = false);

// Exports the given items (the window's export commands). Returns the number that failed.
size_t ExportItems(KestrelState& state, const std::vector<size_t>& indices);

} // namespace kestrel
