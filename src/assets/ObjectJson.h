#pragma once
#include "assets/ObjectFields.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Any object with a type tree as JSON text, and back. The JSON object lists the root's fields in
// the tree's order:
//   integers        exact, all 64 bits; bool as true/false (another stored byte as its number)
//   float, double   the shortest text that reads back to the same bits; "NaN", "Infinity",
//                   "-Infinity" as strings, and a NaN with another bit pattern as
//                   "NaN:0x7fc00001" (16 hex digits for a double)
//   string          the stored UTF-8; bytes that are no UTF-8 as {"$bytes": "BASE64"}
//   TypelessData and arrays of UInt8    base64 strings
//   arrays          JSON arrays; a map is an array of {"first": ..., "second": ...}
//   PPtr<...>       {"m_FileID": N, "m_PathID": N}
//   managed references registry    {"version": N, "RefIds": [{"rid", "type", "data"}, ...]};
//                   the version 1 form lists its objects (terminator included) under the tree's
//                   name of its object field; "data" is null for a null reference
namespace kestrel {

// The fields of a read object as JSON text (2-space indent, ending in a newline).
std::string FieldsToJson(const FieldValue& root);

// Reads the object in `object` (a window holding exactly the object) by its tree and gives its
// JSON text. Raises a KestrelError as ReadObjectFields does.
std::string ObjectToJson(const TypeTree& tree, Reader object, const FieldContext& context = {});

// The fields a JSON text gives for a tree. A value that does not fit the tree (a missing or
// unknown field, a string where a number belongs, a number out of the field's range, bad base64)
// raises a KestrelError naming the field's JSON path, as "m_Entries[3].m_Localized".
FieldValue JsonToFields(const TypeTree& tree, std::string_view json,
                        const FieldContext& context = {});

// The object's bytes in `order` from its JSON text, with the padding the tree asks for; the object
// may be longer or shorter than the one the text was made from.
std::vector<uint8_t> JsonToObject(const TypeTree& tree, std::string_view json, Endian order,
                                  const FieldContext& context = {});

} // namespace kestrel
