// Object table of serialized formats 16 to 22 and the metadata after it. Each entry starts on a
// multiple of 4 from the assets file start: a 64-bit path ID, the byte start (32 bits, 64 from
// format 22) from the data offset, the byte size (32 bits), the index of the object's type in the
// type list, and in format 16 a stripped flag byte. Script types, external references, reference
// types (format 20 on) and the user information string follow.
#include "assets/AssetsParser.h"

#include "io/Reader.h"

#include <string>

namespace kestrel {

namespace {

constexpr uint64_t kMaxTextLength = 64 * 1024;

EntryFields EntryFieldsFor(int32_t format) {
    EntryFields f;
    const uint32_t startWidth = format >= 22 ? 8 : 4;
    f.pathId = {0, 8};
    f.byteStart = {8, startWidth};
    f.byteSize = {8 + startWidth, 4};
    f.typeIndex = {12 + startWidth, 4};
    f.entrySize = 16 + startWidth + (format == 16 ? 1 : 0);
    return f;
}

void AlignFromBase(Reader& r, uint64_t base, const char* field) {
    r.Seek(base + AlignUp4(r.Pos() - base), field);
}

void ReadObjectRows(Reader& r, AssetsFile& file, uint64_t assetsBase) {
    const int32_t count = r.I32("object count");
    AlignFromBase(r, assetsBase, "object table");
    file.tableStart = r.Pos();
    const EntryFields& f = file.entryFields;
    const uint64_t stride = AlignUp4(f.entrySize);
    if (count < 0 || (count > 0 && (uint64_t(count) - 1) * stride + f.entrySize > r.Remaining())) {
        r.Fail(r.Pos(), "object table",
               std::to_string(count) + " entries of " + std::to_string(f.entrySize) +
                   " bytes do not fit in the " + std::to_string(r.Remaining()) + " bytes left");
    }
    file.objectCount = static_cast<uint32_t>(count);
    if (count == 0) return;
    const uint64_t tableBytes = (uint64_t(count) - 1) * stride + f.entrySize;
    const std::vector<uint8_t> table = r.Bytes(tableBytes, "object table");
    const Endian order = file.header.DataOrder();
    auto& rows = file.items.rows;
    rows.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < rows.size(); ++i) {
        ObjectRow& row = rows[i];
        const uint8_t* e = table.data() + i * stride;
        row.entryPos = file.tableStart + i * stride;
        row.pathId = static_cast<int64_t>(LoadU64(e + f.pathId.offset, order));
        row.ObjOffset = LoadUnsigned(e + f.byteStart.offset, f.byteStart.width, order);
        row.ObjSize = LoadU32(e + f.byteSize.offset, order);
        row.typeIndex = LoadU32(e + f.typeIndex.offset, order);
        if (row.typeIndex >= file.types.size()) {
            r.Fail(row.entryPos + f.typeIndex.offset, "object type index",
                   "object " + std::to_string(i) + " names type " + std::to_string(row.typeIndex) +
                       " of " + std::to_string(file.types.size()));
        }
        row.ClassID = file.types[row.typeIndex].classId;
        const uint64_t start = file.DataOffset + std::min(row.ObjOffset, r.End());
        if (row.ObjOffset > r.End() || start > r.End() || row.ObjSize > r.End() - start) {
            r.Fail(row.entryPos, "object data",
                   "object " + std::to_string(i) + " of " + std::to_string(row.ObjSize) +
                       " bytes lies outside the file");
        }
    }
}

void ReadScriptTypes(Reader& r, AssetsFile& file, uint64_t assetsBase) {
    const int32_t count = r.I32("script type count");
    if (count < 0 || uint64_t(count) * 12 > r.Remaining()) {
        r.Fail(r.Pos() - 4, "script types",
               std::to_string(count) + " script types do not fit in the file");
    }
    file.scriptTypeCount = static_cast<uint32_t>(count);
    for (int32_t i = 0; i < count; ++i) {
        r.Skip(4, "script type file index");
        AlignFromBase(r, assetsBase, "script type");
        r.Skip(8, "script type path ID");
    }
}

void ReadExternals(Reader& r, AssetsFile& file) {
    const int32_t count = r.I32("external reference count");
    // At least an empty text, a GUID, a type and an empty path.
    if (count < 0 || uint64_t(count) * 22 > r.Remaining()) {
        r.Fail(r.Pos() - 4, "external references",
               std::to_string(count) + " external references do not fit in the file");
    }
    file.externalCount = static_cast<uint32_t>(count);
    for (int32_t i = 0; i < count; ++i) {
        r.CString(kMaxTextLength, "external reference text");
        r.Skip(16, "external reference GUID");
        r.Skip(4, "external reference type");
        r.CString(kMaxTextLength, "external reference path");
    }
}

} // namespace

void ParseModernAssets(Reader& r, uint64_t assetsBase, AssetsFile& file,
                       const ParseOptions& options) {
    const int32_t format = file.header.formatVersion;
    file.typeTreeFlag = r.U8("type tree flag");
    ReadSerializedTypes(r, file, false);
    file.entryFields = EntryFieldsFor(format);
    file.objectAlignment = 8;
    ReadObjectRows(r, file, assetsBase);
    ReadScriptTypes(r, file, assetsBase);
    ReadExternals(r, file);
    if (format >= 20) ReadSerializedTypes(r, file, true);
    r.CString(kMaxTextLength, "user information");
    file.metadataEnd = r.Pos();

    const size_t count = file.items.rows.size();
    file.items.ExportName.resize(count);
    file.items.types.resize(count);
    NameObjects(r, file, options);
}

} // namespace kestrel
