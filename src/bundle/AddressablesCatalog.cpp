#include "bundle/AddressablesCatalog.h"

#include "common/Base64.h"
#include "common/Error.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {
namespace {

constexpr size_t kEntryInts = 7;
constexpr size_t kInternalIdField = 0;
constexpr size_t kExtraDataField = 4;
constexpr uint8_t kJsonObject = 7;

// A JSON string value located in the catalog text: its bytes as they stand between the quotes.
struct TextSpan {
    size_t begin = 0, end = 0;
};

class CatalogText {
public:
    CatalogText(const std::string& text, const std::string& shownName)
        : text_(text), shown_(shownName) {}

    [[noreturn]] void Fail(const std::string& what, size_t at) const {
        throw KestrelError(shown_ + ": offset " + std::to_string(at) + ": " + what);
    }

    // Where the value of top-level key `key` starts (after the colon and blanks), if present.
    std::optional<size_t> ValueOf(std::string_view key) const {
        const std::string quoted = "\"" + std::string(key) + "\"";
        for (size_t at = text_.find(quoted); at != std::string::npos;
             at = text_.find(quoted, at + 1)) {
            size_t p = SkipBlanks(at + quoted.size());
            if (p < text_.size() && text_[p] == ':') return SkipBlanks(p + 1);
        }
        return std::nullopt;
    }

    size_t SkipBlanks(size_t p) const {
        while (p < text_.size() &&
               (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\n' || text_[p] == '\r'))
            ++p;
        return p;
    }

    // The string starting at `p` (a quote): its span, and the decoded text in `out`.
    TextSpan ReadString(size_t p, std::string& out) const {
        if (p >= text_.size() || text_[p] != '"') Fail("a text value was expected", p);
        out.clear();
        const size_t begin = ++p;
        while (p < text_.size() && text_[p] != '"') {
            char c = text_[p++];
            if (c == '\\') {
                if (p >= text_.size()) break;
                c = text_[p++];
                switch (c) {
                case 'n':
                    c = '\n';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 'b':
                    c = '\b';
                    break;
                case 'f':
                    c = '\f';
                    break;
                case 'u': {
                    if (p + 4 > text_.size()) Fail("a cut \\u escape", p);
                    const unsigned code = std::stoul(text_.substr(p, 4), nullptr, 16);
                    p += 4;
                    // Ids are paths; anything past ASCII is kept as UTF-8.
                    if (code < 0x80) {
                        c = static_cast<char>(code);
                    } else if (code < 0x800) {
                        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                        c = static_cast<char>(0x80 | (code & 0x3F));
                    } else {
                        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                        c = static_cast<char>(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default:
                    break; // '"', '\\', '/'
                }
            }
            out.push_back(c);
        }
        if (p >= text_.size()) Fail("a text value runs to the end of the file", begin);
        return {begin, p};
    }

    // The strings of the array starting at `p`.
    std::vector<std::string> ReadStringArray(size_t p) const {
        std::vector<std::string> out;
        if (p >= text_.size() || text_[p] != '[') Fail("a list was expected", p);
        p = SkipBlanks(p + 1);
        if (p < text_.size() && text_[p] == ']') return out;
        for (;;) {
            std::string value;
            p = SkipBlanks(ReadString(p, value).end + 1);
            out.push_back(std::move(value));
            if (p < text_.size() && text_[p] == ',') {
                p = SkipBlanks(p + 1);
                continue;
            }
            if (p < text_.size() && text_[p] == ']') return out;
            Fail("a list is not closed", p);
        }
    }

private:
    const std::string& text_;
    const std::string& shown_;
};

int32_t Int32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

// The id with "N#" expanded and any "{...}" placeholder and leading separators cut, with "/"
// separators; `placed` tells whether a placeholder (the runtime path: the catalog's folder) led
// it.
std::string PathOfId(const std::string& id, const std::vector<std::string>& prefixes,
                     bool& placed) {
    std::string path = id;
    if (const size_t hash = path.find('#'); hash != std::string::npos && hash > 0 && hash <= 9 &&
                                            path.find_first_not_of("0123456789") == hash) {
        const size_t index = std::stoul(path.substr(0, hash));
        if (index < prefixes.size()) path = prefixes[index] + path.substr(hash + 1);
    }
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    const size_t brace = path.rfind('}');
    placed = brace != std::string::npos;
    if (placed) path.erase(0, brace + 1);
    const size_t start = path.find_first_not_of('/');
    return start == std::string::npos ? std::string() : path.substr(start);
}

// After the runtime path the id is the bundle's path below the catalog's folder; a full path
// (from the editor's build folder, or a file URL) ends with it.
bool NamesBundle(const std::string& idPath, bool placed, const std::vector<std::string>& bundles) {
    for (const std::string& b : bundles) {
        if (idPath == b) return true;
        if (!placed && idPath.size() > b.size() && idPath.ends_with(b) &&
            idPath[idPath.size() - b.size() - 1] == '/')
            return true;
    }
    return false;
}

// Clears the CRC of the request options at `offset` of the extra data; false when they hold a
// CRC of 0 already or are not a bundle's request options.
bool ClearCrcAt(std::string& extra, size_t offset, const CatalogText& catalog, size_t fieldAt) {
    const auto need = [&](size_t end) {
        if (end > extra.size())
            catalog.Fail("extra data at " + std::to_string(offset) + " runs past its end", fieldAt);
    };
    need(offset + 1);
    if (static_cast<uint8_t>(extra[offset]) != kJsonObject) return false;
    size_t p = offset + 1;
    std::string names[2];
    for (std::string& name : names) {
        need(p + 1);
        const size_t length = static_cast<uint8_t>(extra[p]);
        need(p + 1 + length);
        name = extra.substr(p + 1, length);
        p += 1 + length;
    }
    if (!names[1].ends_with("AssetBundleRequestOptions")) return false;
    need(p + 4);
    const int32_t bytes = Int32At(extra, p);
    p += 4;
    if (bytes < 0 || bytes % 2 != 0) catalog.Fail("request options of a bad length", fieldAt);
    need(p + static_cast<size_t>(bytes));
    // The JSON text in UTF-16LE: the key is looked for as such, the digits are ASCII.
    std::string key16;
    for (char c : std::string_view("\"m_Crc\"")) {
        key16.push_back(c);
        key16.push_back('\0');
    }
    const std::string_view json(extra.data() + p, static_cast<size_t>(bytes));
    size_t at = json.find(key16);
    while (at != std::string_view::npos && at % 2 != 0)
        at = json.find(key16, at + 1);
    if (at == std::string_view::npos) return false;
    const auto charAt = [&](size_t i) -> char {
        return i + 1 < json.size() && json[i + 1] == '\0' ? json[i] : '\x7f';
    };
    size_t i = at + key16.size();
    while (charAt(i) == ' ')
        i += 2;
    if (charAt(i) != ':') return false;
    i += 2;
    while (charAt(i) == ' ')
        i += 2;
    const size_t digits = i;
    bool nonZero = false;
    while (charAt(i) >= '0' && charAt(i) <= '9') {
        nonZero = nonZero || charAt(i) != '0';
        i += 2;
    }
    if (!nonZero) return false;
    // "0" and blanks in place of the digits: the same length, a value of 0.
    for (size_t d = digits; d < i; d += 2)
        extra[p + d] = d == digits ? '0' : ' ';
    return true;
}

} // namespace

CatalogCrcEdit ClearBundleCrcs(const std::string& catalogText,
                               const std::vector<std::string>& bundles,
                               const std::string& shownName) {
    CatalogCrcEdit edit;
    edit.text = catalogText;
    const CatalogText catalog(catalogText, shownName);
    const auto value = [&](std::string_view key) {
        const std::optional<size_t> at = catalog.ValueOf(key);
        if (!at) catalog.Fail("no " + std::string(key) + " (not an Addressables 1.x catalog)", 0);
        return *at;
    };
    const std::vector<std::string> ids = catalog.ReadStringArray(value("m_InternalIds"));
    std::vector<std::string> prefixes;
    if (const std::optional<size_t> at = catalog.ValueOf("m_InternalIdPrefixes"))
        prefixes = catalog.ReadStringArray(*at);

    std::string text;
    const size_t entriesAt = value("m_EntryDataString");
    catalog.ReadString(entriesAt, text);
    const std::optional<std::string> entries = Base64Decode(text);
    if (!entries) catalog.Fail("m_EntryDataString is not base64", entriesAt);
    const size_t extraAt = value("m_ExtraDataString");
    const TextSpan extraSpan = catalog.ReadString(extraAt, text);
    if (text.size() != extraSpan.end - extraSpan.begin)
        catalog.Fail("m_ExtraDataString holds escapes", extraAt);
    std::optional<std::string> extra = Base64Decode(text);
    if (!extra) catalog.Fail("m_ExtraDataString is not base64", extraAt);

    if (entries->size() < 4) catalog.Fail("m_EntryDataString is cut", entriesAt);
    const int32_t count = Int32At(*entries, 0);
    if (count < 0 || (entries->size() - 4) / (kEntryInts * 4) < static_cast<size_t>(count))
        catalog.Fail("m_EntryDataString is cut", entriesAt);
    for (size_t e = 0; e < static_cast<size_t>(count); ++e) {
        const size_t row = 4 + e * kEntryInts * 4;
        const int32_t id = Int32At(*entries, row + kInternalIdField * 4);
        const int32_t data = Int32At(*entries, row + kExtraDataField * 4);
        if (data < 0) continue;
        if (id < 0 || static_cast<size_t>(id) >= ids.size())
            catalog.Fail("location " + std::to_string(e) + " names internal id " +
                             std::to_string(id) + " of " + std::to_string(ids.size()),
                         entriesAt);
        bool placed = false;
        const std::string path = PathOfId(ids[static_cast<size_t>(id)], prefixes, placed);
        if (!NamesBundle(path, placed, bundles)) continue;
        if (ClearCrcAt(*extra, static_cast<size_t>(data), catalog, extraAt))
            edit.cleared.push_back(ids[static_cast<size_t>(id)]);
    }
    if (!edit.cleared.empty()) {
        const std::string encoded = Base64Encode(*extra);
        // Same length in, same length out: only the characters around each CRC change.
        edit.text.replace(extraSpan.begin, extraSpan.end - extraSpan.begin, encoded);
    }
    return edit;
}

} // namespace kestrel
