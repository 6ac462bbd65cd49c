#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "image/DesktopCodecs.h"
#include "image/PictureCodecs.h"
#include "image/PictureFiles.h"
#include "image/PlaneConvert.h"
#include "io/ByteSource.h"
#include "io/ResourceFile.h"
#include "texture/TextureCrunchedPicture.h"
#include "texture/TextureFormats.h"
#include "texture/TextureImport.h"
#include "texture/TextureImportCommon.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <system_error>

namespace kestrel {
namespace {

using image::ImagePlane;
using image::PixelKind;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool IsExr(const std::filesystem::path& file) {
    return Lower(file.extension().string()) == ".exr";
}

// The pictures of every image, in stored row order (the export's -no_flip_texture pictures keep
// that order already, and the picture reader turns the rows of every file).
std::vector<ImagePlane> ReadPictures(const TextureImportInput& in, int32_t imageCount) {
    const bool exr = IsExr(in.imageFile);
    std::vector<ImagePlane> planes;
    for (int32_t k = 1; k <= imageCount; ++k) {
        const std::filesystem::path file = ImagePath(in.imageFile, k);
        ImagePlane plane = exr ? image::ReadExr(file) : image::ReadPng(file);
        if (in.noFlip) image::TurnRows(plane);
        if (k > 1 && (plane.width != planes[0].width || plane.height != planes[0].height)) {
            throw KestrelError(
                file.string() + ": the picture is " + std::to_string(plane.width) + " x " +
                std::to_string(plane.height) + " pixels, the texture's first image " +
                std::to_string(planes[0].width) + " x " + std::to_string(planes[0].height));
        }
        planes.push_back(std::move(plane));
    }
    return planes;
}

// Where the stored images start: in the object, or in the resource file of a streamed texture.
Reader StoredImages(const TextureImportInput& in, const TextureObject& tex) {
    if (!tex.StreamedData) {
        Reader source = in.object;
        source.Seek(tex.imageStart, "image data");
        return source;
    }
    const ResourceFileLocation where = RequireStreamedResource(in, tex);
    Reader source(OpenResourceFile(where.file), Endian::Little);
    if (tex.streamOffset > source.End()) {
        source.Fail(tex.streamOffset, "stream offset", "lies past the end of the file");
    }
    source.Seek(tex.streamOffset, "stream offset");
    return source;
}

// The channels a picture file of the channel set keeps (R, G, B, A): only those can differ
// between a picture and the pixels it was written from.
std::array<bool, 4> KeptChannels(image::ChannelSet channels) {
    using image::ChannelSet;
    switch (channels) {
    case ChannelSet::kAlpha:
        return {false, false, false, true};
    case ChannelSet::kGray:
        return {true, false, false, false};
    case ChannelSet::kGrayGreen:
        return {true, true, false, false};
    case ChannelSet::kRgb:
        return {true, true, true, false};
    case ChannelSet::kRgba:
        break;
    }
    return {true, true, true, true};
}

bool SameValue(float a, float b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// True when the picture holds the stored plane's pixels in the channels its file keeps.
bool SamePixels(const ImagePlane& stored, const ImagePlane& picture, image::ChannelSet channels) {
    if (stored.width != picture.width || stored.height != picture.height) return false;
    ImagePlane scratch;
    const ImagePlane& p = image::AsKind(picture, stored.kind, scratch);
    const std::array<bool, 4> kept = KeptChannels(channels);
    const size_t n = static_cast<size_t>(stored.width) * stored.height * 4;
    const auto same = [&](const auto& a, const auto& b, const auto& equal) {
        if (kept == std::array<bool, 4>{true, true, true, true})
            return std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(n), b.begin(), equal);
        for (size_t i = 0; i < n; i += 4)
            for (size_t c = 0; c < 4; ++c)
                if (kept[c] && !equal(a[i + c], b[i + c])) return false;
        return true;
    };
    switch (stored.kind) {
    case PixelKind::kRgba8:
        return same(stored.rgba8, p.rgba8, std::equal_to<>());
    case PixelKind::kRgba16:
        return same(stored.rgba16, p.rgba16, std::equal_to<>());
    case PixelKind::kRgbaFloat:
        return same(stored.rgbaF, p.rgbaF, [](float a, float b) { return SameValue(a, b); });
    }
    return false;
}

// True when every picture shows what exporting the object would write: level 0 of each image
// decoded by the texture's own codec.
bool PicturesUnchanged(const TextureImportInput& in, const TextureObject& tex,
                       const std::vector<ImagePlane>& pictures) {
    const TextureHeader& h = tex.header;
    if (IsCrunchedFormat(h.textureFormat)) {
        // The crunched first image, decompressed by the tool as the export did; without the tool
        // no picture was exported from it.
        if (h.width <= 0 || h.height <= 0 || h.completeImageSize <= 0) return false;
        const auto width = static_cast<uint32_t>(h.width);
        const auto height = static_cast<uint32_t>(h.height);
        if (pictures[0].width != width || pictures[0].height != height) return false;
        Reader source = StoredImages(in, tex);
        if (source.Remaining() < static_cast<uint64_t>(h.completeImageSize)) return false;
        const auto image = source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
        const std::optional<ImagePlane> stored = DecodeCrunched(
            in.executableDir, h.textureFormat, image, width, height, in.outputFile);
        const int32_t base = CrunchedBaseFormat(h.textureFormat);
        return stored && SamePixels(*stored, pictures[0], image::FindPictureCodec(base)->channels);
    }
    const auto codec = image::FindPictureCodec(h.textureFormat);
    if (!codec || h.width <= 0 || h.height <= 0 || h.completeImageSize <= 0) return false;
    const auto width = static_cast<uint32_t>(h.width);
    const auto height = static_cast<uint32_t>(h.height);
    if (pictures[0].width != width || pictures[0].height != height) return false;
    const uint64_t levelBytes = image::PictureLevelBytes(h.textureFormat, width, height);
    if (levelBytes > static_cast<uint64_t>(h.completeImageSize)) return false;
    Reader source = StoredImages(in, tex);
    for (const ImagePlane& picture : pictures) {
        if (source.Remaining() < static_cast<uint64_t>(h.completeImageSize)) return false;
        const auto image = source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
        ImagePlane stored;
        try {
            codec->decode(std::span<const uint8_t>(image).first(levelBytes), width, height, stored);
        } catch (const KestrelError&) {
            return false; // pixels no picture was exported from
        }
        if (!SamePixels(stored, picture, codec->channels)) return false;
    }
    return true;
}

// Levels of a full chain down to 1 x 1.
uint32_t FullChain(uint32_t width, uint32_t height) {
    uint32_t levels = 1;
    while (width > 1 || height > 1) {
        width = std::max<uint32_t>(width / 2, 1);
        height = std::max<uint32_t>(height / 2, 1);
        ++levels;
    }
    return levels;
}

// The levels the object holds now: its mip count, or for the flag a full chain of its size.
uint32_t StoredLevels(const TextureObject& tex) {
    const std::vector<uint8_t>& m = tex.header.mipField;
    if (m.empty()) return 1;
    if (!tex.MipCountLayout) {
        return m[0] != 0 ? FullChain(static_cast<uint32_t>(std::max(tex.header.width, 1)),
                                     static_cast<uint32_t>(std::max(tex.header.height, 1)))
                         : 1;
    }
    uint32_t count = 0;
    for (size_t i = 0; i < std::min<size_t>(m.size(), 4); ++i)
        count |= static_cast<uint32_t>(m[i]) << (8 * i);
    return std::max<uint32_t>(count, 1);
}

// The levels the rebuilt texture gets at the picture's size: none beyond the first when the
// object has none, a full chain when it has one, else as many as it has and the size allows.
uint32_t RebuiltLevels(const TextureObject& tex, uint32_t width, uint32_t height) {
    const uint32_t stored = StoredLevels(tex);
    const uint32_t full = FullChain(width, height);
    if (stored <= 1) return 1;
    const uint32_t storedFull = FullChain(static_cast<uint32_t>(std::max(tex.header.width, 1)),
                                          static_cast<uint32_t>(std::max(tex.header.height, 1)));
    return stored >= storedFull ? full : std::min(stored, full);
}

// One image of `levels` levels of the codec's format, the first level being the picture.
void AppendEncodedImage(std::vector<uint8_t>& out, const ImagePlane& picture,
                        const image::PictureCodec& codec, uint32_t levels) {
    ImagePlane level;
    for (uint32_t l = 0; l < levels; ++l) {
        const ImagePlane& source = l == 0 ? picture : level;
        const uint64_t bytes = image::PictureLevelBytes(codec.format, source.width, source.height);
        const size_t at = out.size();
        out.resize(at + bytes);
        codec.encode(source, std::span<uint8_t>(out).subspan(at, bytes));
        if (l + 1 < levels) level = image::HalvePlane(source);
    }
}

std::string FormatText(int32_t format, bool modern) {
    return std::to_string(format) + " (" + TextureFormatShortName(format, modern) + ")";
}

} // namespace

std::optional<int32_t> PictureStorageFormat(std::string_view nameOrNumber) {
    int32_t number = 0;
    const char* end = nameOrNumber.data() + nameOrNumber.size();
    const auto [ptr, ec] = std::from_chars(nameOrNumber.data(), end, number);
    const bool isNumber = !nameOrNumber.empty() && ec == std::errc() && ptr == end;
    const std::string wanted = Lower(nameOrNumber);
    // The engine's own name of format 14; the name table keeps "BGRA32" for format 37.
    if (wanted == "bgra32") return 14;
    for (int32_t format = 1; format < 128; ++format) {
        const image::FormatCodec* codec = image::FindDesktopCodec(format);
        if (codec == nullptr || codec->decode == nullptr || codec->encode == nullptr ||
            codec->blockBytes != 0)
            continue;
        if (isNumber ? number == format : Lower(TextureFormatShortName(format, true)) == wanted)
            return format;
    }
    return std::nullopt;
}

void ImportTexturePNG(const TextureImportInput& in) {
    const TextureObject tex = ReadImportTarget(in);
    const TextureHeader& h = tex.header;
    if (h.imageCount < 1) {
        throw KestrelError(in.imageFile.string() + ": the texture holds no image to replace");
    }
    // A crunched texture's picture is its first image, the only one holding crunched data.
    const std::vector<ImagePlane> pictures =
        ReadPictures(in, IsCrunchedFormat(h.textureFormat) ? 1 : h.imageCount);
    if (PicturesUnchanged(in, tex, pictures)) return;

    const bool modern = in.layout.has_value();
    const int32_t format = in.pngFormat != 0 ? in.pngFormat : h.textureFormat;
    const auto codec = image::FindPictureCodec(format);
    if (!codec || codec->encode == nullptr) {
        throw KestrelError(in.imageFile.string() + ": no encoder for texture format " +
                           FormatText(format, modern) +
                           "; use --png-format RGBA32 to store it uncompressed");
    }
    const uint32_t width = pictures[0].width;
    const uint32_t height = pictures[0].height;
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        throw KestrelError(in.imageFile.string() + ": the picture holds no pixels");
    const uint32_t levels = RebuiltLevels(tex, width, height);

    ImportedPicture picture;
    picture.width = static_cast<int32_t>(width);
    picture.height = static_cast<int32_t>(height);
    picture.format = format;
    picture.imageCount = h.imageCount;
    for (const ImagePlane& plane : pictures) {
        // Encoders of integer formats take integer pixels (the ETC and EAC ones refuse floats).
        if (!codec->floatValues && plane.kind == PixelKind::kRgbaFloat) {
            AppendEncodedImage(picture.images, image::ConvertPlane(plane, PixelKind::kRgba16),
                               *codec, levels);
        } else {
            AppendEncodedImage(picture.images, plane, *codec, levels);
        }
    }
    ImageSizeField(picture.images.size() / static_cast<size_t>(h.imageCount), h.imageCount,
                   in.imageFile);
    picture.mipField = ImportedMipField(tex, levels, StoredLevels(tex));
    WriteRebuiltTexture(in, tex, picture);
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

} // namespace kestrel
