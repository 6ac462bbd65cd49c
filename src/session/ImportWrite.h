#pragma once
// Putting an import's new inner files into the archive, and reading the archive again afterwards.
#include "bundle/ArchiveWriter.h"
#include "session/State.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// Writes the archive with the new inner files (at most one per inner file, in inner-file order)
// through the archive writer: every file that replaces the archive, a piece or the working file is
// written beside it and renamed over it only when complete. Updates the bundle records and the
// piece count. Raises a KestrelError naming the archive on failure; the archive is then unchanged.
void WriteImportedArchive(KestrelState& state, const std::vector<InnerReplacement>& files);

// The list rows' object numbers in their display order, for ReopenInnerFile.
std::vector<uint32_t> ListOrder(const KestrelState& state);

// Opens inner file `entry` of the archive opened last again from its working file (header and
// item table as they are now) and puts the list rows back in `order` when it fits.
void ReopenInnerFile(KestrelState& state, const EntrySelector& entry,
                     const std::vector<uint32_t>& order);

// The index of the open inner file among the bundle's inner files (0 for a plain file).
size_t OpenInnerFileIndex(const KestrelState& state);

} // namespace kestrel
