// JSON text to object fields, guided by the type tree: every field the tree lists must be there
// with a value of its kind and range; the first that is not raises an error naming its JSON path.
#include "assets/ObjectJson.h"

#include "common/Base64.h"
#include "common/Error.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <variant>

namespace kestrel {

namespace {

using Json = nlohmann::json;

struct IntRange {
    int64_t low;
    uint64_t high;
};

IntRange RangeOf(FieldKind kind) {
    switch (kind) {
    case FieldKind::Bool:
        return {0, 255};
    case FieldKind::Char:
        return {-128, 255};
    case FieldKind::SInt8:
        return {-128, 127};
    case FieldKind::UInt8:
        return {0, 255};
    case FieldKind::SInt16:
        return {-32768, 32767};
    case FieldKind::UInt16:
        return {0, 65535};
    case FieldKind::SInt32:
        return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    case FieldKind::UInt32:
        return {0, std::numeric_limits<uint32_t>::max()};
    case FieldKind::SInt64:
        return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    default:
        return {0, std::numeric_limits<uint64_t>::max()};
    }
}

uint64_t WidthMask(unsigned width) {
    return width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
}

// The float nearest to a double read from the shortest text of a float. When the double lies
// exactly between two floats (the text was that close to the midpoint), the float whose own
// shortest text reads as the same double is the one that was written.
float NearestFloat(double d) {
    const auto f = static_cast<float>(d);
    if (static_cast<double>(f) == d || !std::isfinite(f)) return f;
    const float other = std::nextafter(f, d > f ? std::numeric_limits<float>::infinity()
                                                : -std::numeric_limits<float>::infinity());
    if (std::fabs(static_cast<double>(other) - d) != std::fabs(static_cast<double>(f) - d))
        return f;
    char buf[48];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf - 1, f);
    *end = '\0';
    return std::strtod(buf, nullptr) == d ? f : other;
}

class JsonFields {
public:
    explicit JsonFields(const FieldContext& context) : context_(context) {}

    FieldValue Build(const TreeField& f, const Json& j, const FieldValue* parent) {
        FieldValue v;
        v.field = &f;
        switch (f.kind) {
        case FieldKind::String:
            v.bytes = Text(j);
            break;
        case FieldKind::TypelessData:
            v.bytes = Bytes(j);
            break;
        case FieldKind::Array:
            BuildArray(f, j, v);
            break;
        case FieldKind::Struct:
        case FieldKind::Registry:
            BuildStruct(f, j, v);
            break;
        case FieldKind::RefData:
            BuildReferencedData(j, parent, v);
            break;
        default:
            v.bits = PrimitiveBits(f.kind, f.width, j);
        }
        return v;
    }

private:
    using PathPart = std::variant<const std::string_view*, size_t>;

    [[noreturn]] void Fail(const std::string& what) const {
        std::string path;
        for (const PathPart& part : path_) {
            if (const auto* name = std::get_if<const std::string_view*>(&part)) {
                if (!path.empty()) path.push_back('.');
                path += **name;
            } else {
                path += "[" + std::to_string(std::get<size_t>(part)) + "]";
            }
        }
        throw KestrelError("JSON field " + (path.empty() ? std::string("(root)") : path) + ": " +
                           what);
    }

    static std::string KindOf(const Json& j) { return j.type_name(); }

    void BuildStruct(const TreeField& f, const Json& j, FieldValue& v) {
        if (!j.is_object()) Fail("an object was expected, not " + KindOf(j));
        for (const auto& [key, value] : j.items()) {
            bool known = false;
            for (const TreeField* child : f.fields)
                known = known || child->name == key;
            if (!known) Fail("unknown field \"" + key + "\"");
        }
        const bool runForm = f.kind == FieldKind::Registry && f.fields.size() == 2 &&
                             f.fields[1]->kind == FieldKind::Struct;
        v.items.reserve(f.fields.size());
        for (const TreeField* child : f.fields) {
            const auto it = j.find(child->name);
            path_.emplace_back(&child->name);
            if (it == j.end()) Fail("missing");
            if (runForm && child == f.fields[1] && v.items[0].bits == 1) {
                v.items.push_back(BuildRun(*child, *it));
            } else {
                v.items.push_back(Build(*child, *it, &v));
            }
            path_.pop_back();
        }
    }

    // The objects of a version 1 registry, ending with the terminator.
    FieldValue BuildRun(const TreeField& object, const Json& j) {
        if (!j.is_array() || j.empty()) Fail("an array of referenced objects was expected");
        FieldValue run;
        run.field = &object;
        run.run = true;
        for (size_t i = 0; i < j.size(); ++i) {
            path_.emplace_back(i);
            run.items.push_back(Build(object, j[i], nullptr));
            if (IsRegistryTerminator(run.items.back()) != (i + 1 == j.size()))
                Fail("the terminator must come last, and only there");
            path_.pop_back();
        }
        return run;
    }

    void BuildReferencedData(const Json& j, const FieldValue* parent, FieldValue& v) {
        const ReferenceType* type = nullptr;
        if (parent != nullptr && !IsRegistryTerminator(*parent)) {
            try {
                type = FindReferenceType(*parent, context_.referenceTypes);
            } catch (const KestrelError& e) {
                Fail(e.what());
            }
        }
        if (type == nullptr) {
            if (!j.is_null()) Fail("null was expected: the reference has no type");
            return;
        }
        v.items.push_back(Build(type->tree.Root(), j, nullptr));
    }

    void BuildArray(const TreeField& f, const Json& j, FieldValue& v) {
        const TreeField& element = *f.element;
        if (f.PackedArray() && element.kind == FieldKind::UInt8 && j.is_string()) {
            v.bytes = Bytes(j);
            v.bits = v.bytes.size();
            return;
        }
        if (!j.is_array()) Fail("an array was expected, not " + KindOf(j));
        if (j.size() > std::numeric_limits<uint32_t>::max()) Fail("too many elements");
        if (f.PackedArray()) {
            v.bits = j.size();
            v.bytes.reserve(j.size() * element.width);
            for (size_t i = 0; i < j.size(); ++i) {
                path_.emplace_back(i);
                const uint64_t bits = PrimitiveBits(element.kind, element.width, j[i]);
                for (unsigned k = 0; k < element.width; ++k)
                    v.bytes.push_back(static_cast<char>(bits >> (8 * k)));
                path_.pop_back();
            }
            return;
        }
        v.items.reserve(j.size());
        for (size_t i = 0; i < j.size(); ++i) {
            path_.emplace_back(i);
            v.items.push_back(Build(element, j[i], nullptr));
            path_.pop_back();
        }
    }

    std::string Text(const Json& j) const {
        if (j.is_string()) return j.get<std::string>();
        if (j.is_object() && j.size() == 1 && j.contains("$bytes")) {
            const auto bytes = Base64Decode(TextOf(j["$bytes"]));
            if (!bytes) Fail("\"$bytes\" is not base64");
            return *bytes;
        }
        Fail("a string was expected, not " + KindOf(j));
    }

    std::string Bytes(const Json& j) const {
        const auto bytes = Base64Decode(TextOf(j));
        if (!bytes) Fail("not base64");
        if (bytes->size() > std::numeric_limits<uint32_t>::max()) Fail("too many bytes");
        return *bytes;
    }

    std::string_view TextOf(const Json& j) const {
        if (!j.is_string()) Fail("a base64 string was expected, not " + KindOf(j));
        return j.get_ref<const std::string&>();
    }

    uint64_t PrimitiveBits(FieldKind kind, unsigned width, const Json& j) const {
        if (kind == FieldKind::Float || kind == FieldKind::Double)
            return FloatBits(kind == FieldKind::Double, j);
        if (j.is_boolean() && kind == FieldKind::Bool) return j.get<bool>() ? 1 : 0;
        if (!j.is_number_integer()) Fail("an integer was expected, not " + KindOf(j));
        const IntRange range = RangeOf(kind);
        if (j.is_number_unsigned()) {
            const auto value = j.get<uint64_t>();
            if (value > range.high) Fail(j.dump() + " is out of range for " + Name(kind));
            return value;
        }
        const auto value = j.get<int64_t>();
        if (value < range.low || (value > 0 && static_cast<uint64_t>(value) > range.high))
            Fail(j.dump() + " is out of range for " + Name(kind));
        return static_cast<uint64_t>(value) & WidthMask(width);
    }

    uint64_t FloatBits(bool isDouble, const Json& j) const {
        if (j.is_string()) return SpecialFloatBits(isDouble, j.get_ref<const std::string&>());
        if (!j.is_number()) Fail("a number was expected, not " + KindOf(j));
        const auto d = j.get<double>();
        if (isDouble) return std::bit_cast<uint64_t>(d);
        const float f = j.is_number_float() ? NearestFloat(d) : static_cast<float>(d);
        if (std::isinf(f)) Fail(j.dump() + " is out of range for float");
        return std::bit_cast<uint32_t>(f);
    }

    uint64_t SpecialFloatBits(bool isDouble, const std::string& s) const {
        const uint64_t infinity = isDouble ? 0x7FF0000000000000ull : 0x7F800000u;
        const uint64_t sign = isDouble ? 0x8000000000000000ull : 0x80000000u;
        if (s == "Infinity") return infinity;
        if (s == "-Infinity") return infinity | sign;
        if (s == "NaN") return isDouble ? 0x7FF8000000000000ull : 0x7FC00000u;
        const size_t digits = isDouble ? 16 : 8;
        uint64_t bits = 0;
        if (s.size() == 6 + digits && s.starts_with("NaN:0x")) {
            const auto [end, ec] = std::from_chars(s.data() + 6, s.data() + s.size(), bits, 16);
            const uint64_t payload = bits & ~(infinity | sign);
            if (ec == std::errc() && end == s.data() + s.size() && (bits & infinity) == infinity &&
                payload != 0)
                return bits;
        }
        Fail("\"" + s + "\" is no number");
    }

    static std::string Name(FieldKind kind) {
        static constexpr const char* kNames[] = {"bool",   "char",   "SInt8",  "UInt8",  "SInt16",
                                                 "UInt16", "SInt32", "UInt32", "SInt64", "UInt64"};
        return kNames[static_cast<size_t>(kind)];
    }

    const FieldContext& context_;
    std::vector<PathPart> path_;
};

} // namespace

FieldValue JsonToFields(const TypeTree& tree, std::string_view json, const FieldContext& context) {
    Json document;
    try {
        document = Json::parse(json.begin(), json.end());
    } catch (const Json::exception& e) {
        throw KestrelError(std::string("Not a JSON text: ") + e.what());
    }
    return JsonFields(context).Build(tree.Root(), document, nullptr);
}

std::vector<uint8_t> JsonToObject(const TypeTree& tree, std::string_view json, Endian order,
                                  const FieldContext& context) {
    const FieldValue root = JsonToFields(tree, json, context);
    Writer out(order);
    WriteObjectFields(root, out);
    return out.Take();
}

} // namespace kestrel
