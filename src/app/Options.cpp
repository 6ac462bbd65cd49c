#include "app/Options.h"

#include "assets/ClassId.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

enum SwitchBits : unsigned {
    kNone = 0,
    kRawTextures = 1u << 0,
    kDDS = 1u << 1,
    kCRN = 1u << 2,
    kKTX = 1u << 3,
    kPVR = 1u << 4,
    kRawMesh = 1u << 5,
    kOBJ = 1u << 6,
    kRawAudio = 1u << 7,
    kConvert = 1u << 8,
};

struct TypeNameRow {
    std::string_view key;
    std::string_view typeId;
    unsigned switches;
};

// Words of the -t list, looked up in this order; a word that matches no key stays as typed.
constexpr auto kTypeNames = std::to_array<TypeNameRow>({
    {"mat", "21", kNone},           {"tex", "28", kRawTextures},    {"dds", "28", kDDS | kConvert},
    {"crn", "28", kCRN | kConvert}, {"ktx", "28", kKTX | kConvert}, {"pvr", "28", kPVR | kConvert},
    {"mesh", "43", kRawMesh},       {"obj", "43", kOBJ | kConvert}, {"shader", "48", kNone},
    {"txt", "49", kNone},           {"xml", "49", kNone},           {"physmat2d", "62", kNone},
    {"ani", "74", kNone},           {"snd", "83", kRawAudio},       {"ogg", "83", kConvert},
    {"wav", "83", kConvert},        {"aif", "83", kConvert},        {"fsb", "83", kConvert},
    {"mp3", "83", kConvert},        {"rtex", "84", kNone},          {"cbm", "89", kRawTextures},
    {"avatar", "90", kNone},        {"amtc", "91", kNone},          {"cgp", "109", kNone},
    {"114", "114", kNone},          {"script", "115", kNone},       {"flr", "121", kNone},
    {"ttf", "128", kNone},          {"otf", "128", kNone},          {"fnt", "128", kNone},
    {"physmat", "134", kNone},      {"ogm", "152", kNone},          {"ter", "156", kNone},
    {"sbam", "184", kNone},         {"pmat", "185", kNone},         {"ptex", "186", kRawTextures},
    {"tes", "194", kNone},          {"sprite", "213", kNone},       {"amc", "241", kNone},
    {"amgc", "243", kNone},         {"amsc", "245", kNone},
});

const TypeNameRow* FindTypeName(std::string_view word) {
    for (const auto& row : kTypeNames) {
        if (row.key == word) return &row;
    }
    return nullptr;
}

void ApplySwitches(KestrelState& s, unsigned bits) {
    s.ExportRawTextures |= (bits & kRawTextures) != 0;
    s.ExportDDS |= (bits & kDDS) != 0;
    s.ExportCRN |= (bits & kCRN) != 0;
    s.ExportKTX |= (bits & kKTX) != 0;
    s.ExportPVR |= (bits & kPVR) != 0;
    s.ExportRawMesh |= (bits & kRawMesh) != 0;
    s.ExportOBJ |= (bits & kOBJ) != 0;
    s.ExportRawAudio |= (bits & kRawAudio) != 0;
    s.ExportConvert |= (bits & kConvert) != 0;
}

// Commas and blanks separate the entries of a -t list.
std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

EntrySelector ParseEntrySelector(const std::string& text) {
    EntrySelector sel;
    sel.given = true;
    uint32_t index = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, index);
    if (!text.empty() && ec == std::errc() && ptr == end) {
        sel.index = index;
    } else {
        sel.name = text;
    }
    return sel;
}

} // namespace

std::string ToLowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string ReadOptions(KestrelState& state, const std::vector<std::string>& params,
                        bool& missingValue) {
    // Options are recognised from the third parameter on.
    missingValue = false;
    for (size_t i = 2; i < params.size(); ++i) {
        const std::string word = ToLowerAscii(params[i]);
        const bool hasValue = i + 1 < params.size();
        if ((word == "-t" || word == "-p" || word == "-e") && !hasValue) {
            missingValue = true;
            return word;
        }
        if (word == "-t" && hasValue) {
            state.TypeFilter = SplitList(ToLowerAscii(params[i + 1]));
            state.TypeFilterActive = true;
            ++i;
        } else if (word == "-p" && hasValue) {
            state.CustomPath = params[i + 1];
            if (state.CustomPath.empty() || state.CustomPath.back() != '/') {
                state.CustomPath.push_back('/');
            }
            state.CustomPathGiven = true;
            ++i;
        } else if (word == "-e" && hasValue) {
            state.SelectedEntry = ParseEntrySelector(params[i + 1]);
            ++i;
        } else if (word == "-f") {
            state.FontAsObject = true;
        } else if (word == "-no_flip_texture") {
            state.NoFlipTexture = true;
        } else {
            return params[i];
        }
    }
    return {};
}

void ApplyTypeNames(KestrelState& state) {
    // Entries appended for "dds" are not looked up again: the walk covers the original entries.
    const size_t original = state.TypeFilter.size();
    for (size_t i = 0; i < original; ++i) {
        const TypeNameRow* row = FindTypeName(state.TypeFilter[i]);
        if (row == nullptr) continue;
        state.TypeFilter[i] = std::string(row->typeId);
        ApplySwitches(state, row->switches);
        if (row->key == "dds") {
            state.TypeFilter.push_back(std::to_string(ClassId::kCubemap));
            state.TypeFilter.push_back(std::to_string(ClassId::kProceduralTexture));
        }
    }
}

void SetExportAllSwitches(KestrelState& state) {
    ApplySwitches(state,
                  kConvert | kRawTextures | kDDS | kCRN | kPVR | kRawAudio | kRawMesh | kOBJ);
}

} // namespace kestrel
