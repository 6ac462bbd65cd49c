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

// When m_IndexFormat is stored: 2017.3 releases before 2017.3.1p1 wrote it only for meshes
// without mesh compression.
enum class IndexFormatField : uint8_t { Absent, WhenUncompressed, Present };

// The fields of a Mesh object (class 43) that come and go between engine releases, in the order
// the engine writes them. Fields every release of the range stores are not listed.
struct MeshLayout {
    EngineVersion from;  // first release of the row
    EngineVersion until; // first release of the next row
    bool subMeshBaseVertex;    // SubMesh.baseVertex after topology (2017.3)
    bool bonesAabb;            // m_BonesAABB and m_VariableBoneCountWeights after the root bone
    IndexFormatField indexFormat; // m_IndexFormat before m_IndexBuffer (0 = 16-bit, 1 = 32-bit)
    bool skin;                 // m_Skin after m_IndexBuffer (gone in 2018.2)
    bool currentChannels;      // VertexData.m_CurrentChannels (gone in 2018)
    bool channels2018;         // channel numbering: texture coordinates 0 at channel 4, not 3
    VertexFormatNumbering formats;
    bool cookingOptions;       // m_CookingOptions after m_MeshUsageFlags (2022.1)
    bool meshMetrics;          // two floats after the baked collision meshes (2018.2)
    bool streamData;           // m_StreamData: offset, size, path (2018.3)
    bool streamOffset64;       // its offset is 64-bit (2020.1)
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
    return layout.channels2018 ? MeshChannels{0, 1, 4} : MeshChannels{0, 1, 3};
}

} // namespace kestrel
