#include "common/Error.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureImport.h"
#include "texture/TextureImportCommon.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kestrel {
namespace {

constexpr std::array<uint8_t, 12> kKtxIdentifier = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x31,
                                                    0x31, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kKtxEndianness = 0x04030201;
constexpr uint32_t kPvrVersion = 0x03525650; // "PVR" and 3, little-endian
// Images of one object: a texture has 1, a Cubemap 6.
constexpr uint32_t kMaxImages = 6;

// What a KTX or PVR file says about its picture.
struct PictureHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t levels = 0;
    uint32_t images = 0;
    const KtxPvrFormatRow* row = nullptr;
    bool operator==(const PictureHeader&) const = default;
};

PictureHeader ReadKtxHeader(Reader& file, int32_t currentFormat) {
    std::array<uint8_t, 12> identifier{};
    file.Bytes(identifier.data(), identifier.size(), "KTX identifier");
    if (identifier != kKtxIdentifier) file.Fail(file.Begin(), "KTX identifier", "not a KTX file");
    if (file.U32("KTX endianness") != kKtxEndianness) {
        file.Fail(file.Begin() + 12, "KTX endianness", "only little-endian KTX files are read");
    }
    file.Skip(12, "KTX glType, glTypeSize, glFormat");
    const uint32_t internal = file.U32("KTX glInternalFormat");
    const uint32_t base = file.U32("KTX glBaseInternalFormat");
    PictureHeader out;
    out.row = KtxFormatForGl(internal, base, currentFormat);
    out.width = file.U32("KTX pixelWidth");
    out.height = file.U32("KTX pixelHeight");
    file.Skip(8, "KTX pixelDepth, numberOfArrayElements");
    out.images = file.U32("KTX numberOfFaces");
    out.levels = file.U32("KTX numberOfMipmapLevels");
    file.Skip(file.U32("KTX bytesOfKeyValueData"), "KTX key and value data");
    return out;
}

PictureHeader ReadPvrHeader(Reader& file, int32_t currentFormat) {
    if (file.U32("PVR version") != kPvrVersion) {
        file.Fail(file.Begin(), "PVR version", "not a little-endian PVR version 3 file");
    }
    file.Skip(4, "PVR flags");
    const uint64_t pixelFormat = file.U64("PVR pixel format");
    file.Skip(8, "PVR colour space, channel type");
    PictureHeader out;
    out.row = PvrFormatForPixelFormat(pixelFormat, currentFormat);
    out.height = file.U32("PVR height");
    out.width = file.U32("PVR width");
    file.Skip(8, "PVR depth, surfaces");
    out.images = file.U32("PVR number of faces");
    out.levels = file.U32("PVR mip map count");
    file.Skip(file.U32("PVR metadata size"), "PVR metadata");
    return out;
}

// KTX pixels: every level's size field dropped, the bytes after the last level kept.
std::vector<uint8_t> ReadKtxPixels(Reader& file, uint32_t levels) {
    std::vector<uint8_t> out;
    for (uint32_t level = 0; level < std::max<uint32_t>(levels, 1); ++level) {
        const uint32_t size = file.U32("KTX imageSize");
        const auto bytes = file.Bytes(size, "KTX level data");
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    const auto rest = file.Bytes(file.Remaining(), "KTX data");
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

using HeaderReader = PictureHeader (*)(Reader&, int32_t);
using PixelReader = std::vector<uint8_t> (*)(Reader&, uint32_t);

std::vector<uint8_t> ReadPvrPixels(Reader& file, uint32_t) {
    return file.Bytes(file.Remaining(), "PVR data");
}

// The image count of a file: its faces, 1 when it says 0.
int32_t ImageCount(const PictureHeader& header, const std::filesystem::path& path) {
    const uint32_t images = std::max<uint32_t>(header.images, 1);
    if (images > kMaxImages) {
        throw KestrelError(path.string() + ": " + std::to_string(images) +
                           " faces; a texture holds at most " + std::to_string(kMaxImages));
    }
    return static_cast<int32_t>(images);
}

// Raises unless one image's bytes hold at least the picture's first level.
void RequireFirstLevel(const PictureHeader& header, uint64_t size,
                       const std::filesystem::path& path) {
    const uint64_t need = KtxLevelBytes(*header.row, header.width, header.height, 0);
    if (size < need || header.width > INT32_MAX || header.height > INT32_MAX) {
        throw KestrelError(path.string() + ": the picture data (" + std::to_string(size) +
                           " bytes) is shorter than a " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + " image of texture format " +
                           std::to_string(header.row->format) + " (" + std::to_string(need) +
                           " bytes)");
    }
}

// Reads the picture files of a KTX or PVR import into `picture`, one image per file; returns
// the first file's header. An unknown pixel format leaves picture.images empty.
PictureHeader ReadPictures(const TextureImportInput& in, int32_t currentFormat,
                           HeaderReader readHeader, PixelReader readPixels,
                           ImportedPicture& picture) {
    Reader file = OpenPicture(in.imageFile);
    const PictureHeader first = readHeader(file, currentFormat);
    if (first.row == nullptr) return first;
    picture.imageCount = ImageCount(first, in.imageFile);
    picture.images = readPixels(file, first.levels);
    const uint64_t size = picture.images.size();
    ImageSizeField(size, picture.imageCount, in.imageFile);
    RequireFirstLevel(first, size, in.imageFile);
    for (int32_t k = 2; k <= picture.imageCount; ++k) {
        const auto path = ImagePath(in.imageFile, k);
        Reader further = OpenPicture(path);
        const bool same = readHeader(further, currentFormat) == first;
        const auto image = same ? readPixels(further, first.levels) : std::vector<uint8_t>{};
        if (!same || image.size() != size) {
            throw KestrelError(path.string() + ": the picture's size, levels or pixel format " +
                               "differ from the texture's first image");
        }
        picture.images.insert(picture.images.end(), image.begin(), image.end());
    }
    picture.width = static_cast<int32_t>(first.width);
    picture.height = static_cast<int32_t>(first.height);
    picture.format = first.row->format;
    return first;
}

} // namespace

void ImportTextureKTX(const TextureImportInput& in) {
    const TextureObject tex = ReadImportTarget(in);
    ImportedPicture picture;
    const PictureHeader header =
        ReadPictures(in, tex.header.textureFormat, ReadKtxHeader, ReadKtxPixels, picture);
    if (header.row == nullptr) {
        throw KestrelError(in.imageFile.string() +
                           ": unknown KTX pixel format; the texture is left unchanged");
    }
    const TextureHeader& h = tex.header;
    std::optional<uint32_t> exported;
    const KtxPvrFormatRow* row = KtxPvrFormatFor(h.textureFormat);
    if (row != nullptr && row->glInternalFormat != 0) {
        exported = KtxLevelsOf(tex, *row).count;
    }
    picture.mipField = ImportedMipField(tex, header.levels, exported);
    WriteRebuiltTexture(in, tex, picture);
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

void ImportTexturePVR(const TextureImportInput& in) {
    const TextureObject tex = ReadImportTarget(in);
    ImportedPicture picture;
    const PictureHeader header =
        ReadPictures(in, tex.header.textureFormat, ReadPvrHeader, ReadPvrPixels, picture);
    if (header.row == nullptr) {
        throw KestrelError(in.imageFile.string() +
                           ": unknown PVR pixel format; the texture is left unchanged");
    }
    std::optional<uint32_t> exported;
    const KtxPvrFormatRow* row = KtxPvrFormatFor(tex.header.textureFormat);
    if (row != nullptr && row->pvrPixelFormat >= 0) {
        exported = PvrLevelCount(row->bitsPerPixel, tex.header);
    }
    picture.mipField = ImportedMipField(tex, header.levels, exported);
    WriteRebuiltTexture(in, tex, picture);
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

} // namespace kestrel
