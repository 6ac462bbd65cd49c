#pragma once
// Type trees lent by other files. Player data of newer engines strips the trees but keeps each
// type's layout hash; a bundle built by the same engine version (or a file holding the same
// script's type) carries trees with those hashes, and a tree read from it serves every object
// whose type has the same class, layout hash and, for scripts, script ID.
#include "assets/FileTypeTrees.h"

#include <string>
#include <vector>

namespace kestrel {

class TypeTreeLibrary {
public:
    // Adds the trees of one inner file of a donor; `origin` names it in messages.
    void Add(std::string origin, FileTypeTrees trees);
    // How many distinct trees the library holds.
    size_t TreeCount() const;

    // Lends a tree to every type of `target` that has none and whose hashes match a donor
    // type's. Returns how many types received one.
    size_t Lend(FileTypeTrees& target) const;

private:
    struct Donor {
        std::string origin;
        FileTypeTrees trees;
    };
    std::vector<Donor> donors_;
};

} // namespace kestrel
