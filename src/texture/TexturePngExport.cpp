#include "common/Error.h"
#include "image/PictureCodecs.h"
#include "image/PictureFiles.h"
#include "image/PlaneConvert.h"
#include "texture/TextureCrunchedPicture.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TextureResource.h"

#include <algorithm>

namespace kestrel {
namespace {

// A crunched texture's picture: its first image (the only one holding crunched data) through the
// crunch tool.
void ExportCrunchedPicture(const ConverterInput& in, const TextureObject& tex, Reader& object) {
    const TextureHeader& h = tex.header;
    auto images = OpenTextureImages(in, tex, object);
    if (!images) return;
    RequireImages(h, images->source, 1);
    const auto data = images->source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
    const auto file = TextureOutputFile(in, images->resourceDir, ".png", 1);
    std::optional<image::ImagePlane> plane;
    try {
        plane = DecodeCrunched(in.context.executableDir, h.textureFormat, data,
                               static_cast<uint32_t>(h.width), static_cast<uint32_t>(h.height), file);
    } catch (const KestrelError& e) {
        throw KestrelError(in.exportName + ": " + e.what());
    }
    if (!plane) {
        in.Report().Notice(in.exportName + ": a crunched texture becomes a picture through the "
                                           "crunch tool (crunch or crunch_x64 beside the program), "
                                           "which is not there; export it as CRN");
        return;
    }
    if (in.context.noFlipTexture) image::TurnRows(*plane);
    const auto codec = image::FindPictureCodec(CrunchedBaseFormat(h.textureFormat));
    image::WritePng(*plane, codec->channels, file, in.context.pngLevel);
    in.Report().ProgressLine(in.exportName + " -> PNG");
}

} // namespace

void ExportTexturePNG(const ConverterInput& in) {
    Reader object = in.object;
    object.SetOrder(in.context.assets.header.DataOrder());
    const TextureObject tex = ReadTextureHeader(object, TextureLayoutOf(in));
    const TextureHeader& h = tex.header;
    CheckTextureHeaderSizes(h);
    if (IsCrunchedFormat(h.textureFormat) && h.completeImageSize > 0 && h.width > 0 &&
        h.height > 0) {
        ExportCrunchedPicture(in, tex, object);
        return;
    }
    const std::optional<image::PictureCodec> codec = image::FindPictureCodec(h.textureFormat);
    if (!codec) {
        in.Report().Notice(in.exportName + ": no picture decoder for texture format " +
                           std::to_string(h.textureFormat) + "; export it as DDS, KTX, PVR or CRN");
        return;
    }
    if (h.completeImageSize <= 0 || h.width <= 0 || h.height <= 0) {
        in.Report().Notice(in.exportName + " has no pixels: no picture written");
        return;
    }
    auto images = OpenTextureImages(in, tex, object);
    if (!images) return;
    RequireImages(h, images->source, static_cast<uint64_t>(h.imageCount));
    const auto width = static_cast<uint32_t>(h.width);
    const auto height = static_cast<uint32_t>(h.height);
    const uint64_t levelBytes = image::PictureLevelBytes(h.textureFormat, width, height);
    if (levelBytes > static_cast<uint64_t>(h.completeImageSize)) {
        throw KestrelError(in.exportName + ": " + std::to_string(h.completeImageSize) +
                           " bytes of pixels hold no " + std::to_string(width) + " x " +
                           std::to_string(height) + " picture of its format");
    }
    const std::string extension = codec->floatValues ? ".exr" : ".png";
    for (int32_t k = 1; k <= h.imageCount; ++k) {
        const auto image =
            images->source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
        image::ImagePlane plane;
        codec->decode(std::span<const uint8_t>(image).first(levelBytes), width, height, plane);
        // With -no_flip_texture the picture keeps the stored order: the picture file writer
        // turns the rows once more.
        if (in.context.noFlipTexture) image::TurnRows(plane);
        const auto file = TextureOutputFile(in, images->resourceDir, extension, k);
        if (codec->floatValues)
            image::WriteExr(plane, codec->channels, file, codec->halfFloat);
        else
            image::WritePng(plane, codec->channels, file, in.context.pngLevel);
    }
    in.Report().ProgressLine(in.exportName + (codec->floatValues ? " -> EXR" : " -> PNG"));
}

} // namespace kestrel
