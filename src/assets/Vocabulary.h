#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Build target text of an assets header ("" for unknown numbers).
std::string PlatformName(uint32_t number);

// Class name of a type ID; "UNKNOW_TYPE" when unlisted, "MonoBehaviour id: 114" for 0 and
// negative IDs (script instances).
std::string ClassName(int32_t typeId);

// "id: " + number + " - " + name ("UNKNOW_FORMAT" outside 1..61).
std::string TextureFormatName(int32_t format);

// The bare format name ("DXT5", "UNKNOW_FORMAT").
std::string TextureFormatShortName(int32_t format);

// Output kinds: 0 any converter, 1 DDS, 2 CRN, 3 KTX, 4 PVR.
bool TextureFormatSupports(int32_t format, uint8_t kind);

// Export extension of a class (".tex" for 28, ...), or "" when the class has none.
std::string ExtensionForClass(int32_t classId);

} // namespace kestrel
