// The type-tree walker over arbitrary bytes. The first byte picks the tree: even, a fixed
// MonoBehaviour-like tree with the rest as the object's body; odd, a tree made from the next bytes
// (two per node: level and type) with what follows as the body. Reading must end in fields or a
// KestrelError; fields read must write back to bytes that read (and dump to JSON) the same way.
#include "assets/ObjectJson.h"
#include "common/Error.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using kestrel::TypeTreeNode;

struct NodeKind {
    const char* type;
    int32_t size;
};

constexpr std::array<NodeKind, 14> kKinds{{
    {"Base", -1},
    {"int", 4},
    {"UInt8", 1},
    {"float", 4},
    {"double", 8},
    {"SInt64", 8},
    {"UInt16", 2},
    {"bool", 1},
    {"string", -1},
    {"Array", -1},
    {"vector", -1},
    {"TypelessData", -1},
    {"char", 1},
    {"pair", -1},
}};

std::vector<TypeTreeNode> FixedTree() {
    return {{0, -1, 0, "MonoBehaviour", "Base"},
            {1, 12, 0, "PPtr<GameObject>", "m_GameObject"},
            {2, 4, 0, "int", "m_FileID"},
            {2, 8, 0, "SInt64", "m_PathID"},
            {1, 1, 0x4000, "UInt8", "m_Enabled"},
            {1, -1, 0, "string", "m_Name"},
            {2, -1, 0x4000, "Array", "Array"},
            {3, 4, 0, "int", "size"},
            {3, 1, 0, "char", "data"},
            {1, -1, 0, "vector", "m_Entries"},
            {2, -1, 0, "Array", "Array"},
            {3, 4, 0, "int", "size"},
            {3, -1, 0, "Entry", "data"},
            {4, 4, 0, "float", "m_Weight"},
            {4, 1, 0x4000, "bool", "m_Flag"},
            {1, -1, 0, "TypelessData", "m_Blob"},
            {2, 4, 0, "int", "size"},
            {2, 1, 0, "UInt8", "data"}};
}

// Node names are views of text that outlives the tree, as a file's string buffer does: "f0" to
// "f23", made once.
std::string_view FieldName(size_t i) {
    static const std::array<std::string, 24> names = [] {
        std::array<std::string, 24> made;
        for (size_t k = 0; k < made.size(); ++k)
            made[k] = "f" + std::to_string(k);
        return made;
    }();
    return names.at(i);
}

std::vector<TypeTreeNode> TreeFrom(const uint8_t*& data, size_t& size) {
    std::vector<TypeTreeNode> nodes{{0, -1, 0, "Root", "Base"}};
    const size_t count = size == 0 ? 0 : data[0] % 24;
    ++data;
    --size;
    for (size_t i = 0; i < count && size >= 2; ++i, data += 2, size -= 2) {
        const NodeKind& kind = kKinds[data[1] % kKinds.size()];
        // Levels step down by one at most, so that most inputs make a tree.
        const auto level = static_cast<uint8_t>(std::min(1 + data[0] % 6, nodes.back().level + 1));
        const uint32_t flags = (data[1] & 0x80) != 0 ? 0x4000 : 0;
        nodes.push_back({level, kind.size, flags, kind.type, FieldName(i)});
    }
    return nodes;
}

kestrel::Reader ReaderOver(std::vector<uint8_t> bytes) {
    return kestrel::Reader(std::make_shared<kestrel::MemorySource>("fuzz", std::move(bytes)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool fixed = data[0] % 2 == 0;
    ++data;
    --size;
    try {
        const kestrel::TypeTree tree(fixed ? FixedTree() : TreeFrom(data, size));
        kestrel::Reader object = ReaderOver(std::vector<uint8_t>(data, data + size));
        const kestrel::FieldValue fields = kestrel::ReadObjectFields(tree, object);
        const std::string json = kestrel::FieldsToJson(fields);
        kestrel::Writer written;
        kestrel::WriteObjectFields(fields, written);
        kestrel::Reader again = ReaderOver(written.Data());
        if (kestrel::FieldsToJson(kestrel::ReadObjectFields(tree, again)) != json) __builtin_trap();
        if (kestrel::JsonToObject(tree, json, kestrel::Endian::Little) != written.Data())
            __builtin_trap();
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
