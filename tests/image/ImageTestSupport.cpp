#include "image/ImageTestSupport.h"

#include "texture/TextureFileHeaders.h"
#include "texture/TexturePixels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace kestrel::test {

image::ImagePlane TestPicture(uint32_t width, uint32_t height, image::PixelKind kind) {
    auto p = image::ImagePlane::Make(width, height, image::PixelKind::kRgbaFloat);
    const auto noise = ScrambledBytes(static_cast<size_t>(width) * height, 7);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const float fx = static_cast<float>(x) / width, fy = static_cast<float>(y) / height;
            const float n = (noise[y * width + x] - 128) / 16384.0f;
            const bool disc = (fx - 0.6f) * (fx - 0.6f) + (fy - 0.4f) * (fy - 0.4f) < 0.06f;
            float* px = &p.rgbaF[(static_cast<size_t>(y) * width + x) * 4];
            px[0] = std::clamp(0.5f + 0.45f * std::sin(fx * 7.0f + fy * 3.0f) + n, 0.0f, 1.0f);
            px[1] = std::clamp(disc ? 0.9f - fy * 0.5f : fy * 0.8f + n, 0.0f, 1.0f);
            px[2] = std::clamp(0.3f + 0.3f * std::cos(fy * 5.0f) + fx * 0.3f + n, 0.0f, 1.0f);
            px[3] = std::clamp(0.25f + fx * 0.75f, 0.0f, 1.0f);
        }
    }
    if (kind == image::PixelKind::kRgbaFloat) {
        for (size_t i = 0; i < p.rgbaF.size(); ++i)
            if (i % 4 != 3) p.rgbaF[i] *= 4.0f;
        return p;
    }
    auto out = image::ImagePlane::Make(width, height, kind);
    for (size_t i = 0; i < p.rgbaF.size(); ++i) {
        if (kind == image::PixelKind::kRgba8)
            out.rgba8[i] = static_cast<uint8_t>(std::lround(p.rgbaF[i] * 255.0f));
        else
            out.rgba16[i] = static_cast<uint16_t>(std::lround(p.rgbaF[i] * 65535.0f));
    }
    return out;
}

std::vector<uint8_t> ScrambledBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 7);
    }
    return bytes;
}

void WriteDds(const std::filesystem::path& path, int32_t format, uint32_t width, uint32_t height,
              std::vector<uint8_t> level) {
    const DDSHeader header =
        BuildDDSHeader(format, static_cast<int32_t>(level.size()), static_cast<int32_t>(width),
                       static_cast<int32_t>(height), 0);
    ConvertChannelsForDDS(format, level);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.bytes.data()), header.bytes.size());
    if (header.hasExtended)
        out.write(reinterpret_cast<const char*>(header.extended.data()), header.extended.size());
    out.write(reinterpret_cast<const char*>(level.data()),
              static_cast<std::streamsize>(level.size()));
}

std::vector<uint8_t> ReadWithTool(Tool tool, const std::filesystem::path& path) {
    const std::string command =
        tool == Tool::kImageMagick
            ? "convert '" + path.string() + "' -depth 8 rgba:- 2>/dev/null"
            : "/usr/bin/python3 -c \"import sys; from PIL import Image; "
              "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGBA').tobytes())\" '" +
                  path.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), &pclose);
    std::vector<uint8_t> bytes;
    if (!pipe) return bytes;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe.get())) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t mask) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (((mask >> (i % 4)) & 1u) != 0) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

double Psnr(const image::ImagePlane& a, const image::ImagePlane& b, uint32_t channels) {
    double sum = 0.0, peak = 0.0;
    size_t count = 0;
    const size_t n = static_cast<size_t>(a.width) * a.height * 4;
    for (size_t i = 0; i < n; ++i) {
        if (i % 4 >= channels) continue;
        double x = 0, y = 0;
        if (a.kind == image::PixelKind::kRgbaFloat) {
            x = a.rgbaF[i];
            y = b.rgbaF[i];
            peak = std::max(peak, x);
        } else {
            x = a.rgba8[i];
            y = b.rgba8[i];
            peak = 255.0;
        }
        sum += (x - y) * (x - y);
        ++count;
    }
    if (sum == 0.0) return 99.0;
    return 10.0 * std::log10(peak * peak / (sum / static_cast<double>(count)));
}

} // namespace kestrel::test
