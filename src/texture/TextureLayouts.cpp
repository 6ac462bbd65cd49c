#include "texture/TextureLayouts.h"

#include "common/Error.h"

#include <string>

namespace kestrel {
namespace {

using F = TexField;

// What each release range adds to or drops from the fields of 5.5.
enum : uint32_t {
    kWrapUVW = 1u << 0,          // 2017.1: three wrap modes instead of one
    kFallback = 1u << 1,         // 2017.3 to 2023.1: fallback format and downscale flag
    kStreamingMips = 1u << 2,    // 2018.2: streaming mipmaps flag and priority
    kIgnoreLimit = 1u << 3,      // 2019.3: ignore-texture-limit flag
    kMipsStripped = 1u << 4,     // 2020.1: stripped mip count, preprocessed flag, 64-bit offset
    kAlphaOptional = 1u << 5,    // 2020.2: alpha-channel-optional flag and the platform blob
    kLimitGroup = 1u << 6,       // 2022.2: the mipmap limit group name
};

constexpr TexFieldList Fields(uint32_t flags) {
    TexFieldList l;
    if (flags & kFallback) {
        l.Add(F::Int32); // m_ForcedFallbackFormat
        l.Add(F::Bool);  // m_DownscaleFallback
    }
    if (flags & kAlphaOptional) l.Add(F::Bool); // m_IsAlphaChannelOptional
    if (flags & (kFallback | kAlphaOptional)) l.Add(F::Align);
    l.Add(F::Width);
    l.Add(F::Height);
    l.Add(F::CompleteImageSize);
    if (flags & kMipsStripped) l.Add(F::Int32); // m_MipsStripped
    l.Add(F::Format);
    l.Add(F::MipCount);
    l.Add(F::Bool);                              // m_IsReadable
    if (flags & kMipsStripped) l.Add(F::Bool);   // m_IsPreProcessed
    if (flags & kIgnoreLimit) l.Add(F::Bool);    // m_IgnoreMasterTextureLimit / MipmapLimit
    if (flags & kLimitGroup) {
        l.Add(F::Align);
        l.Add(F::String); // m_MipmapLimitGroupName
    }
    if (flags & kStreamingMips) l.Add(F::Bool); // m_StreamingMipmaps
    l.Add(F::Align);
    if (flags & kStreamingMips) l.Add(F::Int32); // m_StreamingMipmapsPriority
    l.Add(F::ImageCount);
    l.Add(F::Int32); // m_TextureDimension
    // m_TextureSettings: filter mode, anisotropy, mip bias, then the wrap mode(s).
    for (int i = 0; i < ((flags & kWrapUVW) ? 6 : 4); ++i)
        l.Add(F::Int32);
    l.Add(F::Int32); // m_LightmapFormat
    l.Add(F::Int32); // m_ColorSpace
    if (flags & kAlphaOptional) l.Add(F::ByteArray); // m_PlatformBlob
    l.Add(F::ImageData);
    l.Add((flags & kMipsStripped) ? F::StreamData64 : F::StreamData32);
    return l;
}

constexpr uint32_t k2017_1 = kWrapUVW;
constexpr uint32_t k2017_3 = k2017_1 | kFallback;
constexpr uint32_t k2018_2 = k2017_3 | kStreamingMips;
constexpr uint32_t k2019_3 = k2018_2 | kIgnoreLimit;
constexpr uint32_t k2020_1 = k2019_3 | kMipsStripped;
constexpr uint32_t k2020_2 = k2020_1 | kAlphaOptional;
constexpr uint32_t k2022_2 = k2020_2 | kLimitGroup;
constexpr uint32_t k2023_2 = k2022_2 & ~kFallback;

// Facts from the engine's type trees in bundles of 5.6, 2019.1, 2020.3 and 2022.3, and from
// public readers of the format for the releases between and after.
constexpr std::array<TextureLayoutRow, 9> kRows{{
    {Version(5, 5), Version(2017, 1), Fields(0)},
    {Version(2017, 1), Version(2017, 3), Fields(k2017_1)},
    {Version(2017, 3), Version(2018, 2), Fields(k2017_3)},
    {Version(2018, 2), Version(2019, 3), Fields(k2018_2)},
    {Version(2019, 3), Version(2020, 1), Fields(k2019_3)},
    {Version(2020, 1), Version(2020, 2), Fields(k2020_1)},
    {Version(2020, 2), Version(2022, 2), Fields(k2020_2)},
    {Version(2022, 2), Version(2023, 2), Fields(k2022_2)},
    // Unity 6 (6000.x) keeps the 2023.2 layout.
    {Version(2023, 2), Version(1000000), Fields(k2023_2)},
}};

} // namespace

std::span<const TextureLayoutRow> TextureLayoutRows() {
    return kRows;
}

const TextureLayoutRow* TextureLayoutFor(const EngineVersion& version) {
    for (const TextureLayoutRow& row : kRows) {
        if (version >= row.from && version < row.until) return &row;
    }
    return nullptr;
}

} // namespace kestrel

namespace kestrel {

const TextureLayoutRow* TextureLayoutOfFile(int32_t serializedFormat,
                                            std::string_view engineVersion) {
    if (serializedFormat < 16) return nullptr;
    const TextureLayoutRow* row = TextureLayoutFor(ParseEngineVersion(engineVersion));
    if (row == nullptr) {
        throw KestrelError("No texture layout is known for engine version \"" +
                           std::string(engineVersion) + "\"");
    }
    return row;
}

} // namespace kestrel
