#pragma once
#include "common/EngineVersion.h"

#include <cstdint>
#include <span>

namespace kestrel {

// Which numbering the vertex channel formats use (the engine renumbered them twice).
enum class VertexFormatNumbering : uint8_t {
    Channel2015, // 0 float, 1 half, 2 colour bytes, 3 bytes, 4 uint32
    Format2017,  // 0 float, 1 half, 2 colour, 3 unorm8, 4 snorm8, ... 12 sint32
    Format2019,  // 0 float, 1 half, 2 unorm8, 3 snorm8, ... 11 sint32 (colour dropped)
};

// The fields of a Mesh object (class 43) that come and go between engine releases; a layout row
// names those its releases store. Every other field is stored by every release from 5.5 on.
enum MeshField : uint32_t {
    kSubMeshBaseVertex = 1u << 0, // SubMesh.baseVertex after topology (2017.3)
    kBonesAabb = 1u << 1,         // m_BonesAABB, m_VariableBoneCountWeights after the root bone
    kIndexFormat = 1u << 2,       // m_IndexFormat before m_IndexBuffer (0: 16-bit, 1: 32-bit)
    // 2017.3 releases before 2017.3.1p1 stored m_IndexFormat only without mesh compression.
    kIndexFormatWhenUncompressed = 1u << 3,
    kSkin = 1u << 4,            // m_Skin after m_IndexBuffer (gone in 2018.2)
    kCurrentChannels = 1u << 5, // VertexData.m_CurrentChannels (gone in 2018.1)
    kChannels2018 = 1u << 6,    // channel numbering: texture coordinates 0 at channel 4, not 3
    kCookingOptions = 1u << 7,  // m_CookingOptions after m_MeshUsageFlags (2022.1)
    kMeshMetrics = 1u << 8,     // two floats after the baked collision meshes (2018.2)
    kStreamData = 1u << 9,      // m_StreamData: offset, size, path (2018.3)
    kStreamOffset64 = 1u << 10, // its offset is 64-bit (2020.1)
};

// One row: the releases [from, until), the numbering of their vertex formats and their fields.
struct MeshLayout {
    EngineVersion from;
    EngineVersion until;
    VertexFormatNumbering formats;
    uint32_t fields; // MeshField bits

    constexpr bool Has(MeshField field) const { return (fields & field) != 0; }
};

// Every row, oldest first; together they cover 5.5 and every later release.
std::span<const MeshLayout> MeshLayouts();

// The row covering `version`, or nullptr for releases before 5.5 (read by the older reader).
const MeshLayout* MeshLayoutFor(const EngineVersion& version);

// Channel numbers of the attributes the OBJ export writes.
struct MeshChannels {
    uint8_t position;
    uint8_t normal;
    uint8_t texCoord0;
};
constexpr MeshChannels ChannelsOf(const MeshLayout& layout) {
    return layout.Has(kChannels2018) ? MeshChannels{0, 1, 4} : MeshChannels{0, 1, 3};
}

} // namespace kestrel
