#include "session/JsonForms.h"

#include "assets/ObjectJson.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteSource.h"
#include "io/CompositeSource.h"
#include "io/SafePath.h"

#include <fstream>
#include <iterator>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// The whole object `index` (name field included) in the file's byte order.
Reader WholeObject(const InnerScope& scope, size_t index) {
    const AssetsFile& file = scope.inner.assets;
    const ObjectRow& row = file.items.rows.at(index);
    return Reader(scope.archive.Work(), file.header.DataOrder())
        .Sub(file.DataOffset + row.ObjOffset, row.ObjSize, "object");
}

std::string ReadText(const fs::path& file, uint64_t size) {
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<size_t>(size), '\0');
    if (!in.read(text.data(), static_cast<std::streamsize>(size)))
        throw KestrelError(file.string() + ": cannot be read");
    return text;
}

} // namespace

std::string JsonFileName(const std::string& exportName) {
    return FitFileNameLimit(SafeComponent(exportName) + ".json");
}

bool IsJsonFileName(const std::string& fileName) {
    if (fileName.size() < 5) return false;
    std::string tail = fileName.substr(fileName.size() - 5);
    for (char& c : tail) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return tail == ".json";
}

FileTypeTrees TypeTreesOf(const InnerScope& scope) {
    if (scope.inner.IsResourceItem()) return {};
    try {
        FileTypeTrees trees =
            ReadFileTypeTrees(scope.archive.Work(), scope.inner.base, scope.inner.assets);
        for (const std::string& problem : trees.unusable)
            scope.reporter.Notice(scope.archive.Name() + ": " + problem);
        if (scope.options.typeLibrary) {
            const size_t lent = scope.options.typeLibrary->Lend(trees);
            if (lent != 0) {
                scope.reporter.Notice(scope.archive.Name() + ": " + std::to_string(lent) +
                                      (lent == 1 ? " type takes its" : " types take their") +
                                      " tree from --types");
            }
        }
        return trees;
    } catch (const KestrelError& e) {
        scope.reporter.Alert(e.what());
        return {};
    }
}

bool WriteObjectJson(const InnerScope& scope, const FileTypeTrees& trees, size_t index,
                     const fs::path& dir) {
    const TypeTree* tree =
        trees.TreeOf(scope.inner.assets, scope.inner.assets.items.rows.at(index));
    if (tree == nullptr) return false;
    const std::string text =
        ObjectToJson(*tree, WholeObject(scope, index), FieldContext{trees.ReferenceTypes()});
    AtomicOutputFile out(JoinInside(dir, JsonFileName(scope.inner.Items().ExportName.at(index))),
                         AtomicOutputFile::Flush::RenameOnly);
    out.Write(text.data(), text.size());
    out.Commit();
    return true;
}

std::shared_ptr<const TypeTreeLibrary> LoadTypeSources(const std::vector<std::string>& files,
                                                       const RunOptions& options,
                                                       Reporter& reporter) {
    auto library = std::make_shared<TypeTreeLibrary>();
    for (const std::string& file : files) {
        const auto archive =
            Archive::Open(fs::absolute(file).lexically_normal(), reporter, options.text);
        const size_t before = library->TreeCount();
        for (size_t i = 0; i < archive->InnerFileCount(); ++i) {
            const ParsedInnerFile inner = archive->Parse(i, options, nullptr);
            if (inner.IsResourceItem()) continue;
            library->Add(file + (archive->IsBundle() ? "/" + inner.name : ""),
                         ReadFileTypeTrees(archive->Work(), inner.base, inner.assets));
        }
        if (library->TreeCount() == before)
            throw KestrelError(file + ": --types names a file that holds no type tree");
    }
    return library;
}

uint64_t JsonFileLimit(uint64_t objectSize) {
    return objectSize * 16 + (uint64_t{1} << 20);
}

std::optional<ObjectEdit> EditFromJsonFile(const InnerScope& scope, const FileTypeTrees& trees,
                                           size_t index, const fs::path& file) {
    const AssetsFile& assets = scope.inner.assets;
    const ObjectRow& row = assets.items.rows.at(index);
    const TypeTree* tree = trees.TreeOf(assets, row);
    if (tree == nullptr) {
        throw KestrelError(file.string() + ": the object has no type tree to read this JSON by; " +
                           "it is left unchanged");
    }
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (ec) throw KestrelError(file.string() + ": " + ec.message());
    if (size > JsonFileLimit(row.ObjSize)) {
        throw KestrelError(file.string() + ": " + std::to_string(size) +
                           " bytes is more JSON than an object of " + std::to_string(row.ObjSize) +
                           " bytes can come from; the object is left unchanged");
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = JsonToObject(*tree, ReadText(file, size), assets.header.DataOrder(),
                             FieldContext{trees.ReferenceTypes()});
    } catch (const KestrelError& e) {
        throw KestrelError(file.string() + ": " + e.what() + "; the object is left unchanged");
    }
    const auto source = std::make_shared<MemorySource>(file.string(), std::move(bytes));
    const Reader stored = WholeObject(scope, index);
    if (source->Size() == row.ObjSize &&
        SameBytes(*source, 0, *scope.archive.Work(), stored.Begin(), row.ObjSize))
        return std::nullopt;
    return ObjectEdit{index, 0, row.ObjSize, source};
}

} // namespace kestrel
