#include "image/AstcCodec.h"

#include "common/Error.h"
#include "image/BlockGrid.h"

// Debian's library exports the functions with C linkage while the header declares C++ ones.
extern "C" {
#include <astcenc.h>
}

#include <memory>
#include <string>
#include <vector>

namespace kestrel::image {

namespace {

struct ContextFree {
    void operator()(astcenc_context* context) const { astcenc_context_free(context); }
};
using Context = std::unique_ptr<astcenc_context, ContextFree>;

[[noreturn]] void Fail(const char* what, astcenc_error status) {
    throw KestrelError(std::string("ASTC ") + what +
                       " failed at offset 0x0: " + astcenc_get_error_string(status));
}

Context MakeContext(uint32_t blockWidth, uint32_t blockHeight, bool hdr, bool decodeOnly) {
    astcenc_config config{};
    const unsigned flags = decodeOnly ? ASTCENC_FLG_DECOMPRESS_ONLY : 0u;
    astcenc_error status = astcenc_config_init(hdr ? ASTCENC_PRF_HDR : ASTCENC_PRF_LDR, blockWidth,
                                               blockHeight, 1, ASTCENC_PRE_MEDIUM, flags, &config);
    if (status != ASTCENC_SUCCESS) Fail("set-up", status);
    astcenc_context* raw = nullptr;
    status = astcenc_context_alloc(&config, 1, &raw);
    if (status != ASTCENC_SUCCESS) Fail("set-up", status);
    return Context(raw);
}

constexpr astcenc_swizzle kIdentity{ASTCENC_SWZ_R, ASTCENC_SWZ_G, ASTCENC_SWZ_B, ASTCENC_SWZ_A};

} // namespace

void DecodeAstc(std::span<const uint8_t> data, uint32_t width, uint32_t height, uint32_t blockWidth,
                uint32_t blockHeight, bool hdr, ImagePlane& out) {
    const BlockShape shape{blockWidth, blockHeight, 16};
    CheckBlockLevel(data, width, height, shape, hdr ? "ASTC HDR" : "ASTC");
    const Context context = MakeContext(blockWidth, blockHeight, hdr, true);
    out = ImagePlane::Make(width, height, hdr ? PixelKind::kRgbaFloat : PixelKind::kRgba8);
    void* slice = hdr ? static_cast<void*>(out.rgbaF.data()) : out.rgba8.data();
    astcenc_image image{width, height, 1, hdr ? ASTCENC_TYPE_F32 : ASTCENC_TYPE_U8, &slice};
    const astcenc_error status =
        astcenc_decompress_image(context.get(), data.data(), data.size(), &image, &kIdentity, 0);
    if (status != ASTCENC_SUCCESS) Fail("decoding", status);
}

void EncodeAstc(const ImagePlane& in, uint32_t blockWidth, uint32_t blockHeight, bool hdr,
                std::span<uint8_t> out) {
    const BlockShape shape{blockWidth, blockHeight, 16};
    if (in.width == 0 || in.height == 0 ||
        out.size() != BlockLevelBytes(shape, in.width, in.height)) {
        throw KestrelError("ASTC level of the wrong size at offset 0x0");
    }
    // The library reads 8-bit, half or float pixels; 16-bit integers go through float.
    std::vector<float> widened;
    void* slice = nullptr;
    astcenc_type type = ASTCENC_TYPE_U8;
    if (in.kind == PixelKind::kRgba8) {
        slice = const_cast<uint8_t*>(in.rgba8.data());
    } else if (in.kind == PixelKind::kRgbaFloat) {
        slice = const_cast<float*>(in.rgbaF.data());
        type = ASTCENC_TYPE_F32;
    } else {
        widened.reserve(in.rgba16.size());
        for (uint16_t v : in.rgba16)
            widened.push_back(static_cast<float>(v) / 65535.0f);
        slice = widened.data();
        type = ASTCENC_TYPE_F32;
    }
    const Context context = MakeContext(blockWidth, blockHeight, hdr, false);
    astcenc_image image{in.width, in.height, 1, type, &slice};
    const astcenc_error status =
        astcenc_compress_image(context.get(), &image, &kIdentity, out.data(), out.size(), 0);
    if (status != ASTCENC_SUCCESS) Fail("encoding", status);
}

} // namespace kestrel::image
