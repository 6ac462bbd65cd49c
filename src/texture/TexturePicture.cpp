#include "texture/TexturePicture.h"

#include "common/Error.h"
#include "image/PictureCodecs.h"
#include "image/PlaneConvert.h"
#include "texture/TextureResource.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

// Block rows decoded between two questions whether to stop: about 64 pixel rows.
constexpr uint32_t kBandRows = 64;

uint32_t LevelEdge(uint32_t edge, uint32_t level) {
    return std::max<uint32_t>(1, level >= 32 ? 1 : edge >> level);
}

// PVRTC blends each block with its neighbours, so its level is decoded whole.
bool DecodesWholeLevelsOnly(int32_t format) {
    return format >= 30 && format <= 33;
}

// The pixel rows one row of blocks covers: the tallest band whose bytes equal one pixel row's.
uint32_t BlockHeight(int32_t format, uint32_t width) {
    const uint64_t one = image::PictureLevelBytes(format, width, 1);
    uint32_t height = 1;
    for (uint32_t h = 2; h <= 12; ++h)
        if (image::PictureLevelBytes(format, width, h) == one) height = h;
    return height;
}

struct OpenedTexture {
    TextureObject tex;
    TexturePictureFacts facts;
    Reader object;
};

OpenedTexture OpenTexture(const ConverterInput& in) {
    OpenedTexture t;
    t.object = in.object;
    t.object.SetOrder(in.context.assets.header.DataOrder());
    t.tex = ReadTextureHeader(t.object, TextureLayoutOf(in));
    const TextureHeader& h = t.tex.header;
    CheckTextureHeaderSizes(h);
    TexturePictureFacts& f = t.facts;
    f.width = static_cast<uint32_t>(h.width);
    f.height = static_cast<uint32_t>(h.height);
    f.faces = static_cast<uint32_t>(std::max(h.imageCount, 0));
    f.format = h.textureFormat;
    f.decodable = image::FindPictureCodec(h.textureFormat).has_value();
    // A mip count names the levels; a flag asks for the whole chain. Either way only levels
    // whose bytes fit one image are counted.
    uint32_t wanted = 1;
    if (t.tex.MipCountLayout)
        wanted = std::max<uint32_t>(1, h.MipValue());
    else if (h.MipValue() != 0)
        wanted = 32;
    f.levels = 0;
    uint64_t used = 0;
    if (f.decodable && f.width > 0 && f.height > 0) {
        for (uint32_t level = 0; level < wanted; ++level) {
            const uint32_t w = LevelEdge(f.width, level), hh = LevelEdge(f.height, level);
            used += image::PictureLevelBytes(f.format, w, hh);
            if (used > static_cast<uint64_t>(std::max(h.completeImageSize, 0))) break;
            ++f.levels;
            if (w == 1 && hh == 1) break;
        }
    }
    f.levels = std::max<uint32_t>(f.levels, 1);
    return t;
}

} // namespace

TexturePictureFacts ReadTexturePictureFacts(const ConverterInput& in) {
    return OpenTexture(in).facts;
}

uint32_t LevelForBox(const TexturePictureFacts& facts, uint32_t boxWidth, uint32_t boxHeight) {
    if (facts.width == 0 || facts.height == 0 || boxWidth == 0 || boxHeight == 0) return 0;
    // The shown size: the picture scaled to fit the box (never enlarged past the box).
    const double scale = std::min(static_cast<double>(boxWidth) / facts.width,
                                  static_cast<double>(boxHeight) / facts.height);
    const double shownW = facts.width * scale, shownH = facts.height * scale;
    uint32_t chosen = 0;
    for (uint32_t level = 1; level < facts.levels; ++level) {
        if (LevelEdge(facts.width, level) < shownW || LevelEdge(facts.height, level) < shownH)
            break;
        chosen = level;
    }
    return chosen;
}

std::optional<TexturePicture> DecodeTexturePicture(const ConverterInput& in, uint32_t face,
                                                   uint32_t level,
                                                   const std::function<bool()>& stop,
                                                   const ResourceInPlace& inPlace) {
    OpenedTexture t = OpenTexture(in);
    const TextureHeader& h = t.tex.header;
    const TexturePictureFacts& f = t.facts;
    const std::optional<image::PictureCodec> codec = image::FindPictureCodec(h.textureFormat);
    if (!codec) {
        throw KestrelError(in.exportName + ": no picture decoder for texture format " +
                           std::to_string(h.textureFormat));
    }
    if (h.completeImageSize <= 0 || f.width == 0 || f.height == 0)
        throw KestrelError(in.exportName + " has no pixels");
    if (face >= f.faces || level >= f.levels) {
        throw KestrelError(in.exportName + ": no level " + std::to_string(level) + " of image " +
                           std::to_string(face));
    }
    std::optional<TextureImages> images;
    if (t.tex.StreamedData && inPlace) {
        if (std::optional<Reader> file = inPlace(t.tex.resource.path)) {
            if (t.tex.streamOffset > file->Remaining())
                file->Fail(file->Pos() + t.tex.streamOffset, "stream offset", "lies past the end of the file");
            file->Skip(t.tex.streamOffset, "stream offset");
            images = TextureImages{*file, ""};
        }
    }
    if (!images) images = OpenTextureImages(in, t.tex, t.object);
    if (!images) throw KestrelError(in.exportName + ": its pixels cannot be read");
    RequireImages(h, images->source, static_cast<uint64_t>(h.imageCount));

    uint64_t offset = static_cast<uint64_t>(h.completeImageSize) * face;
    for (uint32_t l = 0; l < level; ++l)
        offset += image::PictureLevelBytes(f.format, LevelEdge(f.width, l), LevelEdge(f.height, l));
    const uint32_t width = LevelEdge(f.width, level), height = LevelEdge(f.height, level);
    Reader source = images->source;
    source.Skip(offset, "level");

    image::ImagePlane whole;
    const uint32_t blockHeight = BlockHeight(f.format, width);
    const uint32_t band = DecodesWholeLevelsOnly(f.format)
                              ? height
                              : std::max(blockHeight, kBandRows / blockHeight * blockHeight);
    for (uint32_t row = 0; row < height; row += band) {
        if (stop && stop()) return std::nullopt;
        const uint32_t rows = std::min(band, height - row);
        const auto bytes = source.Bytes(image::PictureLevelBytes(f.format, width, rows), "level");
        image::ImagePlane part;
        codec->decode(bytes, width, rows, part);
        if (row == 0 && rows == height) {
            whole = std::move(part);
            break;
        }
        if (row == 0) whole = image::ImagePlane::Make(width, height, part.kind);
        // Bands come in stored row order; each lands in its rows of the level.
        const size_t rowValues = static_cast<size_t>(width) * 4;
        const size_t at = static_cast<size_t>(row) * rowValues, n = rows * rowValues;
        switch (part.kind) {
        case image::PixelKind::kRgba8:
            std::copy_n(part.rgba8.begin(), n, whole.rgba8.begin() + static_cast<ptrdiff_t>(at));
            break;
        case image::PixelKind::kRgba16:
            std::copy_n(part.rgba16.begin(), n, whole.rgba16.begin() + static_cast<ptrdiff_t>(at));
            break;
        case image::PixelKind::kRgbaFloat:
            std::copy_n(part.rgbaF.begin(), n, whole.rgbaF.begin() + static_cast<ptrdiff_t>(at));
            break;
        }
    }
    TexturePicture picture;
    picture.facts = f;
    picture.face = face;
    picture.level = level;
    picture.plane = whole.kind == image::PixelKind::kRgba8
                        ? std::move(whole)
                        : image::ConvertPlane(whole, image::PixelKind::kRgba8);
    // Stored bottom row first; with -no_flip_texture the stored order is shown, as exported.
    if (!in.context.noFlipTexture) image::TurnRows(picture.plane);
    return picture;
}

} // namespace kestrel
