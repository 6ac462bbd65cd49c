#include "assets/TypeTreeLibrary.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr int32_t kMonoBehaviourClass = 114;

// Formats up to 15 give a script type a negative type ID; later formats its class, 114.
int32_t ClassOf(const FileTypeTrees::Type& type) {
    return type.classId < 0 ? kMonoBehaviourClass : type.classId;
}

bool Hashed(const FileTypeTrees::Type& type) {
    return std::any_of(type.typeHash.begin(), type.typeHash.end(), [](uint8_t b) { return b; });
}

bool SameLayout(const FileTypeTrees::Type& a, const FileTypeTrees::Type& b) {
    return ClassOf(a) == ClassOf(b) && a.typeHash == b.typeHash && a.scriptId == b.scriptId;
}

} // namespace

void TypeTreeLibrary::Add(std::string origin, FileTypeTrees trees) {
    donors_.push_back(Donor{std::move(origin), std::move(trees)});
}

size_t TypeTreeLibrary::TreeCount() const {
    size_t count = 0;
    for (const Donor& donor : donors_) {
        count += std::count_if(donor.trees.types.begin(), donor.trees.types.end(),
                               [](const FileTypeTrees::Type& t) { return !t.tree.Empty(); });
    }
    return count;
}

size_t TypeTreeLibrary::Lend(FileTypeTrees& target) const {
    size_t lent = 0;
    for (FileTypeTrees::Type& type : target.types) {
        // A type without its layout hash cannot be matched: a lent tree could misread it.
        if (!type.tree.Empty() || type.borrowed != nullptr || !Hashed(type)) continue;
        for (const Donor& donor : donors_) {
            const auto match =
                std::find_if(donor.trees.types.begin(), donor.trees.types.end(),
                             [&](const FileTypeTrees::Type& d) {
                                 return !d.tree.Empty() && SameLayout(d, type);
                             });
            if (match == donor.trees.types.end()) continue;
            type.borrowed = &match->tree;
            if (target.referenceTypes.empty() && target.borrowedReferenceTypes.empty())
                target.borrowedReferenceTypes = donor.trees.referenceTypes;
            ++lent;
            break;
        }
    }
    return lent;
}

} // namespace kestrel
