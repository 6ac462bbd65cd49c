#pragma once
#include "assets/AssetsTypes.h"
#include "common/Reporter.h"
#include "io/ByteSource.h"
#include "io/Reader.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

struct ParseOptions {
    std::string innerFileName;    // base of the fallback export names
    bool fontAsObject = false;    // every Font exported whole as ".fnt"
    bool fillListRows = false;    // fill ItemTable::listRows (the window, the list task)
    Reporter* reporter = nullptr; // progress and the two search messages; may be null
};

// Reads the assets header at assetsBase of the working file into `out`. EngineMajorVersion 0
// means the data is not an assets file. For formats 5 to 8 the header's endianness, engine
// version and platform are read from the start of the metadata at the end of the file. Raises
// KestrelError (file, offset, field) on a short read.
void ReadAssetsHeader(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                      AssetsFile& out);

// Header, type metadata, object table and item table of the assets file at assetsBase. Format
// versions 16 to 22 are read with their own type list and table; above 22 the item table is
// empty. Formats 5 to 8 keep their metadata (type trees, table, external references) at the end
// of the file, after the objects, and are read by the table of format 9. Every count and offset is
// checked against the file; a damaged file raises KestrelError naming the file and the offset.
AssetsFile ParseAssets(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                       const ParseOptions& options);

// The steps of ParseAssets, for callers that rebuild or inspect a file.

// The leading integer of an engine version text ("5.6.3p1" gives 5); when the text before the
// first "." is no integer: 2 for formats 5 and 6 (which carry no text), 3 for 7 and 8, 4 for 9
// and 14, 5 for 15, and 0 (not an assets file) otherwise.
int32_t EngineMajorVersionOf(const std::string& engineVersion, int32_t formatVersion);

// Object-table word positions of a format version; wordCount 0 when no table is read
// (formats below 5, 10 to 13, above 15).
RowLayout RowLayoutFor(int32_t formatVersion);

// Whether the object table of a serialized format is read: 5 to 9 and 14 to 15 by their word
// layouts, 16 to 22 by their entry fields. Formats 10 to 13 were short-lived pre-release layouts;
// later ones are newer than this program.
bool ObjectTableIsRead(int32_t formatVersion);

// Steps over `count` old-style type tree nodes and their children.
void SkipTypeNode(Reader& r, uint64_t count);

// One old-style type tree (formats up to 9): its nodes in pre-order with their levels. Raises
// on a child count that cannot fit the bytes left or nodes nested more than 256 deep.
TypeTreeNodes ReadNestedTypeNodes(Reader& r);

// With `r` just after typeCount (file.typeTreeFlag and file.typeCount set), leaves `r` at the
// object count. Formats 5 to 8 keep their type records in file.types (the trees of Texture2D,
// Cubemap and AudioClip, which the converters read by). For formats 14 and 15 with type trees the
// object table is searched for; false when it was not found ("Error: Not find offsets." was
// reported) and nothing more may be read.
bool SkipTypeMetadata(Reader& r, AssetsFile& file, const ParseOptions& options);

// With `r` at file.tableStart, builds file.items for file.objectCount objects. Raises when the
// table or an object lies outside the file.
void ParseObjectTable(Reader& r, AssetsFile& file, const ParseOptions& options);

// Names every row of file.items.rows (read by either table reader): occurrences, class names,
// export names and probes, duplicate numbers; fills the list rows when asked.
void NameObjects(const Reader& r, AssetsFile& file, const ParseOptions& options);

// Formats 16 to 22, with `r` just after the platform field: the type-tree flag, the type list,
// the object table, script types, external references and reference types, then the item table.
void ParseModernAssets(Reader& r, uint64_t assetsBase, AssetsFile& file,
                       const ParseOptions& options);

// One type record of formats 16 to 22, from its class ID on.
SerializedType ReadSerializedType(Reader& r, int32_t format, bool typeTrees, bool refType);

// The type count and the type records (refTypes: the reference types of format 20 on, only
// counted) into file.types.
void ReadSerializedTypes(Reader& r, AssetsFile& file, bool refTypes);

// Writes list row `listIndex` from object `objectIndex`.
void FillListRow(AssetsFile& file, size_t listIndex, size_t objectIndex);
// The size and offset columns of object `objectIndex`'s list row: its payload's, or its bytes
// after the name field.
struct ListSpan {
    uint64_t size = 0;
    uint64_t offset = 0;
};
ListSpan ListSpanOf(const AssetsFile& file, size_t objectIndex);

// True when zero bytes follow the object's name and string payload up to a multiple of 4: as its
// type tree says in formats 5 to 8, else for every format but 5 (whose engines pad no string).
bool NameAligned(const AssetsFile& file, const ObjectRow& row);

// True when the object's exported bytes are its inner payload rather than everything after its
// name field: 48 and 49 always, 128 and 152 when payloadSize is non-zero.
bool HasInnerPayload(int32_t typeId, uint32_t payloadSize);

} // namespace kestrel
