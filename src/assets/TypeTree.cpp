#include "assets/TypeTree.h"

#include "common/Error.h"

#include <array>
#include <string_view>
#include <utility>

namespace kestrel {

namespace {

constexpr uint32_t kAlignFlag = 0x4000;

struct PrimitiveName {
    std::string_view type;
    FieldKind kind;
    uint8_t width;
};

// The primitive type names the engines write, and what each is stored as.
constexpr std::array<PrimitiveName, 21> kPrimitives{{
    {"bool", FieldKind::Bool, 1},
    {"char", FieldKind::Char, 1},
    {"SInt8", FieldKind::SInt8, 1},
    {"UInt8", FieldKind::UInt8, 1},
    {"short", FieldKind::SInt16, 2},
    {"SInt16", FieldKind::SInt16, 2},
    {"unsigned short", FieldKind::UInt16, 2},
    {"UInt16", FieldKind::UInt16, 2},
    {"int", FieldKind::SInt32, 4},
    {"SInt32", FieldKind::SInt32, 4},
    {"unsigned int", FieldKind::UInt32, 4},
    {"UInt32", FieldKind::UInt32, 4},
    {"Type*", FieldKind::UInt32, 4},
    {"long long", FieldKind::SInt64, 8},
    {"SInt64", FieldKind::SInt64, 8},
    {"unsigned long long", FieldKind::UInt64, 8},
    {"UInt64", FieldKind::UInt64, 8},
    {"FileSize", FieldKind::UInt64, 8},
    {"float", FieldKind::Float, 4},
    {"double", FieldKind::Double, 8},
    {"int64_t", FieldKind::SInt64, 8},
}};

const PrimitiveName* FindPrimitive(std::string_view type) {
    for (const PrimitiveName& p : kPrimitives) {
        if (p.type == type) return &p;
    }
    return nullptr;
}

// A leaf of an unknown type with a fixed size is carried as an unsigned integer of that size.
FieldKind UnsignedOfWidth(int32_t width) {
    switch (width) {
    case 1:
        return FieldKind::UInt8;
    case 2:
        return FieldKind::UInt16;
    case 4:
        return FieldKind::UInt32;
    case 8:
        return FieldKind::UInt64;
    default:
        return FieldKind::Struct;
    }
}

[[noreturn]] void Malformed(size_t at, const std::string& what) {
    throw KestrelError("Type tree node " + std::to_string(at) + ": " + what);
}

// One past the last node of each node's subtree; checks that levels step down by one at most.
std::vector<uint32_t> SubtreeEnds(std::span<const TypeTreeNode> nodes) {
    std::vector<uint32_t> ends(nodes.size(), static_cast<uint32_t>(nodes.size()));
    std::vector<uint32_t> open;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0 && nodes[i].level <= nodes[0].level) Malformed(i, "a second root");
        if (i > 0 && nodes[i].level > nodes[i - 1].level + 1) Malformed(i, "its level jumps");
        while (!open.empty() && nodes[open.back()].level >= nodes[i].level) {
            ends[open.back()] = static_cast<uint32_t>(i);
            open.pop_back();
        }
        open.push_back(static_cast<uint32_t>(i));
    }
    return ends;
}

} // namespace

TypeTree::TypeTree(std::span<const TypeTreeNode> nodes, std::shared_ptr<const std::string> strings)
    : strings_(std::move(strings)) {
    if (nodes.empty()) throw KestrelError("Empty type tree");
    fields_.reserve(nodes.size());
    ends_ = SubtreeEnds(nodes);
    Compile(nodes, 0);
    ends_.clear();
    ends_.shrink_to_fit();
}

const TreeField* TypeTree::Compile(std::span<const TypeTreeNode> nodes, size_t at) {
    // Every field takes at least one node and the room was reserved, so no field moves.
    const TypeTreeNode& node = nodes[at];
    const size_t self = fields_.size();
    fields_.emplace_back();
    TreeField f;
    f.name = node.name;
    f.type = node.type;
    f.alignAfter = (node.metaFlag & kAlignFlag) != 0;
    const size_t end = ends_[at];
    const bool arrayChild = end > at + 1 && nodes[at + 1].type == "Array";
    if (const PrimitiveName* p = FindPrimitive(node.type)) {
        f.kind = p->kind;
        f.width = p->width;
        f.minSize = p->width;
    } else if (node.type == "string") {
        f.kind = FieldKind::String;
        f.alignAfter = f.alignAfter || (arrayChild && (nodes[at + 1].metaFlag & kAlignFlag) != 0);
        f.minSize = 4;
    } else if (node.type == "TypelessData") {
        f.kind = FieldKind::TypelessData;
        f.minSize = 4;
    } else if (node.type == "ReferencedObjectData") {
        f.kind = FieldKind::RefData;
    } else if (node.type == "Array" || arrayChild) {
        // The size and element nodes lie under the Array node, which is this node or its child.
        const size_t array = node.type == "Array" ? at : at + 1;
        if (ends_[array] != end) Malformed(at, "fields beside its Array node");
        if (ends_[array] <= array + 1 || ends_[array + 1] >= ends_[array])
            Malformed(array, "an Array without its size and element");
        f.kind = FieldKind::Array;
        f.alignAfter = f.alignAfter || (nodes[array].metaFlag & kAlignFlag) != 0;
        f.minSize = 4;
        f.element = Compile(nodes, ends_[array + 1]);
    } else if (end == at + 1 && node.byteSize != 0) {
        f.kind = UnsignedOfWidth(node.byteSize);
        if (f.kind == FieldKind::Struct)
            Malformed(at, "unknown type \"" + std::string(node.type.substr(0, 100)) + "\" of " +
                              std::to_string(node.byteSize) + " bytes");
        f.width = static_cast<uint8_t>(node.byteSize);
        f.minSize = f.width;
    } else {
        f.kind = node.type == "ManagedReferencesRegistry" ? FieldKind::Registry : FieldKind::Struct;
        for (size_t c = at + 1; c < end; c = ends_[c]) {
            const TreeField* child = Compile(nodes, c);
            f.fields.push_back(child);
            f.minSize += child->minSize;
        }
        if (f.kind == FieldKind::Registry && f.fields.empty())
            Malformed(at, "a references registry without its version");
    }
    fields_[self] = std::move(f);
    return &fields_[self];
}

} // namespace kestrel
