#include "common/Error.h"
#include "io/Writer.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureImport.h"
#include "texture/TextureImportCommon.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr uint64_t kHeadSize = 64;
constexpr uint64_t kTailSize = 24;
constexpr uint64_t kMipValueAt = 36;   // in the head
constexpr uint64_t kDataLengthAt = 60; // in the head
constexpr uint64_t kTailFormatAt = 12; // width at 0, height at 4
constexpr uint32_t kMaxLevels = 32;

// A ProceduralTexture's bytes around its image data, kept as stored.
struct ProceduralRecords {
    std::vector<uint8_t> head;
    std::vector<uint8_t> tail;
    std::vector<uint8_t> after; // anything the object holds after the tail, carried
    uint32_t mipValue = 0;
    int32_t length = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t format = 0;
};

ProceduralRecords ReadProceduralRecords(Reader object) {
    ProceduralRecords r;
    const uint64_t start = object.Pos();
    r.head = object.Bytes(kHeadSize, "procedural head");
    object.Seek(start + kMipValueAt, "procedural mip value");
    r.mipValue = object.U32("procedural mip value");
    object.Seek(start + kDataLengthAt, "procedural image data length");
    r.length = object.I32("procedural image data length");
    if (r.length < 0) {
        object.Fail(start + kDataLengthAt, "procedural image data length", "negative length");
    }
    object.Skip(static_cast<uint64_t>(r.length), "procedural image data");
    const uint64_t tailStart = object.Pos();
    r.tail = object.Bytes(kTailSize, "procedural tail");
    r.after = object.Bytes(object.Remaining(), "procedural object end");
    object.Seek(tailStart, "procedural tail");
    r.width = object.I32("procedural width");
    r.height = object.I32("procedural height");
    object.Skip(kTailFormatAt - 8, "procedural tail");
    r.format = object.I32("procedural texture format");
    return r;
}

} // namespace

void ImportProceduralDDS(const TextureImportInput& in) {
    if (in.object.Remaining() <= kHeadSize + kTailSize) return;
    ProceduralRecords r = ReadProceduralRecords(in.object);
    Reader file = OpenPicture(in.imageFile);
    const DdsPictureHeader header = ReadDdsPictureHeader(file, r.format);
    if (header.row == nullptr) {
        throw KestrelError(in.imageFile.string() +
                           ": unknown DDS pixel format; the texture is left unchanged");
    }
    RequireExactDdsData(header, {r.format, r.length, r.width, r.height, r.mipValue}, in.imageFile);
    const DdsPixelFormatRow& row = *header.row;
    const uint32_t levels = std::clamp<uint32_t>(header.mipMapCount, 1, kMaxLevels);
    const int32_t length = ImageSizeField(header.dataSize, 1, in.imageFile);
    RequireDdsLevels(row.format, row.bytesPerPixel, header.width, header.height, levels,
                     header.dataSize, in.imageFile);
    const auto width = static_cast<int32_t>(header.width);
    const auto height = static_cast<int32_t>(header.height);
    // The mip value is kept when the file has the levels that exporting the object gives.
    const uint32_t exported =
        r.width < 0 || r.height < 0
            ? 0
            : BuildDDSHeader(r.format, r.length, r.width, r.height, r.mipValue).mipMapCount;
    const uint32_t mipValue =
        std::max<uint32_t>(header.mipMapCount, 1) == std::max<uint32_t>(exported, 1)
            ? r.mipValue
            : (header.mipMapCount >= 2 ? 1 : 0);

    Writer out(in.object.Order());
    out.Bytes(in.objectHead.data(), in.objectHead.size());
    const size_t head = out.Size();
    out.Bytes(r.head.data(), r.head.size());
    out.PutU32At(head + kMipValueAt, mipValue);
    out.PutU32At(head + kDataLengthAt, static_cast<uint32_t>(length));
    // The export flips a procedural picture whatever its format, so the import does too.
    AppendDdsImage(
        out.Data(), file.Bytes(header.dataSize, "DDS data"),
        {row.format, row.bytesPerPixel, header.width, header.height, levels, !in.noFlip});
    const size_t tail = out.Size();
    out.Bytes(r.tail.data(), r.tail.size());
    out.PutU32At(tail, static_cast<uint32_t>(width));
    out.PutU32At(tail + 4, static_cast<uint32_t>(height));
    out.PutU32At(tail + kTailFormatAt, static_cast<uint32_t>(row.format));
    out.Bytes(r.after.data(), r.after.size());
    WriteWholeFile(in.outputFile, out.Data().data(), out.Data().size());
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

} // namespace kestrel
