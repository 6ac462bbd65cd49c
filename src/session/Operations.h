#pragma once
// The operations of a run on an open archive, shared by the command line and the window. They
// own the order of a bundle's inner files: resource entries (.resS, .resource) are exported
// first, since the conversions of the other inner files read their exported copies, and imported
// last, since sound imports write into those copies.
#include "session/Archive.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/RunOptions.h"

#include <string>
#include <vector>

namespace kestrel {

// Appends the list row of object `index` (number, export name, class, size, offset; tab
// separated) to `out`.
void AppendListLine(std::string& out, const AssetsFile& file, size_t index);

// Prints the rows of the archive as progress lines: the inner file options.entry chooses, or
// without -e every inner file, each after a line "# N NAME" when there are several.
void ListArchive(const Archive& archive, const RunOptions& options, Reporter& reporter);

// Exports the archive: with -e the chosen inner file after the resource entries it needs that
// are not exported yet; without, every inner file, the resource entries first.
ExportCount ExportArchive(const Archive& archive, const RunOptions& options, Reporter& reporter);

// Exports chosen objects of a parsed inner file (the window's commands), after the resource
// entries it needs that are not exported yet.
ExportCount ExportChosenObjects(const Archive& archive, const ParsedInnerFile& inner,
                                const std::vector<size_t>& objects, const RunOptions& options,
                                Reporter& reporter);

// Writes every inner file of the bundle whole into dir (created when missing).
void ExportBundleFiles(const Archive& archive, const std::string& dir, Reporter& reporter);

// Imports the archive: with -e the chosen inner file and then the resource entries named after
// it; without, every inner file whose export tree exists, the resource entries last. The archive
// is written once, and only when a byte changes.
ImportSummary ImportArchive(Archive& archive, const RunOptions& options, Reporter& reporter);

// The same for a chosen inner file (the window's "Import all").
ImportSummary ImportInnerFileAndResources(Archive& archive, size_t entry, const RunOptions& options,
                                          Reporter& reporter);

} // namespace kestrel
