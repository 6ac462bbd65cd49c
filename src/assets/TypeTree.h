#pragma once
#include "assets/AssetsTypes.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// How a field of a type tree is stored.
enum class FieldKind : uint8_t {
    Bool,
    Char,
    SInt8,
    UInt8,
    SInt16,
    UInt16,
    SInt32,
    UInt32,
    SInt64,
    UInt64,
    Float,
    Double,
    String,       // 32-bit length and the bytes ("string" over an Array of char)
    Array,        // 32-bit count and the elements (any node whose first child is "Array")
    TypelessData, // 32-bit count and the bytes
    Struct,       // the children in order
    Registry,     // the managed references registry (its version 1 form is a run of objects)
    RefData,      // a referenced object's data: its tree comes from the file's reference types
};

constexpr bool IsPrimitive(FieldKind kind) {
    return kind <= FieldKind::Double;
}

// One field of a compiled tree. Arrays and strings fold their "Array" node, its size and its
// element node into one field. Fields live in their tree and point at each other; name and type
// view the tree's strings (a NUL follows each, so data() serves as a C string).
struct TreeField {
    std::string_view name = "";
    std::string_view type = "";
    FieldKind kind = FieldKind::Struct;
    bool alignAfter = false;              // 0x4000 on the field or on its folded Array node
    uint8_t width = 0;                    // bytes of a primitive
    uint32_t minSize = 0;                 // the fewest bytes the field can take
    const TreeField* element = nullptr;   // Array: the element's field
    std::vector<const TreeField*> fields; // Struct and Registry: the fields in order

    // An array whose elements are primitives stored back to back (kept as bytes, not as values).
    bool PackedArray() const {
        return kind == FieldKind::Array && IsPrimitive(element->kind) && !element->alignAfter;
    }
};

// A type tree compiled for walking: each field knows its kind, alignment and children, so the
// walker compares no type names. Built from the pre-order nodes the file stores.
class TypeTree {
public:
    TypeTree() = default;
    // Raises a KestrelError when the nodes do not form a tree (a level jumps by more than one,
    // an "Array" node lacks its size and element, the tree is empty). The tree shares `strings`,
    // the buffer the nodes' texts point into (none when they point at static text).
    explicit TypeTree(std::span<const TypeTreeNode> nodes,
                      std::shared_ptr<const std::string> strings = nullptr);
    explicit TypeTree(const TypeTreeNodes& nodes) : TypeTree(nodes.nodes, nodes.strings) {}

    // Fields point at each other, so a tree is moved, never copied.
    TypeTree(TypeTree&&) = default;
    TypeTree& operator=(TypeTree&&) = default;
    TypeTree(const TypeTree&) = delete;
    TypeTree& operator=(const TypeTree&) = delete;

    const TreeField& Root() const { return fields_.front(); }
    bool Empty() const { return fields_.empty(); }

private:
    // Levels are single bytes, so the recursion is at most 256 deep.
    const TreeField* Compile(std::span<const TypeTreeNode> nodes, size_t at);

    std::shared_ptr<const std::string> strings_;
    std::vector<TreeField> fields_;
    std::vector<uint32_t> ends_; // while compiling: one past each node's subtree
};

// A reference type of formats 20 and later: the managed class a referenced object's data is
// stored as, and its tree.
struct ReferenceType {
    std::string className;
    std::string nameSpace;
    std::string assembly;
    TypeTree tree;
};

} // namespace kestrel
