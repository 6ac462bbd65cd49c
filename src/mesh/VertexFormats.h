#pragma once
#include "io/ByteOrder.h"
#include "mesh/MeshLayout.h"

#include <cstdint>
#include <optional>

namespace kestrel {

// How one component of a vertex attribute is stored.
enum class ComponentKind : uint8_t {
    Float32,
    Float16,
    UNorm8,
    SNorm8,
    UNorm16,
    SNorm16,
    UInt8,
    SInt8,
    UInt16,
    SInt16,
    UInt32,
    SInt32
};

struct ComponentType {
    ComponentKind kind;
    uint8_t size; // bytes
};

// The component type of a channel format number under a numbering; nullopt for numbers the
// numbering does not define.
std::optional<ComponentType> ComponentTypeOf(VertexFormatNumbering numbering, uint8_t format);

// One component at `p` (size bytes of its type, in `order`) as a float: normalized formats are
// scaled to [0, 1] or [-1, 1], integer formats keep their value.
float DecodeComponent(ComponentType type, const uint8_t* p, Endian order);

} // namespace kestrel
