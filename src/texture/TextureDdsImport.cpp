#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/Writer.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureImport.h"
#include "texture/TexturePixels.h"

#include <algorithm>
#include <fstream>

namespace kestrel {
namespace {

constexpr uint32_t kDdsMagic = 0x20534444; // "DDS "
constexpr uint32_t kDdsHeaderLength = 124;
// Edges are below 2^31, so no picture has more levels; a larger count in a file is not walked.
constexpr uint32_t kMaxLevels = 32;
constexpr uint64_t kMaxDdsFileSize = 0x7FFFFFFFull; // an image size must fit in 32 bits

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw KestrelError("Cannot open " + path.string());
    const auto size = static_cast<uint64_t>(file.tellg());
    if (size > kMaxDdsFileSize) throw KestrelError(path.string() + ": file too large");
    std::vector<uint8_t> bytes(size);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
        throw KestrelError("Cannot read " + path.string());
    return bytes;
}

// Undoes the channel conversion of the export, so that the pixels are in the format's order.
void ConvertChannelsFromDDS(int32_t format, std::span<uint8_t> pixels) {
    ConvertChannelsForDDS(format, pixels);
    if (format == texfmt::kRGBA4444) { // the rotation undone by two more quarter turns
        Rotate4444(pixels);
        Rotate4444(pixels);
    }
}

void WriteObject(const TextureImportInput& in, const TextureObject& tex, int32_t width,
                 int32_t height, int32_t format, const std::vector<uint8_t>& mipField,
                 const std::vector<uint8_t>& pixels) {
    const structure_tex_hat& h = tex.header;
    Writer out;
    out.SetOrder(in.object.Order());
    out.Bytes(in.objectHead.data(), in.objectHead.size());
    const size_t base = out.Size();
    out.I32(width);
    out.I32(height);
    out.I32(static_cast<int32_t>(pixels.size()));
    out.I32(format);
    if (tex.MipCountLayout) {
        out.U32(static_cast<uint32_t>(mipField[0]) | (static_cast<uint32_t>(mipField[1]) << 8) |
                (static_cast<uint32_t>(mipField[2]) << 16) |
                (static_cast<uint32_t>(mipField[3]) << 24));
    } else {
        out.U8(mipField[0]);
    }
    out.Bytes(h.flagBytes.data(), h.flagBytes.size());
    out.I32(h.imageCount);
    for (int32_t field : h.carriedFields)
        out.I32(field);
    out.I32(static_cast<int32_t>(pixels.size()));
    out.Bytes(pixels.data(), pixels.size());
    out.Align4(base);
    for (uint32_t word : h.trailingWords)
        out.U32LE(word);
    WriteFileAtomically(in.outputFile, out.Data().data(), out.Data().size());
}

} // namespace

void ImportTextureDDS(const TextureImportInput& in) {
    Reader object = in.object;
    const TextureObject tex = ReadTextureHeader(object);
    const structure_tex_hat& h = tex.header;
    CheckTextureHeaderSizes(h);
    if (tex.StreamedData || h.imageCount != 1) {
        throw KestrelError(in.imageFile.string() +
                           ": only textures with one image stored in the object are imported");
    }
    const std::string name = in.imageFile.string();
    std::vector<uint8_t> file = ReadWholeFile(in.imageFile);
    if (file.size() < kDDSHeaderSize || LE32(file, 0) != kDdsMagic ||
        LE32(file, 4) != kDdsHeaderLength) {
        throw KestrelError(name + ", offset 0: not a DDS file");
    }
    const uint32_t height = LE32(file, 12);
    const uint32_t width = LE32(file, 16);
    const uint32_t fileMips = LE32(file, 28);
    const DdsPixelFormatRow* row = DdsFormatForPixelFormat(
        LE32(file, 80), LE32(file, 84), LE32(file, 88),
        {LE32(file, 92), LE32(file, 96), LE32(file, 100), LE32(file, 104)}, h.textureFormat);
    if (row == nullptr) {
        in.reporter.Alert(name + ": unknown DDS pixel format; the texture is left unchanged");
        return;
    }
    if (width > INT32_MAX || height > INT32_MAX) throw KestrelError(name + ", offset 12: size");
    std::span<const uint8_t> data(file.data() + kDDSHeaderSize, file.size() - kDDSHeaderSize);
    if (row->bytesPerPixel.Bytes(width, height) > data.size() || data.empty()) {
        throw KestrelError(name + ", offset 128: the picture data is shorter than a " +
                           std::to_string(width) + " x " + std::to_string(height) +
                           " image of texture format " + std::to_string(row->format));
    }
    std::vector<uint8_t> pixels;
    const bool flip = !in.noFlip && !IsAtcFormat(row->format);
    if (flip) {
        WriteFlippedLevels(pixels, data, static_cast<int32_t>(width), static_cast<int32_t>(height),
                           row->bytesPerPixel, std::clamp<uint32_t>(fileMips, 1, kMaxLevels),
                           row->format);
    } else {
        pixels.assign(data.begin(), data.end());
    }
    ConvertChannelsFromDDS(row->format, pixels);

    // The stored mip field is kept when the file has the levels an export would write for it.
    std::vector<uint8_t> mipField = h.mipField;
    const DDSHeader exported =
        BuildDDSHeader(row->format, static_cast<int32_t>(pixels.size()),
                       static_cast<int32_t>(width), static_cast<int32_t>(height), h.MipValue());
    if (exported.mipMapCount != fileMips) {
        const uint32_t count = tex.MipCountLayout ? std::max<uint32_t>(fileMips, 1) : 0;
        mipField = tex.MipCountLayout
                       ? std::vector<uint8_t>{static_cast<uint8_t>(count),
                                              static_cast<uint8_t>(count >> 8),
                                              static_cast<uint8_t>(count >> 16),
                                              static_cast<uint8_t>(count >> 24)}
                       : std::vector<uint8_t>{static_cast<uint8_t>(fileMips > 1 ? 1 : 0)};
    }
    WriteObject(in, tex, static_cast<int32_t>(width), static_cast<int32_t>(height), row->format,
                mipField, pixels);
    in.reporter.ProgressLine(in.imageFile.filename().string() + " -> texture");
}

} // namespace kestrel
