// Reads and writes an object field by field from its type tree: primitives in the file's byte
// order, counted strings, byte blobs and arrays, the padding to 4 bytes that the 0x4000 flag asks
// for after a field, and the managed references registry, whose objects' data is laid out by the
// file's reference types.
#include "assets/ObjectFields.h"

#include "common/Error.h"

#include <algorithm>

namespace kestrel {

namespace {

// Nested referenced data could otherwise recurse as deep as the bytes allow.
constexpr uint32_t kMaxDepth = 1024;

const FieldValue* Item(const FieldValue& value, std::string_view name) {
    for (const FieldValue& item : value.items) {
        if (item.field->name == name) return &item;
    }
    return nullptr;
}

std::string_view ItemText(const FieldValue* value, std::string_view name) {
    const FieldValue* item = value == nullptr ? nullptr : Item(*value, name);
    return item == nullptr ? std::string_view{} : std::string_view(item->bytes);
}

// Swaps each element of a packed array between little-endian and the other order.
void SwapElements(std::string& bytes, unsigned width) {
    if (width < 2) return;
    for (size_t at = 0; at + width <= bytes.size(); at += width)
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + width));
}

class FieldReader {
public:
    FieldReader(Reader& r, const FieldContext& context) : r_(r), context_(context) {}

    FieldValue Read(const TreeField& f, const FieldValue* parent) {
        if (++depth_ > kMaxDepth) r_.Fail(r_.Pos(), f.name.data(), "fields nested too deep");
        FieldValue v;
        v.field = &f;
        switch (f.kind) {
        case FieldKind::String:
        case FieldKind::TypelessData:
            v.bytes.resize(r_.Count(1, f.name.data()));
            r_.Bytes(v.bytes.data(), v.bytes.size(), f.name.data());
            break;
        case FieldKind::Array:
            ReadArray(f, v);
            break;
        case FieldKind::Struct:
            v.items.reserve(f.fields.size());
            for (const TreeField* child : f.fields)
                v.items.push_back(Read(*child, &v));
            break;
        case FieldKind::Registry:
            ReadRegistry(f, v);
            break;
        case FieldKind::RefData:
            ReadReferencedData(f, parent, v);
            break;
        default:
            v.bits = ReadPrimitive(f.width, f.name.data());
        }
        if (f.alignAfter) r_.AlignFromBegin(4, f.name.data());
        --depth_;
        return v;
    }

private:
    uint64_t ReadPrimitive(unsigned width, const char* name) {
        switch (width) {
        case 1:
            return r_.U8(name);
        case 2:
            return r_.U16(name);
        case 4:
            return r_.U32(name);
        default:
            return r_.U64(name);
        }
    }

    void ReadArray(const TreeField& f, FieldValue& v) {
        const TreeField& element = *f.element;
        // Elements of no size are still counted as one byte, so a count cannot run away.
        const uint32_t count = r_.Count(std::max<uint32_t>(element.minSize, 1), f.name.data());
        if (f.PackedArray()) {
            v.bits = count;
            v.bytes.resize(size_t{count} * element.width);
            r_.Bytes(v.bytes.data(), v.bytes.size(), f.name.data());
            if (r_.Order() == Endian::Big) SwapElements(v.bytes, element.width);
            return;
        }
        v.items.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            v.items.push_back(Read(element, nullptr));
    }

    // Version 2 is a plain structure (the version, then a vector of objects with their IDs);
    // version 1 follows the version with objects up to the terminator's fake class.
    void ReadRegistry(const TreeField& f, FieldValue& v) {
        v.items.push_back(Read(*f.fields[0], &v));
        const bool runForm =
            v.items[0].bits == 1 && f.fields.size() == 2 && f.fields[1]->kind == FieldKind::Struct;
        if (!runForm) {
            for (size_t i = 1; i < f.fields.size(); ++i)
                v.items.push_back(Read(*f.fields[i], &v));
            return;
        }
        FieldValue objects;
        objects.field = f.fields[1];
        objects.run = true;
        // Each object takes at least its three type names' lengths, so the run ends with the data.
        do {
            objects.items.push_back(Read(*f.fields[1], nullptr));
        } while (!IsRegistryTerminator(objects.items.back()));
        v.items.push_back(std::move(objects));
    }

    void ReadReferencedData(const TreeField& f, const FieldValue* parent, FieldValue& v) {
        if (parent == nullptr)
            r_.Fail(r_.Pos(), f.name.data(), "referenced data outside an object");
        if (IsRegistryTerminator(*parent)) return; // the end mark carries no data
        const ReferenceType* type = nullptr;
        try {
            type = FindReferenceType(*parent, context_.referenceTypes);
        } catch (const KestrelError& e) {
            r_.Fail(r_.Pos(), f.name.data(), e.what());
        }
        if (type != nullptr) v.items.push_back(Read(type->tree.Root(), nullptr));
    }

    Reader& r_;
    const FieldContext& context_;
    uint32_t depth_ = 0;
};

void WritePrimitive(Writer& w, unsigned width, uint64_t bits) {
    switch (width) {
    case 1:
        w.U8(static_cast<uint8_t>(bits));
        break;
    case 2:
        w.U16(static_cast<uint16_t>(bits));
        break;
    case 4:
        w.U32(static_cast<uint32_t>(bits));
        break;
    default:
        w.U64(bits);
    }
}

void WriteCounted(Writer& w, const std::string& bytes) {
    w.U32(static_cast<uint32_t>(bytes.size()));
    w.Bytes(bytes);
}

void WriteField(const FieldValue& v, Writer& w, size_t base) {
    const TreeField& f = *v.field;
    switch (f.kind) {
    case FieldKind::String:
    case FieldKind::TypelessData:
        WriteCounted(w, v.bytes);
        break;
    case FieldKind::Array:
        if (f.PackedArray()) {
            w.U32(static_cast<uint32_t>(v.bits));
            if (w.Order() == Endian::Big && f.element->width > 1) {
                std::string swapped = v.bytes;
                SwapElements(swapped, f.element->width);
                w.Bytes(swapped);
            } else {
                w.Bytes(v.bytes);
            }
        } else {
            w.U32(static_cast<uint32_t>(v.items.size()));
            for (const FieldValue& item : v.items)
                WriteField(item, w, base);
        }
        break;
    case FieldKind::Struct:
    case FieldKind::Registry:
    case FieldKind::RefData:
        for (const FieldValue& item : v.items) {
            if (item.run) {
                for (const FieldValue& object : item.items)
                    WriteField(object, w, base);
            } else {
                WriteField(item, w, base);
            }
        }
        break;
    default:
        WritePrimitive(w, f.width, v.bits);
    }
    if (f.alignAfter) w.Align4(base);
}

} // namespace

FieldValue ReadObjectFields(const TypeTree& tree, Reader& object, const FieldContext& context) {
    FieldValue root = FieldReader(object, context).Read(tree.Root(), nullptr);
    if (object.Remaining() != 0) {
        object.Fail(object.Pos(), tree.Root().type.data(),
                    std::to_string(object.Remaining()) +
                        " bytes follow the last field of the type tree");
    }
    return root;
}

void WriteObjectFields(const FieldValue& root, Writer& out) {
    WriteField(root, out, out.Size());
}

const ReferenceType* FindReferenceType(const FieldValue& referencedObject,
                                       std::span<const ReferenceType> referenceTypes) {
    const FieldValue* type = Item(referencedObject, "type");
    const std::string_view className = ItemText(type, "class");
    if (className.empty()) return nullptr;
    const std::string_view nameSpace = ItemText(type, "ns");
    const std::string_view assembly = ItemText(type, "asm");
    for (const ReferenceType& candidate : referenceTypes) {
        if (candidate.className == className && candidate.nameSpace == nameSpace &&
            candidate.assembly == assembly)
            return &candidate;
    }
    throw KestrelError("no reference type of the file is " + std::string(nameSpace) + "." +
                       std::string(className) + " (" + std::string(assembly) + ")");
}

bool IsRegistryTerminator(const FieldValue& referencedObject) {
    const FieldValue* type = Item(referencedObject, "type");
    return ItemText(type, "class") == "Terminus" && ItemText(type, "ns") == "UnityEngine.DMAT" &&
           ItemText(type, "asm") == "FAKE_ASM";
}

} // namespace kestrel
