#include "audio/AudioClipLayout.h"

#include <array>

namespace kestrel {
namespace {

using K = ClipFieldKind;

// m_Resource (a StreamedResource: source path, offset, size) names the sound's bytes in a
// resource file; the engine's type trees of 2017.1 to 2022.3 show the same fields, 2017.1 adding
// m_Ambisonic in the padding after m_IsTrackerFormat.
constexpr std::array<ClipField, 16> kClip55{{
    {"m_LoadType", K::I32},
    {"m_Channels", K::I32},
    {"m_Frequency", K::I32},
    {"m_BitsPerSample", K::I32},
    {"m_Length", K::F32},
    {"m_IsTrackerFormat", K::Bool},
    {"", K::Align},
    {"m_SubsoundIndex", K::I32},
    {"m_PreloadAudioData", K::Bool},
    {"m_LoadInBackground", K::Bool},
    {"m_Legacy3D", K::Bool},
    {"", K::Align},
    {"m_Source", K::String},
    {"m_Offset", K::U64},
    {"m_Size", K::U64},
    {"m_CompressionFormat", K::I32},
}};

constexpr std::array<ClipField, 17> kClip2017{{
    {"m_LoadType", K::I32},
    {"m_Channels", K::I32},
    {"m_Frequency", K::I32},
    {"m_BitsPerSample", K::I32},
    {"m_Length", K::F32},
    {"m_IsTrackerFormat", K::Bool},
    {"m_Ambisonic", K::Bool},
    {"", K::Align},
    {"m_SubsoundIndex", K::I32},
    {"m_PreloadAudioData", K::Bool},
    {"m_LoadInBackground", K::Bool},
    {"m_Legacy3D", K::Bool},
    {"", K::Align},
    {"m_Source", K::String},
    {"m_Offset", K::U64},
    {"m_Size", K::U64},
    {"m_CompressionFormat", K::I32},
}};

constexpr std::array<AudioClipLayout, 2> kLayouts{{
    {Version(5, 5), Version(2017, 1), kClip55},
    // Unity 6 (6000.x) keeps this layout.
    {Version(2017, 1), Version(1000000), kClip2017},
}};

} // namespace

std::span<const AudioClipLayout> AudioClipLayouts() {
    return kLayouts;
}

const AudioClipLayout* AudioClipLayoutFor(const EngineVersion& version) {
    return RowForVersion(kLayouts, version);
}

} // namespace kestrel
