// Type list of serialized formats 16 to 22: per type the class ID, the stripped flag, the script
// type index (17 on), the script ID of script types, the type hash, and with type trees the tree
// as one blob (nodes of 24 bytes, 32 from format 19, then the string buffer) followed by the
// type dependencies (21 on). Reference types (20 on) share the record and name their class with
// three strings instead of the dependencies.
#include "assets/AssetsParser.h"

#include "assets/ClassId.h"
#include "assets/TypeTreeBlob.h"

#include "io/Reader.h"

#include <string>
#include <string_view>

namespace kestrel {

namespace {

// The engine's common strings: type tree names whose offset has the top bit set are taken from
// this buffer (the offset without that bit) instead of the file's own string buffer.
constexpr std::string_view kCommonStrings{
    "AABB\0AnimationClip\0AnimationCurve\0AnimationState\0Array\0Base\0BitField\0bitset\0bool\0"
    "char\0ColorRGBA\0Component\0data\0deque\0double\0dynamic_array\0FastPropertyName\0first\0"
    "float\0Font\0GameObject\0Generic Mono\0GradientNEW\0GUID\0GUIStyle\0int\0list\0long long\0"
    "map\0Matrix4x4f\0MdFour\0MonoBehaviour\0MonoScript\0m_ByteSize\0m_Curve\0"
    "m_EditorClassIdentifier\0m_EditorHideFlags\0m_Enabled\0m_ExtensionPtr\0m_GameObject\0"
    "m_Index\0m_IsArray\0m_IsStatic\0m_MetaFlag\0m_Name\0m_ObjectHideFlags\0m_PrefabInternal\0"
    "m_PrefabParentObject\0m_Script\0m_StaticEditorFlags\0m_Type\0m_Version\0Object\0pair\0"
    "PPtr<Component>\0PPtr<GameObject>\0PPtr<Material>\0PPtr<MonoBehaviour>\0PPtr<MonoScript>\0"
    "PPtr<Object>\0PPtr<Prefab>\0PPtr<Sprite>\0PPtr<TextAsset>\0PPtr<Texture>\0PPtr<Texture2D>\0"
    "PPtr<Transform>\0Prefab\0Quaternionf\0Rectf\0RectInt\0RectOffset\0second\0set\0short\0size\0"
    "SInt16\0SInt32\0SInt64\0SInt8\0staticvector\0string\0TextAsset\0TextMesh\0Texture\0"
    "Texture2D\0Transform\0TypelessData\0UInt16\0UInt32\0UInt64\0UInt8\0unsigned int\0"
    "unsigned long long\0unsigned short\0vector\0Vector2f\0Vector3f\0Vector4f\0"
    "m_ScriptingClassIdentifier\0Gradient\0Type*\0int2_storage\0int3_storage\0BoundsInt\0"
    "m_CorrespondingSourceObject\0m_PrefabInstance\0m_PrefabAsset\0FileSize\0Hash128\0",
    1169};

constexpr uint32_t kCommonStringBit = 0x80000000u;
constexpr uint64_t kHashSize = 16;
constexpr int32_t kMonoBehaviourClass = 114;
// A bound for the strings of reference types and external references.
constexpr uint64_t kMaxTextLength = 64 * 1024;

// The text at `offset` of a buffer whose last byte is a NUL, so that one follows every text; an
// offset past the buffer gives the empty text.
std::string_view StringAt(std::string_view buffer, uint64_t offset) {
    if (offset >= buffer.size()) return "";
    const std::string_view rest = buffer.substr(static_cast<size_t>(offset));
    return rest.substr(0, rest.find('\0'));
}

// `local` is the blob's string buffer with a NUL added at its end.
std::string_view NodeString(std::string_view local, uint32_t offset) {
    if ((offset & kCommonStringBit) != 0)
        return StringAt(kCommonStrings, offset & ~kCommonStringBit);
    return StringAt(local, offset);
}

// Classes whose whole type tree is kept: Texture2D and Cubemap.
bool KeepsTree(int32_t classId) {
    return classId == ClassId::kTexture2D || classId == ClassId::kCubemap;
}

} // namespace

bool ReadTypeTreeBlob(Reader& r, int32_t format, TypeTreeNodes* keep) {
    const uint64_t nodeSize = format >= 19 ? 32 : 24;
    const int32_t nodeCount = r.I32("type tree node count");
    const int32_t stringSize = r.I32("type tree string buffer size");
    if (nodeCount < 0 || stringSize < 0) {
        r.Fail(r.Pos() - 8, "type tree", "negative type tree node count or string buffer size");
    }
    const uint64_t nodesStart = r.Pos();
    r.Require(uint64_t(nodeCount) * nodeSize + uint64_t(stringSize), "type tree");
    bool beginsWithName = false;
    uint32_t typeOffset = 0;
    uint32_t nameOffset = 0;
    if (nodeCount >= 2) {
        // The root is node 0; node 1 is its first field.
        r.Seek(nodesStart + nodeSize + 2, "type tree node");
        const uint8_t level = r.U8("type tree node level");
        r.Skip(1, "type tree node flags");
        typeOffset = r.U32("type tree node type");
        nameOffset = r.U32("type tree node name");
        beginsWithName = level == 1;
    }
    r.Seek(nodesStart + uint64_t(nodeCount) * nodeSize, "type tree strings");
    // One copy of the buffer, with a NUL after it, that every node's texts view.
    auto owned = std::make_shared<std::string>(static_cast<size_t>(stringSize) + 1, '\0');
    r.Bytes(reinterpret_cast<uint8_t*>(owned->data()), uint64_t(stringSize), "type tree strings");
    const std::string_view strings(*owned);
    if (keep != nullptr) {
        const uint64_t end = r.Pos();
        // The count was checked against the bytes left above.
        keep->nodes.clear();
        keep->nodes.reserve(static_cast<size_t>(nodeCount));
        for (int32_t i = 0; i < nodeCount; ++i) {
            r.Seek(nodesStart + uint64_t(i) * nodeSize + 2, "type tree node");
            TypeTreeNode node;
            node.level = r.U8("type tree node level");
            r.Skip(1, "type tree node flags");
            node.type = NodeString(strings, r.U32("type tree node type"));
            node.name = NodeString(strings, r.U32("type tree node name"));
            node.byteSize = r.I32("type tree node size");
            r.Skip(4, "type tree node index");
            node.metaFlag = r.U32("type tree node flags");
            keep->nodes.push_back(node);
        }
        keep->strings = std::move(owned);
        r.Seek(end, "type tree");
    }
    return beginsWithName && NodeString(strings, nameOffset) == "m_Name" &&
           NodeString(strings, typeOffset) == "string";
}

SerializedType ReadSerializedType(Reader& r, int32_t format, bool typeTrees, bool refType) {
    SerializedType type;
    type.classId = r.I32("type class ID");
    type.stripped = r.U8("stripped type flag") != 0;
    if (format >= 17) type.scriptTypeIndex = static_cast<int16_t>(r.U16("script type index"));
    if ((refType && type.scriptTypeIndex >= 0) || type.classId == kMonoBehaviourClass) {
        r.Skip(kHashSize, "script ID");
    }
    r.Skip(kHashSize, "type hash");
    if (!typeTrees) return type;
    type.hasTypeTree = true;
    type.treeBeginsWithName =
        ReadTypeTreeBlob(r, format, KeepsTree(type.classId) && !refType ? &type.tree : nullptr);
    if (format >= 21) {
        if (refType) {
            r.CString(kMaxTextLength, "reference type class name");
            r.CString(kMaxTextLength, "reference type namespace");
            r.CString(kMaxTextLength, "reference type assembly");
        } else {
            const int32_t count = r.I32("type dependency count");
            if (count < 0) r.Fail(r.Pos() - 4, "type dependencies", "negative dependency count");
            r.Skip(uint64_t(count) * 4, "type dependencies");
        }
    }
    return type;
}

void ReadSerializedTypes(Reader& r, AssetsFile& file, bool refTypes) {
    const int32_t format = file.header.formatVersion;
    const int32_t count = r.I32(refTypes ? "reference type count" : "type count");
    // A type record takes at least 21 bytes (class ID, flag, hash).
    if (count < 0 || uint64_t(count) * 21 > r.Remaining()) {
        r.Fail(r.Pos() - 4, refTypes ? "reference types" : "types",
               std::to_string(count) + " type records do not fit in the " +
                   std::to_string(r.Remaining()) + " bytes left");
    }
    if (refTypes) {
        file.refTypeCount = static_cast<uint32_t>(count);
        for (int32_t i = 0; i < count; ++i)
            ReadSerializedType(r, format, file.typeTreeFlag != 0, true);
        return;
    }
    file.typeCount = count;
    file.types.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        file.types.push_back(ReadSerializedType(r, format, file.typeTreeFlag != 0, false));
}

} // namespace kestrel
