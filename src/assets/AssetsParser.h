#pragma once
#include "assets/AssetsTypes.h"
#include "container/ByteSource.h"
#include "core/Reporter.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

struct ParseOptions {
    std::string innerFileName; // base of the fallback export names
    bool fontAsObject = false; // every Font exported whole as ".fnt"
    bool fillListRows = false; // fill ItemTable::listRows (the window, the list task)
    Reporter* reporter = nullptr; // progress and the two search messages; may be null
};

// Reads the assets header at assetsBase of the working file into `out`. EngineMajorVersion 0
// means the data is not an assets file. Raises KestrelError (file, offset, field) on a short read.
void ReadAssetsHeader(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                      AssetsFile& out);

// Header, type metadata, object table and item table of the assets file at assetsBase. Format
// versions above 15 give an empty item table. Every count and offset is checked against the
// file; a damaged file raises KestrelError naming the file and the offset.
AssetsFile ParseAssets(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                       const ParseOptions& options);

// Writes list row `listIndex` from object `objectIndex`.
void FillListRow(AssetsFile& file, size_t listIndex, size_t objectIndex);

// True when the object's exported bytes are its inner payload rather than everything after its
// name field: 48 and 49 always, 128 and 152 when payloadSize is non-zero.
bool HasInnerPayload(int32_t typeId, uint32_t payloadSize);

} // namespace kestrel
