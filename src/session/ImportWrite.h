#pragma once
// Putting an import's new inner files into the archive, and reading the archive again afterwards.
#include "io/ByteSource.h"
#include "session/State.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace kestrel {

// The whole new content of one inner file (index into the bundle's inner files; 0 for a plain
// assets file).
struct NewInnerFile {
    size_t entry = 0;
    std::shared_ptr<const ByteSource> bytes;
};

// Writes the archive with the new inner files. The archive is written anew beside itself,
// flushed and renamed over the old one only when complete, so that it is byte for byte the old
// or the new archive whatever happens. Raises a KestrelError naming the archive on failure; the
// archive is then unchanged.
void WriteImportedArchive(KestrelState& state, const std::vector<NewInnerFile>& files);

// Reads the archive opened last again (its working file, header and item table), keeping the
// order of the list rows, so that the state describes the file as it is now.
void ReopenAfterImport(KestrelState& state);

// The index of the open inner file among the bundle's inner files (0 for a plain file).
size_t OpenInnerFileIndex(const KestrelState& state);

} // namespace kestrel
