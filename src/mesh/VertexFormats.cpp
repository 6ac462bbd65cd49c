#include "mesh/VertexFormats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>

namespace kestrel {
namespace {

using K = ComponentKind;

constexpr std::array<ComponentType, 5> kChannel2015{{
    {K::Float32, 4},
    {K::Float16, 2},
    {K::UNorm8, 1},
    {K::UNorm8, 1},
    {K::UInt32, 4},
}};

constexpr std::array<ComponentType, 13> kFormat2017{{
    {K::Float32, 4},
    {K::Float16, 2},
    {K::UNorm8, 1},
    {K::UNorm8, 1},
    {K::SNorm8, 1},
    {K::UNorm16, 2},
    {K::SNorm16, 2},
    {K::UInt8, 1},
    {K::SInt8, 1},
    {K::UInt16, 2},
    {K::SInt16, 2},
    {K::UInt32, 4},
    {K::SInt32, 4},
}};

constexpr std::array<ComponentType, 12> kFormat2019{{
    {K::Float32, 4},
    {K::Float16, 2},
    {K::UNorm8, 1},
    {K::SNorm8, 1},
    {K::UNorm16, 2},
    {K::SNorm16, 2},
    {K::UInt8, 1},
    {K::SInt8, 1},
    {K::UInt16, 2},
    {K::SInt16, 2},
    {K::UInt32, 4},
    {K::SInt32, 4},
}};

std::span<const ComponentType> TableOf(VertexFormatNumbering numbering) {
    switch (numbering) {
    case VertexFormatNumbering::Channel2015:
        return kChannel2015;
    case VertexFormatNumbering::Format2017:
        return kFormat2017;
    case VertexFormatNumbering::Format2019:
        return kFormat2019;
    }
    return {};
}

// IEEE 754 half precision to single.
float HalfToFloat(uint16_t h) {
    const int exponent = (h >> 10) & 0x1F;
    const int mantissa = h & 0x3FF;
    float value = 0;
    if (exponent == 0) {
        value = std::ldexp(static_cast<float>(mantissa), -24);
    } else if (exponent == 31) {
        value = mantissa == 0 ? INFINITY : NAN;
    } else {
        value = std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
    }
    return (h & 0x8000) != 0 ? -value : value;
}

} // namespace

std::optional<ComponentType> ComponentTypeOf(VertexFormatNumbering numbering, uint8_t format) {
    const auto table = TableOf(numbering);
    if (format >= table.size()) return std::nullopt;
    return table[format];
}

float DecodeComponent(ComponentType type, const uint8_t* p, Endian order) {
    const auto u = static_cast<uint32_t>(LoadUnsigned(p, type.size, order));
    switch (type.kind) {
    case K::Float32: {
        float f = 0;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    case K::Float16:
        return HalfToFloat(static_cast<uint16_t>(u));
    case K::UNorm8:
        return static_cast<float>(u) / 255.0f;
    case K::SNorm8:
        return std::max(static_cast<float>(static_cast<int8_t>(u)) / 127.0f, -1.0f);
    case K::UNorm16:
        return static_cast<float>(u) / 65535.0f;
    case K::SNorm16:
        return std::max(static_cast<float>(static_cast<int16_t>(u)) / 32767.0f, -1.0f);
    case K::UInt8:
    case K::UInt16:
    case K::UInt32:
        return static_cast<float>(u);
    case K::SInt8:
        return static_cast<float>(static_cast<int8_t>(u));
    case K::SInt16:
        return static_cast<float>(static_cast<int16_t>(u));
    case K::SInt32:
        return static_cast<float>(static_cast<int32_t>(u));
    }
    return 0;
}

} // namespace kestrel
