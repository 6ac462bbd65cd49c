#pragma once
#include "assets/AssetsTypes.h"
#include "io/ByteOrder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Writes plain serialized assets files (formats 5 to 9, 14, 15 and 16 to 22, either byte order)
// for tests.
//
//   AssetsSpec plan;                       // format 15, little-endian, no type trees
//   plan.objects.push_back({28, "hero", TextureBody({.width = 4, .height = 4, .format = 12})});
//   plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});    // a GameObject: no name field
//   std::vector<uint8_t> file = BuildAssetsFile(plan);
//
// Layout written: the 20-byte header (sizes, format and data offset big-endian; the endianness
// byte), engine version, platform, the type metadata (one record per distinct class, in order of
// first use), the object count, the object table (path IDs 1, 2, ... in table order), a few
// trailing metadata fields, and the data area starting on a multiple of 16, where every object
// starts on a multiple of 8. Every value after the first 20 bytes is in the file's byte order.
// Formats 5 to 8 put the objects first (from byte 16, data offset 0) and the metadata, from the
// endianness byte on, at the end (format 5 pads no names); dataOffset is then 0 and the offsets are
// from the file start.
namespace kestrel::test {

struct AssetsObject {
    int32_t classId = 0;             // negative: a script instance (written with class 114)
    std::optional<std::string> name; // absent: no name field at all (GameObject-like objects)
    std::vector<uint8_t> body;       // the bytes after the name field
};

struct AssetsSpec {
    int32_t formatVersion = 15; // 5 to 9, 14, 15, or 16 to 22 (see BuildModernAssets)
    bool bigEndian = false;
    // Formats 5 to 9: old-style type tree nodes per class (else a type count of 0). Formats 14, 15:
    // type tree flag 1 and new-style type trees per class, so that the object table has to be
    // searched for (else flag 0 and the 16/32-byte records).
    bool typeTrees = false;
    std::string engineVersion = "5.4.1f1";
    uint32_t targetPlatform = 5;
    std::vector<AssetsObject> objects;
    // Formats 16 to 22 with typeTrees: the tree a class (as the plan names it) is written with,
    // in place of the builder's own small one. Its nodes' names and types go to the file's own
    // string buffer.
    std::vector<std::pair<int32_t, std::vector<TypeTreeNode>>> trees;
    // Formats 16 to 22: a byte of every type hash, so that two files can differ in layout.
    uint8_t typeHashSalt = 0;

    [[nodiscard]] Endian Order() const { return bigEndian ? Endian::Big : Endian::Little; }
};

// The file and where its parts landed.
struct BuiltAssets {
    std::vector<uint8_t> bytes;
    uint64_t objectCountPos = 0;         // position of the object count
    uint64_t tableStart = 0;             // first object-table entry
    uint32_t dataOffset = 0;             // start of the data area
    std::vector<uint32_t> objectOffsets; // per object, relative to dataOffset
    std::vector<uint32_t> objectSizes;   // per object: name field + body
};

BuiltAssets BuildAssets(const AssetsSpec& plan);

// Formats 16 to 22 (BuildAssets calls it): one type per distinct class of the plan, with a type
// tree when plan.typeTrees (whose first field is the name string when the class's first object
// has a name), the table with 64-bit path IDs 1, 2, ..., one script type per script class, one
// external reference; `objects` are the objects' bytes (name field included).
BuiltAssets BuildModernAssets(const AssetsSpec& plan, std::vector<std::vector<uint8_t>> objects);
std::vector<uint8_t> BuildAssetsFile(const AssetsSpec& plan);

// Body of a TextAsset or Shader: the text length, the text, zero bytes up to a multiple of 4
// (none when not `padded`, as format 5 stores it).
std::vector<uint8_t> TextBody(std::string_view text, Endian order = Endian::Little,
                              bool padded = true);

// Body of a Font: eight zero words, the value 0.1 (float), the font data length, the data, zero
// bytes up to a multiple of 4, then four zero words.
std::vector<uint8_t> FontBody(const std::vector<uint8_t>& fontData, Endian order = Endian::Little);

// Body of a Texture2D or Cubemap in one of the three serialized layouts: 1 (mip flag byte),
// 2 (mip count), 3 (mip count, pixels in the resource file `streamPath`).
struct TextureSpec {
    int32_t width = 4;
    int32_t height = 4;
    int32_t format = 5;
    uint32_t mipCount = 1; // layout 1 writes it as the has-mipmaps flag byte
    int32_t imageCount = 1;
    int layout = 2;
    std::vector<uint8_t> imageData;  // all images; layout 3: the stream size is its size
    uint32_t flagBytes = 0x00000100; // layout 1 writes the low 3 bytes
    std::vector<int32_t> carriedFields = {2, 1, 1, 0, 0, 0, 1}; // the seven fields after imageCount
    std::string streamPath;                                     // layout 3
    uint32_t streamOffset = 0;                                  // layout 3
};
std::vector<uint8_t> TextureBody(const TextureSpec& texture, Endian order = Endian::Little);

} // namespace kestrel::test
