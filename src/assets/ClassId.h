#pragma once
#include <cstdint>

namespace kestrel {

// Engine class numbers of the objects the program treats specially.
namespace ClassId {
inline constexpr int32_t kMaterial = 21;
inline constexpr int32_t kTexture2D = 28;
inline constexpr int32_t kMesh = 43;
inline constexpr int32_t kShader = 48;
inline constexpr int32_t kTextAsset = 49;
inline constexpr int32_t kAudioClip = 83;
inline constexpr int32_t kCubemap = 89;
inline constexpr int32_t kMonoBehaviour = 114;
inline constexpr int32_t kMonoScript = 115;
inline constexpr int32_t kFont = 128;
inline constexpr int32_t kMovieTexture = 152;
inline constexpr int32_t kProceduralTexture = 186;
inline constexpr int32_t kVideoClip = 329;
} // namespace ClassId

} // namespace kestrel
