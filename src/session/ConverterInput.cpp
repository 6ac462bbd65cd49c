#include "session/ConverterInput.h"

#include "common/Error.h"
#include "io/SafePath.h"

namespace kestrel {

std::string InnerScope::TreeRelative() const {
    return ExportTreeOf(inner.dirName);
}

Reader InnerScope::ObjectBody(size_t index) const {
    const ObjectRow& row = inner.assets.items.rows.at(index);
    const uint64_t start = inner.assets.DataOffset + row.ObjOffset;
    if (row.NameHeaderSize > row.ObjSize) {
        throw KestrelError(archive.Name() + ": object at offset " + HexOffset(start) +
                           " is shorter than its name field");
    }
    return Reader(archive.Work(), inner.assets.header.DataOrder())
        .Sub(start + row.NameHeaderSize, row.ObjSize - row.NameHeaderSize, "object");
}

ResourcePlaces ResourcePlacesOf(const InnerScope& scope) {
    ResourcePlaces places{
        scope.OutputBaseDir(), scope.archive.Directory(), scope.inner.dirName, {},
        scope.archive.TreeName()};
    if (scope.archive.IsBundle()) places.innerFileNames = scope.archive.InnerFileNames();
    return places;
}

ConverterContext ContextOf(const InnerScope& scope) {
    return ConverterContext{
        scope.inner.assets,         ResourcePlacesOf(scope),     scope.reporter,
        scope.options.text,         scope.options.noFlipTexture, scope.options.Writes(kOutDds),
        scope.options.executableDir, scope.options.pngLevel};
}

} // namespace kestrel
