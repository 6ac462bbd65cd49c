#include "assets/ModernAssetsWrite.h"

#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/Reader.h"

#include <algorithm>
#include <limits>

namespace kestrel {
namespace {

// A range of the working file that gives way to new bytes: an object's edited range, or the
// padding after an edited object.
struct Piece {
    uint64_t begin = 0;
    uint64_t end = 0;
    std::shared_ptr<const ByteSource> bytes;
    int64_t delta = 0;
    size_t object = 0;
    bool padding = false;
};

std::string ObjectPlace(const ByteSource& work, size_t index, uint64_t start) {
    return work.Name() + ": object " + std::to_string(index) + " at offset " + HexOffset(start);
}

uint64_t AlignUp(uint64_t n, uint64_t alignment) {
    return (n + alignment - 1) / alignment * alignment;
}

// dataEnd: where the object data ends (the inner file's end, or the metadata of formats 5 to 8).
std::vector<Piece> PlacePieces(const AssetsFile& file, const ByteSource& work, uint64_t dataEnd,
                               const std::vector<ObjectEdit>& edits) {
    const uint64_t align = std::max<uint32_t>(file.objectAlignment, 1);
    std::vector<uint64_t> starts;
    for (const ObjectRow& row : file.items.rows)
        starts.push_back(file.DataOffset + row.ObjOffset);
    std::sort(starts.begin(), starts.end());

    std::vector<Piece> pieces;
    for (const ObjectEdit& e : edits) {
        const ObjectRow& row = file.items.rows.at(e.index);
        const uint64_t start = file.DataOffset + row.ObjOffset;
        const uint64_t end = start + row.ObjSize;
        if (e.cutBegin > e.cutEnd || e.cutEnd > row.ObjSize || end > dataEnd) {
            throw KestrelError(ObjectPlace(work, e.index, start) +
                               ": the edited range lies outside the object");
        }
        pieces.push_back({start + e.cutBegin, start + e.cutEnd, e.bytes, e.SizeDelta(), e.index});
        // The zero bytes after the object up to the next multiple of the alignment make way for
        // those the new size needs; an object that ends the data keeps what follows it, and the
        // metadata of formats 5 to 8 follows the last object without padding.
        const uint64_t oldPadEnd = file.DataOffset + AlignUp(end - file.DataOffset, align);
        if (oldPadEnd > dataEnd || e.SizeDelta() == 0) continue;
        if (file.metadataStart != 0 && end == dataEnd) continue;
        const auto next = std::upper_bound(starts.begin(), starts.end(), end);
        if (next != starts.end() && *next < oldPadEnd) {
            throw KestrelError(ObjectPlace(work, e.index, start) +
                               ": the next object does not start on the file's alignment");
        }
        const auto newEnd = static_cast<uint64_t>(static_cast<int64_t>(end - file.DataOffset) +
                                                  e.SizeDelta());
        const uint64_t newPad = AlignUp(newEnd, align) - newEnd;
        pieces.push_back({end, oldPadEnd, std::make_shared<MemorySource>(
                                              work.Name(), std::vector<uint8_t>(newPad, 0)),
                          static_cast<int64_t>(newPad) - static_cast<int64_t>(oldPadEnd - end),
                          e.index, true});
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
        if (a.begin != b.begin) return a.begin < b.begin;
        return a.padding > b.padding; // an object's padding comes before the next object
    });
    for (size_t k = 1; k < pieces.size(); ++k) {
        if (pieces[k].begin < pieces[k - 1].end ||
            (pieces[k].begin == pieces[k - 1].begin && !pieces[k].padding &&
             !pieces[k - 1].padding)) {
            throw KestrelError(ObjectPlace(work, pieces[k].object, pieces[k].begin) +
                               " overlaps the object " + std::to_string(pieces[k - 1].object) +
                               ", which is imported too; the file cannot be rebuilt");
        }
    }
    return pieces;
}

void PutField(std::vector<uint8_t>& bytes, uint64_t at, uint32_t width, uint64_t value, bool big) {
    for (uint32_t i = 0; i < width; ++i) {
        const uint32_t shift = 8 * (big ? width - 1 - i : i);
        bytes[at + i] = static_cast<uint8_t>(value >> shift);
    }
}

bool Fits(uint64_t value, uint32_t width) {
    return width >= 8 || value <= (uint64_t{1} << (8 * width)) - 1;
}

// The object table with each entry's byte start moved by the size changes stored before the
// object, and each edited object's size changed by its own edit.
std::vector<uint8_t> RewrittenTable(const AssetsFile& file, const ByteSource& work,
                                    const std::vector<Piece>& pieces, uint64_t tableEnd) {
    std::vector<uint8_t> table(tableEnd - file.tableStart);
    if (work.ReadAt(file.tableStart, table.data(), table.size()) != table.size()) {
        throw KestrelError(work.Name() + ": the object table ends early");
    }
    std::vector<uint64_t> ends;
    std::vector<int64_t> before = {0};
    std::vector<int64_t> ownDelta(file.items.rows.size(), 0);
    std::vector<const Piece*> ownEdit(file.items.rows.size(), nullptr);
    for (const Piece& p : pieces) {
        ends.push_back(p.end);
        before.push_back(before.back() + p.delta);
        if (!p.padding) {
            ownDelta[p.object] = p.delta;
            ownEdit[p.object] = &p;
        }
    }
    const EntryFields& f = file.entryFields;
    const bool big = file.header.BigEndianFlag == 1;
    for (size_t i = 0; i < file.items.rows.size(); ++i) {
        const ObjectRow& row = file.items.rows[i];
        const uint64_t start = file.DataOffset + row.ObjOffset;
        const auto k =
            static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), start) - ends.begin());
        int64_t shift = before[k];
        // An empty object's own edit ends at its start; it is not stored before itself.
        if (ownEdit[i] != nullptr && ownEdit[i]->end <= start) shift -= ownDelta[i];
        const int64_t offset = static_cast<int64_t>(row.ObjOffset) + shift;
        const int64_t size = int64_t{row.ObjSize} + ownDelta[i];
        if (offset < 0 || size < 0 || !Fits(static_cast<uint64_t>(offset), f.byteStart.width) ||
            !Fits(static_cast<uint64_t>(size), f.byteSize.width)) {
            throw KestrelError(ObjectPlace(work, i, start) +
                               ": its new offset or size does not fit the object table's fields");
        }
        const uint64_t at = row.entryPos - file.tableStart;
        PutField(table, at + f.byteStart.offset, f.byteStart.width,
                 static_cast<uint64_t>(offset), big);
        PutField(table, at + f.byteSize.offset, f.byteSize.width, static_cast<uint64_t>(size),
                 big);
    }
    return table;
}

} // namespace

std::shared_ptr<const ByteSource> RewriteModernAssets(const AssetsFile& file,
                                                      const std::shared_ptr<const ByteSource>& work,
                                                      uint64_t assetsBase, uint64_t innerSize,
                                                      const std::vector<ObjectEdit>& edits) {
    const uint64_t innerEnd = assetsBase + innerSize;
    if (assetsBase > work->Size() || innerSize > work->Size() - assetsBase) {
        throw KestrelError(work->Name() + ": the assets file at offset " + HexOffset(assetsBase) +
                           " runs past the end of the file");
    }
    // Formats 5 to 8 keep the table in the metadata after the objects; the others between the
    // header and the objects. No edit may reach into it either way.
    const bool tableFirst = file.metadataStart == 0;
    const uint64_t dataEnd = tableFirst ? innerEnd : file.metadataStart;
    const std::vector<Piece> pieces = PlacePieces(file, *work, dataEnd, edits);
    const uint64_t tableEnd =
        file.items.rows.empty() ? file.tableStart
                                : file.items.rows.back().entryPos + file.entryFields.entrySize;
    const uint64_t fileSizeEnd = file.fileSizeField.offset + file.fileSizeField.width;
    const bool apart = tableFirst ? pieces.empty() || tableEnd <= pieces.front().begin
                                  : file.tableStart >= dataEnd;
    if (file.entryFields.entrySize == 0 || file.items.rows.size() != file.objectCount ||
        file.tableStart < fileSizeEnd || tableEnd > innerEnd || !apart) {
        throw KestrelError(work->Name() + ": the object table at offset " +
                           HexOffset(file.tableStart) +
                           " does not lie apart from the objects; the file cannot be rebuilt");
    }
    std::vector<uint8_t> table = RewrittenTable(file, *work, pieces, tableEnd);

    int64_t netDelta = 0;
    for (const Piece& p : pieces)
        netDelta += p.delta;
    const int64_t fileSize = static_cast<int64_t>(file.fileSize) + netDelta;
    if (fileSize < 0 || !Fits(static_cast<uint64_t>(fileSize), file.fileSizeField.width)) {
        throw KestrelError(work->Name() + ": the new file size does not fit the header's file "
                                          "size field");
    }
    std::vector<uint8_t> sizeField(file.fileSizeField.width);
    PutField(sizeField, 0, file.fileSizeField.width, static_cast<uint64_t>(fileSize), true);

    auto out = std::make_shared<CompositeSource>(work->Name());
    out->Append(work, assetsBase, file.fileSizeField.offset - assetsBase);
    out->Append(std::move(sizeField));
    uint64_t pos = fileSizeEnd;
    if (tableFirst) {
        out->Append(work, pos, file.tableStart - pos);
        out->Append(std::move(table));
        pos = tableEnd;
    }
    for (const Piece& p : pieces) {
        out->Append(work, pos, p.begin - pos);
        out->Append(p.bytes);
        pos = p.end;
    }
    if (!tableFirst) {
        // The metadata follows the objects wherever they end now.
        out->Append(work, pos, file.tableStart - pos);
        out->Append(std::move(table));
        pos = tableEnd;
    }
    out->Append(work, pos, innerEnd - pos);
    return out;
}

} // namespace kestrel
