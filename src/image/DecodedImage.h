#pragma once
// The decoded picture every texture path goes through: levels and faces (or slices) of RGBA
// pixels, 8 or 16 bits per channel for ordinary pictures, 32-bit float for HDR formats.
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel::image {

enum class PixelKind : uint8_t {
    kRgba8,     // 4 bytes a pixel
    kRgba16,    // 4 uint16_t a pixel (R16 and other 16-bit integer formats)
    kRgbaFloat, // 4 floats a pixel (Half, Float, RGB9e5, BC6H, ASTC HDR)
};

// One level of one face, rows in stored order (the engine stores the bottom row first; whoever
// writes a picture file turns it). Channels a format lacks are 0 for G and B and the format's
// maximum for A; Alpha8 decodes to white with that alpha.
struct ImagePlane {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelKind kind = PixelKind::kRgba8;
    std::vector<uint8_t> rgba8;   // width * height * 4 when kRgba8
    std::vector<uint16_t> rgba16; // width * height * 4 when kRgba16
    std::vector<float> rgbaF;     // width * height * 4 when kRgbaFloat

    static ImagePlane Make(uint32_t w, uint32_t h, PixelKind k) {
        ImagePlane p;
        p.width = w;
        p.height = h;
        p.kind = k;
        const size_t n = static_cast<size_t>(w) * h * 4;
        if (k == PixelKind::kRgba8) p.rgba8.assign(n, 0);
        if (k == PixelKind::kRgba16) p.rgba16.assign(n, 0);
        if (k == PixelKind::kRgbaFloat) p.rgbaF.assign(n, 0.0f);
        return p;
    }
};

// How many channels a format really has, which decides the picture file's layout.
enum class ChannelSet : uint8_t { kAlpha, kGray, kGrayGreen, kRgb, kRgba };

struct DecodedImage {
    uint32_t width = 0;  // of level 0
    uint32_t height = 0; // of level 0
    uint32_t levels = 1;
    uint32_t faces = 1; // cubemap faces or array slices
    ChannelSet channels = ChannelSet::kRgba;
    std::vector<ImagePlane> planes; // face-major: planes[face * levels + level]

    ImagePlane& Plane(uint32_t face, uint32_t level) { return planes.at(face * levels + level); }
    const ImagePlane& Plane(uint32_t face, uint32_t level) const {
        return planes.at(face * levels + level);
    }
};

// The signatures every block or pixel codec of one level has. `data` holds exactly the bytes of a
// width x height level of the format (whole blocks for block formats); a decoder raises a
// KestrelError when it does not. Encoders fill `out`, sized by the caller to the level's bytes.
using LevelDecoder = void (*)(std::span<const uint8_t> data, uint32_t width, uint32_t height,
                              ImagePlane& out);
using LevelEncoder = void (*)(const ImagePlane& in, std::span<uint8_t> out);

} // namespace kestrel::image
