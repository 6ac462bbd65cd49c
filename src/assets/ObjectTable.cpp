#include "assets/AssetsParser.h"

#include "assets/ClassId.h"

#include "assets/ObjectProbes.h"
#include "assets/Vocabulary.h"
#include "io/Reader.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kestrel {

namespace {

// Names longer than this are not names: the object gets a fallback name and no probe runs. Longer
// names than a file name can hold are real (paths used as names); they are read whole and cut to
// the file-name limit only where a file is made of them.
constexpr uint32_t kMaxNameLength = 64 * 1024;

std::string Decimal(int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

// At least five digits with leading zeros, as in "level0_00001.tex".
std::string FiveDigits(uint32_t value) {
    const std::string digits = Decimal(value);
    return digits.size() >= 5 ? digits : std::string(5 - digits.size(), '0') + digits;
}

// Removes the characters that cannot stand in a file name: NUL, control codes and \ / : * ? " < >
// |.
std::string CleanName(std::string_view name) {
    static constexpr std::string_view kForbidden = "\\/:*?\"<>|";
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || kForbidden.find(c) != std::string_view::npos) continue;
        out.push_back(c);
    }
    return out;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

// Object numbers keyed by their export names compared without ASCII case: an open-addressing
// table of 4-byte slots kept at most half full, so that the naming passes of a table of hundreds
// of thousands of objects hold a few bytes per object instead of a copy of every name.
class CaselessNameIndex {
public:
    CaselessNameIndex(const std::vector<std::string>& names, size_t entries) : names_(names) {
        size_t size = 16;
        while (size < 2 * entries)
            size *= 2;
        slots_.assign(size, 0);
    }

    // The position of `key`'s slot: one whose object's name equals it, or the empty one where it
    // would go. Slot(position) is 0 when empty, else 1 + the object number.
    size_t Find(std::string_view key) const {
        uint64_t hash = 14695981039346656037ull;
        for (const char c : key)
            hash = (hash ^ static_cast<unsigned char>(LowerAscii(c))) * 1099511628211ull;
        const size_t mask = slots_.size() - 1;
        for (size_t at = (hash ^ (hash >> 29)) & mask;; at = (at + 1) & mask) {
            const uint32_t slot = slots_[at];
            if (slot == 0 || EqualIgnoringAsciiCase(names_[slot - 1], key)) return at;
        }
    }
    uint32_t& Slot(size_t position) { return slots_[position]; }
    size_t Size() const { return slots_.size(); }

private:
    const std::vector<std::string>& names_;
    std::vector<uint32_t> slots_;
};

// Naming state that runs through the whole table: the per-class occurrence counts, and which
// objects take part in the duplicate count (those whose name field was read) and had a non-empty
// name.
struct TableNaming {
    std::unordered_map<int32_t, uint32_t> occurrences;
    std::vector<uint32_t> counted;
    std::vector<bool> named;
};

// Reads the name field and runs the probes of an object whose class has an extension.
void NameObject(AssetsFile& file, size_t i, const std::string& classExtension,
                const ByteSource& source, const ParseOptions& options, TableNaming& naming) {
    ObjectRow& row = file.items.rows[i];
    const bool big = file.header.BigEndianFlag == 1;
    const ObjectBytes object(source, file.DataOffset + row.ObjOffset, row.ObjSize, big);
    const std::string fallbackBase = options.innerFileName + "_" + FiveDigits(row.occurrence);
    std::string& exportName = file.items.ExportName[i];

    const auto length = object.Word(0);
    // Format 5 stores names without padding, as its type trees say.
    const bool aligned = NameAligned(file, row);
    const uint64_t nameField = length ? (aligned ? AlignUp4(*length) : *length) + 4 : 0;
    // A name whose bytes or padding would run past the object is taken as no name at all.
    const bool fits = length && *length <= kMaxNameLength && nameField <= row.ObjSize;
    std::string name(fits ? *length : 0, '\0');
    if (!fits || !object.Read(4, name.data(), name.size())) {
        exportName = fallbackBase + classExtension;
        return;
    }
    row.NameHeaderSize = static_cast<uint32_t>(nameField);

    const bool modern = file.header.formatVersion >= 16;
    ProbeResult probe =
        modern ? ProbeModernObject(row.ClassID, object, row.NameHeaderSize, classExtension,
                                   options.fontAsObject, file.header.engineVersion)
               : ProbeObject(row.ClassID, object, row.NameHeaderSize, classExtension,
                             options.fontAsObject);
    row.PayloadOffset = probe.payloadOffset;
    row.PayloadSize = probe.payloadSize;
    if (probe.textureFormat || row.ClassID == ClassId::kTexture2D ||
        row.ClassID == ClassId::kCubemap || row.ClassID == ClassId::kProceduralTexture) {
        TType_info& type = file.items.types[i];
        type.TextureFormat = probe.textureFormat.value_or(0);
        type.name = file.items.InternTypeName(
            (modern ? ModernClassName(row.ClassID) : ClassName(row.ClassID)) + " " +
            TextureFormatName(type.TextureFormat, modern));
    }

    if (*length == 0) {
        exportName = fallbackBase + probe.extension;
    } else {
        exportName = CleanName(name) + probe.extension;
    }
    // Only objects with a name field take part in the duplicate count; those without one got a
    // unique fallback name.
    naming.counted.push_back(static_cast<uint32_t>(i));
    if (*length != 0) naming.named[i] = true;
}

// Numbers each counted object with a non-empty name by the counted objects before it whose
// export name is the same without case.
void CountDuplicates(ItemTable& items, const TableNaming& naming) {
    CaselessNameIndex index(items.ExportName, naming.counted.size());
    std::vector<uint32_t> seen(index.Size(), 0);
    for (const uint32_t i : naming.counted) {
        const size_t at = index.Find(items.ExportName[i]);
        if (index.Slot(at) == 0) index.Slot(at) = i + 1;
        if (naming.named[i]) items.rows[i].duplicateNumber = seen[at];
        ++seen[at];
    }
}

void ReadRow(AssetsFile& file, size_t i, const std::vector<uint8_t>& table, const Reader& r) {
    const RowLayout& layout = file.layout;
    const Endian order = file.header.DataOrder();
    ObjectRow& row = file.items.rows[i];
    uint32_t* words = file.items.tableWords.data() + i * layout.wordCount;
    for (uint32_t w = 0; w < layout.wordCount; ++w) {
        words[w] = LoadU32(table.data() + (i * layout.wordCount + w) * 4, order);
    }
    row.ObjOffset = words[layout.objOffset];
    row.ObjSize = words[layout.objSize];
    row.ClassID = static_cast<int32_t>(words[layout.classId]);
    row.secondTypeWord = words[layout.secondType];
    row.entryPos = file.tableStart + i * 4 * uint64_t{layout.wordCount};

    const uint64_t start = file.DataOffset + row.ObjOffset;
    // Formats 5 to 8: the objects lie between the header and the metadata.
    const uint64_t dataEnd = file.metadataStart != 0 ? file.metadataStart : r.End();
    if (start > dataEnd || row.ObjSize > dataEnd - start) {
        r.Fail(start, "object data",
               "object " + Decimal(static_cast<int64_t>(i)) + " of " + Decimal(row.ObjSize) +
                   " bytes lies outside the file's object data");
    }
}

void ReportProgress(const ParseOptions& options, size_t done, size_t total, int& lastPercent) {
    if (!options.fillListRows || options.reporter == nullptr) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == lastPercent) return;
    lastPercent = percent;
    options.reporter->Progress(percent);
    options.reporter->Breathe();
}

} // namespace

// Export names decide file names, and import matches files back by them, so no two objects of
// one inner file may share one: a fallback name can equal a real one ("level0_00002.tex"), and a
// numbered duplicate can equal another object's name. A later object whose name is taken
// (compared without case, as the duplicate count does) gets the next free number.
static void MakeExportNamesUnique(ItemTable& items) {
    CaselessNameIndex taken(items.ExportName, items.ExportName.size());
    for (size_t i = 0; i < items.ExportName.size(); ++i) {
        std::string& name = items.ExportName[i];
        const auto number = static_cast<uint32_t>(i + 1);
        const size_t own = taken.Find(name);
        if (taken.Slot(own) == 0) {
            taken.Slot(own) = number;
            continue;
        }
        const size_t dot = std::min(name.rfind('.'), name.size());
        const std::string stem = name.substr(0, dot);
        const std::string extension = name.substr(dot);
        for (uint32_t n = 1;; ++n) {
            std::string candidate = stem + "_" + FiveDigits(n) + extension;
            const size_t at = taken.Find(candidate);
            if (taken.Slot(at) == 0) {
                name = std::move(candidate);
                taken.Slot(at) = number;
                break;
            }
        }
    }
}

std::string_view ItemTable::InternTypeName(std::string_view name) {
    return *typeNames_->emplace(name).first;
}

void ParseObjectTable(Reader& r, AssetsFile& file, const ParseOptions& options) {
    ItemTable& items = file.items;
    items.Clear();
    const uint64_t entryBytes = 4 * uint64_t{file.layout.wordCount};
    if (entryBytes == 0) return;
    if (file.objectCount > r.Remaining() / entryBytes) {
        r.Fail(r.Pos(), "object table",
               Decimal(file.objectCount) + " entries of " +
                   Decimal(static_cast<int64_t>(entryBytes)) + " bytes do not fit in the " +
                   Decimal(static_cast<int64_t>(r.Remaining())) + " bytes left");
    }
    const std::vector<uint8_t> table = r.Bytes(file.objectCount * entryBytes, "object table");
    const size_t count = file.objectCount;
    items.rows.resize(count);
    items.tableWords.resize(count * file.layout.wordCount);
    items.ExportName.resize(count);
    items.types.resize(count);

    for (size_t i = 0; i < count; ++i)
        ReadRow(file, i, table, r);
    if (file.metadataStart != 0) {
        // Formats 5 to 8: each object names its type record by the type ID the table holds
        // (ClassID here); none found leaves the index past the list.
        for (ObjectRow& row : items.rows) {
            row.typeIndex = static_cast<uint32_t>(file.types.size());
            for (size_t t = 0; t < file.types.size(); ++t) {
                if (file.types[t].classId == row.ClassID) {
                    row.typeIndex = static_cast<uint32_t>(t);
                    break;
                }
            }
        }
    }
    NameObjects(r, file, options);
}

void NameObjects(const Reader& r, AssetsFile& file, const ParseOptions& options) {
    ItemTable& items = file.items;
    const size_t count = items.rows.size();
    const bool modern = file.header.formatVersion >= 16;
    TableNaming naming;
    naming.named.assign(count, false);
    int lastPercent = -1;
    for (size_t i = 0; i < count; ++i) {
        ObjectRow& row = items.rows[i];
        row.occurrence = ++naming.occurrences[row.ClassID];
        items.types[i].name =
            items.InternTypeName(modern ? ModernClassName(row.ClassID) : ClassName(row.ClassID));
        const std::string extension = ExtensionForClass(row.ClassID);
        const std::string fallback = options.innerFileName + "_" + FiveDigits(row.occurrence);
        if (modern) {
            const SerializedType& type = file.types[row.typeIndex];
            const bool named =
                type.hasTypeTree ? type.treeBeginsWithName : BeginsWithName(row.ClassID);
            const std::string ownExtension =
                extension.empty() ? "." + Decimal(row.ClassID) : extension;
            if (named) {
                NameObject(file, i, ownExtension, *r.Source(), options, naming);
            } else {
                items.ExportName[i] = fallback + ownExtension;
            }
            // A Shader of these formats is exported whole after its name, even without one.
            if (row.ClassID == ClassId::kShader && row.NameHeaderSize == 0)
                row.PayloadSize = row.ObjSize;
        } else if (extension.empty()) {
            items.ExportName[i] = fallback + "." + Decimal(row.ClassID);
        } else {
            NameObject(file, i, extension, *r.Source(), options, naming);
        }
        ReportProgress(options, i + 1, count, lastPercent);
    }
    CountDuplicates(items, naming);
    naming = {};

    for (size_t i = 0; i < count; ++i) {
        const uint32_t number = items.rows[i].duplicateNumber;
        if (number == 0) continue;
        std::string& name = items.ExportName[i];
        const size_t dot = std::min(name.rfind('.'), name.size());
        name = name.substr(0, dot) + "_" + FiveDigits(number) + name.substr(dot);
    }
    MakeExportNamesUnique(items);
    if (options.fillListRows) {
        items.listRows.resize(count);
        for (size_t i = 0; i < count; ++i)
            FillListRow(file, i, i);
    }
}

void FillListRow(AssetsFile& file, size_t listIndex, size_t objectIndex) {
    const ObjectRow& row = file.items.rows.at(objectIndex);
    TColumns_ListView& list = file.items.listRows.at(listIndex);
    list.number = static_cast<uint32_t>(objectIndex + 1);
    list.name = file.items.ExportName.at(objectIndex);
    list.typeId = row.ClassID;
    list.typeText = " (" + std::string(file.items.types.at(objectIndex).name) + ")";
    const ListSpan span = ListSpanOf(file, objectIndex);
    list.size = span.size;
    list.offset = span.offset;
}

ListSpan ListSpanOf(const AssetsFile& file, size_t objectIndex) {
    const ObjectRow& row = file.items.rows.at(objectIndex);
    const uint64_t afterName = file.DataOffset + row.ObjOffset + row.NameHeaderSize;
    if (HasInnerPayload(row.ClassID, row.PayloadSize)) {
        return {row.PayloadSize, afterName + row.PayloadOffset};
    }
    return {row.ObjSize - row.NameHeaderSize, afterName};
}

bool NameAligned(const AssetsFile& file, const ObjectRow& row) {
    if (file.metadataStart != 0 && row.typeIndex < file.types.size())
        return file.types[row.typeIndex].nameAligned;
    return file.header.formatVersion != 5;
}

bool HasInnerPayload(int32_t typeId, uint32_t payloadSize) {
    switch (typeId) {
    case ClassId::kShader:
    case ClassId::kTextAsset:
        return true;
    case ClassId::kFont:
    case ClassId::kMovieTexture:
        return payloadSize != 0;
    default:
        return false;
    }
}

} // namespace kestrel
