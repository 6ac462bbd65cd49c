#include "image/PictureFiles.h"

#include "common/Error.h"
#include "image/PlaneConvert.h"
#include "io/AtomicFile.h"
#include "io/ByteSource.h"

#include <spng.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::image {
namespace {

// PNG files bigger than this are not pictures Kestrel made or a game could use.
constexpr uint64_t kMaxPngFileBytes = 1ull << 30;

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

std::string Number(uint64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what, int code) {
    throw KestrelError("PNG file " + path.string() + ": " + what + " (" + spng_strerror(code) +
                       ")");
}

struct PngLayout {
    uint8_t colourType;
    uint32_t samples;
    std::array<uint8_t, 4> from; // plane channel of each sample
};

PngLayout LayoutFor(ChannelSet channels) {
    switch (channels) {
    case ChannelSet::kAlpha:
        return {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 2, {0, 3, 0, 0}};
    case ChannelSet::kGray:
        return {SPNG_COLOR_TYPE_GRAYSCALE, 1, {0, 0, 0, 0}};
    case ChannelSet::kGrayGreen:
    case ChannelSet::kRgb:
        return {SPNG_COLOR_TYPE_TRUECOLOR, 3, {0, 1, 2, 0}};
    case ChannelSet::kRgba:
        break;
    }
    return {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 4, {0, 1, 2, 3}};
}

// One row of the PNG file's samples from a row of the plane.
template <typename T>
void PackRow(const T* rgba, uint32_t width, const PngLayout& layout, bool zeroBlue, T* samples) {
    size_t at = 0;
    for (uint32_t x = 0; x < width; ++x)
        for (uint32_t s = 0; s < layout.samples; ++s)
            samples[at++] = zeroBlue && s == 2 ? T{0} : rgba[x * 4 + layout.from[s]];
}

// Hands the rows to the encoder top row first (the plane's last stored row). Rows that are
// already the file's samples go as they are; the others through one row of scratch.
template <typename T>
int EncodeRows(spng_ctx* ctx, const std::vector<T>& rgba, uint32_t width, uint32_t height,
               const PngLayout& layout, bool zeroBlue) {
    const bool asStored = layout.samples == 4 && !zeroBlue;
    std::vector<T> scratch(asStored ? 0 : static_cast<size_t>(width) * layout.samples);
    const size_t rowBytes = static_cast<size_t>(width) * layout.samples * sizeof(T);
    int rc = 0;
    for (uint32_t row = 0; row < height; ++row) {
        const T* source = rgba.data() + static_cast<size_t>(height - 1 - row) * width * 4;
        if (!asStored) {
            PackRow(source, width, layout, zeroBlue, scratch.data());
            source = scratch.data();
        }
        rc = spng_encode_row(ctx, source, rowBytes);
        if (rc != 0) break;
    }
    return rc == SPNG_EOI ? 0 : (rc == 0 ? SPNG_EOI : rc);
}

// Copies rows into stored order: the file's top row is the plane's last row.
template <typename T>
void FlipInto(const std::vector<T>& rows, uint32_t height, size_t rowValues, std::vector<T>& out) {
    for (uint32_t row = 0; row < height; ++row)
        std::copy_n(rows.begin() + static_cast<ptrdiff_t>(row * rowValues), rowValues,
                    out.begin() + static_cast<ptrdiff_t>((height - 1 - row) * rowValues));
}

} // namespace

void WritePng(const ImagePlane& plane, ChannelSet channels, const std::filesystem::path& path,
              int compressionLevel) {
    const bool deep = plane.kind == PixelKind::kRgba16;
    ImagePlane scratch;
    const ImagePlane& p = AsKind(plane, deep ? PixelKind::kRgba16 : PixelKind::kRgba8, scratch);
    const PngLayout layout = LayoutFor(channels);
    const bool zeroBlue = channels == ChannelSet::kGrayGreen;
    SpngContext ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) throw KestrelError("PNG file " + path.string() + ": out of memory");
    // The file collects in one buffer reserved up front, not one the library keeps regrowing.
    std::vector<uint8_t> file;
    file.reserve(static_cast<size_t>(p.width) * p.height * layout.samples * (deep ? 2 : 1) / 2 +
                 4096);
    spng_set_png_stream(
        ctx.get(),
        [](spng_ctx*, void* user, void* bytes, size_t length) {
            auto* out = static_cast<std::vector<uint8_t>*>(user);
            const auto* from = static_cast<const uint8_t*>(bytes);
            out->insert(out->end(), from, from + length);
            return 0;
        },
        &file);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, compressionLevel);
    // One filter for every row, not the library's choice per row: on the engine's textures the
    // "up" filter gives smaller files at the fast levels than choosing per row, in half the time,
    // and "Paeth" the smallest at the higher ones.
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE,
                    compressionLevel < 6 ? SPNG_FILTER_CHOICE_UP : SPNG_FILTER_CHOICE_PAETH);
    spng_ihdr ihdr{};
    ihdr.width = p.width;
    ihdr.height = p.height;
    ihdr.bit_depth = deep ? 16 : 8;
    ihdr.color_type = layout.colourType;
    if (int rc = spng_set_ihdr(ctx.get(), &ihdr); rc != 0) Fail(path, "bad picture header", rc);
    // Row by row from the plane: no copy of the whole picture in the file's layout.
    if (int rc = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                                   SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
        rc != 0)
        Fail(path, "cannot encode", rc);
    const int rc = deep ? EncodeRows(ctx.get(), p.rgba16, p.width, p.height, layout, zeroBlue)
                        : EncodeRows(ctx.get(), p.rgba8, p.width, p.height, layout, zeroBlue);
    if (rc != 0) Fail(path, "cannot encode", rc);
    AtomicOutputFile out(path, AtomicOutputFile::Flush::RenameOnly);
    out.Write(file.data(), file.size());
    out.Commit();
}

ImagePlane ReadPng(const std::filesystem::path& path) {
    const auto source = FileSource::Open(path);
    if (source->Size() > kMaxPngFileBytes)
        throw KestrelError("PNG file " + path.string() + " is too large");
    std::vector<uint8_t> file(source->Size());
    if (source->ReadAt(0, file.data(), file.size()) != file.size())
        throw KestrelError("PNG file " + path.string() + ": cannot read it whole");

    SpngContext ctx(spng_ctx_new(0));
    if (!ctx) throw KestrelError("PNG file " + path.string() + ": out of memory");
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    spng_set_image_limits(ctx.get(), kMaxPictureEdge, kMaxPictureEdge);
    spng_set_chunk_limits(ctx.get(), 1u << 24, 1u << 26);
    spng_set_png_buffer(ctx.get(), file.data(), file.size());
    spng_ihdr ihdr{};
    if (int rc = spng_get_ihdr(ctx.get(), &ihdr); rc != 0) {
        if (rc == SPNG_EWIDTH || rc == SPNG_EHEIGHT || rc == SPNG_EUSER_WIDTH ||
            rc == SPNG_EUSER_HEIGHT)
            throw KestrelError("PNG file " + path.string() + " is larger than " +
                               Number(kMaxPictureEdge) + " x " + Number(kMaxPictureEdge));
        Fail(path, "not a readable PNG", rc);
    }
    const bool deep = ihdr.bit_depth == 16;
    const int format = deep ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    ImagePlane plane =
        ImagePlane::Make(ihdr.width, ihdr.height, deep ? PixelKind::kRgba16 : PixelKind::kRgba8);
    const size_t rowValues = static_cast<size_t>(ihdr.width) * 4;
    if (deep) {
        std::vector<uint16_t> decoded(rowValues * ihdr.height); // host order
        if (int rc = spng_decode_image(ctx.get(), decoded.data(), decoded.size() * 2, format,
                                       SPNG_DECODE_TRNS);
            rc != 0)
            Fail(path, "cannot decode", rc);
        FlipInto(decoded, ihdr.height, rowValues, plane.rgba16);
    } else {
        std::vector<uint8_t> decoded(rowValues * ihdr.height);
        if (int rc = spng_decode_image(ctx.get(), decoded.data(), decoded.size(), format,
                                       SPNG_DECODE_TRNS);
            rc != 0)
            Fail(path, "cannot decode", rc);
        FlipInto(decoded, ihdr.height, rowValues, plane.rgba8);
    }
    return plane;
}

} // namespace kestrel::image
