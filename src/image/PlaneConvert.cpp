#include "image/PlaneConvert.h"

#include "common/Error.h"
#include "image/BlockLevel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

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

void TurnRows(ImagePlane& plane) {
    const size_t row = static_cast<size_t>(plane.width) * 4;
    const auto turn = [&](auto& values) {
        if (values.size() < row * plane.height) return;
        for (uint32_t y = 0; y < plane.height / 2; ++y)
            std::swap_ranges(values.begin() + static_cast<long>(y * row),
                             values.begin() + static_cast<long>((y + 1) * row),
                             values.begin() + static_cast<long>((plane.height - 1 - y) * row));
    };
    turn(plane.rgba8);
    turn(plane.rgba16);
    turn(plane.rgbaF);
}

ImagePlane HalvePlane(const ImagePlane& in) {
    const uint32_t w = std::max<uint32_t>(in.width / 2, 1);
    const uint32_t h = std::max<uint32_t>(in.height / 2, 1);
    const uint32_t stepX = in.width >= 2 ? 2 : 1;
    const uint32_t stepY = in.height >= 2 ? 2 : 1;
    if (StoredValues(in) != static_cast<size_t>(in.width) * in.height * 4)
        throw KestrelError("Picture plane holds the wrong number of values");
    ImagePlane out = ImagePlane::Make(w, h, in.kind);
    const auto halve = [&](const auto& from, auto& to) {
        using Value = std::decay_t<decltype(to[0])>;
        const double count = stepX * stepY;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                for (uint32_t c = 0; c < 4; ++c) {
                    double sum = 0;
                    for (uint32_t dy = 0; dy < stepY; ++dy) {
                        for (uint32_t dx = 0; dx < stepX; ++dx) {
                            const size_t at = ((static_cast<size_t>(y) * stepY + dy) * in.width +
                                               x * stepX + dx) *
                                                  4 +
                                              c;
                            sum += static_cast<double>(from[at]);
                        }
                    }
                    const double mean = sum / count;
                    Value& v = to[(static_cast<size_t>(y) * w + x) * 4 + c];
                    if constexpr (std::is_floating_point_v<Value>)
                        v = static_cast<Value>(mean);
                    else
                        v = static_cast<Value>(std::lround(mean));
                }
            }
        }
    };
    switch (in.kind) {
    case PixelKind::kRgba8:
        halve(in.rgba8, out.rgba8);
        break;
    case PixelKind::kRgba16:
        halve(in.rgba16, out.rgba16);
        break;
    case PixelKind::kRgbaFloat:
        halve(in.rgbaF, out.rgbaF);
        break;
    }
    return out;
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
