#include "app/Options.h"

#include "assets/ClassId.h"
#include "texture/TextureImport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

namespace kestrel {
namespace {

constexpr unsigned kNone = 0;
constexpr unsigned kRawTextures = kOutRawTextures;
constexpr unsigned kDDS = kOutDds;
constexpr unsigned kCRN = kOutCrn;
constexpr unsigned kKTX = kOutKtx;
constexpr unsigned kPVR = kOutPvr;
constexpr unsigned kRawMesh = kOutRawMesh;
constexpr unsigned kOBJ = kOutObj;
constexpr unsigned kRawAudio = kOutRawAudio;
constexpr unsigned kConvert = kOutConvert;
constexpr unsigned kPNG = kOutPng;

struct TypeNameRow {
    std::string_view key;
    std::string_view typeId;
    unsigned switches;
};

// Words of the -t list, looked up in this order; a word that matches no key stays as typed.
constexpr auto kTypeNames = std::to_array<TypeNameRow>({
    {"mat", "21", kNone},           {"tex", "28", kRawTextures},    {"dds", "28", kDDS | kConvert},
    {"crn", "28", kCRN | kConvert}, {"ktx", "28", kKTX | kConvert}, {"pvr", "28", kPVR | kConvert},
    {"png", "28", kPNG | kConvert}, {"mesh", "43", kRawMesh},       {"obj", "43", kOBJ | kConvert},
    {"shader", "48", kNone},        {"txt", "49", kNone},           {"xml", "49", kNone},
    {"physmat2d", "62", kNone},     {"ani", "74", kNone},           {"snd", "83", kRawAudio},
    {"ogg", "83", kConvert},        {"wav", "83", kConvert},        {"aif", "83", kConvert},
    {"fsb", "83", kConvert},        {"mp3", "83", kConvert},        {"rtex", "84", kNone},
    {"cbm", "89", kRawTextures},    {"avatar", "90", kNone},        {"amtc", "91", kNone},
    {"cgp", "109", kNone},          {"114", "114", kNone},          {"script", "115", kNone},
    {"flr", "121", kNone},          {"ttf", "128", kNone},          {"otf", "128", kNone},
    {"fnt", "128", kNone},          {"physmat", "134", kNone},      {"ogm", "152", kNone},
    {"ter", "156", kNone},          {"sbam", "184", kNone},         {"pmat", "185", kNone},
    {"ptex", "186", kRawTextures},  {"tes", "194", kNone},          {"sprite", "213", kNone},
    {"amc", "241", kNone},          {"amgc", "243", kNone},         {"amsc", "245", kNone},
});

const TypeNameRow* FindTypeName(std::string_view word) {
    for (const auto& row : kTypeNames) {
        if (row.key == word) return &row;
    }
    return nullptr;
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

std::string ReadOptions(RunOptions& options, const std::vector<std::string>& params,
                        bool& missingValue) {
    // Options are recognised from the third parameter on.
    missingValue = false;
    for (size_t i = 2; i < params.size(); ++i) {
        const std::string word = ToLowerAscii(params[i]);
        const bool hasValue = i + 1 < params.size();
        if ((word == "-t" || word == "-p" || word == "-e" || word == "--png-format" ||
             word == "--png-level" || word == "--types" || word == "-j") &&
            !hasValue) {
            missingValue = true;
            return word;
        }
        if (word == "-t" && hasValue) {
            options.typeFilter = SplitList(ToLowerAscii(params[i + 1]));
            options.typeFilterActive = true;
            ++i;
        } else if (word == "-p" && hasValue) {
            options.outputDir = params[i + 1];
            if (options.outputDir.empty() || options.outputDir.back() != '/') {
                options.outputDir.push_back('/');
            }
            ++i;
        } else if (word == "-e" && hasValue) {
            options.entry = ParseEntrySelector(params[i + 1]);
            ++i;
        } else if (word == "--png-format" && hasValue) {
            // A name no uncompressed encoded format has counts as no value: the help lines
            // that follow list the names.
            const std::optional<int32_t> format = PictureStorageFormat(params[i + 1]);
            if (!format) {
                missingValue = true;
                return word;
            }
            options.pngFormat = *format;
            ++i;
        } else if (word == "--png-level" && hasValue) {
            // zlib's levels 0 to 9; anything else counts as no value.
            const std::string& text = params[i + 1];
            if (text.size() != 1 || text[0] < '0' || text[0] > '9') {
                missingValue = true;
                return word;
            }
            options.pngLevel = text[0] - '0';
            ++i;
        } else if (word == "--types" && hasValue) {
            options.typeSources.push_back(params[i + 1]);
            ++i;
        } else if (word == "-j" && hasValue) {
            // A count of workers: 1 to 1024; anything else counts as no value.
            unsigned jobs = 0;
            const std::string& text = params[i + 1];
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), jobs);
            if (ec != std::errc() || end != text.data() + text.size() || jobs == 0 || jobs > 1024) {
                missingValue = true;
                return word;
            }
            options.jobs = jobs;
            ++i;
        } else if (word == "--keep-catalog") {
            options.keepCatalog = true;
        } else if (word == "-v") {
            options.verbose = true;
        } else if (word == "-f") {
            options.fontAsObject = true;
        } else if (word == "-no_flip_texture") {
            options.noFlipTexture = true;
        } else {
            return params[i];
        }
    }
    return {};
}

void ApplyTypeNames(RunOptions& options) {
    // "json" names no class: it adds the JSON files to whatever else is exported, and alone
    // exports every object raw with its JSON.
    const auto json = std::remove(options.typeFilter.begin(), options.typeFilter.end(), "json");
    if (json != options.typeFilter.end()) {
        options.typeFilter.erase(json, options.typeFilter.end());
        options.outputs = static_cast<uint16_t>(options.outputs | kOutJson);
        if (options.typeFilter.empty()) {
            options.typeFilterActive = false;
            options.outputs = static_cast<uint16_t>(options.outputs | kOutRawOnly);
            return;
        }
    }
    // Entries appended for "dds" are not looked up again: the walk covers the original entries.
    const size_t original = options.typeFilter.size();
    for (size_t i = 0; i < original; ++i) {
        const TypeNameRow* row = FindTypeName(options.typeFilter[i]);
        if (row == nullptr) continue;
        options.typeFilter[i] = std::string(row->typeId);
        options.outputs = static_cast<uint16_t>(options.outputs | row->switches);
        if (row->key == "dds" || row->key == "png")
            options.typeFilter.push_back(std::to_string(ClassId::kCubemap));
        if (row->key == "dds")
            options.typeFilter.push_back(std::to_string(ClassId::kProceduralTexture));
    }
}

} // namespace kestrel
