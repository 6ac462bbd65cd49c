#include "image/PlaneConvert.h"

#include "common/Error.h"
#include "image/BlockLevel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace kestrel::image {
namespace {

std::string Number(uint64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

size_t StoredValues(const ImagePlane& p) {
    switch (p.kind) {
    case PixelKind::kRgba8:
        return p.rgba8.size();
    case PixelKind::kRgba16:
        return p.rgba16.size();
    case PixelKind::kRgbaFloat:
        return p.rgbaF.size();
    }
    return 0;
}

float ValueAt(const ImagePlane& p, size_t i) {
    switch (p.kind) {
    case PixelKind::kRgba8:
        return p.rgba8[i] / 255.0f;
    case PixelKind::kRgba16:
        return p.rgba16[i] / 65535.0f;
    case PixelKind::kRgbaFloat:
        return p.rgbaF[i];
    }
    return 0.0f;
}

} // namespace

ImagePlane ConvertPlane(const ImagePlane& in, PixelKind kind) {
    const size_t n = static_cast<size_t>(in.width) * in.height * 4;
    if (StoredValues(in) != n) throw KestrelError("Picture plane holds the wrong number of values");
    ImagePlane out = ImagePlane::Make(in.width, in.height, kind);
    for (size_t i = 0; i < n; ++i) {
        if (kind == PixelKind::kRgba8 && in.kind == PixelKind::kRgba16) {
            out.rgba8[i] = static_cast<uint8_t>((in.rgba16[i] * 255u + 32767u) / 65535u);
        } else if (kind == PixelKind::kRgba16 && in.kind == PixelKind::kRgba8) {
            out.rgba16[i] = static_cast<uint16_t>(in.rgba8[i] * 257u);
        } else if (kind == PixelKind::kRgbaFloat) {
            out.rgbaF[i] = ValueAt(in, i);
        } else {
            const float v = std::clamp(ValueAt(in, i), 0.0f, 1.0f);
            if (kind == PixelKind::kRgba8)
                out.rgba8[i] = static_cast<uint8_t>(std::lround(v * 255.0f));
            else
                out.rgba16[i] = static_cast<uint16_t>(std::lround(v * 65535.0f));
        }
    }
    return out;
}

const ImagePlane& AsKind(const ImagePlane& in, PixelKind kind, ImagePlane& scratch) {
    if (in.kind == kind && StoredValues(in) == static_cast<size_t>(in.width) * in.height * 4)
        return in;
    scratch = ConvertPlane(in, kind);
    return scratch;
}

void RequireOutputBytes(std::span<const uint8_t> out, uint64_t expected, const char* format) {
    if (out.size() != expected) {
        throw KestrelError(std::string(format) + " level needs " + Number(expected) +
                           " bytes, the output holds " + Number(out.size()));
    }
}

void RequireLevelEdges(uint32_t width, uint32_t height, const char* format) {
    if (width > kMaxLevelEdge || height > kMaxLevelEdge) {
        throw KestrelError(std::string(format) + " level of " + Number(width) + " x " +
                           Number(height) + " pixels is larger than any texture level");
    }
}

void RequireLevelBytes(std::span<const uint8_t> data, uint64_t expected, const char* format) {
    if (data.size() != expected) {
        throw KestrelError(std::string(format) + " level of " + Number(data.size()) +
                           " bytes, expected " + Number(expected));
    }
}

} // namespace kestrel::image
