#pragma once
#include "assets/AssetsTypes.h"
#include "assets/TypeTree.h"
#include "io/ByteSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// Every type tree an assets file carries, compiled: one per record of its type list, and the
// reference types of formats 20 and later (what a managed reference's data is read by).
struct FileTypeTrees {
    using Hash = std::array<uint8_t, 16>;
    struct Type {
        int32_t classId = 0; // formats up to 15: the type ID objects name (negative for scripts)
        TypeTree tree;       // empty when the record has none
        // Formats 14 on: the hash of the type's layout, and for a script type the script's.
        // All zeros when the file does not store them.
        Hash typeHash{};
        Hash scriptId{};
        // A tree of the same layout lent by another file (see TypeTreeLibrary) when the record
        // has none; it lives as long as the library.
        const TypeTree* borrowed = nullptr;
    };
    std::vector<Type> types;
    std::vector<ReferenceType> referenceTypes;
    // Reference types of the file that lent trees, used when this file stores none.
    std::span<const ReferenceType> borrowedReferenceTypes;
    std::vector<std::string> unusable; // why a tree the file holds could not be compiled

    // The tree object `row` of the file is read by, or nullptr when it has none.
    const TypeTree* TreeOf(const AssetsFile& file, const ObjectRow& row) const;
    // The reference types managed references are read by.
    std::span<const ReferenceType> ReferenceTypes() const {
        return referenceTypes.empty() ? borrowedReferenceTypes : referenceTypes;
    }
};

// Reads the type trees of the assets file at assetsBase, already parsed into `file` (ParseAssets).
// Formats 5 to 9 (nested nodes), 14 and 15 and 16 to 22 (node blobs) are read; a file without
// type trees, or of another format, gives none. Raises a KestrelError naming file, offset and
// field on damaged metadata.
FileTypeTrees ReadFileTypeTrees(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                                const AssetsFile& file);

} // namespace kestrel
