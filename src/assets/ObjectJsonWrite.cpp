// Object fields to JSON text. The text is written directly (no document in between): field order
// is the tree's, and numbers go through std::to_chars, so the output does not depend on the
// locale and floats come out in their shortest exact form.
#include "assets/ObjectJson.h"

#include "common/Base64.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kestrel {

namespace {

constexpr uint32_t kQuietNan32 = 0x7FC00000u;
constexpr uint64_t kQuietNan64 = 0x7FF8000000000000ull;

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<uint8_t>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (extra >= s.size() - i) return false; // cut off at the end
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<uint8_t>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

int64_t SignExtend(uint64_t bits, unsigned width) {
    const unsigned shift = 64 - 8 * width;
    return static_cast<int64_t>(bits << shift) >> shift;
}

class JsonText {
public:
    std::string Take() {
        out_.push_back('\n');
        return std::move(out_);
    }

    void Value(const FieldValue& v) {
        const TreeField& f = *v.field;
        switch (f.kind) {
        case FieldKind::String:
            if (IsUtf8(v.bytes)) {
                Quoted(v.bytes);
            } else {
                out_ += "{\"$bytes\": ";
                Quoted(Base64Encode(v.bytes));
                out_ += '}';
            }
            break;
        case FieldKind::TypelessData:
            Quoted(Base64Encode(v.bytes));
            break;
        case FieldKind::Array:
            if (f.PackedArray()) {
                PackedArray(v);
            } else {
                List(v.items);
            }
            break;
        case FieldKind::Struct:
        case FieldKind::Registry:
            Object(v);
            break;
        case FieldKind::RefData:
            if (v.items.empty()) {
                out_ += "null";
            } else {
                Object(v.items.front());
            }
            break;
        default:
            Primitive(f.kind, v.bits);
        }
    }

private:
    void Newline() {
        out_.push_back('\n');
        out_.append(2 * depth_, ' ');
    }

    void Object(const FieldValue& v) {
        if (v.items.empty()) {
            out_ += "{}";
            return;
        }
        out_.push_back('{');
        ++depth_;
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i > 0) out_.push_back(',');
            Newline();
            Quoted(v.items[i].field->name);
            out_ += ": ";
            if (v.items[i].run) {
                List(v.items[i].items);
            } else {
                Value(v.items[i]);
            }
        }
        --depth_;
        Newline();
        out_.push_back('}');
    }

    void List(const std::vector<FieldValue>& items) {
        if (items.empty()) {
            out_ += "[]";
            return;
        }
        out_.push_back('[');
        ++depth_;
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out_.push_back(',');
            Newline();
            Value(items[i]);
        }
        --depth_;
        Newline();
        out_.push_back(']');
    }

    // Byte arrays as base64; other primitive elements on one line.
    void PackedArray(const FieldValue& v) {
        const TreeField& element = *v.field->element;
        if (element.kind == FieldKind::UInt8) {
            Quoted(Base64Encode(v.bytes));
            return;
        }
        out_.push_back('[');
        for (size_t at = 0; at + element.width <= v.bytes.size(); at += element.width) {
            if (at > 0) out_ += ", ";
            uint64_t bits = 0;
            for (unsigned k = element.width; k-- > 0;)
                bits = (bits << 8) | static_cast<uint8_t>(v.bytes[at + k]);
            Primitive(element.kind, bits);
        }
        out_.push_back(']');
    }

    void Primitive(FieldKind kind, uint64_t bits) {
        switch (kind) {
        case FieldKind::Bool:
            if (bits <= 1) {
                out_ += bits != 0 ? "true" : "false";
                return;
            }
            return Number(bits);
        case FieldKind::SInt8:
            return Number(SignExtend(bits, 1));
        case FieldKind::SInt16:
            return Number(SignExtend(bits, 2));
        case FieldKind::SInt32:
            return Number(SignExtend(bits, 4));
        case FieldKind::SInt64:
            return Number(static_cast<int64_t>(bits));
        case FieldKind::Float:
            return Float(std::bit_cast<float>(static_cast<uint32_t>(bits)), bits);
        case FieldKind::Double:
            return Float(std::bit_cast<double>(bits), bits);
        default:
            return Number(bits);
        }
    }

    template <typename T> void Number(T value) {
        char buf[32];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
        out_.append(buf, end);
    }

    template <typename T> void Float(T value, uint64_t bits) {
        constexpr bool kDouble = sizeof(T) == 8;
        if (std::isnan(value)) {
            if (bits == (kDouble ? kQuietNan64 : kQuietNan32)) {
                out_ += "\"NaN\"";
                return;
            }
            char hex[17];
            const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, bits, 16);
            const size_t digits = kDouble ? 16 : 8;
            out_ += "\"NaN:0x";
            out_.append(digits - static_cast<size_t>(end - hex), '0');
            out_.append(hex, end);
            out_ += '"';
            return;
        }
        if (std::isinf(value)) {
            out_ += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
            return;
        }
        char buf[48];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
        out_.append(buf, end);
        // "1" would read back as an integer and "-0" as zero; a fraction keeps them floats.
        if (std::memchr(buf, '.', static_cast<size_t>(end - buf)) == nullptr &&
            std::memchr(buf, 'e', static_cast<size_t>(end - buf)) == nullptr)
            out_ += ".0";
    }

    void Quoted(std::string_view s) {
        static constexpr char kHex[] = "0123456789abcdef";
        out_.push_back('"');
        for (const char ch : s) {
            const auto c = static_cast<uint8_t>(ch);
            if (c == '"' || c == '\\') {
                out_.push_back('\\');
                out_.push_back(ch);
            } else if (c == '\n') {
                out_ += "\\n";
            } else if (c == '\t') {
                out_ += "\\t";
            } else if (c == '\r') {
                out_ += "\\r";
            } else if (c < 0x20) {
                out_ += "\\u00";
                out_.push_back(kHex[c >> 4]);
                out_.push_back(kHex[c & 0xF]);
            } else {
                out_.push_back(ch);
            }
        }
        out_.push_back('"');
    }

    std::string out_;
    size_t depth_ = 0;
};

} // namespace

std::string FieldsToJson(const FieldValue& root) {
    JsonText text;
    text.Value(root);
    return text.Take();
}

std::string ObjectToJson(const TypeTree& tree, Reader object, const FieldContext& context) {
    return FieldsToJson(ReadObjectFields(tree, object, context));
}

} // namespace kestrel
