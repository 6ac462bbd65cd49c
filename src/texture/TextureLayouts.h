#pragma once
#include "assets/AssetsTypes.h"
#include "common/EngineVersion.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

// One field of a texture object of 5.5 and later, in stored order after the name. Fields the
// converters read or rewrite have their own kinds; every other field is carried as it is.
enum class TexField : uint8_t {
    Int32,     // 4 carried bytes
    Bool,      // 1 carried byte
    Align,     // padding to the next multiple of 4 from the object start
    String,    // 32-bit length, the bytes, padding to 4
    ByteArray, // 32-bit count, the bytes, padding to 4
    Width,
    Height,
    CompleteImageSize,
    Format,
    MipCount,
    MipFlag, // the has-mipmaps flag of the engines before 3.5 (1 byte) instead of a mip count
    ImageCount,
    ImageData,    // 32-bit size, the pixels, padding to 4
    StreamData32, // 32-bit offset, 32-bit size, the resource path as a String
    StreamData64, // the same with a 64-bit offset
};

// The fields of one layout; a fixed-capacity list so that rows stay constexpr data.
struct TexFieldList {
    std::array<TexField, 40> fields{};
    uint32_t count = 0;

    constexpr void Add(TexField f) { fields[count++] = f; }
    constexpr std::span<const TexField> View() const { return {fields.data(), count}; }
};

// The Texture2D (and Cubemap, whose own fields follow) layout of the engine releases in
// [from, until).
struct TextureLayoutRow {
    EngineVersion from;
    EngineVersion until;
    TexFieldList fields;
};

std::span<const TextureLayoutRow> TextureLayoutRows();

// The row of an engine version, or nullptr for releases before 5.5.
const TextureLayoutRow* TextureLayoutFor(const EngineVersion& version);

// The fields a Texture2D or Cubemap type tree lists after the name, up to and including the
// stream data (a Cubemap's own fields after it are carried as they are); nullopt when the tree
// holds a field these kinds cannot express (then the version's row is used). Trees of the
// engines before 3.5 (a has-mipmaps flag, no stream data) end with the image data.
std::optional<TexFieldList> TextureFieldsFromTree(std::span<const TypeTreeNode> tree);

// The layout object `index` of an assets file is read by: for serialized formats 5 to 8 the
// fields of its type tree when it has one they express; nullopt for the other formats up to 15
// (their layout is probed); from format 16, the fields of its type tree when the file has one
// that they express, else the row of the file's engine version. Raises a KestrelError naming the
// version when it has neither.
std::optional<TextureLayoutRow> TextureLayoutOfObject(const AssetsFile& file, size_t index);

// The row the textures of an assets file are read by: nullptr for serialized formats up to 15
// (their layout is probed); from format 16, the row of the file's engine version. Raises a
// KestrelError naming the version when it has none.
const TextureLayoutRow* TextureLayoutOfFile(int32_t serializedFormat,
                                            std::string_view engineVersion);

} // namespace kestrel
