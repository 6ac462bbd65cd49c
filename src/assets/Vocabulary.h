#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Build target text of an assets header ("" for unknown numbers).
std::string PlatformName(uint32_t number);

// Class name of a type ID; "UNKNOW_TYPE" when unlisted, "MonoBehaviour id: 114" for 0 and
// negative IDs (script instances).
std::string ClassName(int32_t typeId);

// Class name in files of serialized format 16 and later: the classes of the current engines
// first (renamed ones included), then ClassName.
std::string ModernClassName(int32_t typeId);

// True for the classes whose serialized form begins with their name (m_Name), as files without
// type trees leave to the reader to know.
bool BeginsWithName(int32_t classId);

// "id: " + number + " - " + name ("UNKNOW_FORMAT" outside 1..61). `modern`: the names of the
// engines from 5.5 (serialized format 16 and later), where 22 to 27 are RGB9e5Float, BC6H, BC7,
// BC4 and BC5 instead of the Wii formats, and 62 to 82 are named too.
std::string TextureFormatName(int32_t format, bool modern = false);

// The bare format name ("DXT5", "UNKNOW_FORMAT").
std::string TextureFormatShortName(int32_t format, bool modern = false);

// The files a texture format can be converted to, as the format table numbers them.
enum TextureOutput : uint8_t {
    kAnyOutput = 0,
    kDdsOutput = 1,
    kCrnOutput = 2,
    kKtxOutput = 3,
    kPvrOutput = 4
};

// Export extension of a class (".tex" for 28, ...), or "" when the class has none.
std::string ExtensionForClass(int32_t classId);

} // namespace kestrel
