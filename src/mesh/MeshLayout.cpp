#include "mesh/MeshLayout.h"

#include <array>

namespace kestrel {
namespace {

using F = VertexFormatNumbering;

// What 5.5 to 2017.2 store beyond the fields of every release.
constexpr uint32_t k2015 = kSkin | kCurrentChannels;
constexpr uint32_t k2017_3 = k2015 | kSubMeshBaseVertex;
constexpr uint32_t k2018_1 = kSubMeshBaseVertex | kIndexFormat | kSkin | kChannels2018;
constexpr uint32_t k2018_2 = (k2018_1 & ~kSkin) | kMeshMetrics;
constexpr uint32_t k2018_3 = k2018_2 | kStreamData;
constexpr uint32_t k2019_1 = k2018_3 | kBonesAabb;
constexpr uint32_t k2020_1 = k2019_1 | kStreamOffset64;
constexpr uint32_t k2022_1 = k2020_1 | kCookingOptions;

// Facts from the engine's own type trees (5.6, 2019.1, 2020.3 and 2022.3 bundles) and public
// readers of the format for the releases between.
constexpr std::array<MeshLayout, 10> kMeshLayouts{{
    {Version(5, 5), Version(2017, 1), F::Channel2015, k2015},
    {Version(2017, 1), Version(2017, 3), F::Format2017, k2015},
    {Version(2017, 3), Version(2017, 3, 1, 'p', 1), F::Format2017,
     k2017_3 | kIndexFormatWhenUncompressed},
    {Version(2017, 3, 1, 'p', 1), Version(2018, 1), F::Format2017, k2017_3 | kIndexFormat},
    {Version(2018, 1), Version(2018, 2), F::Format2017, k2018_1},
    {Version(2018, 2), Version(2018, 3), F::Format2017, k2018_2},
    {Version(2018, 3), Version(2019, 1), F::Format2017, k2018_3},
    {Version(2019, 1), Version(2020, 1), F::Format2019, k2019_1},
    {Version(2020, 1), Version(2022, 1), F::Format2019, k2020_1},
    // Unity 6 (6000.x) keeps the 2022 layout.
    {Version(2022, 1), Version(1000000), F::Format2019, k2022_1},
}};

} // namespace

std::span<const MeshLayout> MeshLayouts() {
    return kMeshLayouts;
}

const MeshLayout* MeshLayoutFor(const EngineVersion& version) {
    return RowForVersion(kMeshLayouts, version);
}

} // namespace kestrel
