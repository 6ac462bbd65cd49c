#pragma once
// Writing an archive back after an import: the container around the edited inner files (UnityRaw
// and UnityWeb format 3, UnityFS format 6 and later), the recompressed archive of a compressed
// bundle, the split pieces. Every file that replaces the archive, a piece or the working file is
// written beside it under a temporary name, flushed and renamed over it only when complete.
#include "bundle/BundleTypes.h"
#include "io/ByteSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// The whole new content of one inner file: an entry (format 3) or node (format 6) of the bundle,
// by its index in InnerEntries(); index 0 for a plain assets file, whose only inner file is the
// whole file.
struct InnerReplacement {
    size_t entry = 0;
    std::shared_ptr<const ByteSource> bytes;
};

struct ArchiveWriteInput {
    std::string archiveName;  // the archive as the user named it (a ".split0" name for pieces)
    std::string workFileName; // the working file: the archive itself, a ".TEMP" copy or joined pieces
    uint32_t splitPieceCount = 0; // > 0: the archive lies in pieces
    bool isBundle = false;
    Unity3D_Structure* bundle = nullptr; // records as read at open; updated to describe the new file
    std::vector<InnerReplacement> replacements; // at most one per entry, in entry order
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// Writes the new working file (the old one with the replacements, every following entry moved by
// the size changes before it) and, when the working file is a copy, the archive and its pieces
// from it. Afterwards the working file and `bundle` describe the new archive. Raises KestrelError on
// failure; the archive and each piece are then byte for byte the old ones.
void WriteArchive(const ArchiveWriteInput& input);

} // namespace kestrel
