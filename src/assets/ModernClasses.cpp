// Engine classes of serialized formats 16 and later (Unity 5.5 to Unity 6): the class numbers
// those engines added, and the names they gave to numbers the older table names otherwise.
#include "assets/Vocabulary.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kestrel {

namespace {

struct ModernClass {
    int32_t number;
    std::string_view text;
};

// clang-format off
constexpr std::array<ModernClass, 134> kModernClasses{{
    {29, "OcclusionCullingSettings"}, {66, "CompositeCollider2D"}, {70, "CapsuleCollider2D"},
    {86, "CustomRenderTexture"}, {187, "Texture2DArray"}, {188, "CubemapArray"},
    {210, "SortingGroup"}, {218, "Terrain"}, {236, "ClusterInputManager"},
    {237, "BaseVideoTexture"}, {253, "BuoyancyEffector2D"}, {254, "RelativeJoint2D"},
    {255, "FixedJoint2D"}, {256, "FrictionJoint2D"}, {257, "TargetJoint2D"},
    {259, "LightProbeProxyVolume"}, {280, "NScreenBridge"}, {292, "UnityAdsManager"},
    {300, "RuntimeInitializeOnLoadManager"}, {301, "CloudWebServicesManager"},
    {303, "UnityAnalyticsManager"}, {304, "CrashReportManager"},
    {305, "PerformanceReportingManager"}, {310, "UnityConnectSettings"}, {319, "AvatarMask"},
    {320, "PlayableDirector"}, {328, "VideoPlayer"}, {329, "VideoClip"},
    {330, "ParticleSystemForceField"}, {331, "SpriteMask"}, {362, "WorldAnchor"},
    {363, "OcclusionCullingData"}, {1001, "PrefabInstance"}, {1004, "AssetDatabaseV1"},
    {1055, "IHVImageFormatImporter"}, {1108, "PreviewAnimationClip"},
    {1120, "LightingDataAsset"}, {1121, "GISRaster"}, {1122, "GISRasterImporter"},
    {1123, "CadImporter"}, {1124, "SketchUpImporter"}, {1125, "BuildReport"},
    {1126, "PackedAssets"}, {1127, "VideoClipImporter"}, {2000, "ActivationLogComponent"},
    {100003, "MonoObject"}, {100004, "Collision"}, {100005, "Vector3f"},
    {100006, "RootMotionData"}, {100007, "Collision2D"}, {100008, "AudioMixerLiveUpdateFloat"},
    {100009, "AudioMixerLiveUpdateBool"}, {100010, "Polygon2D"},
    {19719996, "TilemapCollider2D"}, {41386430, "AssetImporterLog"}, {73398921, "VFXRenderer"},
    {76251197, "SerializableManagedRefTestClass"}, {156049354, "Grid"},
    {156483287, "ScenesUsingAssets"}, {171741748, "ArticulationBody"}, {181963792, "Preset"},
    {277625683, "EmptyObject"}, {285090594, "IConstraint"},
    {293259124, "TestObjectWithSpecialLayoutOne"},
    {294290339, "AssemblyDefinitionReferenceImporter"}, {334799969, "SiblingDerived"},
    {342846651, "TestObjectWithSerializedMapStringNonAlignedStruct"}, {367388927, "SubDerived"},
    {369655926, "AssetImportInProgressProxy"}, {382020655, "PluginBuildInfo"},
    {426301858, "EditorProjectAccess"}, {468431735, "PrefabImporter"},
    {478637458, "TestObjectWithSerializedArray"},
    {478637459, "TestObjectWithSerializedAnimationCurve"}, {483693784, "TilemapRenderer"},
    {488575907, "ScriptableCamera"}, {612988286, "SpriteAtlasAsset"},
    {638013454, "SpriteAtlasDatabase"}, {641289076, "AudioBuildInfo"},
    {644342135, "CachedSpriteAtlasRuntimeData"}, {646504946, "RendererFake"},
    {662584278, "AssemblyDefinitionReferenceAsset"}, {668709126, "BuiltAssetBundleInfoSet"},
    {687078895, "SpriteAtlas"}, {747330370, "RayTracingShaderImporter"},
    {825902497, "RayTracingShader"}, {850595691, "LightingSettings"},
    {877146078, "PlatformModuleSetup"}, {890905787, "VersionControlSettings"},
    {895512359, "AimConstraint"}, {937362698, "VFXManager"},
    {994735392, "VisualEffectSubgraph"}, {994735403, "VisualEffectSubgraphOperator"},
    {994735404, "VisualEffectSubgraphBlock"}, {1027052791, "LocalizationImporter"},
    {1091556383, "Derived"}, {1111377672, "PropertyModificationsTargetTestObject"},
    {1114811875, "ReferencesArtifactGenerator"}, {1152215463, "AssemblyDefinitionAsset"},
    {1154873562, "SceneVisibilityState"}, {1183024399, "LookAtConstraint"},
    {1210832254, "SpriteAtlasImporter"}, {1223240404, "MultiArtifactTestImporter"},
    {1268269756, "GameObjectRecorder"}, {1325145578, "LightingDataAssetParent"},
    {1386491679, "PresetManager"}, {1392443030, "TestObjectWithSpecialLayoutTwo"},
    {1403656975, "StreamingManager"}, {1480428607, "LowerResBlitTexture"},
    {1542919678, "StreamingController"}, {1571458007, "RenderPassAttachment"},
    {1628831178, "TestObjectVectorPairStringBool"}, {1742807556, "GridLayout"},
    {1766753193, "AssemblyDefinitionImporter"}, {1773428102, "ParentConstraint"},
    {1803986026, "FakeComponent"}, {1818360608, "PositionConstraint"},
    {1818360609, "RotationConstraint"}, {1818360610, "ScaleConstraint"},
    {1839735485, "Tilemap"}, {1896753125, "PackageManifest"},
    {1896753126, "PackageManifestImporter"}, {1953259897, "TerrainLayer"},
    {1971053207, "SpriteShapeRenderer"}, {1977754360, "NativeObjectType"},
    {1981279845, "TestObjectWithSerializedMapStringBool"}, {1995898324, "SerializableManagedHost"},
    {2058629509, "VisualEffectAsset"}, {2058629510, "VisualEffectImporter"},
    {2058629511, "VisualEffectResource"}, {2059678085, "VisualEffectObject"},
    {2083052967, "VisualEffect"}, {2083778819, "LocalizationAsset"},
    {2089858483, "ScriptedImporter"},
}};

// Classes whose serialized form begins with the aligned name string m_Name (the engine's named
// objects): read when a file carries no type trees to tell.
constexpr std::array<int32_t, 68> kNamedClasses{{
    21, 27, 28, 43, 48, 49, 62, 72, 74, 83, 84, 86, 89, 90, 91, 93, 115, 117, 121, 128, 134,
    142, 150, 152, 156, 184, 185, 186, 187, 188, 194, 200, 206, 207, 213, 214, 221, 226, 228,
    238, 240, 241, 243, 244, 245, 258, 271, 272, 273, 290, 319, 329, 363, 1120,
    612988286, 687078895, 825902497, 850595691, 994735392, 994735403, 994735404, 1953259897,
    2058629509, 2058629511, 2083778819, 1152215463, 662584278, 181963792,
}};
// clang-format on

template <size_t N> constexpr bool IsSortedByNumber(const std::array<ModernClass, N>& table) {
    for (size_t i = 1; i < N; ++i) {
        if (table[i - 1].number >= table[i].number) return false;
    }
    return true;
}
static_assert(IsSortedByNumber(kModernClasses));

} // namespace

std::string ModernClassName(int32_t typeId) {
    const auto* it = std::lower_bound(
        kModernClasses.begin(), kModernClasses.end(), typeId,
        [](const ModernClass& entry, int32_t key) { return entry.number < key; });
    if (it != kModernClasses.end() && it->number == typeId) return std::string(it->text);
    return ClassName(typeId);
}

bool BeginsWithName(int32_t classId) {
    return std::find(kNamedClasses.begin(), kNamedClasses.end(), classId) != kNamedClasses.end();
}

} // namespace kestrel
