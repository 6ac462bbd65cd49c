#pragma once
#include "bundle/BundleTypes.h"
#include "io/ByteSource.h"
#include "io/Writer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// One inner file of a bundle: its name as stored and its bytes in the working file.
struct InnerEntry {
    std::string name;
    uint64_t offset = 0; // absolute position in the working file
    uint64_t size = 0;
};

// How a decompressed working copy is made and reported.
struct ContainerOptions {
    // The name errors give for the archive (the file the user named); the path when empty.
    std::string shownName;
    // Creates the file the copy is written to, given its declared size in bytes (UINT64_MAX when
    // the archive does not say), and sets `path`. Without one the copy is created exclusively
    // beside the archive under the first free name of path + ".TEMP", ".TEMP.1", ...
    std::function<std::unique_ptr<OutputFile>(uint64_t declaredSize, std::string& path)> makeCopy;
    // Called as the copy grows: bytes written so far, and the declared total (0 when unknown).
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// What reading an archive's container gives.
struct ContainerInfo {
    std::string workFileName;               // the archive itself or its ".TEMP" copy
    std::shared_ptr<const ByteSource> work; // the working file, opened read-only
    bool isBundle = false;                  // a bundle directory (formats 1 to 8) was read
    bool madeWorkCopy = false;              // this call wrote the ".TEMP" copy
    ContainerOptions options;               // as passed to ReadContainer
};

// Recognises the archive at `path` and reads its bundle header and directory into `bundle`. A
// compressed UnityWeb (formats 1 to 3) or UnityFS (formats 6 to 8) bundle is decompressed block by
// block into path + ".TEMP", which is itself a bundle describing one uncompressed block; reopening
// that copy decompresses nothing. The copy is made through options.makeCopy when given. Any other
// format version or signature leaves isBundle false: the file is read as a plain assets file from
// position 0. Raises KestrelError naming file and offset on a damaged bundle, after removing a
// ".TEMP" copy it was writing.
ContainerInfo ReadContainer(const std::string& path, BundleStructure& bundle,
                            const ContainerOptions& options = {});

// The inner files of the bundle read last (entries of formats 1 to 3, nodes of 6 to 8), with
// absolute positions in the working file. Empty for a file that is no bundle.
std::vector<InnerEntry> InnerEntries(const BundleStructure& bundle);

// An inner name with everything up to its last "\" and then its last "/" removed.
std::string CutInnerName(std::string_view name);

// True for an inner file that holds streamed data (".resS", ".resource", in any case).
bool IsResourceEntry(std::string_view name);

// The resource entries holding the streamed data of inner file `owner`: the engine names them
// after it ("CAB-x" keeps its data in "CAB-x.resS", "level.assets" in "level.assets.resS" and
// "level.resource").
std::vector<size_t> ResourceEntriesOf(const std::vector<std::string>& names, size_t owner);

} // namespace kestrel
