// The type metadata read again, this time keeping every tree: formats up to 9 store each type's
// tree as nested nodes (type and name texts, size, index, array flag, version, flags, child count);
// formats 14 to 22 store blobs. From format 20 the reference types follow the external references,
// each naming its managed class (format 21 on).
#include "assets/FileTypeTrees.h"

#include "common/Error.h"

#include "assets/AssetsParser.h"
#include "assets/TypeTreeBlob.h"
#include "io/Reader.h"

#include <new>
#include <stdexcept>

namespace kestrel {

namespace {

constexpr uint64_t kMaxText = 64 * 1024;
constexpr uint64_t kHashSize = 16;
constexpr int32_t kMonoBehaviourClass = 114;

} // namespace

// Nested nodes, parents before children: a stack of the child counts still due gives each node
// its level without recursion. The texts go to one buffer, each followed by its NUL, that the
// nodes view once it is complete (no longer moves).
TypeTreeNodes ReadNestedTypeNodes(Reader& r) {
    TypeTreeNodes out;
    auto strings = std::make_shared<std::string>();
    std::vector<std::pair<size_t, size_t>> texts; // per node: where its type and name start
    const auto keep = [&](const std::string& text) {
        const size_t at = strings->size();
        strings->append(text);
        strings->push_back('\0');
        return at;
    };
    std::vector<int32_t> due{1};
    while (!due.empty()) {
        if (due.back() == 0) {
            due.pop_back();
            continue;
        }
        --due.back();
        if (due.size() > 256) r.Fail(r.Pos(), "type tree node", "nodes nested too deep");
        TypeTreeNode node;
        node.level = static_cast<uint8_t>(due.size() - 1);
        const size_t type = keep(r.CString(kMaxText, "type tree node type"));
        const size_t name = keep(r.CString(kMaxText, "type tree node name"));
        node.byteSize = r.I32("type tree node size");
        r.Skip(12, "type tree node index, array flag and version");
        node.metaFlag = r.U32("type tree node flags");
        const int32_t children = r.I32("type tree child count");
        // A node takes at least 26 bytes, so a count is checked against what is left.
        if (children < 0 || !r.Fits(uint64_t(children) * 26))
            r.Fail(r.Pos() - 4, "type tree child count", "bad child count");
        out.nodes.push_back(node);
        texts.emplace_back(type, name);
        due.push_back(children);
    }
    const std::string_view all(*strings);
    for (size_t i = 0; i < out.nodes.size(); ++i) {
        out.nodes[i].type =
            all.substr(texts[i].first, all.find('\0', texts[i].first) - texts[i].first);
        out.nodes[i].name =
            all.substr(texts[i].second, all.find('\0', texts[i].second) - texts[i].second);
    }
    out.strings = std::move(strings);
    return out;
}

namespace {

// A tree its nodes give; a tree that cannot be compiled (a type no engine writes, levels that do
// not nest) leaves its type without one, told in out.unusable, so that the others still serve.
TypeTree Compiled(const TypeTreeNodes& nodes, FileTypeTrees& out, int32_t classId) {
    if (nodes.empty()) return {};
    try {
        return TypeTree(nodes);
    } catch (const KestrelError& e) {
        out.unusable.push_back("the type tree of class " + std::to_string(classId) + ": " +
                               e.what());
        return {};
    }
}

void CheckCount(Reader& r, int32_t count, uint64_t leastSize, const char* field) {
    if (count < 0 || !r.Fits(uint64_t(count) * leastSize))
        r.Fail(r.Pos() - 4, field, std::to_string(count) + " records do not fit in the file");
}

void ReadOldTypes(Reader& r, FileTypeTrees& out) {
    const int32_t count = r.I32("type count");
    CheckCount(r, count, 30, "type count");
    for (int32_t i = 0; i < count; ++i) {
        FileTypeTrees::Type type;
        type.classId = r.I32("type class ID");
        type.tree = Compiled(ReadNestedTypeNodes(r), out, type.classId);
        out.types.push_back(std::move(type));
    }
}

void ReadBlobTypes(Reader& r, int32_t format, FileTypeTrees& out) {
    const bool trees = r.U8("type tree flag") != 0;
    const int32_t count = r.I32("type count");
    CheckCount(r, count, 20, "type count");
    for (int32_t i = 0; i < count; ++i) {
        FileTypeTrees::Type type;
        type.classId = r.I32("type class ID");
        if (type.classId < 0) r.Bytes(type.scriptId.data(), kHashSize, "script ID");
        r.Bytes(type.typeHash.data(), kHashSize, "type hash");
        TypeTreeNodes nodes;
        if (trees) ReadTypeTreeBlob(r, format, &nodes);
        type.tree = Compiled(nodes, out, type.classId);
        out.types.push_back(std::move(type));
    }
}

// Formats 16 on: the type list, then (after the object table, script types and external
// references) the reference types.
void ReadModernTypes(Reader& r, uint64_t assetsBase, const AssetsFile& file, FileTypeTrees& out) {
    const int32_t format = file.header.formatVersion;
    const bool trees = r.U8("type tree flag") != 0;
    const int32_t count = r.I32("type count");
    CheckCount(r, count, 21, "type count");
    for (int32_t i = 0; i < count; ++i) {
        FileTypeTrees::Type type;
        type.classId = r.I32("type class ID");
        r.Skip(format >= 17 ? 3 : 1, "type flags");
        if (type.classId == kMonoBehaviourClass)
            r.Bytes(type.scriptId.data(), kHashSize, "script ID");
        r.Bytes(type.typeHash.data(), kHashSize, "type hash");
        TypeTreeNodes nodes;
        if (trees) ReadTypeTreeBlob(r, format, &nodes);
        if (format >= 21 && trees) r.Skip(4 * uint64_t(r.Count(4, "type dependencies")));
        type.tree = Compiled(nodes, out, type.classId);
        out.types.push_back(std::move(type));
    }
    if (format < 20 || !trees) return;
    const EntryFields& f = file.entryFields;
    const uint64_t tableEnd =
        file.objectCount == 0
            ? file.tableStart
            : file.tableStart + (file.objectCount - 1) * AlignUp4(f.entrySize) + f.entrySize;
    r.Seek(tableEnd, "script types");
    const int32_t scripts = r.I32("script type count");
    CheckCount(r, scripts, 12, "script types");
    for (int32_t i = 0; i < scripts; ++i) {
        r.Skip(4, "script type file index");
        r.Seek(assetsBase + AlignUp4(r.Pos() - assetsBase), "script type");
        r.Skip(8, "script type path ID");
    }
    const int32_t externals = r.I32("external reference count");
    CheckCount(r, externals, 22, "external references");
    for (int32_t i = 0; i < externals; ++i) {
        r.CString(kMaxText, "external reference text");
        r.Skip(20, "external reference GUID and type");
        r.CString(kMaxText, "external reference path");
    }
    const int32_t refTypes = r.I32("reference type count");
    CheckCount(r, refTypes, 21, "reference types");
    for (int32_t i = 0; i < refTypes; ++i) {
        ReferenceType type;
        const int32_t classId = r.I32("reference type class ID");
        r.Skip(1, "stripped type flag");
        const auto scriptIndex = static_cast<int16_t>(r.U16("script type index"));
        if (scriptIndex >= 0 || classId == kMonoBehaviourClass) r.Skip(kHashSize, "script ID");
        r.Skip(kHashSize, "type hash");
        TypeTreeNodes nodes;
        ReadTypeTreeBlob(r, format, &nodes);
        if (format >= 21) {
            type.className = r.CString(kMaxText, "reference type class name");
            type.nameSpace = r.CString(kMaxText, "reference type namespace");
            type.assembly = r.CString(kMaxText, "reference type assembly");
        }
        type.tree = Compiled(nodes, out, classId);
        out.referenceTypes.push_back(std::move(type));
    }
}

} // namespace

const TypeTree* FileTypeTrees::TreeOf(const AssetsFile& file, const ObjectRow& row) const {
    if (file.header.formatVersion >= 16) {
        if (row.typeIndex >= types.size()) return nullptr;
        const Type& type = types[row.typeIndex];
        return type.tree.Empty() ? type.borrowed : &type.tree;
    }
    for (const Type& type : types) {
        if (type.classId == row.ClassID) return type.tree.Empty() ? type.borrowed : &type.tree;
    }
    return nullptr;
}

FileTypeTrees ReadFileTypeTrees(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                                const AssetsFile& file) {
    FileTypeTrees out;
    const int32_t format = file.header.formatVersion;
    if (file.header.EngineMajorVersion == 0) return out;
    Reader r(work, file.header.DataOrder());
    r.Seek(file.header.afterPlatformPos, "type metadata");
    try {
        if (format >= 5 && format <= 9) {
            ReadOldTypes(r, out);
        } else if (format == 14 || format == 15) {
            ReadBlobTypes(r, format, out);
        } else if (format >= 16 && format <= 22) {
            ReadModernTypes(r, assetsBase, file, out);
        }
    } catch (const std::bad_alloc&) {
        throw KestrelError(OutOfMemoryMessage(work->Name(), "to read its type trees"));
    } catch (const std::length_error&) {
        throw KestrelError(OutOfMemoryMessage(work->Name(), "to read its type trees"));
    }
    return out;
}

} // namespace kestrel
