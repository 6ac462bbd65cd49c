#include "texture/TextureFileHeaders.h"

#include <algorithm>

namespace kestrel {
namespace {

template <size_t N> void PutLE32(std::array<uint8_t, N>& bytes, size_t at, uint32_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    bytes[at + 2] = static_cast<uint8_t>(v >> 16);
    bytes[at + 3] = static_cast<uint8_t>(v >> 24);
}

constexpr uint32_t kDdsFlags = 0x81007;     // CAPS, HEIGHT, WIDTH, PIXELFORMAT, LINEARSIZE
constexpr uint32_t kDdsFlagsMips = 0xA1007; // the same plus MIPMAPCOUNT
constexpr uint32_t kDdsCaps = 0x1000;       // TEXTURE
constexpr uint32_t kDdsCapsMips = 0x401008; // TEXTURE, COMPLEX, MIPMAP

uint64_t NonNegative(int32_t v) {
    return v < 0 ? 0 : static_cast<uint64_t>(v);
}

// (w * h * bits) div 8, the level size the level count is computed with.
uint64_t LevelBits(uint64_t w, uint64_t h, uint32_t bits) {
    return CheckedMul(CheckedMul(w, h, "width x height"), bits, "level size") / 8;
}

struct LevelWalk {
    uint64_t w, h, total;
    uint32_t count;
};

// Adds the next level: the edges halved, not below minEdge.
void StepLevel(LevelWalk& walk, uint64_t minEdge, uint32_t bits) {
    walk.w = std::max(walk.w / 2, minEdge);
    walk.h = std::max(walk.h / 2, minEdge);
    walk.total = CheckedAdd(walk.total, LevelBits(walk.w, walk.h, bits), "level sizes");
    ++walk.count;
}

} // namespace

DDSHeader BuildDDSHeader(int32_t format, int32_t completeImageSize, int32_t width, int32_t height,
                         uint32_t mipValue) {
    const DdsPixelFormatRow& row = DdsPixelFormatFor(format);
    const BytesPerPixel bpp = row.bytesPerPixel;
    uint64_t w = NonNegative(width);
    uint64_t h = NonNegative(height);
    const uint64_t linearSize = bpp.Bytes(w, h);
    const uint64_t target = NonNegative(completeImageSize);
    uint32_t levels = mipValue;
    if (mipValue == 1) {
        uint64_t total = linearSize;
        while (w * h > 1 && total < target) {
            w /= 2;
            h /= 2;
            total = CheckedAdd(total, bpp.Bytes(w, h), "level sizes");
            ++levels;
        }
    }
    DDSHeader out;
    out.bytesPerPixel = bpp;
    out.mipMapCount = levels >= 2 ? levels : 0;
    auto& b = out.bytes;
    PutLE32(b, 0, FourCC("DDS "));
    PutLE32(b, 4, 124);
    PutLE32(b, 8, out.mipMapCount != 0 ? kDdsFlagsMips : kDdsFlags);
    PutLE32(b, 12, static_cast<uint32_t>(height));
    PutLE32(b, 16, static_cast<uint32_t>(width));
    PutLE32(b, 20, static_cast<uint32_t>(linearSize)); // a 32-bit field: larger sizes wrap
    PutLE32(b, 28, out.mipMapCount);
    PutLE32(b, 76, 32);
    PutLE32(b, 80, row.flags);
    PutLE32(b, 84, row.fourCC);
    PutLE32(b, 88, row.bitCount);
    PutLE32(b, 92, row.rMask);
    PutLE32(b, 96, row.gMask);
    PutLE32(b, 100, row.bMask);
    PutLE32(b, 104, row.aMask);
    PutLE32(b, 108, out.mipMapCount != 0 ? kDdsCapsMips : kDdsCaps);
    if (row.dxgiFormat != 0) {
        out.hasExtended = true;
        PutLE32(out.extended, 0, row.dxgiFormat);
        PutLE32(out.extended, 4, 3); // a 2D texture
        PutLE32(out.extended, 12, 1);
    }
    return out;
}

KtxLevelPlan KtxLevelCount(uint32_t bitsPerPixel, int32_t width, int32_t height, uint8_t mipValue,
                           int32_t completeImageSize) {
    KtxLevelPlan plan;
    // Formats sized by blocks alone (bitsPerPixel 0) cannot be counted this way.
    if (mipValue == 0 || bitsPerPixel == 0) return plan;
    const uint64_t target = NonNegative(completeImageSize);
    const uint64_t w0 = NonNegative(width);
    const uint64_t h0 = NonNegative(height);
    LevelWalk walk{w0, h0, LevelBits(w0, h0, bitsPerPixel), 1};
    while (walk.total < target) {
        StepLevel(walk, 4, bitsPerPixel);
        if (walk.w == 8 || walk.h == 8) {
            // Some formats stop shrinking at 8 x 8; take that chain when it matches exactly.
            LevelWalk trial = walk;
            while (trial.total < target)
                StepLevel(trial, 8, bitsPerPixel);
            if (trial.total == target) {
                walk = trial;
                plan.minEdge = 8;
            }
        }
    }
    plan.count = walk.count;
    return plan;
}

KtxLevelPlan KtxLevelsOf(const TextureObject& tex, const KtxPvrFormatRow& row) {
    const TextureHeader& h = tex.header;
    if (tex.layout == TextureLayout::Fields && tex.MipCountLayout) {
        const auto& m = h.mipField;
        const uint32_t count =
            m.size() == 4
                ? (static_cast<uint32_t>(m[0]) | (static_cast<uint32_t>(m[1]) << 8) |
                   (static_cast<uint32_t>(m[2]) << 16) | (static_cast<uint32_t>(m[3]) << 24))
                : 1;
        // More levels than a 32-bit edge can halve to are not levels of this texture.
        return KtxLevelPlan{std::clamp<uint32_t>(count, 1, 32), 4};
    }
    return KtxLevelCount(row.bitsPerPixel, h.width, h.height, h.MipValue(), h.completeImageSize);
}

uint32_t PvrLevelCount(uint32_t bitsPerPixel, const TextureHeader& header) {
    const uint8_t m = header.MipValue();
    if (m != 1) return m == 0 ? 1 : m;
    return KtxLevelCount(bitsPerPixel, header.width, header.height, m, header.completeImageSize)
        .count;
}

std::vector<uint8_t> KtxKeyValueData() {
    constexpr std::string_view kKey = "KTXorientation";
    constexpr std::string_view kValue = "S=r,T=u";
    const auto count = static_cast<uint32_t>(kKey.size() + 1 + kValue.size() + 1);
    std::vector<uint8_t> out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(count >> shift));
    out.insert(out.end(), kKey.begin(), kKey.end());
    out.push_back(0);
    out.insert(out.end(), kValue.begin(), kValue.end());
    out.push_back(0);
    out.resize((out.size() + 3) & ~size_t{3}, 0);
    return out;
}

std::array<uint8_t, kKTXHeaderSize> BuildKTXHeader(const KtxPvrFormatRow& row,
                                                   const TextureHeader& header, uint32_t levels) {
    std::array<uint8_t, kKTXHeaderSize> b{};
    constexpr uint8_t kIdentifier[12] = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x31,
                                         0x31, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
    std::copy(std::begin(kIdentifier), std::end(kIdentifier), b.begin());
    PutLE32(b, 12, 0x04030201);
    PutLE32(b, 20, 1); // glTypeSize
    PutLE32(b, 28, row.glInternalFormat);
    PutLE32(b, 32, row.glBaseInternalFormat);
    PutLE32(b, 36, static_cast<uint32_t>(header.width));
    PutLE32(b, 40, static_cast<uint32_t>(header.height));
    PutLE32(b, 52, static_cast<uint32_t>(header.imageCount));
    PutLE32(b, 56, levels);
    PutLE32(b, 60, static_cast<uint32_t>(KtxKeyValueData().size()));
    return b;
}

std::array<uint8_t, kPVRHeaderSize> BuildPVRHeader(const KtxPvrFormatRow& row,
                                                   const TextureHeader& header, uint32_t levels) {
    std::array<uint8_t, kPVRHeaderSize> b{};
    PutLE32(b, 0, 0x03525650); // "PVR" and 3
    PutLE32(b, 8, static_cast<uint32_t>(row.pvrPixelFormat));
    PutLE32(b, 24, static_cast<uint32_t>(header.height));
    PutLE32(b, 28, static_cast<uint32_t>(header.width));
    PutLE32(b, 32, 1); // depth
    PutLE32(b, 36, 1); // surfaces
    PutLE32(b, 40, header.imageCount == 0 ? 1 : static_cast<uint32_t>(header.imageCount));
    PutLE32(b, 44, levels);
    return b;
}

} // namespace kestrel
