#include "texture/TextureImportCommon.h"

#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/ResourceFile.h"
#include "io/Writer.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TexturePixels.h"

#include <algorithm>
#include <climits>
#include <system_error>

namespace kestrel {

ResourceFileLocation RequireStreamedResource(const TextureImportInput& in,
                                             const TextureObject& tex) {
    const ResourceFileLocation where =
        LocateResourceFile(in.resources, tex.resource.path, in.imageFile.string());
    if (!ResourceFileExists(where.file)) {
        throw KestrelError(in.imageFile.string() + ": the texture's resource file " +
                           where.shownPath + " is missing; the texture is left unchanged");
    }
    return where;
}

namespace {

constexpr uint32_t kDdsMagic = 0x20534444; // "DDS "
constexpr uint32_t kDdsHeaderLength = 124;

} // namespace

Reader OpenPicture(const std::filesystem::path& path) {
    return Reader(FileSource::Open(path), Endian::Little);
}

std::filesystem::path ImagePath(const std::filesystem::path& first, int32_t k) {
    if (k < 2) return first;
    std::filesystem::path path = first;
    path += "_" + std::to_string(k);
    return path;
}

TextureObject ReadImportTarget(const TextureImportInput& in) {
    Reader object = in.object;
    TextureObject tex = ReadTextureHeader(object, in.layout);
    CheckTextureHeaderSizes(tex.header);
    return tex;
}

std::vector<uint8_t> ImportedMipField(const TextureObject& tex, uint32_t fileLevels,
                                      std::optional<uint32_t> exportedLevels) {
    fileLevels = std::max<uint32_t>(fileLevels, 1);
    std::vector<uint8_t> field = tex.header.mipField;
    if (field.empty()) return field;
    if (exportedLevels && fileLevels == std::max<uint32_t>(*exportedLevels, 1)) return field;
    if (tex.MipCountLayout) {
        field[0] = static_cast<uint8_t>(fileLevels);
    } else {
        field[0] = fileLevels >= 2 ? 1 : 0;
    }
    return field;
}

int32_t ImageSizeField(uint64_t size, int32_t imageCount, const std::filesystem::path& file) {
    const auto count = static_cast<uint64_t>(std::max<int32_t>(imageCount, 1));
    if (size == 0) throw KestrelError(file.string() + ": the picture holds no pixels");
    if (size > INT32_MAX / count) {
        throw KestrelError(file.string() + ": " + std::to_string(count) + " image(s) of " +
                           std::to_string(size) + " bytes do not fit in a texture object");
    }
    return static_cast<int32_t>(size);
}

namespace {

// The object's bytes from `from` to `to` (offsets from its start).
std::vector<uint8_t> ObjectBytes(const TextureImportInput& in, uint64_t from, uint64_t to) {
    Reader object = in.object;
    object.Seek(object.Begin() + from, "texture object");
    return object.Bytes(to - from, "texture object");
}

// Where a streamed texture's new pixels go in its resource file: where they lie already when
// the file holds exactly them there, else at its end. Returns the offset.
uint64_t PutStreamedPixels(const TextureImportInput& in, const TextureObject& tex,
                           const std::vector<uint8_t>& pixels) {
    const ResourceFileLocation where = RequireStreamedResource(in, tex);
    const auto stored = OpenResourceFile(where.file);
    const uint64_t size = stored->Size();
    if (tex.streamSize == pixels.size() && tex.streamOffset <= size &&
        pixels.size() <= size - tex.streamOffset) {
        std::vector<uint8_t> old(pixels.size());
        stored->ReadAt(tex.streamOffset, old.data(), old.size());
        if (old == pixels) return tex.streamOffset;
    }
    // Appending leaves every byte the archive refers to now where it is: an import cut short
    // before the archive is written changes nothing the archive reads.
    return AppendToResourceFile(where.file, pixels);
}

// A texture read by a layout row: the object's bytes with the picture's fields written over the
// stored ones, its pixels in place of the stored ones (or in the resource file), and every other
// byte kept.
void WriteRebuiltFieldsTexture(const TextureImportInput& in, const TextureObject& tex,
                               const ImportedPicture& picture) {
    const TextureFieldPlaces& at = tex.places;
    const uint64_t end = in.object.End() - in.object.Begin();
    const auto count = static_cast<uint64_t>(std::max<int32_t>(picture.imageCount, 1));
    Writer out(in.object.Order());
    out.Bytes(in.objectHead.data(), in.objectHead.size());
    const size_t base = out.Size();
    const auto head = ObjectBytes(in, 0, at.imageDataSize);
    out.Bytes(head.data(), head.size());
    const auto& m = picture.mipField;
    out.PutU32At(base + at.width, static_cast<uint32_t>(picture.width));
    out.PutU32At(base + at.height, static_cast<uint32_t>(picture.height));
    out.PutU32At(base + at.completeImageSize, static_cast<uint32_t>(picture.images.size() / count));
    out.PutU32At(base + at.format, static_cast<uint32_t>(picture.format));
    if (tex.MipCountLayout) {
        out.PutU32At(base + at.mipCount,
                     static_cast<uint32_t>(m[0]) | (static_cast<uint32_t>(m[1]) << 8) |
                         (static_cast<uint32_t>(m[2]) << 16) | (static_cast<uint32_t>(m[3]) << 24));
    } else {
        out.Data()[base + at.mipCount] = m[0]; // the has-mipmaps flag
    }
    out.PutU32At(base + at.imageCount, static_cast<uint32_t>(picture.imageCount));
    if (!tex.StreamedData) {
        out.I32(static_cast<int32_t>(picture.images.size()));
        out.Bytes(picture.images.data(), picture.images.size());
        out.Align4(base);
        const auto tail = ObjectBytes(in, at.imageDataEnd, end);
        out.Bytes(tail.data(), tail.size());
    } else {
        if (picture.images.size() > UINT32_MAX) {
            throw KestrelError(in.imageFile.string() + ": the pixels do not fit the stream size");
        }
        const uint64_t offset = PutStreamedPixels(in, tex, picture.images);
        if (at.streamOffsetWidth == 4 && offset > UINT32_MAX) {
            throw KestrelError(in.imageFile.string() +
                               ": the pixels would lie past 4 GiB in the "
                               "resource file, beyond what the texture's 32-bit offset holds");
        }
        const auto rest = ObjectBytes(in, at.imageDataSize, end);
        const size_t restAt = out.Size();
        out.Bytes(rest.data(), rest.size());
        const size_t offsetAt = restAt + (at.streamOffset - at.imageDataSize);
        if (at.streamOffsetWidth == 8) {
            out.PutU64At(offsetAt, offset);
        } else {
            out.PutU32At(offsetAt, static_cast<uint32_t>(offset));
        }
        out.PutU32At(restAt + (at.streamSize - at.imageDataSize),
                     static_cast<uint32_t>(picture.images.size()));
    }
    WriteWholeFile(in.outputFile, out.Data().data(), out.Data().size());
}

// True when a streamed texture's picture is the one the object describes now: the same fields,
// and pixels equal to those its resource file holds where the object points. A resource file that
// cannot be found or read holds no pixels to compare with.
bool SameStreamedPicture(const TextureImportInput& in, const TextureObject& tex,
                         const ImportedPicture& picture) {
    const TextureHeader& h = tex.header;
    const auto count = static_cast<uint64_t>(std::max<int32_t>(picture.imageCount, 1));
    if (!tex.StreamedData || picture.width != h.width || picture.height != h.height ||
        picture.format != h.textureFormat || picture.imageCount != h.imageCount ||
        picture.mipField != h.mipField || picture.images.size() != tex.streamSize ||
        picture.images.size() != count * static_cast<uint64_t>(std::max(h.completeImageSize, 0))) {
        return false;
    }
    std::shared_ptr<const ByteSource> stored;
    try {
        const ResourceFileLocation where =
            LocateResourceFile(in.resources, tex.resource.path, in.imageFile.string());
        if (!ResourceFileExists(where.file)) return false;
        stored = OpenResourceFile(where.file);
    } catch (const KestrelError&) {
        return false;
    }
    if (tex.streamOffset > stored->Size() ||
        picture.images.size() > stored->Size() - tex.streamOffset) {
        return false;
    }
    std::vector<uint8_t> old(picture.images.size());
    return stored->ReadAt(tex.streamOffset, old.data(), old.size()) == old.size() &&
           old == picture.images;
}

} // namespace

void WriteRebuiltTexture(const TextureImportInput& in, const TextureObject& tex,
                         const ImportedPicture& picture) {
    if (SameStreamedPicture(in, tex, picture)) {
        // An unchanged picture changes nothing, in every layout: the object keeps its bytes and
        // its pixels stay where they lie in the resource file.
        const auto body = ObjectBytes(in, 0, in.object.End() - in.object.Begin());
        Writer out(in.object.Order());
        out.Bytes(in.objectHead.data(), in.objectHead.size());
        out.Bytes(body.data(), body.size());
        WriteWholeFile(in.outputFile, out.Data().data(), out.Data().size());
        return;
    }
    if (tex.layout == TextureLayout::Fields) {
        WriteRebuiltFieldsTexture(in, tex, picture);
        return;
    }
    const TextureHeader& h = tex.header;
    const auto count = static_cast<uint64_t>(std::max<int32_t>(picture.imageCount, 1));
    const uint64_t imageSize = picture.images.size() / count;
    Writer out(in.object.Order());
    out.Bytes(in.objectHead.data(), in.objectHead.size());
    const size_t base = out.Size();
    out.I32(picture.width);
    out.I32(picture.height);
    out.I32(static_cast<int32_t>(imageSize));
    out.I32(picture.format);
    if (tex.MipCountLayout) {
        const auto& m = picture.mipField;
        out.U32(static_cast<uint32_t>(m[0]) | (static_cast<uint32_t>(m[1]) << 8) |
                (static_cast<uint32_t>(m[2]) << 16) | (static_cast<uint32_t>(m[3]) << 24));
    } else {
        out.U8(picture.mipField[0]);
    }
    out.Bytes(h.flagBytes.data(), h.flagBytes.size());
    out.I32(picture.imageCount);
    for (int32_t field : h.carriedFields)
        out.I32(field);
    out.I32(static_cast<int32_t>(picture.images.size()));
    out.Bytes(picture.images.data(), picture.images.size());
    out.Align4(base);
    if (tex.StreamedData) {
        // Stream offset, stream size and an empty path: the pixels now lie inside the object.
        out.Zeros(12);
    }
    for (uint32_t word : h.trailingWords)
        out.U32LE(word);
    WriteWholeFile(in.outputFile, out.Data().data(), out.Data().size());
}

void Unrotate4444(std::span<uint8_t> pixels) {
    for (size_t i = 0; i + 2 <= pixels.size(); i += 2) {
        const auto v = static_cast<uint16_t>(pixels[i] | (pixels[i + 1] << 8));
        const auto r = static_cast<uint16_t>((v << 4) | (v >> 12));
        pixels[i] = static_cast<uint8_t>(r);
        pixels[i + 1] = static_cast<uint8_t>(r >> 8);
    }
}

void ConvertChannelsFromDDS(int32_t format, std::span<uint8_t> pixels) {
    if (format == texfmt::kRGBA4444) {
        Unrotate4444(pixels);
    } else {
        // Swapping R and B, and reversing, are their own inverses.
        ConvertChannelsForDDS(format, pixels);
    }
}

void RequireDdsLevels(int32_t format, BytesPerPixel bpp, uint32_t width, uint32_t height,
                      uint32_t levels, uint64_t available, const std::filesystem::path& file) {
    const bool blocks = IsDdsBlockFormat(format);
    uint64_t w = width;
    uint64_t h = height;
    uint64_t total = 0;
    for (uint32_t level = 1; level <= levels && w != 0 && h != 0; ++level) {
        total = CheckedAdd(total, bpp.Bytes(w, h), "level sizes");
        if (total > available) {
            throw KestrelError(file.string() + ", offset 128: the picture data (" +
                               std::to_string(available) + " bytes) is shorter than " +
                               std::to_string(level) + " level(s) of a " + std::to_string(width) +
                               " x " + std::to_string(height) + " image of texture format " +
                               std::to_string(format) + " (" + std::to_string(total) + " bytes)");
        }
        w = blocks ? std::max<uint64_t>(w / 2, 4) : w / 2;
        h = blocks ? std::max<uint64_t>(h / 2, 4) : h / 2;
    }
}

DdsPictureHeader ReadDdsPictureHeader(Reader& file, int32_t currentFormat) {
    const std::string name = file.Name();
    if (file.Remaining() < kDDSHeaderSize) {
        throw KestrelError(name + ", offset 0: shorter than a DDS header (128 bytes)");
    }
    if (file.U32("DDS magic") != kDdsMagic || file.U32("DDS header size") != kDdsHeaderLength) {
        throw KestrelError(name + ", offset 0: not a DDS file");
    }
    DdsPictureHeader out;
    file.Skip(4, "DDS flags");
    out.height = file.U32("DDS height");
    out.width = file.U32("DDS width");
    file.Skip(8, "DDS linear size and depth");
    out.mipMapCount = file.U32("DDS mip map count");
    file.Seek(file.Begin() + 80, "DDS pixel format");
    const uint32_t flags = file.U32("DDS pixel format flags");
    const uint32_t fourCC = file.U32("DDS FourCC");
    const uint32_t bits = file.U32("DDS bit count");
    std::array<uint32_t, 4> masks{};
    for (auto& mask : masks)
        mask = file.U32("DDS channel mask");
    uint64_t dataStart = kDDSHeaderSize;
    uint32_t dxgiFormat = 0;
    if (fourCC == FourCC("DX10")) {
        file.Seek(file.Begin() + kDDSHeaderSize, "DDS extended header");
        dxgiFormat = file.U32("DDS DXGI format");
        dataStart += kDDSExtendedHeaderSize;
        file.Skip(8, "DDS resource dimension and flags");
        // One file holds one image: an array of them is not a picture Kestrel wrote.
        const uint32_t arraySize = file.U32("DDS array size");
        if (arraySize != 1) {
            throw KestrelError(name + ", offset 140: array size " + std::to_string(arraySize) +
                               "; a picture file holds one image");
        }
        file.Require(4, "DDS extended header");
    }
    out.row = DdsFormatForPixelFormat(flags, fourCC, bits, masks, currentFormat, dxgiFormat);
    if (out.width > INT32_MAX || out.height > INT32_MAX) {
        throw KestrelError(name + ", offset 12: picture size " + std::to_string(out.width) + " x " +
                           std::to_string(out.height) + " is out of range");
    }
    file.Seek(file.Begin() + dataStart, "DDS data");
    out.dataSize = file.Remaining();
    return out;
}

namespace {

// Bytes of one level of w x h pixels: 4 x 4 block formats by whole blocks.
uint64_t DdsLevelBytes(int32_t format, BytesPerPixel bpp, uint64_t w, uint64_t h) {
    if (IsDdsBlockFormat(format) || IsAtcFormat(format)) {
        w = (w + 3) / 4 * 4;
        h = (h + 3) / 4 * 4;
    }
    return bpp.Bytes(w, h);
}

} // namespace

void RequireExactDdsData(const DdsPictureHeader& header, const DdsObjectShape& object,
                         const std::filesystem::path& file) {
    const DdsPixelFormatRow& row = *header.row;
    if (object.width >= 0 && object.height >= 0 && object.imageSize >= 0 &&
        row.format == object.format && header.width == static_cast<uint32_t>(object.width) &&
        header.height == static_cast<uint32_t>(object.height) &&
        header.dataSize == static_cast<uint64_t>(object.imageSize) &&
        header.mipMapCount == BuildDDSHeader(object.format, object.imageSize, object.width,
                                             object.height, object.mipValue)
                                  .mipMapCount)
        return;
    const std::string where = file.string() + ", offset ";
    if (header.width == 0 || header.height == 0) {
        throw KestrelError(where + "12: a picture of " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + " pixels holds no pixels");
    }
    uint32_t chain = 1;
    for (uint32_t edge = std::max(header.width, header.height); edge > 1; edge /= 2)
        ++chain;
    const uint32_t levels = std::max<uint32_t>(header.mipMapCount, 1);
    if (levels > chain) {
        throw KestrelError(where + "28: " + std::to_string(header.mipMapCount) +
                           " mip levels; a picture of " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + " has at most " + std::to_string(chain));
    }
    uint64_t w = header.width;
    uint64_t h = header.height;
    uint64_t total = 0;
    for (uint32_t level = 0; level < levels; ++level) {
        total =
            CheckedAdd(total, DdsLevelBytes(row.format, row.bytesPerPixel, w, h), "level sizes");
        w = std::max<uint64_t>(w / 2, 1);
        h = std::max<uint64_t>(h / 2, 1);
    }
    if (total != header.dataSize) {
        throw KestrelError(file.string() + ": the header describes " + std::to_string(levels) +
                           " level(s) of a " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + " picture in texture format " +
                           std::to_string(row.format) + " (" + std::to_string(total) +
                           " bytes), but " + std::to_string(header.dataSize) + " bytes follow it");
    }
}

void AppendDdsImage(std::vector<uint8_t>& out, std::vector<uint8_t> data,
                    const DdsImageRule& rule) {
    ConvertChannelsFromDDS(rule.format, data);
    if (!rule.flip) {
        out.insert(out.end(), data.begin(), data.end());
        return;
    }
    // The flip is its own inverse: applied to the exported rows it restores the stored order.
    WriteFlippedLevels(out, data, static_cast<int32_t>(rule.width),
                       static_cast<int32_t>(rule.height), rule.bpp, rule.levels, rule.format);
}

} // namespace kestrel
