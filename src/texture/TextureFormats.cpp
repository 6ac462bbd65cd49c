#include "texture/TextureFormats.h"

#include "assets/Vocabulary.h"

#include <algorithm>
#include <array>

namespace kestrel {
namespace {

constexpr BytesPerPixel kHalf{1};
constexpr BytesPerPixel kOne{2};
constexpr BytesPerPixel kTwo{4};
constexpr BytesPerPixel kThree{6};
constexpr BytesPerPixel kFour{8};

constexpr uint32_t kAlpha = 0x2;       // DDPF_ALPHA
constexpr uint32_t kFourCCFlag = 0x4;  // DDPF_FOURCC
constexpr uint32_t kRgb = 0x40;        // DDPF_RGB
constexpr uint32_t kAlphaPixels = 0x1; // DDPF_ALPHAPIXELS

// One table for both directions. Export looks a row up by format; import compares a file's
// pixel format with every row in this order and the last matching row wins, so the 32-bit ARGB
// masks read as ARGB32 (5) and the 4444 masks as RGBA4444 (13).
constexpr std::array<DdsPixelFormatRow, 20> kDdsRows{{
    {1, kAlpha, 0, 8, 0, 0, 0, 0xFF, kOne},
    {2, kRgb | kAlphaPixels, 0, 16, 0xF00, 0xF0, 0xF, 0xF000, kTwo},
    {3, kRgb, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0, kThree},
    {4, kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kFour},
    {14, kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kFour},
    {37, kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kFour},
    {5, kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, kFour},
    {7, kRgb, 0, 16, 0xF800, 0x7E0, 0x1F, 0, kTwo},
    // R16 is marked by the FourCC value 111 (D3DFMT_R16F), not by letters.
    {9, kFourCCFlag, 111, 0, 0, 0, 0, 0, kTwo},
    {10, kFourCCFlag, FourCC("DXT1"), 0, 0, 0, 0, 0, kHalf},
    {11, kFourCCFlag, FourCC("DXT3"), 0, 0, 0, 0, 0, kOne},
    {12, kFourCCFlag, FourCC("DXT5"), 0, 0, 0, 0, 0, kOne},
    {13, kRgb | kAlphaPixels, 0, 16, 0xF00, 0xF0, 0xF, 0xF000, kTwo},
    {35, kFourCCFlag | kAlphaPixels, FourCC("ATC "), 0, 0, 0, 0, 0, kHalf},
    {36, kFourCCFlag | kAlphaPixels, FourCC("ATCA"), 0, 0, 0, 0, 0, kOne},
    // BC4 to BC7 carry their DXGI format in the extended header that "DX10" announces.
    {26, kFourCCFlag, FourCC("DX10"), 0, 0, 0, 0, 0, kHalf, 80},
    {27, kFourCCFlag, FourCC("DX10"), 0, 0, 0, 0, 0, kOne, 83},
    {24, kFourCCFlag, FourCC("DX10"), 0, 0, 0, 0, 0, kOne, 95},
    {25, kFourCCFlag, FourCC("DX10"), 0, 0, 0, 0, 0, kOne, 98},
    {0, 0, 0, 0, 0, 0, 0, 0, kFour},
}};

constexpr uint32_t kGlRed = 0x1903;
constexpr uint32_t kGlRgb = 0x1907;
constexpr uint32_t kGlRgba = 0x1908;
constexpr uint32_t kGlRg = 0x8227;

constexpr uint32_t kGlAstc4x4 = 0x93B0; // GL_COMPRESSED_RGBA_ASTC_4x4_KHR
constexpr uint32_t kGlAstc5x5 = 0x93B2;
constexpr uint32_t kGlAstc6x6 = 0x93B4;
constexpr uint32_t kGlAstc8x8 = 0x93B7;
constexpr uint32_t kGlAstc10x10 = 0x93BB;
constexpr uint32_t kGlAstc12x12 = 0x93BD;

constexpr std::array<KtxPvrFormatRow, 35> kKtxPvrRows{{
    {21, 0, 0, 17, 16},
    {30, 0x8C01, kGlRgb, 0, 2},
    {31, 0x8C03, kGlRgba, 1, 2},
    {32, 0x8C00, kGlRgb, 2, 4},
    {33, 0x8C02, kGlRgba, 3, 4},
    {34, 0x8D64, kGlRgb, 6, 4, 4, 4, 8},
    {35, 0x8C92, kGlRgb, -1, 4, 4, 4, 8},
    {36, 0x8C93, kGlRgba, -1, 8, 4, 4, 16},
    // 26, 27 and 28 for the EAC formats are the numbers the import side maps back.
    {41, 0x9270, kGlRed, 25, 4, 4, 4, 8},
    {42, 0x9271, kGlRed, 26, 4, 4, 4, 8},
    {43, 0x9272, kGlRg, 27, 8, 4, 4, 16},
    {44, 0x9273, kGlRg, 28, 8, 4, 4, 16},
    {45, 0x9274, kGlRgb, 22, 4, 4, 4, 8},
    {46, 0x9276, kGlRgba, 24, 4, 4, 4, 8},
    {47, 0x9278, kGlRgba, 23, 8, 4, 4, 16},
    // ASTC: 16 bytes a block of every size. The RGB and RGBA variants share their GL format and
    // differ in the base format; the HDR ones read back as RGBA unless the object is HDR. In PVR
    // files they take the format's own pixel format numbers (27 for 4 x 4 ... 40 for 12 x 12),
    // so files of those numbers read back as the object's format when it is one of them.
    {48, kGlAstc4x4, kGlRgb, 27, 0, 4, 4, 16},
    {49, kGlAstc5x5, kGlRgb, 29, 0, 5, 5, 16},
    {50, kGlAstc6x6, kGlRgb, 31, 0, 6, 6, 16},
    {51, kGlAstc8x8, kGlRgb, 34, 0, 8, 8, 16},
    {52, kGlAstc10x10, kGlRgb, 38, 0, 10, 10, 16},
    {53, kGlAstc12x12, kGlRgb, 40, 0, 12, 12, 16},
    {54, kGlAstc4x4, kGlRgba, 27, 0, 4, 4, 16},
    {55, kGlAstc5x5, kGlRgba, 29, 0, 5, 5, 16},
    {56, kGlAstc6x6, kGlRgba, 31, 0, 6, 6, 16},
    {57, kGlAstc8x8, kGlRgba, 34, 0, 8, 8, 16},
    {58, kGlAstc10x10, kGlRgba, 38, 0, 10, 10, 16},
    {59, kGlAstc12x12, kGlRgba, 40, 0, 12, 12, 16},
    {60, 0x8D64, kGlRgb, 6, 4, 4, 4, 8},
    {61, 0x9278, kGlRgba, 23, 8, 4, 4, 16},
    {66, kGlAstc4x4, kGlRgba, 27, 0, 4, 4, 16},
    {67, kGlAstc5x5, kGlRgba, 29, 0, 5, 5, 16},
    {68, kGlAstc6x6, kGlRgba, 31, 0, 6, 6, 16},
    {69, kGlAstc8x8, kGlRgba, 34, 0, 8, 8, 16},
    {70, kGlAstc10x10, kGlRgba, 38, 0, 10, 10, 16},
    {71, kGlAstc12x12, kGlRgba, 40, 0, 12, 12, 16},
}};

} // namespace

const DdsPixelFormatRow* DdsFormatForPixelFormat(uint32_t flags, uint32_t fourCC, uint32_t bitCount,
                                                 const std::array<uint32_t, 4>& masks,
                                                 int32_t currentFormat, uint32_t dxgiFormat) {
    auto matches = [&](const DdsPixelFormatRow& row) {
        if (row.flags == 0 || (row.flags & ~kAlphaPixels) != (flags & ~kAlphaPixels)) return false;
        if (row.flags & kFourCCFlag) {
            return row.fourCC == fourCC &&
                   (row.dxgiFormat == 0 || row.dxgiFormat == CanonicalDxgiFormat(dxgiFormat));
        }
        return row.bitCount == bitCount && row.rMask == masks[0] && row.gMask == masks[1] &&
               row.bMask == masks[2] && row.aMask == masks[3];
    };
    // The last matching row wins, unless the object's own format is among the matches: then it
    // is kept, so a picture exported and imported unchanged gives back the same object.
    const DdsPixelFormatRow* found = nullptr;
    for (const auto& row : kDdsRows) {
        if (!matches(row)) continue;
        if (row.format == currentFormat) return &row;
        found = &row;
    }
    return found;
}

bool TextureFormatSupports(int32_t format, uint8_t kind) {
    const bool dds = format != 0 && DdsPixelFormatFor(format).format == format;
    const KtxPvrFormatRow* row = KtxPvrFormatFor(format);
    const bool ktx = row != nullptr && row->glInternalFormat != 0;
    const bool pvr = row != nullptr && row->pvrPixelFormat >= 0;
    // Crunched DXT1/DXT5 and ETC/ETC2 go to CRN files only.
    const bool crn = format == 28 || format == 29 || format == 64 || format == 65;
    switch (kind) {
    case kDdsOutput:
        return dds;
    case kKtxOutput:
        return ktx;
    case kPvrOutput:
        return pvr;
    case kCrnOutput:
        return crn;
    case kAnyOutput:
        return dds || ktx || pvr || crn;
    default:
        return false;
    }
}

const DdsPixelFormatRow& DdsPixelFormatFor(int32_t format) {
    for (const auto& row : kDdsRows) {
        if (row.format == format && row.format != 0) return row;
    }
    return kDdsRows.back();
}

uint64_t KtxLevelBytes(const KtxPvrFormatRow& row, uint64_t w, uint64_t h, uint64_t minEdge) {
    if (row.blockBytes != 0 && minEdge <= 4) {
        const uint64_t across = (w + row.blockWidth - 1) / row.blockWidth;
        const uint64_t down = (h + row.blockHeight - 1) / row.blockHeight;
        return CheckedMul(CheckedMul(across, down, "blocks"), row.blockBytes, "level size");
    }
    w = std::max(w, minEdge);
    h = std::max(h, minEdge);
    return (CheckedMul(CheckedMul(w, h, "width x height"), row.bitsPerPixel, "level size") + 7) / 8;
}

const KtxPvrFormatRow* KtxPvrFormatFor(int32_t format) {
    for (const auto& row : kKtxPvrRows) {
        if (row.format == format) return &row;
    }
    return nullptr;
}

namespace {

// The first matching row wins (60 reads back as 34, 61 as 47), unless the object's own format
// matches too.
template <typename Matches>
const KtxPvrFormatRow* KtxPvrRowMatching(Matches matches, int32_t currentFormat) {
    const KtxPvrFormatRow* found = nullptr;
    for (const auto& row : kKtxPvrRows) {
        if (!matches(row)) continue;
        if (row.format == currentFormat) return &row;
        if (found == nullptr) found = &row;
    }
    return found;
}

} // namespace

const KtxPvrFormatRow* KtxFormatForGl(uint32_t glInternalFormat, uint32_t glBaseInternalFormat,
                                      int32_t currentFormat) {
    return KtxPvrRowMatching(
        [&](const KtxPvrFormatRow& row) {
            return row.glInternalFormat != 0 && row.glInternalFormat == glInternalFormat &&
                   row.glBaseInternalFormat == glBaseInternalFormat;
        },
        currentFormat);
}

const KtxPvrFormatRow* PvrFormatForPixelFormat(uint64_t pixelFormat, int32_t currentFormat) {
    return KtxPvrRowMatching(
        [&](const KtxPvrFormatRow& row) {
            return row.pvrPixelFormat >= 0 &&
                   static_cast<uint64_t>(row.pvrPixelFormat) == pixelFormat;
        },
        currentFormat);
}

} // namespace kestrel
