#include "assets/AssetsWrite.h"

#include "assets/AssetsParser.h"
#include "assets/ModernAssetsWrite.h"
#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/Reader.h"
#include "io/Writer.h"

#include <algorithm>
#include <limits>

namespace kestrel {
namespace {

constexpr int64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

std::string ObjectPlace(const ByteSource& work, size_t index, uint64_t start) {
    return work.Name() + ": object " + std::to_string(index) + " at offset " + HexOffset(start);
}

// An edit placed in the working file.
struct Cut {
    uint64_t begin = 0;
    uint64_t end = 0;
    const ObjectEdit* edit = nullptr;
};

std::vector<Cut> PlaceCuts(const AssetsFile& file, const ByteSource& work, uint64_t dataEnd,
                           const std::vector<ObjectEdit>& edits) {
    std::vector<Cut> cuts;
    cuts.reserve(edits.size());
    for (const ObjectEdit& e : edits) {
        const ObjectRow& row = file.items.rows.at(e.index);
        const uint64_t start = file.DataOffset + row.ObjOffset;
        if (e.cutBegin > e.cutEnd || e.cutEnd > row.ObjSize || start + row.ObjSize > dataEnd) {
            throw KestrelError(ObjectPlace(work, e.index, start) +
                               ": the edited range lies outside the object");
        }
        cuts.push_back({start + e.cutBegin, start + e.cutEnd, &e});
    }
    std::sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });
    for (size_t k = 1; k < cuts.size(); ++k) {
        // Two edits at one position (empty objects) would leave their order undefined.
        if (cuts[k].begin < cuts[k - 1].end || cuts[k].begin == cuts[k - 1].begin) {
            throw KestrelError(ObjectPlace(work, cuts[k].edit->index, cuts[k].begin) +
                               " overlaps the object " + std::to_string(cuts[k - 1].edit->index) +
                               ", which is imported too; the file cannot be rebuilt");
        }
    }
    return cuts;
}

// The object table with every object's offset moved by the size changes of the edited ranges
// that end at or before its start, and each edited object's size changed by its own edit.
std::vector<uint8_t> RewrittenTable(const AssetsFile& file, const ByteSource& work,
                                    const std::vector<Cut>& cuts) {
    std::vector<uint64_t> cutEnds;
    std::vector<int64_t> before = {0}; // before[k]: the size changes of the first k cuts
    std::vector<const ObjectEdit*> editOf(file.items.rows.size(), nullptr);
    for (const Cut& c : cuts) {
        cutEnds.push_back(c.end);
        before.push_back(before.back() + c.edit->SizeDelta());
        editOf[c.edit->index] = c.edit;
    }
    const RowLayout& layout = file.layout;
    Writer table(file.header.DataOrder());
    for (size_t i = 0; i < file.items.rows.size(); ++i) {
        const ObjectRow& row = file.items.rows[i];
        const uint64_t start = file.DataOffset + row.ObjOffset;
        const auto k = static_cast<size_t>(std::upper_bound(cutEnds.begin(), cutEnds.end(), start) -
                                           cutEnds.begin());
        int64_t shift = before[k];
        int64_t size = row.ObjSize;
        if (const ObjectEdit* own = editOf[i]) {
            size += own->SizeDelta();
            // An empty object's own edit ends at its start; it is not stored before itself.
            if (own->cutEnd == 0) shift -= own->SizeDelta();
        }
        const int64_t offset = static_cast<int64_t>(row.ObjOffset) + shift;
        if (offset < 0 || offset > kMaxU32 || size < 0 || size > kMaxU32) {
            throw KestrelError(ObjectPlace(work, i, start) +
                               ": its new offset or size does not fit the 32-bit fields of the "
                               "object table");
        }
        if (file.items.tableWords.size() != file.items.rows.size() * layout.wordCount) {
            throw KestrelError(ObjectPlace(work, i, start) + ": no object-table entry was read");
        }
        const auto first = file.items.tableWords.begin() + static_cast<long>(i * layout.wordCount);
        std::vector<uint32_t> words(first, first + layout.wordCount);
        words[layout.objOffset] = static_cast<uint32_t>(offset);
        words[layout.objSize] = static_cast<uint32_t>(size);
        for (uint32_t w : words)
            table.U32(w);
    }
    return table.Take();
}

} // namespace

std::optional<ObjectEdit> EditFromExportedFile(const AssetsFile& file,
                                               const std::shared_ptr<const ByteSource>& work,
                                               size_t index,
                                               const std::shared_ptr<const ByteSource>& exported) {
    const ObjectRow& row = file.items.rows.at(index);
    const uint64_t start = file.DataOffset + row.ObjOffset;
    if (row.NameHeaderSize > row.ObjSize) {
        throw KestrelError(ObjectPlace(*work, index, start) + " is shorter than its name field");
    }
    const uint64_t bodySize = row.ObjSize - row.NameHeaderSize;
    const uint64_t length = exported->Size();
    // A payload that is everything after the name (a Shader of format 16 and later) is replaced
    // whole, as a raw object is.
    const bool wholeBody = row.PayloadOffset == 0 && row.PayloadSize == bodySize;
    if (!HasInnerPayload(row.ClassID, row.PayloadSize) || wholeBody) {
        if (length == bodySize &&
            SameBytes(*exported, 0, *work, start + row.NameHeaderSize, length)) {
            return std::nullopt;
        }
        return ObjectEdit{index, row.NameHeaderSize, row.ObjSize, exported};
    }
    // The payload's 32-bit length field stands just before it.
    if (row.PayloadOffset < 4 || row.PayloadOffset > bodySize ||
        row.PayloadSize > bodySize - row.PayloadOffset) {
        throw KestrelError(ObjectPlace(*work, index, start) +
                           ": its payload was not found inside the object, so " + exported->Name() +
                           " cannot be put into it");
    }
    const uint64_t payloadStart = uint64_t{row.NameHeaderSize} + row.PayloadOffset;
    if (length == row.PayloadSize && SameBytes(*exported, 0, *work, start + payloadStart, length)) {
        return std::nullopt;
    }
    if (length > static_cast<uint64_t>(kMaxU32) - 3) {
        throw KestrelError(exported->Name() + " (" + std::to_string(length) +
                           " bytes) is too large for the 32-bit length of " +
                           ObjectPlace(*work, index, start));
    }
    // Format 5 pads no strings (as it pads no name).
    const bool aligned = NameAligned(file, row);
    const auto padded = [aligned](uint64_t n) { return aligned ? AlignUp4(n) : n; };
    Writer lengthField(file.header.DataOrder());
    lengthField.U32(static_cast<uint32_t>(length));
    auto bytes = std::make_shared<CompositeSource>(exported->Name());
    bytes->Append(lengthField.Take());
    bytes->Append(exported);
    bytes->Append(std::vector<uint8_t>(static_cast<size_t>(padded(length) - length), 0));
    // The old payload's zero padding goes with it, unless the object ends first.
    const uint64_t cutEnd = std::min<uint64_t>(payloadStart + padded(row.PayloadSize), row.ObjSize);
    return ObjectEdit{index, payloadStart - 4, cutEnd, std::move(bytes)};
}

std::shared_ptr<const ByteSource> RewriteAssets(const AssetsFile& file,
                                                const std::shared_ptr<const ByteSource>& work,
                                                uint64_t assetsBase, uint64_t innerSize,
                                                std::vector<ObjectEdit> edits) {
    if (file.header.formatVersion >= 16 || file.metadataStart != 0) {
        return RewriteModernAssets(file, work, assetsBase, innerSize, edits);
    }
    const uint64_t innerEnd = assetsBase + innerSize;
    if (assetsBase > work->Size() || innerSize > work->Size() - assetsBase) {
        throw KestrelError(work->Name() + ": the assets file at offset " + HexOffset(assetsBase) +
                           " runs past the end of the file");
    }
    const std::vector<Cut> cuts = PlaceCuts(file, *work, innerEnd, edits);
    const uint64_t tableEnd =
        file.tableStart + uint64_t{file.objectCount} * file.layout.wordCount * 4;
    if (file.layout.wordCount == 0 || file.tableStart < assetsBase + 8 ||
        file.items.rows.size() != file.objectCount || tableEnd > innerEnd ||
        (!cuts.empty() && tableEnd > cuts.front().begin)) {
        throw KestrelError(work->Name() + ": the object table at offset " +
                           HexOffset(file.tableStart) +
                           " does not lie between the header and the objects; the file cannot be "
                           "rebuilt");
    }
    std::vector<uint8_t> table = RewrittenTable(file, *work, cuts);

    int64_t netDelta = 0;
    for (const Cut& c : cuts)
        netDelta += c.edit->SizeDelta();
    const int64_t fileSize = int64_t{file.headerFileSize} + netDelta;
    if (fileSize < 0 || fileSize > kMaxU32) {
        throw KestrelError(work->Name() + ": the new file size does not fit the header's 32-bit "
                                          "file size field");
    }
    Writer header(Endian::Big);
    header.U32BE(static_cast<uint32_t>(fileSize));

    auto out = std::make_shared<CompositeSource>(work->Name());
    out->Append(work, assetsBase, 4);
    out->Append(header.Take());
    out->Append(work, assetsBase + 8, file.tableStart - (assetsBase + 8));
    out->Append(std::move(table));
    uint64_t pos = tableEnd;
    for (const Cut& c : cuts) {
        out->Append(work, pos, c.begin - pos);
        out->Append(c.edit->bytes);
        pos = c.end;
    }
    out->Append(work, pos, innerEnd - pos);
    return out;
}

} // namespace kestrel
