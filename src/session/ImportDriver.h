#pragma once
// Importing edited export trees back into an archive: edited pictures and sounds are converted
// into raw object files first, then every raw file that changes its object's bytes becomes an
// edit, and the archive is written once with every inner file that changed.
#include "session/Archive.h"
#include "session/RunOptions.h"

#include <cstddef>
#include <vector>

namespace kestrel {

struct ImportSummary {
    size_t changedObjects = 0;
    bool written = false; // the archive was written (some byte changed)
};

// The line that ends an import, in the interface language: "3 objects changed, archive written"
// or "nothing changed, archive not written".
std::string ImportSummaryLine(const ImportSummary& summary, const InterfaceTexts& text);

// Imports inner files `entries` of the archive, in this order, from their export trees (those
// without one are passed over), and writes the archive once when a byte changed. Afterwards the
// archive describes the new file; inner files parsed before describe the old one.
ImportSummary ImportInnerFiles(Archive& archive, const std::vector<size_t>& entries,
                               const RunOptions& options, Reporter& reporter);

// True when inner file `entry` of the archive has an export tree under the options' places.
bool HasExportTree(const Archive& archive, size_t entry, const RunOptions& options);

} // namespace kestrel
