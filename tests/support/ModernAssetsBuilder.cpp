// Serialized files of formats 16 to 22 for tests: the header (format 22 with its 64-bit sizes),
// the type list (one type per distinct class, script instances as class 114 with a script type
// index; type trees as blobs of 24-byte nodes, 32-byte from format 19, and type dependencies from
// format 21), the object table (aligned 64-bit path IDs, byte starts of 32 bits or 64 from format
// 22, type indexes), script types, one external reference, reference types (format 20 on), the
// user information text, and the data area on a multiple of 16 with objects on multiples of 8.
#include "support/AssetsBuilder.h"

#include "io/Writer.h"

#include <algorithm>

namespace kestrel::test {

namespace {

constexpr uint32_t kCommon = 0x80000000u;
constexpr int32_t kScriptClass = 114;

struct PlannedType {
    int32_t planClass = 0; // as in the plan: negative for script instances
    bool named = false;    // its first object has a name field
};

std::vector<PlannedType> PlannedTypes(const AssetsSpec& plan) {
    std::vector<PlannedType> types;
    for (const AssetsObject& object : plan.objects) {
        const bool known = std::any_of(types.begin(), types.end(), [&](const PlannedType& t) {
            return t.planClass == object.classId;
        });
        if (!known) types.push_back({object.classId, object.name.has_value()});
    }
    return types;
}

size_t TypeIndexOf(const std::vector<PlannedType>& types, int32_t planClass) {
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i].planClass == planClass) return i;
    }
    return 0;
}

// A tree blob: the root, then for a named class its name string (with the char array under it)
// and an integer; for another class a reference to its game object first. Strings mix the file's
// own buffer and the engine's common strings (427 "m_Name", 840 "string", 222 "int").
// A tree of the plan's own, its strings in the blob's buffer.
void CustomTreeBlob(Writer& w, const AssetsSpec& plan, const std::vector<TypeTreeNode>& nodes) {
    std::string strings;
    const auto offsetOf = [&](std::string_view text) {
        const size_t found = strings.find(std::string(text) + '\0');
        if (found != std::string::npos && (found == 0 || strings[found - 1] == '\0'))
            return static_cast<uint32_t>(found);
        strings += text;
        strings.push_back('\0');
        return static_cast<uint32_t>(strings.size() - text.size() - 1);
    };
    std::vector<std::pair<uint32_t, uint32_t>> names;
    for (const TypeTreeNode& node : nodes)
        names.emplace_back(offsetOf(node.type), offsetOf(node.name));
    w.U32(static_cast<uint32_t>(nodes.size()));
    w.U32(static_cast<uint32_t>(strings.size()));
    for (size_t i = 0; i < nodes.size(); ++i) {
        w.U16(1);
        w.U8(nodes[i].level);
        w.U8(0);
        w.U32(names[i].first);
        w.U32(names[i].second);
        w.I32(nodes[i].byteSize);
        w.I32(static_cast<int32_t>(i));
        w.U32(nodes[i].metaFlag);
        if (plan.formatVersion >= 19) w.U64(0); // reference type hash
    }
    w.Bytes(strings);
}

void TypeTreeBlob(Writer& w, const AssetsSpec& plan, bool named) {
    struct Node {
        uint8_t level;
        uint32_t type;
        uint32_t name;
        int32_t size;
    };
    const std::string strings("Base\0m_Width\0m_GameObject\0", 26);
    const std::vector<Node> nodes =
        named ? std::vector<Node>{{0, 0, 0, -1},
                                  {1, kCommon | 840, kCommon | 427, -1},
                                  {2, kCommon | 49, kCommon | 49, -1},
                                  {3, kCommon | 222, kCommon | 795, 4},
                                  {3, kCommon | 81, kCommon | 106, 1},
                                  {1, kCommon | 222, 5, 4}}
              : std::vector<Node>{{0, 0, 0, -1}, {1, kCommon | 564, 13, 12}, {1, kCommon | 222, 5, 4}};
    w.U32(static_cast<uint32_t>(nodes.size()));
    w.U32(static_cast<uint32_t>(strings.size()));
    int32_t index = 0;
    for (const Node& node : nodes) {
        w.U16(1);
        w.U8(node.level);
        w.U8(0);
        w.U32(node.type);
        w.U32(node.name);
        w.I32(node.size);
        w.I32(index++);
        w.U32(0);
        if (plan.formatVersion >= 19) w.U64(0); // reference type hash
    }
    w.Bytes(strings);
}

void TypeRecord(Writer& w, const AssetsSpec& plan, const PlannedType& type, int16_t scriptIndex) {
    const int32_t classId = type.planClass < 0 ? kScriptClass : type.planClass;
    w.I32(classId);
    w.U8(0); // not stripped
    if (plan.formatVersion >= 17) w.U16(static_cast<uint16_t>(scriptIndex));
    // One hash per planned class (and salt), as each layout has its own.
    const auto planned = static_cast<uint16_t>(type.planClass);
    const uint8_t hash[16] = {1, plan.typeHashSalt, uint8_t(planned), uint8_t(planned >> 8),
                              0, 0, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2};
    if (classId == kScriptClass) w.Bytes(hash, sizeof hash); // script ID
    w.Bytes(hash, sizeof hash);                               // type hash
    if (!plan.typeTrees) return;
    const auto custom = std::find_if(plan.trees.begin(), plan.trees.end(),
                                     [&](const auto& t) { return t.first == type.planClass; });
    if (custom != plan.trees.end()) {
        CustomTreeBlob(w, plan, custom->second);
    } else {
        TypeTreeBlob(w, plan, type.named);
    }
    if (plan.formatVersion >= 21) {
        w.I32(1); // one type dependency
        w.I32(0);
    }
}

void AlignFromStart(Writer& w) {
    while (w.Size() % 4 != 0)
        w.U8(0);
}

} // namespace

BuiltAssets BuildModernAssets(const AssetsSpec& plan, std::vector<std::vector<uint8_t>> objects) {
    const int32_t format = plan.formatVersion;
    BuiltAssets out;
    uint64_t dataSize = 0;
    for (const auto& object : objects) {
        dataSize = (dataSize + 7) / 8 * 8;
        out.objectOffsets.push_back(static_cast<uint32_t>(dataSize));
        out.objectSizes.push_back(static_cast<uint32_t>(object.size()));
        dataSize += object.size();
    }
    const std::vector<PlannedType> types = PlannedTypes(plan);

    Writer w(plan.Order());
    w.Zeros(16); // sizes, format and data offset: filled in below
    w.U8(plan.bigEndian ? 1 : 0);
    w.Zeros(3);
    if (format >= 22) w.Zeros(28); // metadata size, file size, data offset, reserved
    const size_t headerSize = w.Size();
    w.CString(plan.engineVersion);
    w.U32(plan.targetPlatform);
    w.U8(plan.typeTrees ? 1 : 0);
    w.I32(static_cast<int32_t>(types.size()));
    int16_t scripts = 0;
    for (const PlannedType& type : types)
        TypeRecord(w, plan, type, type.planClass < 0 ? scripts++ : int16_t{-1});
    out.objectCountPos = w.Size();
    w.I32(static_cast<int32_t>(plan.objects.size()));
    AlignFromStart(w);
    out.tableStart = w.Size();
    for (size_t i = 0; i < plan.objects.size(); ++i) {
        AlignFromStart(w);
        w.U64(i + 1);
        if (format >= 22) {
            w.U64(out.objectOffsets[i]);
        } else {
            w.U32(out.objectOffsets[i]);
        }
        w.U32(out.objectSizes[i]);
        w.U32(static_cast<uint32_t>(TypeIndexOf(types, plan.objects[i].classId)));
        if (format == 16) w.U8(0); // stripped flag
    }
    w.I32(scripts);
    for (int16_t i = 0; i < scripts; ++i) {
        w.I32(0);
        AlignFromStart(w);
        w.U64(static_cast<uint64_t>(1000 + i));
    }
    w.I32(1); // one external reference
    w.CString("");
    w.Zeros(16);
    w.I32(0);
    w.CString("library/unity default resources");
    if (format >= 20) w.I32(0); // no reference types
    w.CString("");
    const uint64_t metadataSize = w.Size() - headerSize;
    while (w.Size() % 16 != 0)
        w.U8(0);
    out.dataOffset = static_cast<uint32_t>(w.Size());
    for (size_t i = 0; i < objects.size(); ++i) {
        w.Zeros(out.dataOffset + out.objectOffsets[i] - w.Size());
        w.Bytes(objects[i].data(), objects[i].size());
    }
    w.PutU32BEAt(8, static_cast<uint32_t>(format));
    if (format >= 22) {
        w.PutU32BEAt(20, static_cast<uint32_t>(metadataSize));
        w.PutU64BEAt(24, w.Size());
        w.PutU64BEAt(32, out.dataOffset);
    } else {
        w.PutU32BEAt(0, static_cast<uint32_t>(metadataSize));
        w.PutU32BEAt(4, static_cast<uint32_t>(w.Size()));
        w.PutU32BEAt(12, out.dataOffset);
    }
    out.bytes = w.Take();
    return out;
}

} // namespace kestrel::test
