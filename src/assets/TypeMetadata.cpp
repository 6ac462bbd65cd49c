#include "assets/AssetsParser.h"

#include "assets/ClassId.h"
#include "io/Reader.h"

#include <optional>
#include <vector>

namespace kestrel {

namespace {

// The old-style type tree node: type text and field name (each at most 64 bytes read), five
// 32-bit node fields, then the child count.
constexpr uint64_t kNodeNameBound = 64;
constexpr uint64_t kNodeFieldsSize = 20;

// Type records of formats 14 and 15 without type trees: the class ID, then the script hash
// (16 bytes, script classes only) and the type hash (16 bytes).
constexpr uint64_t kScriptRecordTail = 32;
constexpr uint64_t kClassRecordTail = 16;

// Formats 5 to 8: the type records kept, so that objects find their tree by their type ID.
void ReadTrailingTypeRecords(Reader& r, AssetsFile& file) {
    // A record takes at least 30 bytes (class ID and a node without children).
    if (!r.Fits(uint64_t(file.typeCount) * 30))
        r.Fail(r.Pos() - 4, "type count", "the type records do not fit in the file");
    file.types.reserve(static_cast<size_t>(file.typeCount));
    for (int32_t i = 0; i < file.typeCount; ++i) {
        SerializedType type;
        type.classId = r.I32("type class ID");
        TypeTreeNodes tree = ReadNestedTypeNodes(r);
        const std::vector<TypeTreeNode>& nodes = tree.nodes;
        type.hasTypeTree = true;
        type.treeBeginsWithName = nodes.size() >= 2 && nodes[1].level == 1 &&
                                  nodes[1].name == "m_Name" && nodes[1].type == "string";
        // The align flag stands on the string or on its Array node.
        constexpr uint32_t kAlignAfter = 0x4000;
        if (type.treeBeginsWithName) {
            type.nameAligned = (nodes[1].metaFlag & kAlignAfter) != 0 ||
                               (nodes.size() > 2 && (nodes[2].metaFlag & kAlignAfter) != 0);
        }
        if (type.classId == ClassId::kTexture2D || type.classId == ClassId::kCubemap ||
            type.classId == ClassId::kAudioClip)
            type.tree = std::move(tree);
        file.types.push_back(std::move(type));
    }
}

void SkipOldTypeRecords(Reader& r, AssetsFile& file) {
    if (file.typeCount < 0) r.Fail(r.Pos() - 4, "type count", "negative type count");
    if (file.metadataStart != 0) {
        ReadTrailingTypeRecords(r, file);
    } else {
        for (int32_t i = 0; i < file.typeCount; ++i) {
            r.I32("type class ID");
            SkipTypeNode(r, 1);
        }
    }
    // From format 7 a word follows the types: non-zero when the table's path IDs are 64-bit,
    // which widens each entry by one word.
    if (file.header.formatVersion >= 7 && r.U32("path ID width") != 0)
        file.layout = {6, 2, 3, 4, 5};
}

void SkipFlatTypeRecords(Reader& r, const AssetsFile& file) {
    for (int32_t i = 0; i < file.typeCount; ++i) {
        const int32_t classId = r.I32("type class ID");
        r.Skip(classId < 0 ? kScriptRecordTail : kClassRecordTail, "type record");
    }
}

// Finds the object table behind type trees that are not walked: looks for an entry with path
// ID 1 whose type words are consistent, extends the run of such entries both ways and takes
// the object count from just before the first one.
class ObjectTableSearch {
public:
    ObjectTableSearch(std::vector<uint8_t> bytes, const AssetsFile& file)
        : b_(std::move(bytes)), order_(file.header.DataOrder()),
          hasStripped_(file.header.formatVersion == 15), typeAt_(4 * uint64_t{file.layout.classId}),
          entrySize_(typeAt_ + (hasStripped_ ? 12 : 8)) {}

    // Offset of the object count in the buffer, or nullopt when no entry fits. countFound is
    // false when the count was not found beside the first entry.
    std::optional<uint64_t> CountPosition(bool& countFound) const {
        const auto anchor = FindAnchor();
        if (!anchor) return std::nullopt;
        uint64_t first = *anchor;
        uint64_t n = 0;
        while (first >= entrySize_ && Fits(first - entrySize_)) {
            first -= entrySize_;
            ++n;
        }
        for (uint64_t g = *anchor; g + entrySize_ <= b_.size() && Fits(g); g += entrySize_)
            ++n;
        // The count precedes the first entry, with up to 3 alignment bytes between them.
        for (uint64_t back = 4; back <= 7; ++back) {
            if (first < back) break;
            const uint32_t value = Word(first - back);
            if (value == n || value == n + 1) {
                countFound = true;
                return first - back;
            }
        }
        countFound = false;
        if (first < 4) return std::nullopt;
        return first - 4;
    }

private:
    // The buffer keeps the file's byte order.
    [[nodiscard]] uint32_t Word(uint64_t at) const { return LoadU32(b_.data() + at, order_); }
    [[nodiscard]] uint16_t Half(uint64_t at) const { return LoadU16(b_.data() + at, order_); }

    // Path ID 1 as the file stores a 64-bit value.
    [[nodiscard]] bool IsPathIdOne(uint64_t at) const {
        return LoadU64(b_.data() + at, order_) == 1;
    }

    // An entry fits when its type ID and class ID agree (script index -1), or it is a script
    // instance (negative type ID, class 114); the stripped word of format 15 must be 0.
    [[nodiscard]] bool Fits(uint64_t e) const {
        if (e + entrySize_ > b_.size()) return false;
        const auto ty = static_cast<int32_t>(Word(e + typeAt_));
        const auto cl = static_cast<int16_t>(Half(e + typeAt_ + 4));
        const auto sc = static_cast<int16_t>(Half(e + typeAt_ + 6));
        const uint32_t st = hasStripped_ ? Word(e + typeAt_ + 8) : 0;
        return ((cl == ty && sc == -1) || (ty < 0 && cl == 114)) && st == 0 && ty != 0 && cl != 0;
    }

    [[nodiscard]] std::optional<uint64_t> FindAnchor() const {
        for (uint64_t m = 0; m + 8 <= b_.size(); ++m) {
            if (IsPathIdOne(m) && Fits(m)) return m;
        }
        return std::nullopt;
    }

    std::vector<uint8_t> b_;
    Endian order_;
    bool hasStripped_;
    uint64_t typeAt_;
    uint64_t entrySize_;
};

bool SearchObjectTable(Reader& r, const AssetsFile& file, const ParseOptions& options) {
    const uint64_t start = r.Pos();
    const uint64_t stop = std::min(file.DataOffset, r.End());
    std::vector<uint8_t> bytes;
    if (stop > start) bytes = r.Bytes(stop - start, "type metadata");
    bool countFound = false;
    const auto countPos = ObjectTableSearch(std::move(bytes), file).CountPosition(countFound);
    if (!countPos) {
        if (options.reporter != nullptr) options.reporter->Alert("Error: Not find offsets.");
        return false;
    }
    if (!countFound && options.reporter != nullptr) {
        options.reporter->Alert("WARNING: Not find coint offsets.");
    }
    r.Seek(start + *countPos, "object count");
    return true;
}

} // namespace

void SkipTypeNode(Reader& r, uint64_t count) {
    // Children follow their parent directly, so the nodes can be stepped over by counting how
    // many are still due; no recursion, whatever the depth of the tree.
    uint64_t due = count;
    while (due > 0) {
        --due;
        r.CString(kNodeNameBound, "type tree node type");
        r.CString(kNodeNameBound, "type tree node name");
        r.Skip(kNodeFieldsSize, "type tree node fields");
        const int32_t children = r.I32("type tree child count");
        if (children > 0) due += static_cast<uint64_t>(children);
    }
}

bool SkipTypeMetadata(Reader& r, AssetsFile& file, const ParseOptions& options) {
    const int32_t format = file.header.formatVersion;
    if (format <= 9) {
        SkipOldTypeRecords(r, file);
        return true;
    }
    if (format == 14 || format == 15) {
        if (file.typeTreeFlag == 0) {
            SkipFlatTypeRecords(r, file);
            return true;
        }
        return SearchObjectTable(r, file, options);
    }
    return false; // no table is read for other formats
}

} // namespace kestrel
