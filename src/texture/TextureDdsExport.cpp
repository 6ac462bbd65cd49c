#include "io/Writer.h"
#include "texture/TextureExport.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TexturePixels.h"
#include "texture/TextureResource.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr uint64_t kProceduralHeadSize = 64;
constexpr uint64_t kProceduralTailSize = 24;

// The object bytes in the assets file's byte order.
Reader ObjectReader(const ConverterInput& in) {
    Reader object = in.object;
    object.SetOrder(in.context.assets.header.DataOrder());
    return object;
}

// Header followed by the image, flipped unless the switch or the format says otherwise.
std::vector<uint8_t> DdsFileBytes(const DDSHeader& header, std::span<const uint8_t> image,
                                  int32_t width, int32_t height, int32_t format, bool flip) {
    std::vector<uint8_t> out(header.bytes.begin(), header.bytes.end());
    if (header.hasExtended) out.insert(out.end(), header.extended.begin(), header.extended.end());
    if (!flip) {
        out.insert(out.end(), image.begin(), image.end());
    } else {
        const uint32_t levels = std::max<uint32_t>(header.mipMapCount, 1);
        WriteFlippedLevels(out, image, width, height, header.bytesPerPixel, levels, format);
    }
    return out;
}

} // namespace

void ExportTextureDDS(const ConverterInput& in) {
    Reader object = ObjectReader(in);
    const TextureObject tex = ReadTextureHeader(object, TextureLayoutOf(in));
    const TextureHeader& h = tex.header;
    CheckTextureHeaderSizes(h);
    const DDSHeader header =
        BuildDDSHeader(h.textureFormat, h.completeImageSize, h.width, h.height, h.MipValue());
    auto images = OpenTextureImages(in, tex, object);
    if (!images) return;
    if (h.completeImageSize > 0) {
        RequireImages(h, images->source, static_cast<uint64_t>(h.imageCount));
        const bool flip = !in.context.noFlipTexture && !KeepsStoredRowOrder(h.textureFormat);
        for (int32_t k = 1; k <= h.imageCount; ++k) {
            auto image = images->source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
            ConvertChannelsForDDS(h.textureFormat, image);
            const auto bytes =
                DdsFileBytes(header, image, h.width, h.height, h.textureFormat, flip);
            WriteWholeFile(TextureOutputFile(in, images->resourceDir, ".dds", k), bytes.data(),
                           bytes.size());
        }
        in.Report().ProgressLine(in.exportName + " -> DDS");
    } else {
        // Font atlases and render targets are often stored with no pixels: no picture is
        // written, and the line says why.
        in.Report().Notice(in.exportName + " has no pixels: no picture written");
    }
}

void ExportProceduralTextureDDS(const ConverterInput& in) {
    Reader object = ObjectReader(in);
    if (object.Remaining() <= kProceduralHeadSize + kProceduralTailSize) return;
    const uint64_t start = object.Pos();
    object.Seek(start + 36, "procedural mip value");
    const uint32_t mipValue = object.U32("procedural mip value");
    object.Seek(start + 60, "procedural image data length");
    const int32_t length = object.I32("procedural image data length");
    if (length < 0) object.Fail(start + 60, "procedural image data length", "negative length");
    auto image = object.Bytes(static_cast<uint64_t>(length), "procedural image data");
    const int32_t width = object.I32("procedural width");
    const int32_t height = object.I32("procedural height");
    object.Skip(4, "procedural tail");
    const int32_t format = object.I32("procedural texture format");
    object.Skip(8, "procedural tail");
    if (width < 0 || height < 0) {
        throw KestrelError("Texture sizes do not fit: width " + std::to_string(width) +
                           ", height " + std::to_string(height));
    }
    const DDSHeader header = BuildDDSHeader(format, length, width, height, mipValue);
    ConvertChannelsForDDS(format, image);
    if (length != 0) {
        const auto bytes =
            DdsFileBytes(header, image, width, height, format, !in.context.noFlipTexture);
        WriteWholeFile(TextureOutputFile(in, "", ".dds", 1), bytes.data(), bytes.size());
        in.Report().ProgressLine(in.exportName + " -> DDS");
    }
}

} // namespace kestrel
