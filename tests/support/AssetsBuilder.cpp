#include "support/AssetsBuilder.h"

#include "support/TextureObjects.h"

#include "io/Writer.h"

#include <algorithm>
#include <stdexcept>

namespace kestrel::test {

namespace {

constexpr size_t kHeaderSize = 20;
constexpr int16_t kScriptClass = 114;

std::vector<int32_t> DistinctClasses(const AssetsSpec& plan) {
    std::vector<int32_t> classes;
    for (const AssetsObject& object : plan.objects) {
        if (std::find(classes.begin(), classes.end(), object.classId) == classes.end()) {
            classes.push_back(object.classId);
        }
    }
    return classes;
}

// One old-style node: type text, field name, byte size, index, array flag, version, meta flag,
// child count.
void OldNode(Writer& w, std::string_view type, std::string_view name, int32_t size,
             int32_t children, uint32_t flags = 0) {
    w.CString(type);
    w.CString(name);
    w.I32(size);
    w.I32(0);
    w.I32(0);
    w.I32(1);
    w.U32(0x8000 | flags);
    w.I32(children);
}

// A small tree as the engine writes it for a named class: the object, its name string (an array
// of chars, padded to 4 from format 6 on) and one integer field.
void OldTypeTree(Writer& w, int32_t classId, int32_t format = 9) {
    OldNode(w, classId < 0 ? "MonoBehaviour" : "NamedObject", "Base", -1, 2);
    OldNode(w, "string", "m_Name", -1, 1);
    OldNode(w, "Array", "Array", -1, 2, format >= 6 ? 0x4000 : 0);
    OldNode(w, "int", "size", 4, 0);
    OldNode(w, "char", "data", 1, 0);
    OldNode(w, "int", "m_Width", 4, 0);
}

// A new-style type tree blob: node count, string buffer size, 24-byte nodes, the strings. The
// root node (version 1, level 0, type text at offset 0) starts with the bytes of path ID 1, as
// real trees often do, so a naive search for the object table stops here first.
void NewTypeTree(Writer& w) {
    struct Node {
        uint8_t level;
        uint32_t type;
        uint32_t name;
        int32_t size;
    };
    // Local strings: "Base\0" at 0, "m_Name\0" at 5, "m_Width\0" at 12; the others are offsets
    // into the engine's common string table (high bit set).
    const std::string strings("Base\0m_Name\0m_Width\0", 20);
    constexpr uint32_t kCommon = 0x80000000u;
    const Node nodes[] = {{0, 0, 0, -1},
                          {1, kCommon | 861, 5, -1},
                          {2, kCommon | 0, kCommon | 0, -1},
                          {3, kCommon | 427, kCommon | 814, 4},
                          {3, kCommon | 81, kCommon | 241, 1},
                          {1, kCommon | 427, 12, 4}};
    w.U32(static_cast<uint32_t>(std::size(nodes)));
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
    }
    w.Bytes(strings);
}

// Hash bytes that hold path ID 1 in both byte orders, so the search meets decoys first.
void TypeHash(Writer& w) {
    const uint8_t hash[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    w.Bytes(hash, sizeof hash);
}

void TypeMetadata(Writer& w, const AssetsSpec& plan) {
    const std::vector<int32_t> classes = DistinctClasses(plan);
    if (plan.formatVersion == 9) {
        w.I32(plan.typeTrees ? static_cast<int32_t>(classes.size()) : 0);
        if (plan.typeTrees) {
            for (int32_t classId : classes) {
                w.I32(classId);
                OldTypeTree(w, classId);
            }
        }
        w.I32(0); // path ID width word
        return;
    }
    w.U8(plan.typeTrees ? 1 : 0);
    w.I32(static_cast<int32_t>(classes.size()));
    for (int32_t classId : classes) {
        w.I32(classId);
        if (classId < 0) TypeHash(w); // script hash
        TypeHash(w);
        if (plan.typeTrees) NewTypeTree(w);
    }
}

void TableEntry(Writer& w, const AssetsSpec& plan, size_t index, uint32_t offset, uint32_t size) {
    const int32_t classId = plan.objects[index].classId;
    const bool script = classId < 0;
    const auto classWord = static_cast<uint16_t>(script ? kScriptClass : classId);
    if (plan.formatVersion == 9) {
        w.U32(static_cast<uint32_t>(index + 1));
    } else {
        w.U64(index + 1);
    }
    w.U32(offset);
    w.U32(size);
    w.I32(classId);
    w.U16(classWord);
    // Format 9: the destroyed flag; later formats: the script index (-1 for engine classes).
    w.U16(plan.formatVersion == 9 ? 0 : static_cast<uint16_t>(script ? 0 : 0xFFFF));
    if (plan.formatVersion == 15) w.U32(0); // stripped flag and filler
}

std::vector<uint8_t> ObjectBytes(const AssetsObject& object, Endian order, bool padName = true) {
    Writer w(order);
    if (object.name) {
        w.U32(static_cast<uint32_t>(object.name->size()));
        w.Bytes(*object.name);
        if (padName) w.Align4();
    }
    w.Bytes(object.body.data(), object.body.size());
    return w.Take();
}

// Formats 5 to 8: the 16-byte header (data offset 0), the objects from byte 16 on, each on a
// multiple of 8, then the metadata up to the end of the file: the endianness byte, the engine
// version (7 on), the platform (8 on), the type list, the path-ID-width word (7 on), the table
// with 32-bit path IDs, the external references and the user information text.
BuiltAssets BuildTrailingAssets(const AssetsSpec& plan) {
    BuiltAssets out;
    Writer w(plan.Order());
    w.Zeros(16);
    for (const AssetsObject& object : plan.objects) {
        while (w.Size() % 8 != 0)
            w.U8(0);
        // The engines of format 5 pad no names.
        const std::vector<uint8_t> bytes =
            ObjectBytes(object, plan.Order(), plan.formatVersion != 5);
        out.objectOffsets.push_back(static_cast<uint32_t>(w.Size()));
        out.objectSizes.push_back(static_cast<uint32_t>(bytes.size()));
        w.Bytes(bytes.data(), bytes.size());
    }
    const size_t metadataStart = w.Size();
    w.U8(plan.bigEndian ? 1 : 0);
    if (plan.formatVersion >= 7) w.CString(plan.engineVersion);
    if (plan.formatVersion >= 8) w.U32(plan.targetPlatform);
    const std::vector<int32_t> classes = DistinctClasses(plan);
    w.I32(plan.typeTrees ? static_cast<int32_t>(classes.size()) : 0);
    if (plan.typeTrees) {
        for (int32_t classId : classes) {
            w.I32(classId);
            OldTypeTree(w, classId, plan.formatVersion);
        }
    }
    if (plan.formatVersion >= 7) w.I32(0); // path ID width word
    out.objectCountPos = w.Size();
    w.U32(static_cast<uint32_t>(plan.objects.size()));
    out.tableStart = w.Size();
    for (size_t i = 0; i < plan.objects.size(); ++i) {
        const int32_t classId = plan.objects[i].classId;
        w.U32(static_cast<uint32_t>(i + 1));
        w.U32(out.objectOffsets[i]);
        w.U32(out.objectSizes[i]);
        w.I32(classId);
        w.U16(static_cast<uint16_t>(classId < 0 ? kScriptClass : classId));
        w.U16(0); // destroyed flag
    }
    w.I32(1); // one external reference
    if (plan.formatVersion >= 6) w.U8(0);
    w.Zeros(16);
    w.I32(0);
    w.CString("library/unity default resources");
    w.U8(0); // user information text
    w.PutU32BEAt(0, static_cast<uint32_t>(w.Size() - metadataStart));
    w.PutU32BEAt(4, static_cast<uint32_t>(w.Size()));
    w.PutU32BEAt(8, static_cast<uint32_t>(plan.formatVersion));
    w.PutU32BEAt(12, 0);
    out.bytes = w.Take();
    return out;
}

} // namespace

BuiltAssets BuildAssets(const AssetsSpec& plan) {
    if (plan.formatVersion >= 5 && plan.formatVersion <= 8) return BuildTrailingAssets(plan);
    if (plan.formatVersion >= 16 && plan.formatVersion <= 22) {
        std::vector<std::vector<uint8_t>> objects;
        for (const AssetsObject& object : plan.objects)
            objects.push_back(ObjectBytes(object, plan.Order()));
        return BuildModernAssets(plan, std::move(objects));
    }
    if (plan.formatVersion != 9 && plan.formatVersion != 14 && plan.formatVersion != 15) {
        throw std::invalid_argument(
            "AssetsBuilder writes formats 5 to 9, 14, 15 and 16 to 22 only");
    }
    BuiltAssets out;
    std::vector<std::vector<uint8_t>> objects;
    uint32_t dataSize = 0;
    for (const AssetsObject& object : plan.objects) {
        objects.push_back(ObjectBytes(object, plan.Order()));
        dataSize = (dataSize + 7) / 8 * 8;
        out.objectOffsets.push_back(dataSize);
        out.objectSizes.push_back(static_cast<uint32_t>(objects.back().size()));
        dataSize += out.objectSizes.back();
    }

    Writer w(plan.Order());
    w.Zeros(16); // sizes, format and data offset: filled in below
    w.U8(plan.bigEndian ? 1 : 0);
    w.Zeros(3);
    w.CString(plan.engineVersion);
    w.U32(plan.targetPlatform);
    TypeMetadata(w, plan);
    out.objectCountPos = w.Size();
    w.U32(static_cast<uint32_t>(plan.objects.size()));
    if (plan.formatVersion != 9) w.Align4();
    out.tableStart = w.Size();
    for (size_t i = 0; i < plan.objects.size(); ++i) {
        TableEntry(w, plan, i, out.objectOffsets[i], out.objectSizes[i]);
    }
    w.I32(0); // externals (format 14, 15: script types first)
    if (plan.formatVersion != 9) w.I32(0);
    w.U8(0); // user information text
    const auto metadataSize = static_cast<uint32_t>(w.Size() - kHeaderSize);
    while (w.Size() % 16 != 0)
        w.U8(0);
    out.dataOffset = static_cast<uint32_t>(w.Size());
    for (size_t i = 0; i < objects.size(); ++i) {
        w.Zeros(out.dataOffset + out.objectOffsets[i] - w.Size());
        w.Bytes(objects[i].data(), objects[i].size());
    }
    w.PutU32BEAt(0, metadataSize);
    w.PutU32BEAt(4, static_cast<uint32_t>(w.Size()));
    w.PutU32BEAt(8, static_cast<uint32_t>(plan.formatVersion));
    w.PutU32BEAt(12, out.dataOffset);
    out.bytes = w.Take();
    return out;
}

std::vector<uint8_t> BuildAssetsFile(const AssetsSpec& plan) {
    return BuildAssets(plan).bytes;
}

std::vector<uint8_t> TextBody(std::string_view text, Endian order, bool padded) {
    Writer w(order);
    w.U32(static_cast<uint32_t>(text.size()));
    w.Bytes(text);
    if (padded) w.Align4();
    return w.Take();
}

std::vector<uint8_t> FontBody(const std::vector<uint8_t>& fontData, Endian order) {
    Writer w(order);
    for (int i = 0; i < 8; ++i)
        w.U32(0);
    w.F32(0.1f);
    w.U32(static_cast<uint32_t>(fontData.size()));
    w.Bytes(fontData.data(), fontData.size());
    w.Align4();
    for (int i = 0; i < 4; ++i)
        w.U32(0);
    return w.Take();
}

std::vector<uint8_t> TextureBody(const TextureSpec& t, Endian order) {
    if (t.layout < 1 || t.layout > 3 || t.imageCount <= 0 || t.carriedFields.size() != 7) {
        throw std::invalid_argument("TextureBody: layout 1 to 3, a positive image count and seven "
                                    "carried fields");
    }
    TextureObjectSpec plan;
    plan.layout = static_cast<TextureLayout>(t.layout);
    plan.width = t.width;
    plan.height = t.height;
    plan.format = t.format;
    plan.mip = t.layout == 1 ? (t.mipCount > 1 ? 1 : 0) : t.mipCount;
    plan.imageCount = t.imageCount;
    plan.completeImageSize =
        static_cast<int32_t>(t.imageData.size() / static_cast<size_t>(t.imageCount));
    if (t.layout == 3) {
        plan.streamOffset = t.streamOffset;
        plan.streamSize = static_cast<uint32_t>(t.imageData.size());
        plan.path = t.streamPath;
    } else {
        plan.pixels = t.imageData;
    }
    plan.flagBytes = t.flagBytes;
    std::array<int32_t, 7> carried{};
    std::copy(t.carriedFields.begin(), t.carriedFields.end(), carried.begin());
    plan.carriedFields = carried;
    return MakeTextureObject(plan, order);
}

} // namespace kestrel::test
