#include "texture/TextureLayouts.h"

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

constexpr uint32_t kAlignedAfter = 0x4000;

// The field kind a named field of the texture plays, for int-sized fields.
std::optional<TexField> RoleOf(const TypeTreeNode& node) {
    static constexpr std::pair<std::string_view, TexField> kRoles[] = {
        {"m_Width", TexField::Width},
        {"m_Height", TexField::Height},
        {"m_CompleteImageSize", TexField::CompleteImageSize},
        {"m_TextureFormat", TexField::Format},
        {"m_MipCount", TexField::MipCount},
        {"m_ImageCount", TexField::ImageCount},
    };
    for (const auto& [name, role] : kRoles) {
        if (node.name == name) return node.byteSize == 4 ? std::optional(role) : std::nullopt;
    }
    return std::nullopt;
}

// One past the last node of the subtree at `i`.
size_t SubtreeEnd(std::span<const TypeTreeNode> tree, size_t i) {
    size_t j = i + 1;
    while (j < tree.size() && tree[j].level > tree[i].level)
        ++j;
    return j;
}

class TreeWalk {
public:
    explicit TreeWalk(std::span<const TypeTreeNode> tree) : tree_(tree) {}

    // Adds the field at `i` (and its subtree); false when no kind expresses it.
    bool Field(size_t i, size_t end) {
        const TypeTreeNode& node = tree_[i];
        bool ok = true;
        if (node.level == 1 && RoleOf(node)) {
            ok = Add(*RoleOf(node));
        } else if (node.level == 1 && node.type == "TypelessData") {
            ok = Add(TexField::ImageData);
        } else if (node.level == 1 && node.type == "StreamingInfo") {
            bool wide = false;
            for (size_t k = i + 1; k < end; ++k)
                wide = wide || (tree_[k].name == "offset" && tree_[k].byteSize == 8);
            ok = Add(wide ? TexField::StreamData64 : TexField::StreamData32);
        } else if (node.type == "string") {
            ok = Add(TexField::String);
        } else if (end > i + 1 && tree_[i + 1].type == "Array") {
            // A vector of single bytes, aligned after it (the platform blob).
            const bool bytes = end == i + 4 && tree_[i + 3].byteSize == 1;
            const bool aligned = ((node.metaFlag | tree_[i + 1].metaFlag) & kAlignedAfter) != 0;
            ok = bytes && aligned && Add(TexField::ByteArray);
        } else if (end == i + 1) {
            switch (node.byteSize) {
            case 1:
                ok = Add(TexField::Bool);
                break;
            case 2:
                ok = Add(TexField::Bool) && Add(TexField::Bool);
                break;
            case 4:
                ok = Add(TexField::Int32);
                break;
            case 8:
                ok = Add(TexField::Int32) && Add(TexField::Int32);
                break;
            default:
                ok = false;
            }
        } else {
            // A structure: its fields in order.
            for (size_t k = i + 1; ok && k < end; k = SubtreeEnd(tree_, k))
                ok = Field(k, SubtreeEnd(tree_, k));
        }
        if (ok && (node.metaFlag & kAlignedAfter) != 0 && !EndsAligned()) ok = Add(TexField::Align);
        return ok;
    }

    TexFieldList list;

private:
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

    std::span<const TypeTreeNode> tree_;
};

} // namespace

std::optional<TexFieldList> TextureFieldsFromTree(std::span<const TypeTreeNode> tree) {
    if (tree.size() < 2 || tree[1].name != "m_Name" || tree[1].type != "string")
        return std::nullopt;
    TreeWalk walk(tree);
    const auto has = [&walk](TexField f) {
        const auto fields = walk.list.View();
        return std::find(fields.begin(), fields.end(), f) != fields.end();
    };
    // The fields up to the stream data; a Cubemap's own fields after it are carried as they are.
    for (size_t i = SubtreeEnd(tree, 1); i < tree.size(); i = SubtreeEnd(tree, i)) {
        if (tree[i].level != 1 || !walk.Field(i, SubtreeEnd(tree, i))) return std::nullopt;
        if (has(TexField::StreamData32) || has(TexField::StreamData64)) break;
    }
    // A tree without every field the converters read is not one they can read by.
    for (const TexField role :
         {TexField::Width, TexField::Height, TexField::CompleteImageSize, TexField::Format,
          TexField::MipCount, TexField::ImageCount, TexField::ImageData}) {
        if (!has(role)) return std::nullopt;
    }
    if (!has(TexField::StreamData32) && !has(TexField::StreamData64)) return std::nullopt;
    return walk.list;
}

std::optional<TextureLayoutRow> TextureLayoutOfObject(const AssetsFile& file, size_t index) {
    if (file.header.formatVersion < 16) return std::nullopt;
    const ObjectRow& row = file.items.rows.at(index);
    if (row.typeIndex < file.types.size()) {
        const auto& tree = file.types[row.typeIndex].tree;
        if (auto fields = TextureFieldsFromTree(tree)) return TextureLayoutRow{{}, {}, *fields};
    }
    return *TextureLayoutOfFile(file.header.formatVersion, file.header.engineVersion);
}

} // namespace kestrel
