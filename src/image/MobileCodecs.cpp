#include "image/MobileCodecs.h"

#include "image/AstcCodec.h"
#include "image/AtcCodec.h"
#include "image/EtcDecode.h"
#include "image/EtcEncode.h"
#include "image/PvrtcCodec.h"

#include <algorithm>
#include <array>

namespace kestrel::image {

namespace {

using C = ChannelSet;

template <uint32_t W, uint32_t H, bool Hdr>
constexpr MobileFormatCodec Astc(int32_t format, const char* name, ChannelSet channels) {
    return {format,
            name,
            channels,
            &DecodeAstcLevel<W, H, Hdr>,
            &EncodeAstcLevel<W, H, Hdr>,
            nullptr,
            W,
            H,
            16,
            1,
            Hdr};
}

// ETC_RGB4_3DS and ETC_RGBA8_3DS hold the same blocks as ETC_RGB4 and ETC2_RGBA8. The ASTC
// formats 48 to 53 were RGB-only in old engines and hold RGBA from 2019 on; all are read as RGBA
// so that no alpha is lost.
constexpr std::array<MobileFormatCodec, 34> kCodecs{{
    {30, "PVRTC_RGB2", C::kRgb, &DecodePvrtc2, nullptr, nullptr, 8, 4, 8, 2},
    {31, "PVRTC_RGBA2", C::kRgba, &DecodePvrtc2, nullptr, nullptr, 8, 4, 8, 2},
    {32, "PVRTC_RGB4", C::kRgb, &DecodePvrtc4, nullptr, nullptr, 4, 4, 8, 2},
    {33, "PVRTC_RGBA4", C::kRgba, &DecodePvrtc4, nullptr, nullptr, 4, 4, 8, 2},
    {34, "ETC_RGB4", C::kRgb, &DecodeEtc1, &EncodeEtc1, nullptr, 4, 4, 8},
    {35, "ATC_RGB4", C::kRgb, &DecodeAtcRgb4, nullptr, nullptr, 4, 4, 8},
    {36, "ATC_RGBA8", C::kRgba, &DecodeAtcRgba8, nullptr, nullptr, 4, 4, 16},
    {41, "EAC_R", C::kGray, &DecodeEacR, &EncodeEacR, &DecodeEacR16, 4, 4, 8},
    {42, "EAC_R_SIGNED", C::kGray, &DecodeEacRSigned, &EncodeEacRSigned, &DecodeEacRSigned16, 4, 4,
     8},
    {43, "EAC_RG", C::kGrayGreen, &DecodeEacRg, &EncodeEacRg, &DecodeEacRg16, 4, 4, 16},
    {44, "EAC_RG_SIGNED", C::kGrayGreen, &DecodeEacRgSigned, &EncodeEacRgSigned,
     &DecodeEacRgSigned16, 4, 4, 16},
    {45, "ETC2_RGB", C::kRgb, &DecodeEtc2Rgb, &EncodeEtc2Rgb, nullptr, 4, 4, 8},
    {46, "ETC2_RGBA1", C::kRgba, &DecodeEtc2Rgba1, &EncodeEtc2Rgba1, nullptr, 4, 4, 8},
    {47, "ETC2_RGBA8", C::kRgba, &DecodeEtc2Rgba8, &EncodeEtc2Rgba8, nullptr, 4, 4, 16},
    Astc<4, 4, false>(48, "ASTC_RGB_4x4", C::kRgba),
    Astc<5, 5, false>(49, "ASTC_RGB_5x5", C::kRgba),
    Astc<6, 6, false>(50, "ASTC_RGB_6x6", C::kRgba),
    Astc<8, 8, false>(51, "ASTC_RGB_8x8", C::kRgba),
    Astc<10, 10, false>(52, "ASTC_RGB_10x10", C::kRgba),
    Astc<12, 12, false>(53, "ASTC_RGB_12x12", C::kRgba),
    Astc<4, 4, false>(54, "ASTC_RGBA_4x4", C::kRgba),
    Astc<5, 5, false>(55, "ASTC_RGBA_5x5", C::kRgba),
    Astc<6, 6, false>(56, "ASTC_RGBA_6x6", C::kRgba),
    Astc<8, 8, false>(57, "ASTC_RGBA_8x8", C::kRgba),
    Astc<10, 10, false>(58, "ASTC_RGBA_10x10", C::kRgba),
    Astc<12, 12, false>(59, "ASTC_RGBA_12x12", C::kRgba),
    {60, "ETC_RGB4_3DS", C::kRgb, &DecodeEtc1, &EncodeEtc1, nullptr, 4, 4, 8},
    {61, "ETC_RGBA8_3DS", C::kRgba, &DecodeEtc2Rgba8, &EncodeEtc2Rgba8, nullptr, 4, 4, 16},
    Astc<4, 4, true>(66, "ASTC_HDR_4x4", C::kRgba),
    Astc<5, 5, true>(67, "ASTC_HDR_5x5", C::kRgba),
    Astc<6, 6, true>(68, "ASTC_HDR_6x6", C::kRgba),
    Astc<8, 8, true>(69, "ASTC_HDR_8x8", C::kRgba),
    Astc<10, 10, true>(70, "ASTC_HDR_10x10", C::kRgba),
    Astc<12, 12, true>(71, "ASTC_HDR_12x12", C::kRgba),
}};

static_assert(std::is_sorted(kCodecs.begin(), kCodecs.end(),
                             [](const auto& a, const auto& b) { return a.format < b.format; }));

} // namespace

const MobileFormatCodec* FindMobileCodec(int32_t format) {
    const auto* it = std::lower_bound(kCodecs.begin(), kCodecs.end(), format,
                                      [](const auto& row, int32_t f) { return row.format < f; });
    return (it != kCodecs.end() && it->format == format) ? &*it : nullptr;
}

uint64_t MobileLevelBytes(const MobileFormatCodec& codec, uint32_t width, uint32_t height) {
    const uint64_t blocksX = std::max<uint64_t>(
        (uint64_t{width} + codec.blockWidth - 1) / codec.blockWidth, codec.minBlocks);
    const uint64_t blocksY = std::max<uint64_t>(
        (uint64_t{height} + codec.blockHeight - 1) / codec.blockHeight, codec.minBlocks);
    return blocksX * blocksY * codec.blockBytes;
}

} // namespace kestrel::image
