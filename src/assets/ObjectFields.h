#pragma once
#include "assets/TypeTree.h"
#include "io/Reader.h"
#include "io/Writer.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// The value of one field of an object read by its type tree. What it holds depends on the
// field's kind:
//   primitive      `bits`: the stored bits, zero-extended
//   String         `bytes`: the stored bytes
//   TypelessData   `bytes`
//   Array          packed (primitive elements): `bits` the count, `bytes` the elements, each in
//                  little-endian order; else `items`, one per element
//   Struct         `items`, one per field of the tree, in its order
//   Registry       `items`, one per field; in the version 1 form the second item is a run of
//                  referenced objects (`run`), the last of which is the terminator
//   RefData        no item when the referenced type is empty, else one: the data's root struct,
//                  whose fields come from the reference type's tree
struct FieldValue {
    const TreeField* field = nullptr;
    uint64_t bits = 0;
    std::string bytes;
    std::vector<FieldValue> items;
    bool run = false;
};

// What fields outside the object's own tree are read by: the file's reference types.
struct FieldContext {
    std::span<const ReferenceType> referenceTypes;
};

// Reads the object in `object` (a window holding exactly the object, whose start alignment is
// counted from) by its tree, in the reader's byte order. Counts are checked against the bytes left
// before anything is sized from them. Raises a KestrelError naming the offset and field on short
// or inconsistent data, and when bytes are left after the last field.
FieldValue ReadObjectFields(const TypeTree& tree, Reader& object, const FieldContext& context = {});

// Appends the object's bytes to `out` in its byte order; alignment counts from where the object
// starts in `out`.
void WriteObjectFields(const FieldValue& root, Writer& out);

// The reference type a referenced object's "type" field names; nullptr when its class is empty
// (a null reference, which has no data). Raises when no reference type of the file matches.
const ReferenceType* FindReferenceType(const FieldValue& referencedObject,
                                       std::span<const ReferenceType> referenceTypes);

// The version 1 registry ends with an object of this fake class.
bool IsRegistryTerminator(const FieldValue& referencedObject);

} // namespace kestrel
