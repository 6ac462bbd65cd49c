#pragma once
// The write side of the assets file: an object's new bytes as an import puts them in, and the new
// file around them: every following object moved by exactly the sum of the size changes stored
// before it, the object table and the header's file size rewritten. Nothing is copied: the new
// file is a CompositeSource over the old working file and the imported files.
#include "assets/AssetsTypes.h"
#include "io/ByteSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel {

// One object's new content: its bytes [cutBegin, cutEnd), counted from the object's start, give
// way to `bytes`.
struct ObjectEdit {
    size_t index = 0;
    uint64_t cutBegin = 0;
    uint64_t cutEnd = 0;
    std::shared_ptr<const ByteSource> bytes;

    [[nodiscard]] int64_t SizeDelta() const {
        return static_cast<int64_t>(bytes->Size()) - static_cast<int64_t>(cutEnd - cutBegin);
    }
};

// The edit that puts `exported` (an object's bytes as the export driver writes them to its raw
// file) into object `index` of the assets file in `work`. For an inner payload (HasInnerPayload):
// the payload's length field, the payload and zero bytes up to a multiple of 4 replace the old
// ones, and whatever followed the old padded payload stays. Otherwise the file replaces
// everything after the name field. No edit when the file holds exactly the bytes that an export
// writes for the object now. Raises a KestrelError when the object's payload was not located or
// does not fit the object, or the file is too large for a 32-bit length.
std::optional<ObjectEdit> EditFromExportedFile(const AssetsFile& file,
                                               const std::shared_ptr<const ByteSource>& work,
                                               size_t index,
                                               const std::shared_ptr<const ByteSource>& exported);

// The new content of the assets file at [assetsBase, assetsBase + innerSize) of `work` with the
// edits (at most one per object) applied. Raises a KestrelError, naming `work`, when edits
// overlap, an object table or header would have to move, or a new offset or size does not fit
// its 32-bit field.
std::shared_ptr<const ByteSource> RewriteAssets(const AssetsFile& file,
                                                const std::shared_ptr<const ByteSource>& work,
                                                uint64_t assetsBase, uint64_t innerSize,
                                                std::vector<ObjectEdit> edits);

} // namespace kestrel
