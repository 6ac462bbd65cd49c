#include "assets/AssetsParser.h"

#include "common/Error.h"
#include "io/Reader.h"

#include <new>
#include <stdexcept>

namespace kestrel {

namespace {

AssetsFile ParseUnguarded(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                          const ParseOptions& options) {
    AssetsFile file;
    ReadAssetsHeader(work, assetsBase, file);
    if (file.header.EngineMajorVersion == 0) return file;
    const int32_t format = file.header.formatVersion;
    if (format >= 16 && ObjectTableIsRead(format)) {
        Reader r(work, file.header.DataOrder());
        r.Seek(file.header.afterPlatformPos, "type metadata");
        ParseModernAssets(r, assetsBase, file, options);
        return file;
    }
    if (file.layout.wordCount == 0) return file;

    Reader r(work, file.header.DataOrder());
    r.Seek(file.header.afterPlatformPos, "type metadata");
    if (format >= 10) file.typeTreeFlag = r.U8("type tree flag");
    file.typeCount = r.I32("type count");
    if (!SkipTypeMetadata(r, file, options)) return file;

    file.objectCount = r.U32("object count");
    // From format 10 on the table starts on a multiple of 4 counted from the assets file start.
    if (format >= 10) r.Seek(assetsBase + AlignUp4(r.Pos() - assetsBase), "object table");
    file.tableStart = r.Pos();
    if (file.metadataStart != 0) {
        // Formats 5 to 8 are rewritten by the fields of their entries, objects kept on multiples
        // of 8 as the engine wrote them.
        const uint32_t idWidth = file.layout.wordCount == 6 ? 8 : 4;
        file.entryFields = {
            {0, idWidth}, {idWidth, 4}, {idWidth + 4, 4}, {idWidth + 8, 4}, idWidth + 16};
        file.objectAlignment = 8;
    }
    ParseObjectTable(r, file, options);
    return file;
}

} // namespace

AssetsFile ParseAssets(const std::shared_ptr<const ByteSource>& work, uint64_t assetsBase,
                       const ParseOptions& options) {
    try {
        return ParseUnguarded(work, assetsBase, options);
    } catch (const std::bad_alloc&) {
        throw KestrelError(OutOfMemoryMessage(work->Name(), "to read its object table"));
    } catch (const std::length_error&) {
        throw KestrelError(OutOfMemoryMessage(work->Name(), "to read its object table"));
    }
}

} // namespace kestrel
