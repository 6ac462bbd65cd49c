#include "common/Error.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureImport.h"
#include "texture/TextureImportCommon.h"

#include <algorithm>

namespace kestrel {
namespace {

// Edges are below 2^31, so no picture has more levels; a larger count in a file is not walked.
constexpr uint32_t kMaxLevels = 32;

// The pixels of image k: the bytes after the header of its file, which must describe the same
// picture as the first file.
std::vector<uint8_t> ReadFurtherDdsImage(const std::filesystem::path& path,
                                         const DdsPictureHeader& first, int32_t currentFormat) {
    Reader file = OpenPicture(path);
    const DdsPictureHeader header = ReadDdsPictureHeader(file, currentFormat);
    if (header.width != first.width || header.height != first.height ||
        header.mipMapCount != first.mipMapCount || header.row != first.row ||
        header.dataSize != first.dataSize) {
        throw KestrelError(path.string() + ": the picture's size, levels or pixel format differ " +
                           "from the texture's first image");
    }
    return file.Bytes(header.dataSize, "DDS data");
}

} // namespace

void ImportTextureDDS(const TextureImportInput& in) {
    const TextureObject tex = ReadImportTarget(in);
    const TextureHeader& h = tex.header;
    if (h.imageCount < 1) {
        throw KestrelError(in.imageFile.string() + ": the texture holds no image to replace");
    }
    Reader file = OpenPicture(in.imageFile);
    const DdsPictureHeader header = ReadDdsPictureHeader(file, h.textureFormat);
    if (header.row == nullptr) {
        throw KestrelError(in.imageFile.string() +
                           ": unknown DDS pixel format; the texture is left unchanged");
    }
    RequireExactDdsData(header,
                        {h.textureFormat, h.completeImageSize, h.width, h.height, h.MipValue()},
                        in.imageFile);
    const DdsPixelFormatRow& row = *header.row;
    const uint32_t levels = std::clamp<uint32_t>(header.mipMapCount, 1, kMaxLevels);
    const int32_t imageSize = ImageSizeField(header.dataSize, h.imageCount, in.imageFile);
    RequireDdsLevels(row.format, row.bytesPerPixel, header.width, header.height, levels,
                     header.dataSize, in.imageFile);

    const DdsImageRule rule{row.format,   row.bytesPerPixel,
                            header.width, header.height,
                            levels,       !in.noFlip && !KeepsStoredRowOrder(row.format)};
    ImportedPicture picture;
    picture.width = static_cast<int32_t>(header.width);
    picture.height = static_cast<int32_t>(header.height);
    picture.format = row.format;
    picture.imageCount = h.imageCount;
    picture.images.reserve(static_cast<size_t>(imageSize) * static_cast<size_t>(h.imageCount));
    AppendDdsImage(picture.images, file.Bytes(header.dataSize, "DDS data"), rule);
    for (int32_t k = 2; k <= h.imageCount; ++k) {
        AppendDdsImage(picture.images,
                       ReadFurtherDdsImage(ImagePath(in.imageFile, k), header, h.textureFormat),
                       rule);
    }
    const DDSHeader exported =
        BuildDDSHeader(h.textureFormat, h.completeImageSize, h.width, h.height, h.MipValue());
    picture.mipField = ImportedMipField(tex, header.mipMapCount, exported.mipMapCount);
    WriteRebuiltTexture(in, tex, picture);
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

} // namespace kestrel
