#include "mesh/MeshLayout.h"

#include <array>

namespace kestrel {
namespace {

using F = VertexFormatNumbering;
using I = IndexFormatField;

// Facts from the engine's own type trees (5.6, 2019.1, 2020.3, 2022.3 bundles) and public
// readers of the format for the releases between.
constexpr std::array<MeshLayout, 10> kMeshLayouts{{
    // from              until              base   bones  index              skin   curCh  ch2018 formats          cook   metric stream off64
    {Version(5, 5),      Version(2017, 1),  false, false, I::Absent,           true,  true,  false, F::Channel2015, false, false, false, false},
    {Version(2017, 1),   Version(2017, 3),  false, false, I::Absent,           true,  true,  false, F::Format2017,  false, false, false, false},
    {Version(2017, 3),   Version(2017, 3, 1, 'p', 1), true, false, I::WhenUncompressed, true, true, false, F::Format2017, false, false, false, false},
    {Version(2017, 3, 1, 'p', 1), Version(2018, 1), true, false, I::Present, true,  true,  false, F::Format2017,  false, false, false, false},
    {Version(2018, 1),   Version(2018, 2),  true,  false, I::Present,          true,  false, true,  F::Format2017,  false, false, false, false},
    {Version(2018, 2),   Version(2018, 3),  true,  false, I::Present,          false, false, true,  F::Format2017,  false, true,  false, false},
    {Version(2018, 3),   Version(2019, 1),  true,  false, I::Present,          false, false, true,  F::Format2017,  false, true,  true,  false},
    {Version(2019, 1),   Version(2020, 1),  true,  true,  I::Present,          false, false, true,  F::Format2019,  false, true,  true,  false},
    {Version(2020, 1),   Version(2022, 1),  true,  true,  I::Present,          false, false, true,  F::Format2019,  false, true,  true,  true},
    // Unity 6 (6000.x) keeps the 2022 layout.
    {Version(2022, 1),   Version(1000000),  true,  true,  I::Present,          false, false, true,  F::Format2019,  true,  true,  true,  true},
}};

} // namespace

std::span<const MeshLayout> MeshLayouts() {
    return kMeshLayouts;
}

const MeshLayout* MeshLayoutFor(const EngineVersion& version) {
    for (const MeshLayout& row : kMeshLayouts) {
        if (version >= row.from && version < row.until) return &row;
    }
    return nullptr;
}

} // namespace kestrel
