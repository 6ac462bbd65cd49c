#pragma once
// What the window shows of one object beside the list: a texture as a picture, a text asset as
// text, a few facts of fonts, meshes and sounds, any object with a type tree as its fields, and
// else its bytes page by page. Reads only; safe to use on another thread than the one that parsed
// the inner file, as long as the inner file and the archive stay as they are meanwhile.
#include "assets/FileTypeTrees.h"
#include "assets/ObjectFields.h"
#include "session/Archive.h"
#include "session/RunOptions.h"
#include "texture/TexturePicture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

enum class PreviewKind { Picture, Text, Facts, Fields, Bytes };

// The object's text: the first bytes of a TextAsset's text and how many it has.
struct PreviewText {
    std::string text;
    uint64_t totalBytes = 0;
};

// Label and value lines: "Vertices" "1,204".
using PreviewFacts = std::vector<std::pair<std::string, std::string>>;

// An object's fields read by its tree, with what the tree refers to.
struct PreviewFields {
    FieldValue root;
    std::string typeName; // the tree's root type
};

class ObjectPreview {
public:
    ObjectPreview(const Archive& archive, const ParsedInnerFile& inner, const RunOptions& options);

    // How object `index` is shown: by its class, and by its type tree when it has one.
    PreviewKind KindOf(size_t index);
    // The object's bytes as stored (name field included).
    uint64_t ObjectSize(size_t index) const;

    TexturePictureFacts TextureFacts(size_t index) const;
    // Level `level` of image `face` of a texture (see DecodeTexturePicture).
    std::optional<TexturePicture> Picture(size_t index, uint32_t face, uint32_t level,
                                          const std::function<bool()>& stop) const;
    // At most `limit` bytes of a TextAsset's text.
    PreviewText Text(size_t index, uint64_t limit) const;
    // Name and size of a font, vertex, triangle and submesh counts of a mesh, format, channels,
    // frequency and length of a sound: those its fields or bytes give.
    PreviewFacts Facts(size_t index);
    // The object read by its type tree; nullopt when it has none.
    std::optional<PreviewFields> Fields(size_t index);
    // Up to `count` of the object's bytes from `offset` (fewer at its end).
    std::vector<uint8_t> Page(size_t index, uint64_t offset, size_t count) const;

private:
    const TypeTree* TreeOf(size_t index);
    // A resource entry of the open bundle, read in place, that a stored path names.
    std::optional<Reader> ResourceEntry(const std::string& storedPath) const;
    ConverterInput InputOf(size_t index, const ConverterContext& context) const;

    const Archive& archive_;
    const ParsedInnerFile& inner_;
    const RunOptions& options_;
    std::optional<FileTypeTrees> trees_; // read on first need
};

// A field's value as one line: numbers in decimal, strings quoted (long ones cut), arrays and
// structs by their element or field count.
std::string FieldValueText(const FieldValue& value);

// The children a field shows when expanded: the items of a struct or array, or for a packed
// array its elements from `first` on (at most `count` of them) as values of the element field.
std::vector<FieldValue> FieldChildren(const FieldValue& value, size_t first, size_t count);
size_t FieldChildCount(const FieldValue& value);

} // namespace kestrel
