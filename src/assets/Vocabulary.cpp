#include "assets/Vocabulary.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace kestrel {

namespace {

struct NumberedText {
    int32_t number;
    std::string_view text;
};

// Looks a number up in a table sorted by number; "" when absent.
template <size_t N>
constexpr std::string_view Find(const std::array<NumberedText, N>& table, int64_t number) {
    const auto* it =
        std::lower_bound(table.begin(), table.end(), number,
                         [](const NumberedText& entry, int64_t key) { return entry.number < key; });
    return it != table.end() && it->number == number ? it->text : std::string_view{};
}

template <size_t N> constexpr bool IsSorted(const std::array<NumberedText, N>& table) {
    for (size_t i = 1; i < N; ++i) {
        if (table[i - 1].number >= table[i].number) return false;
    }
    return true;
}

constexpr std::array<NumberedText, 13> kPlatforms{{
    {2, "MAC_OS_X_universal"},
    {4, "MAC_OS_X_x86"},
    {5, "WIN_x86"},
    {7, "WebPlayer"},
    {9, "IOS"},
    {10, "PS3"},
    {13, "ANDROID"},
    {17, "LINUX_x86"},
    {19, "WIN_x86_64"},
    {24, "LINUX_x86_64"},
    {25, "LINUX_universal"},
    {27, "MAC_OS_X_x86_64"},
    {28, "BlackBerry"},
}};

// clang-format off
constexpr std::array<NumberedText, 235> kClasses{{
    {1, "GameObject"}, {2, "Component"}, {3, "LevelGameManager"}, {4, "Transform"},
    {5, "TimeManager"}, {6, "GlobalGameManager"}, {8, "Behaviour"}, {9, "GameManager"},
    {11, "AudioManager"}, {12, "ParticleAnimator"}, {13, "InputManager"},
    {15, "EllipsoidParticleEmitter"}, {17, "Pipeline"}, {18, "EditorExtension"},
    {19, "Physics2DSettings"}, {20, "Camera"}, {21, "Material"}, {23, "MeshRenderer"},
    {25, "Renderer"}, {26, "ParticleRenderer"}, {27, "Texture"}, {28, "Texture2D"},
    {29, "SceneSettings"}, {30, "GraphicsSettings"}, {33, "MeshFilter"}, {41, "OcclusionPortal"},
    {43, "Mesh"}, {45, "Skybox"}, {47, "QualitySettings"}, {48, "Shader"}, {49, "TextAsset"},
    {50, "Rigidbody2D"}, {51, "Physics2DManager"}, {53, "Collider2D"}, {54, "Rigidbody"},
    {55, "PhysicsManager"}, {56, "Collider"}, {57, "Joint"}, {58, "CircleCollider2D"},
    {59, "HingeJoint"}, {60, "PolygonCollider2D"}, {61, "BoxCollider2D"}, {62, "PhysicsMaterial2D"},
    {64, "MeshCollider"}, {65, "BoxCollider"}, {66, "SpriteCollider2D"}, {68, "EdgeCollider2D"},
    {72, "ComputeShader"}, {74, "AnimationClip"}, {75, "ConstantForce"},
    {76, "WorldParticleCollider"}, {78, "TagManager"}, {81, "AudioListener"}, {82, "AudioSource"},
    {83, "AudioClip"}, {84, "RenderTexture"}, {87, "MeshParticleEmitter"}, {88, "ParticleEmitter"},
    {89, "Cubemap"}, {90, "Avatar"}, {91, "AnimatorController"}, {92, "GUILayer"},
    {93, "RuntimeAnimatorController"}, {94, "ScriptMapper"}, {95, "Animator"},
    {96, "TrailRenderer"}, {98, "DelayedCallManager"}, {102, "TextMesh"}, {104, "RenderSettings"},
    {108, "Light"}, {109, "CGProgram"}, {110, "BaseAnimationTrack"}, {111, "Animation"},
    {114, "MonoBehaviour"}, {115, "MonoScript"}, {116, "MonoManager"}, {117, "Texture3D"},
    {118, "NewAnimationTrack"}, {119, "Projector"}, {120, "LineRenderer"}, {121, "Flare"},
    {122, "Halo"}, {123, "LensFlare"}, {124, "FlareLayer"}, {125, "HaloLayer"},
    {126, "NavMeshAreas"}, {127, "HaloManager"}, {128, "Font"}, {129, "PlayerSettings"},
    {130, "NamedObject"}, {131, "GUITexture"}, {132, "GUIText"}, {133, "GUIElement"},
    {134, "PhysicMaterial"}, {135, "SphereCollider"}, {136, "CapsuleCollider"},
    {137, "SkinnedMeshRenderer"}, {138, "FixedJoint"}, {140, "RaycastCollider"},
    {141, "BuildSettings"}, {142, "AssetBundle"}, {143, "CharacterController"},
    {144, "CharacterJoint"}, {145, "SpringJoint"}, {146, "WheelCollider"}, {147, "ResourceManager"},
    {148, "NetworkView"}, {149, "NetworkManager"}, {150, "PreloadData"}, {152, "MovieTexture"},
    {153, "ConfigurableJoint"}, {154, "TerrainCollider"}, {155, "MasterServerInterface"},
    {156, "TerrainData"}, {157, "LightmapSettings"}, {158, "WebCamTexture"},
    {159, "EditorSettings"}, {160, "InteractiveCloth"}, {161, "ClothRenderer"},
    {162, "EditorUserSettings"}, {163, "SkinnedCloth"}, {164, "AudioReverbFilter"},
    {165, "AudioHighPassFilter"}, {166, "AudioChorusFilter"}, {167, "AudioReverbZone"},
    {168, "AudioEchoFilter"}, {169, "AudioLowPassFilter"}, {170, "AudioDistortionFilter"},
    {171, "SparseTexture"}, {180, "AudioBehaviour"}, {181, "AudioFilter"}, {182, "WindZone"},
    {183, "Cloth"}, {184, "SubstanceArchive"}, {185, "ProceduralMaterial"},
    {186, "ProceduralTexture"}, {191, "OffMeshLink"}, {192, "OcclusionArea"}, {193, "Tree"},
    {194, "NavMeshObsolete"}, {195, "NavMeshAgent"}, {196, "NavMeshSettings"},
    {197, "LightProbesLegacy"}, {198, "ParticleSystem"}, {199, "ParticleSystemRenderer"},
    {200, "ShaderVariantCollection"}, {205, "LODGroup"}, {206, "BlendTree"}, {207, "Motion"},
    {208, "NavMeshObstacle"}, {210, "TerrainInstance"}, {212, "SpriteRenderer"}, {213, "Sprite"},
    {214, "CachedSpriteAtlas"}, {215, "ReflectionProbe"}, {216, "ReflectionProbes"},
    {220, "LightProbeGroup"}, {221, "AnimatorOverrideController"}, {222, "CanvasRenderer"},
    {223, "Canvas"}, {224, "RectTransform"}, {225, "CanvasGroup"}, {226, "BillboardAsset"},
    {227, "BillboardRenderer"}, {228, "SpeedTreeWindAsset"}, {229, "AnchoredJoint2D"},
    {230, "Joint2D"}, {231, "SpringJoint2D"}, {232, "DistanceJoint2D"}, {233, "HingeJoint2D"},
    {234, "SliderJoint2D"}, {235, "WheelJoint2D"}, {238, "NavMeshData"}, {240, "AudioMixer"},
    {241, "AudioMixerController"}, {243, "AudioMixerGroupController"},
    {244, "AudioMixerEffectController"}, {245, "AudioMixerSnapshotController"},
    {246, "PhysicsUpdateBehaviour2D"}, {247, "ConstantForce2D"}, {248, "Effector2D"},
    {249, "AreaEffector2D"}, {250, "PointEffector2D"}, {251, "PlatformEffector2D"},
    {252, "SurfaceEffector2D"}, {258, "LightProbes"}, {271, "SampleClip"},
    {272, "AudioMixerSnapshot"}, {273, "AudioMixerGroup"}, {290, "AssetBundleManifest"},
    {1001, "Prefab"}, {1002, "EditorExtensionImpl"}, {1003, "AssetImporter"},
    {1004, "AssetDatabase"}, {1005, "Mesh3DSImporter"}, {1006, "TextureImporter"},
    {1007, "ShaderImporter"}, {1008, "ComputeShaderImporter"}, {1011, "AvatarMask"},
    {1020, "AudioImporter"}, {1026, "HierarchyState"}, {1027, "GUIDSerializer"},
    {1028, "AssetMetaData"}, {1029, "DefaultAsset"}, {1030, "DefaultImporter"},
    {1031, "TextScriptImporter"}, {1032, "SceneAsset"}, {1034, "NativeFormatImporter"},
    {1035, "MonoImporter"}, {1037, "AssetServerCache"}, {1038, "LibraryAssetImporter"},
    {1040, "ModelImporter"}, {1041, "FBXImporter"}, {1042, "TrueTypeFontImporter"},
    {1044, "MovieImporter"}, {1045, "EditorBuildSettings"}, {1046, "DDSImporter"},
    {1048, "InspectorExpandedState"}, {1049, "AnnotationManager"}, {1050, "PluginImporter"},
    {1051, "EditorUserBuildSettings"}, {1052, "PVRImporter"}, {1053, "ASTCImporter"},
    {1054, "KTXImporter"}, {1101, "AnimatorStateTransition"}, {1102, "AnimatorState"},
    {1105, "HumanTemplate"}, {1107, "AnimatorStateMachine"}, {1108, "PreviewAssetType"},
    {1109, "AnimatorTransition"}, {1110, "SpeedTreeImporter"}, {1111, "AnimatorTransitionBase"},
    {1112, "SubstanceImporter"}, {1113, "LightmapParameters"}, {1120, "LightmapSnapshot"},
}};
// clang-format on

// Texture format n (1..61) is kTextureFormats[n - 1].
// clang-format off
constexpr std::array<std::string_view, 61> kTextureFormats{{
    "Alpha8", "ARGB4444", "RGB24", "RGBA32", "ARGB32", "UNUSED06", "RGB565", "UNUSED08", "R16",
    "DXT1", "DXT3", "DXT5", "RGBA4444", "BGRA32New", "RHalf", "RGHalf", "RGBAHalf", "RFloat",
    "RGFloat", "RGBAFloat", "YUY2", "WiiIA4", "WiiIA8", "WiiRGB565", "WiiRGB5A3", "WiiRGBA8",
    "WiiCMPR", "DXT1Crunched", "DXT5Crunched", "PVRTC_RGB2", "PVRTC_RGBA2", "PVRTC_RGB4",
    "PVRTC_RGBA4", "ETC_RGB4", "ATC_RGB4", "ATC_RGBA8", "BGRA32", "ATF_RGB_DXT1", "ATF_RGBA_JPG",
    "ATF_RGB_JPG", "EAC_R", "EAC_R_SIGNED", "EAC_RG", "EAC_RG_SIGNED", "ETC2_RGB", "ETC2_RGBA1",
    "ETC2_RGBA8", "ASTC_RGB_4x4", "ASTC_RGB_5x5", "ASTC_RGB_6x6", "ASTC_RGB_8x8", "ASTC_RGB_10x10",
    "ASTC_RGB_12x12", "ASTC_RGBA_4x4", "ASTC_RGBA_5x5", "ASTC_RGBA_6x6", "ASTC_RGBA_8x8",
    "ASTC_RGBA_10x10", "ASTC_RGBA_12x12", "ETC_RGB4_3DS", "ETC_RGBA8_3DS",
}};
// Where the engines from 5.5 name formats differently: 22 to 27, and 62 onwards.
constexpr std::array<std::string_view, 6> kModernFormats22{{
    "RGB9e5Float", "UNUSED23", "BC6H", "BC7", "BC4", "BC5",
}};
constexpr std::array<std::string_view, 21> kModernFormats62{{
    "RG16", "R8", "ETC_RGB4Crunched", "ETC2_RGBA8Crunched", "ASTC_HDR_4x4", "ASTC_HDR_5x5",
    "ASTC_HDR_6x6", "ASTC_HDR_8x8", "ASTC_HDR_10x10", "ASTC_HDR_12x12", "RG32", "RGB48", "RGBA64",
    "R8_SIGNED", "RG16_SIGNED", "RGB24_SIGNED", "RGBA32_SIGNED", "R16_SIGNED", "RG32_SIGNED",
    "RGB48_SIGNED", "RGBA64_SIGNED",
}};
// clang-format on

constexpr std::array<NumberedText, 27> kExtensions{{
    {21, ".mat"},       {28, ".tex"},      {43, ".mesh"}, {48, ".shader"},  {49, ".txt"},
    {62, ".physmat2D"}, {74, ".ani"},      {83, ".snd"},  {84, ".rtex"},    {89, ".cbm"},
    {90, ".avatar"},    {91, ".amtc"},     {109, ".cgp"}, {115, ".script"}, {121, ".flr"},
    {128, ".ttf"},      {134, ".physmat"}, {152, ".ogm"}, {156, ".ter"},    {184, ".sbam"},
    {185, ".pmat"},     {186, ".ptex"},    {194, ".tes"}, {213, ".sprite"}, {241, ".amc"},
    {243, ".amgc"},     {245, ".amsc"},
}};

static_assert(IsSorted(kPlatforms) && IsSorted(kClasses) && IsSorted(kExtensions));

} // namespace

std::string PlatformName(uint32_t number) {
    return std::string(Find(kPlatforms, number));
}

std::string ClassName(int32_t typeId) {
    // Objects with type ID 0 or below are script instances.
    if (typeId <= 0) return "MonoBehaviour id: 114";
    const std::string_view name = Find(kClasses, typeId);
    return name.empty() ? "UNKNOW_TYPE" : std::string(name);
}

std::string TextureFormatShortName(int32_t format, bool modern) {
    // The range tests are unsigned, so negative numbers are unknown too.
    const auto index = static_cast<uint32_t>(format);
    if (modern && index - 22 < kModernFormats22.size())
        return std::string(kModernFormats22[index - 22]);
    if (modern && index - 62 < kModernFormats62.size())
        return std::string(kModernFormats62[index - 62]);
    if (index < 1 || index > kTextureFormats.size()) return "UNKNOW_FORMAT";
    return std::string(kTextureFormats[index - 1]);
}

std::string TextureFormatName(int32_t format, bool modern) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, format).ptr;
    return "id: " + std::string(digits, end) + " - " + TextureFormatShortName(format, modern);
}

std::string ExtensionForClass(int32_t classId) {
    return std::string(Find(kExtensions, classId));
}

} // namespace kestrel
