#pragma once
#include "io/ByteOrder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kestrel {

// Word positions of one object-table entry for a format version.
struct RowLayout {
    uint32_t wordCount = 0; // 0: no table is read (format above 15)
    uint32_t objOffset = 0;
    uint32_t objSize = 0;
    uint32_t classId = 0;
    uint32_t secondType = 0;
};

// The assets header of the file opened last.
struct Unity_Structure {
    int32_t formatVersion = 0;
    uint32_t BigEndianFlag = 0;
    std::string engineVersion;
    int32_t EngineMajorVersion = 0;
    uint32_t targetPlatform = 0;
    uint64_t afterPlatformPos = 0;

    // Byte order of everything after the header's first fields: the endianness word 1 means
    // big-endian.
    Endian DataOrder() const { return BigEndianFlag == 1 ? Endian::Big : Endian::Little; }
};

// One object of the table and the computed slots. Up to format 15 ObjOffset, ObjSize, ClassID and
// secondTypeWord are the words at the layout's positions of the entry (all its words are kept in
// ItemTable::tableWords). Formats 16 and later keep no words: their entries hold a 64-bit path ID,
// a byte start of 32 or (format 22) 64 bits and an index into the type list; ObjOffset is
// therefore 64 bits wide. Large files hold hundreds of thousands of rows: keep this small.
struct ObjectRow {
    uint64_t ObjOffset = 0;
    uint32_t ObjSize = 0;
    int32_t ClassID = 0;
    uint32_t secondTypeWord = 0;
    uint32_t occurrence = 0;
    uint32_t duplicateNumber = 0;
    uint32_t NameHeaderSize = 0;
    uint32_t PayloadOffset = 0;
    uint32_t PayloadSize = 0;
    int32_t sizeDelta = 0;
    uint32_t typeIndex = 0; // formats 16 and later: index into AssetsFile::types
    // Position of this row's table entry in the working file (every format); its fields lie at
    // the places AssetsFile::entryFields gives (formats 16 and later).
    uint64_t entryPos = 0;
    int64_t pathId = 0; // formats 16 and later
};

// Where a field lies and how many bytes it takes: for header fields an absolute working-file
// position, for object-table fields an offset from the entry's start.
struct FieldPlace {
    uint64_t offset = 0;
    uint32_t width = 0;
};

// The fields of an object-table entry of formats 16 and later (all in the file's byte order).
struct EntryFields {
    FieldPlace pathId;
    FieldPlace byteStart; // 4 bytes, 8 from format 22
    FieldPlace byteSize;
    FieldPlace typeIndex;
    uint32_t entrySize = 0; // entries start on a multiple of 4 from the assets file start
};

// One node of a type tree, in the tree's pre-order: a field (or the root at level 0), its depth,
// type and name, its stored size (-1 when it varies) and its flags (0x4000: what follows it is
// aligned to 4 bytes). Type and name are views, never copies: thousands of nodes name the same
// few strings, so they point into their tree's string buffer (TypeTreeNodes), the engine's common
// strings or static text. A NUL follows each in its storage, so data() is also a C string.
struct TypeTreeNode {
    uint8_t level = 0;
    int32_t byteSize = 0;
    uint32_t metaFlag = 0;
    std::string_view type = "";
    std::string_view name = "";
};

// A type tree's nodes as a file stores them, and the buffer their strings point into.
struct TypeTreeNodes {
    std::shared_ptr<const std::string> strings;
    std::vector<TypeTreeNode> nodes;

    [[nodiscard]] bool empty() const { return nodes.empty(); }
};

// One type of the type list of formats 16 and later.
struct SerializedType {
    int32_t classId = 0;
    bool stripped = false;
    int16_t scriptTypeIndex = -1;
    bool hasTypeTree = false;
    // The type tree says the object begins with its name (first field "m_Name", a string).
    bool treeBeginsWithName = false;
    // Zero bytes follow the name up to a multiple of 4 (every engine but those of format 5, whose
    // trees do not ask for it).
    bool nameAligned = true;
    // The whole tree, kept for the classes whose fields the converters read by it (Texture2D,
    // Cubemap; AudioClip in formats 5 to 8); empty for the others.
    TypeTreeNodes tree;
};

// An object's type as listed: the class name, for textures with the format. The name is a view
// of text that outlives the table (static text or ItemTable::InternTypeName): thousands of
// objects share a handful of names.
struct TType_info {
    std::string_view name;
    int32_t TextureFormat = 0;
};

struct TColumns_ListView {
    uint32_t number = 0;
    std::string name;
    int32_t typeId = 0;
    std::string typeText;
    uint32_t size = 0;
    uint64_t offset = 0;
};

// Parallel per-object arrays indexed by object number (table order).
struct ItemTable {
    std::vector<ObjectRow> rows;
    std::vector<std::string> ExportName;
    std::vector<TType_info> types;
    std::vector<TColumns_ListView> listRows;
    // Formats up to 15: every entry's words in native order, RowLayout::wordCount per object.
    std::vector<uint32_t> tableWords;

    size_t Count() const { return rows.size(); }
    void Clear() {
        rows.clear();
        ExportName.clear();
        types.clear();
        listRows.clear();
        tableWords.clear();
    }
    // A lasting copy of a type name for TType_info::name; equal names share one copy, and copies
    // of the table share the store.
    std::string_view InternTypeName(std::string_view name);

private:
    std::shared_ptr<std::unordered_set<std::string>> typeNames_ =
        std::make_shared<std::unordered_set<std::string>>();
};

// Everything the parser learns of one assets file.
struct AssetsFile {
    Unity_Structure header;
    RowLayout layout;
    uint32_t headerFileSize = 0;
    uint64_t DataOffset = 0; // absolute position of the object data in the working file
    uint8_t typeTreeFlag = 0;
    int32_t typeCount = 0;
    uint32_t objectCount = 0;
    uint64_t tableStart = 0;
    ItemTable items;

    // Formats 16 and later.
    uint64_t fileSize = 0;        // the header's file size (64 bits in format 22)
    FieldPlace metadataSizeField; // 4 bytes; at 0, or after the endianness word in format 22
    FieldPlace fileSizeField;     // 4 bytes at 4, or 8 bytes in format 22
    FieldPlace dataOffsetField;   // 4 bytes at 12, or 8 bytes in format 22
    std::vector<SerializedType> types;
    EntryFields entryFields;
    uint32_t objectAlignment = 8; // objects start on this multiple from the data offset
    uint32_t scriptTypeCount = 0;
    uint32_t externalCount = 0;
    uint32_t refTypeCount = 0;
    uint64_t metadataEnd = 0; // position after the last metadata field read

    // Formats 5 to 8: where the metadata (from the endianness byte on) starts, after the object
    // data; 0 for the formats that keep it after the header.
    uint64_t metadataStart = 0;
};

} // namespace kestrel
