#pragma once
#include "io/ByteOrder.h"

#include <cstdint>
#include <string>
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

// One object of the table: its raw words (converted to native order) and the computed slots.
// ObjOffset, ObjSize, ClassID and secondTypeWord are the words at the layout's positions.
struct ObjectRow {
    std::vector<uint32_t> words;
    uint32_t ObjOffset = 0;
    uint32_t ObjSize = 0;
    int32_t ClassID = 0;
    uint32_t secondTypeWord = 0;
    uint32_t occurrence = 0;
    uint32_t duplicateNumber = 0;
    uint32_t NameHeaderSize = 0;
    uint32_t PayloadOffset = 0;
    uint32_t PayloadSize = 0;
    int32_t sizeDelta = 0;
};

struct TType_info {
    std::string name;
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

    size_t Count() const { return rows.size(); }
    void Clear() {
        rows.clear();
        ExportName.clear();
        types.clear();
        listRows.clear();
    }
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
};

} // namespace kestrel
