#include "common/Error.h"
#include "io/Writer.h"
#include "texture/TextureExport.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureResource.h"

#include <algorithm>
#include <optional>
#include <span>

namespace kestrel {
namespace {

struct PreparedTexture {
    TextureObject tex;
    const KtxPvrFormatRow* row = nullptr;
    std::optional<TextureImages> images;
};

// Header, format row and image source of a texture for a KTX or PVR file; images stays empty
// when the resource file is missing. Sizes are checked against the source before any level is
// counted.
PreparedTexture Prepare(const ConverterInput& in, const char* container, bool ktx) {
    Reader object = in.object;
    object.SetOrder(in.context.assets.header.DataOrder());
    PreparedTexture p;
    p.tex = ReadTextureHeader(object, TextureLayoutOf(in));
    CheckTextureHeaderSizes(p.tex.header);
    p.row = KtxPvrFormatFor(p.tex.header.textureFormat);
    if (p.row == nullptr || (ktx ? p.row->glInternalFormat == 0 : p.row->pvrPixelFormat < 0)) {
        throw KestrelError(std::string("Texture format ") +
                           std::to_string(p.tex.header.textureFormat) + " cannot be written as " +
                           container);
    }
    p.images = OpenTextureImages(in, p.tex, object);
    if (p.images) {
        RequireImages(p.tex.header, p.images->source,
                      static_cast<uint64_t>(p.tex.header.imageCount));
    }
    return p;
}

void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

// KTX levels: each a 32-bit size and that many bytes; the rest of the image follows unchanged.
std::vector<uint8_t> KtxFileBytes(const std::array<uint8_t, kKTXHeaderSize>& header,
                                  std::span<const uint8_t> image, const TextureHeader& h,
                                  const KtxPvrFormatRow& row, const KtxLevelPlan& plan) {
    std::vector<uint8_t> out(header.begin(), header.end());
    const std::vector<uint8_t> keyValue = KtxKeyValueData();
    out.insert(out.end(), keyValue.begin(), keyValue.end());
    out.reserve(out.size() + image.size() + 4 * std::min<size_t>(plan.count, image.size()));
    auto w = static_cast<uint64_t>(h.width);
    auto hh = static_cast<uint64_t>(h.height);
    // Block formats shrink to one block; the others keep their edges at least minEdge.
    const uint64_t floor = row.blockBytes != 0 && plan.minEdge <= 4 ? 1 : plan.minEdge;
    uint64_t used = 0;
    for (uint32_t level = 1; level <= plan.count; ++level) {
        const uint64_t size = KtxLevelBytes(row, w, hh, level == 1 ? 0 : floor);
        if (size > image.size() - used || size > UINT32_MAX) {
            throw KestrelError("Texture sizes do not fit its image data: width " +
                               std::to_string(h.width) + ", height " + std::to_string(h.height) +
                               ", level " + std::to_string(level) + " ends after the image size " +
                               std::to_string(image.size()));
        }
        PutLE32(out, static_cast<uint32_t>(size));
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(used),
                   image.begin() + static_cast<std::ptrdiff_t>(used + size));
        used += size;
        w = std::max<uint64_t>(w / 2, floor);
        hh = std::max<uint64_t>(hh / 2, floor);
    }
    out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(used), image.end());
    return out;
}

} // namespace

void ExportTextureKTX(const ConverterInput& in) {
    PreparedTexture p = Prepare(in, "KTX", true);
    if (!p.images) return;
    const TextureHeader& h = p.tex.header;
    const KtxLevelPlan plan = KtxLevelsOf(p.tex, *p.row);
    const auto header = BuildKTXHeader(*p.row, h, plan.count);
    for (int32_t k = 1; h.completeImageSize > 0 && k <= h.imageCount; ++k) {
        const auto image =
            p.images->source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
        const auto bytes = KtxFileBytes(header, image, h, *p.row, plan);
        WriteWholeFile(TextureOutputFile(in, p.images->resourceDir, ".ktx", k), bytes.data(),
                       bytes.size());
    }
    in.Report().ProgressLine(in.exportName + " -> KTX");
}

void ExportTexturePVR(const ConverterInput& in) {
    PreparedTexture p = Prepare(in, "PVR", false);
    if (!p.images) return;
    const TextureHeader& h = p.tex.header;
    const auto header = BuildPVRHeader(*p.row, h, PvrLevelCount(p.row->bitsPerPixel, h));
    for (int32_t k = 1; h.completeImageSize > 0 && k <= h.imageCount; ++k) {
        std::vector<uint8_t> bytes(header.begin(), header.end());
        const auto image =
            p.images->source.Bytes(static_cast<uint64_t>(h.completeImageSize), "image");
        bytes.insert(bytes.end(), image.begin(), image.end());
        WriteWholeFile(TextureOutputFile(in, p.images->resourceDir, ".pvr", k), bytes.data(),
                       bytes.size());
    }
    in.Report().ProgressLine(in.exportName + " -> PVR");
}

} // namespace kestrel
