#include "texture/TextureLayouts.h"

#include "assets/TypeTree.h"
#include "common/Error.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kestrel {
namespace {

using F = TexField;

// What each release range adds to or drops from the fields of 5.5.
enum : uint32_t {
    kWrapUVW = 1u << 0,       // 2017.1: three wrap modes instead of one
    kFallback = 1u << 1,      // 2017.3 to 2023.1: fallback format and downscale flag
    kStreamingMips = 1u << 2, // 2018.2: streaming mipmaps flag and priority
    kIgnoreLimit = 1u << 3,   // 2019.3: ignore-texture-limit flag
    kMipsStripped = 1u << 4,  // 2020.1: stripped mip count, preprocessed flag, 64-bit offset
    kAlphaOptional = 1u << 5, // 2020.2: alpha-channel-optional flag and the platform blob
    kLimitGroup = 1u << 6,    // 2022.2: the mipmap limit group name
};

constexpr TexFieldList Fields(uint32_t flags) {
    TexFieldList l;
    if (flags & kFallback) {
        l.Add(F::Int32); // m_ForcedFallbackFormat
        l.Add(F::Bool);  // m_DownscaleFallback
    }
    if (flags & kAlphaOptional) l.Add(F::Bool); // m_IsAlphaChannelOptional
    if (flags & (kFallback | kAlphaOptional)) l.Add(F::Align);
    l.Add(F::Width);
    l.Add(F::Height);
    l.Add(F::CompleteImageSize);
    if (flags & kMipsStripped) l.Add(F::Int32); // m_MipsStripped
    l.Add(F::Format);
    l.Add(F::MipCount);
    l.Add(F::Bool);                            // m_IsReadable
    if (flags & kMipsStripped) l.Add(F::Bool); // m_IsPreProcessed
    if (flags & kIgnoreLimit) l.Add(F::Bool);  // m_IgnoreMasterTextureLimit / MipmapLimit
    if (flags & kLimitGroup) {
        l.Add(F::Align);
        l.Add(F::String); // m_MipmapLimitGroupName
    }
    if (flags & kStreamingMips) l.Add(F::Bool); // m_StreamingMipmaps
    l.Add(F::Align);
    if (flags & kStreamingMips) l.Add(F::Int32); // m_StreamingMipmapsPriority
    l.Add(F::ImageCount);
    l.Add(F::Int32); // m_TextureDimension
    // m_TextureSettings: filter mode, anisotropy, mip bias, then the wrap mode(s).
    for (int i = 0; i < ((flags & kWrapUVW) ? 6 : 4); ++i)
        l.Add(F::Int32);
    l.Add(F::Int32);                                 // m_LightmapFormat
    l.Add(F::Int32);                                 // m_ColorSpace
    if (flags & kAlphaOptional) l.Add(F::ByteArray); // m_PlatformBlob
    l.Add(F::ImageData);
    l.Add((flags & kMipsStripped) ? F::StreamData64 : F::StreamData32);
    return l;
}

constexpr uint32_t k2017_1 = kWrapUVW;
constexpr uint32_t k2017_3 = k2017_1 | kFallback;
constexpr uint32_t k2018_2 = k2017_3 | kStreamingMips;
constexpr uint32_t k2019_3 = k2018_2 | kIgnoreLimit;
constexpr uint32_t k2020_1 = k2019_3 | kMipsStripped;
constexpr uint32_t k2020_2 = k2020_1 | kAlphaOptional;
constexpr uint32_t k2022_2 = k2020_2 | kLimitGroup;
constexpr uint32_t k2023_2 = k2022_2 & ~kFallback;

// From public readers of the format; the engine's own type trees in bundles of 5.6, 2019.1,
// 2019.2, 2020.3, 2021.3 and 2022.3 list the same fields. Files that carry type trees are read by
// their trees (TextureLayoutOfObject), so a release these rows do not know still reads right.
constexpr std::array<TextureLayoutRow, 9> kRows{{
    {Version(5, 5), Version(2017, 1), Fields(0)},
    {Version(2017, 1), Version(2017, 3), Fields(k2017_1)},
    {Version(2017, 3), Version(2018, 2), Fields(k2017_3)},
    {Version(2018, 2), Version(2019, 3), Fields(k2018_2)},
    {Version(2019, 3), Version(2020, 1), Fields(k2019_3)},
    {Version(2020, 1), Version(2020, 2), Fields(k2020_1)},
    {Version(2020, 2), Version(2022, 2), Fields(k2020_2)},
    {Version(2022, 2), Version(2023, 2), Fields(k2022_2)},
    // Unity 6 (6000.x) keeps the 2023.2 layout.
    {Version(2023, 2), Version(1000000), Fields(k2023_2)},
}};

} // namespace

std::span<const TextureLayoutRow> TextureLayoutRows() {
    return kRows;
}

const TextureLayoutRow* TextureLayoutFor(const EngineVersion& version) {
    return RowForVersion(kRows, version);
}

} // namespace kestrel

namespace kestrel {

const TextureLayoutRow* TextureLayoutOfFile(int32_t serializedFormat,
                                            std::string_view engineVersion) {
    if (serializedFormat < 16) return nullptr;
    const TextureLayoutRow* row = TextureLayoutFor(ParseEngineVersion(engineVersion));
    if (row == nullptr) {
        throw KestrelError("No texture layout is known for engine version \"" +
                           std::string(engineVersion) + "\"");
    }
    return row;
}

} // namespace kestrel

namespace kestrel {
namespace {

// The field kind a named field of the texture plays, for int-sized fields.
std::optional<TexField> RoleOf(const TreeField& field) {
    static constexpr std::pair<std::string_view, TexField> kRoles[] = {
        {"m_Width", TexField::Width},
        {"m_Height", TexField::Height},
        {"m_CompleteImageSize", TexField::CompleteImageSize},
        {"m_TextureFormat", TexField::Format},
        {"m_MipCount", TexField::MipCount},
        {"m_MipMap", TexField::MipFlag},
        {"m_ImageCount", TexField::ImageCount},
    };
    for (const auto& [name, role] : kRoles) {
        if (field.name == name) {
            const unsigned width = role == TexField::MipFlag ? 1 : 4;
            return IsPrimitive(field.kind) && field.width == width ? std::optional(role)
                                                                   : std::nullopt;
        }
    }
    return std::nullopt;
}

// The texture's fields as field kinds, over the tree the type-tree walker compiled.
class TreeWalk {
public:
    // Adds a field (and its own fields); false when no kind expresses it.
    bool Field(const TreeField& f, bool topLevel) {
        bool ok = true;
        if (topLevel && RoleOf(f)) {
            ok = Add(*RoleOf(f));
        } else if (topLevel && f.kind == FieldKind::TypelessData) {
            ok = Add(TexField::ImageData);
        } else if (topLevel && f.type == "StreamingInfo") {
            const bool wide = std::any_of(f.fields.begin(), f.fields.end(), [](const TreeField* c) {
                return c->name == "offset" && c->width == 8;
            });
            ok = Add(wide ? TexField::StreamData64 : TexField::StreamData32);
        } else if (f.kind == FieldKind::String) {
            ok = Add(TexField::String);
        } else if (f.kind == FieldKind::Array) {
            // A vector of single bytes, aligned after it (the platform blob).
            ok = f.PackedArray() && f.element->width == 1 && f.alignAfter &&
                 Add(TexField::ByteArray);
        } else if (IsPrimitive(f.kind)) {
            ok = Primitive(f.width);
        } else if (f.kind == FieldKind::Struct) {
            for (const TreeField* child : f.fields)
                ok = ok && Field(*child, false);
        } else {
            ok = false;
        }
        if (ok && f.alignAfter && !EndsAligned()) ok = Add(TexField::Align);
        return ok;
    }

    TexFieldList list;

private:
    bool Primitive(unsigned width) {
        switch (width) {
        case 1:
            return Add(TexField::Bool);
        case 2:
            return Add(TexField::Bool) && Add(TexField::Bool);
        case 4:
            return Add(TexField::Int32);
        default:
            return Add(TexField::Int32) && Add(TexField::Int32);
        }
    }

    // The last field read leaves the position on a multiple of 4 by itself.
    bool EndsAligned() const {
        if (list.count == 0) return false;
        const TexField last = list.fields[list.count - 1];
        return last == TexField::Align || last == TexField::String || last == TexField::ByteArray ||
               last == TexField::ImageData || last == TexField::StreamData32 ||
               last == TexField::StreamData64;
    }

    bool Add(TexField f) {
        if (list.count == list.fields.size()) return false;
        list.Add(f);
        return true;
    }
};

} // namespace

std::optional<TexFieldList> TextureFieldsFromTree(std::span<const TypeTreeNode> nodes) {
    if (nodes.size() < 2 || nodes[1].name != "m_Name" || nodes[1].type != "string")
        return std::nullopt;
    std::optional<TypeTree> tree;
    try {
        tree.emplace(nodes);
    } catch (const KestrelError&) {
        return std::nullopt;
    }
    TreeWalk walk;
    const auto has = [&walk](TexField f) {
        const auto fields = walk.list.View();
        return std::find(fields.begin(), fields.end(), f) != fields.end();
    };
    // The fields up to the stream data; a Cubemap's own fields after it are carried as they are.
    const auto& fields = tree->Root().fields;
    for (size_t i = 1; i < fields.size(); ++i) {
        if (!walk.Field(*fields[i], true)) return std::nullopt;
        if (has(TexField::StreamData32) || has(TexField::StreamData64)) break;
    }
    // A tree without every field the converters read is not one they can read by.
    for (const TexField role : {TexField::Width, TexField::Height, TexField::CompleteImageSize,
                                TexField::Format, TexField::ImageCount, TexField::ImageData}) {
        if (!has(role)) return std::nullopt;
    }
    // The engines before 3.5 store a has-mipmaps flag and keep every pixel in the object.
    if (has(TexField::MipFlag))
        return has(TexField::MipCount) ? std::nullopt : std::optional(walk.list);
    if (!has(TexField::MipCount)) return std::nullopt;
    if (!has(TexField::StreamData32) && !has(TexField::StreamData64)) return std::nullopt;
    return walk.list;
}

std::optional<TextureLayoutRow> TextureLayoutOfObject(const AssetsFile& file, size_t index) {
    const ObjectRow& row = file.items.rows.at(index);
    if (file.header.formatVersion < 16) {
        // Formats 5 to 8 keep the trees of their textures (file.types); the others are probed.
        if (file.metadataStart == 0 || row.typeIndex >= file.types.size()) return std::nullopt;
        auto fields = TextureFieldsFromTree(file.types[row.typeIndex].tree.nodes);
        return fields ? std::optional(TextureLayoutRow{{}, {}, *fields}) : std::nullopt;
    }
    if (row.typeIndex < file.types.size()) {
        const auto& tree = file.types[row.typeIndex].tree;
        if (auto fields = TextureFieldsFromTree(tree.nodes))
            return TextureLayoutRow{{}, {}, *fields};
    }
    return *TextureLayoutOfFile(file.header.formatVersion, file.header.engineVersion);
}

} // namespace kestrel
