#include "session/Preview.h"

#include "assets/AssetsParser.h"
#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "audio/SoundClip.h"
#include "audio/SoundFacts.h"
#include "common/Error.h"
#include "mesh/MeshExport.h"
#include "session/ConverterInput.h"
#include "session/JsonForms.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kestrel {
namespace {

// Strings longer than this are cut in a field's line.
constexpr size_t kShownStringBytes = 200;

bool IsTexture(int32_t classId) {
    return classId == ClassId::kTexture2D || classId == ClassId::kCubemap;
}

// 1204 as "1,204".
std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

const FieldValue* Child(const FieldValue& value, std::string_view name) {
    for (const FieldValue& item : value.items)
        if (item.field && item.field->name == name) return &item;
    return nullptr;
}

// The field at a path of names ("m_VertexData/m_VertexCount"), nullptr when one is missing.
const FieldValue* At(const FieldValue& root, std::initializer_list<std::string_view> path) {
    const FieldValue* at = &root;
    for (std::string_view name : path) {
        at = Child(*at, name);
        if (!at) return nullptr;
    }
    return at;
}

std::optional<uint64_t> Number(const FieldValue* value) {
    if (!value || !value->field || !IsPrimitive(value->field->kind)) return std::nullopt;
    return value->bits;
}

// An array's element count, whether packed or not.
std::optional<uint64_t> Count(const FieldValue* value) {
    if (!value || !value->field) return std::nullopt;
    if (value->field->kind == FieldKind::TypelessData) return value->bytes.size();
    if (value->field->kind != FieldKind::Array) return std::nullopt;
    return value->field->PackedArray() ? value->bits : value->items.size();
}

double FloatOf(const FieldValue& value) {
    if (value.field->kind == FieldKind::Double) return std::bit_cast<double>(value.bits);
    return std::bit_cast<float>(static_cast<uint32_t>(value.bits));
}

std::string Quoted(const std::string& bytes) {
    std::string shown = bytes.substr(0, kShownStringBytes);
    // Control bytes would break the line.
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    return "\"" + shown + (bytes.size() > kShownStringBytes ? "\"…" : "\"");
}

std::string PrimitiveText(const FieldValue& value) {
    const FieldKind kind = value.field->kind;
    switch (kind) {
    case FieldKind::Bool:
        return value.bits ? "true" : "false";
    case FieldKind::Float:
    case FieldKind::Double: {
        char text[40];
        std::snprintf(text, sizeof text, "%.9g", FloatOf(value));
        return text;
    }
    case FieldKind::SInt8:
    case FieldKind::SInt16:
    case FieldKind::SInt32:
    case FieldKind::SInt64: {
        const unsigned bits = value.field->width * 8u;
        int64_t v = static_cast<int64_t>(value.bits);
        if (bits < 64 && (value.bits >> (bits - 1)) & 1) v -= int64_t{1} << bits;
        return std::to_string(v);
    }
    default:
        return std::to_string(value.bits);
    }
}

} // namespace

std::string FieldValueText(const FieldValue& value) {
    if (!value.field) return {};
    switch (value.field->kind) {
    case FieldKind::String:
        return Quoted(value.bytes);
    case FieldKind::TypelessData:
        return Grouped(value.bytes.size()) + " bytes";
    case FieldKind::Array:
        return "[" + Grouped(FieldChildCount(value)) + "]";
    case FieldKind::Struct:
    case FieldKind::Registry:
    case FieldKind::RefData:
        return std::string(value.field->type);
    default:
        return PrimitiveText(value);
    }
}

size_t FieldChildCount(const FieldValue& value) {
    if (value.field && value.field->PackedArray()) return static_cast<size_t>(value.bits);
    return value.items.size();
}

std::vector<FieldValue> FieldChildren(const FieldValue& value, size_t first, size_t count) {
    std::vector<FieldValue> out;
    const size_t total = FieldChildCount(value);
    const size_t end = first + std::min(count, total > first ? total - first : 0);
    if (value.field && value.field->PackedArray()) {
        const TreeField* element = value.field->element;
        const size_t width = element->width;
        for (size_t i = first; i < end && (i + 1) * width <= value.bytes.size(); ++i) {
            FieldValue item;
            item.field = element;
            // Elements are kept little-endian.
            for (size_t b = 0; b < width; ++b)
                item.bits |= uint64_t{static_cast<uint8_t>(value.bytes[i * width + b])} << (8 * b);
            out.push_back(std::move(item));
        }
        return out;
    }
    for (size_t i = first; i < end; ++i)
        out.push_back(value.items[i]);
    return out;
}

ObjectPreview::ObjectPreview(const Archive& archive, const ParsedInnerFile& inner,
                             const RunOptions& options)
    : archive_(archive), inner_(inner), options_(options) {}

const TypeTree* ObjectPreview::TreeOf(size_t index) {
    if (inner_.IsResourceItem()) return nullptr;
    if (!trees_) {
        SilentReporter quiet;
        trees_ = TypeTreesOf(InnerScope{archive_, inner_, options_, quiet});
    }
    const TypeTree* tree = trees_->TreeOf(inner_.assets, inner_.assets.items.rows.at(index));
    return tree && !tree->Empty() ? tree : nullptr;
}

PreviewKind ObjectPreview::KindOf(size_t index) {
    const ObjectRow& row = inner_.assets.items.rows.at(index);
    if (inner_.IsResourceItem()) return PreviewKind::Bytes;
    if (IsTexture(row.ClassID)) return PreviewKind::Picture;
    if (row.ClassID == ClassId::kTextAsset && HasInnerPayload(row.ClassID, row.PayloadSize))
        return PreviewKind::Text;
    if (row.ClassID == ClassId::kFont || row.ClassID == ClassId::kMesh ||
        row.ClassID == ClassId::kAudioClip)
        return PreviewKind::Facts;
    return TreeOf(index) ? PreviewKind::Fields : PreviewKind::Bytes;
}

uint64_t ObjectPreview::ObjectSize(size_t index) const {
    return inner_.assets.items.rows.at(index).ObjSize;
}

ConverterInput ObjectPreview::InputOf(size_t index, const ConverterContext& context) const {
    SilentReporter quiet;
    const InnerScope scope{archive_, inner_, options_, quiet};
    return ConverterInput{context, scope.ObjectBody(index), scope.TreeRelative(),
                          inner_.assets.items.ExportName.at(index), index};
}

TexturePictureFacts ObjectPreview::TextureFacts(size_t index) const {
    SilentReporter quiet;
    const InnerScope scope{archive_, inner_, options_, quiet};
    const ConverterContext context = ContextOf(scope);
    return ReadTexturePictureFacts(InputOf(index, context));
}

std::optional<TexturePicture> ObjectPreview::Picture(size_t index, uint32_t face, uint32_t level,
                                                     const std::function<bool()>& stop) const {
    SilentReporter quiet;
    const InnerScope scope{archive_, inner_, options_, quiet};
    const ConverterContext context = ContextOf(scope);
    return DecodeTexturePicture(InputOf(index, context), face, level, stop,
                                [this](const std::string& path) { return ResourceEntry(path); });
}

std::optional<Reader> ObjectPreview::ResourceEntry(const std::string& storedPath) const {
    if (!archive_.IsBundle()) return std::nullopt;
    // "archive:/CAB-x/CAB-x.resS" and "CAB-x.resS" both name the entry by its last component.
    const std::string wanted = storedPath.substr(storedPath.find_last_of("/\\") + 1);
    const auto& names = archive_.InnerFileNames();
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string name = names[i].substr(names[i].find_last_of("/\\") + 1);
        if (name != wanted) continue;
        const ParsedInnerFile entry = archive_.Parse(i, options_, nullptr);
        return Reader(archive_.Work(), Endian::Little).Sub(entry.base, entry.size, "resource entry");
    }
    return std::nullopt;
}

PreviewText ObjectPreview::Text(size_t index, uint64_t limit) const {
    SilentReporter quiet;
    const InnerScope scope{archive_, inner_, options_, quiet};
    const ObjectRow& row = inner_.assets.items.rows.at(index);
    const Reader body = scope.ObjectBody(index);
    Reader payload = body.Sub(body.Begin() + row.PayloadOffset, row.PayloadSize, "text");
    PreviewText out;
    out.totalBytes = row.PayloadSize;
    const auto bytes = payload.Bytes(std::min<uint64_t>(limit, row.PayloadSize), "text");
    out.text.assign(bytes.begin(), bytes.end());
    return out;
}

PreviewFacts ObjectPreview::Facts(size_t index) {
    const ObjectRow& row = inner_.assets.items.rows.at(index);
    PreviewFacts facts;
    std::optional<PreviewFields> fields;
    if (TreeOf(index)) fields = Fields(index);
    const FieldValue* root = fields ? &fields->root : nullptr;
    const auto L = [this](const char* english, const char* russian) {
        return std::string(options_.text.russian ? russian : english);
    };
    const auto add = [&facts](const std::string& label, std::optional<uint64_t> n) {
        if (n) facts.emplace_back(label, Grouped(*n));
    };
    facts.emplace_back(L("Name", "Имя"), inner_.assets.items.listRows.size() > index
                                   ? inner_.assets.items.ExportName.at(index)
                                   : std::string());
    if (row.ClassID == ClassId::kFont) {
        if (root) {
            if (const FieldValue* name = At(*root, {"m_Name"}))
                facts.back().second = name->bytes;
            add(L("Font size", "Размер шрифта"), Number(At(*root, {"m_FontSize"})));
            add(L("Font data bytes", "Байт данных шрифта"), Count(At(*root, {"m_FontData"})));
        } else if (HasInnerPayload(row.ClassID, row.PayloadSize)) {
            add(L("Font data bytes", "Байт данных шрифта"), row.PayloadSize);
        }
    } else if (row.ClassID == ClassId::kMesh) {
        try {
            // Read as the OBJ export reads it.
            SilentReporter quiet;
            const InnerScope scope{archive_, inner_, options_, quiet};
            const ConverterContext context = ContextOf(scope);
            const MeshCounts counts =
                ReadMeshCounts(InputOf(index, context), inner_.assets.header.EngineMajorVersion);
            if (counts.compressed) {
                facts.emplace_back(L("Vertices", "Вершины"), L("compressed", "сжаты"));
            } else {
                add(L("Vertices", "Вершины"), counts.vertices);
                add(L("Triangles", "Треугольники"), counts.triangles);
            }
            add(L("Submeshes", "Подсетки"), counts.subMeshes);
        } catch (const KestrelError& e) {
            facts.emplace_back(L("Mesh", "Сетка"), e.what());
        }
    } else if (row.ClassID == ClassId::kAudioClip) {
        if (root) {
            add(L("Channels", "Каналы"), Number(At(*root, {"m_Channels"})));
            add(L("Frequency (Hz)", "Частота (Гц)"), Number(At(*root, {"m_Frequency"})));
            if (const FieldValue* length = At(*root, {"m_Length"})) {
                char text[32];
                std::snprintf(text, sizeof text, "%.3f s", FloatOf(*length));
                facts.emplace_back(L("Length", "Длительность"), text);
            }
            add(L("Compression format", "Формат сжатия"), Number(At(*root, {"m_CompressionFormat"})));
            add(L("Format", "Формат"), Number(At(*root, {"m_Format"})));
        }
        try {
            SilentReporter quiet;
            const InnerScope scope{archive_, inner_, options_, quiet};
            const ConverterContext context = ContextOf(scope);
            const SoundClip clip = ReadSoundClipOf(context, scope.ObjectBody(index),
                                                   inner_.assets.items.ExportName.at(index));
            if (!clip.bodyExtension.empty())
                facts.emplace_back(L("Sound file", "Звуковой файл"), clip.bodyExtension);
            if (clip.audioLength != 0) add(L("Sound bytes", "Байт звука"), clip.audioLength);
            if (clip.layout == SoundLayout::Embedded) {
                const Reader body = scope.ObjectBody(index);
                const auto sound = ReadSoundStreamFacts(
                    body.Sub(body.Begin() + clip.dataPos, clip.audioLength, "sound"));
                if (sound) {
                    facts.emplace_back(L("Format", "Формат"), sound->format);
                    add(L("Channels", "Каналы"), sound->channels);
                    add(L("Frequency (Hz)", "Частота (Гц)"), sound->frequency);
                    if (sound->seconds >= 0) {
                        char text[32];
                        std::snprintf(text, sizeof text, "%.3f s", sound->seconds);
                        facts.emplace_back(L("Length", "Длительность"), text);
                    }
                }
            }
        } catch (const KestrelError&) {
            // The fields above say what there is to say.
        }
    }
    add(L("Object bytes", "Байт объекта"), row.ObjSize);
    return facts;
}

std::optional<PreviewFields> ObjectPreview::Fields(size_t index) {
    const TypeTree* tree = TreeOf(index);
    if (!tree) return std::nullopt;
    const ObjectRow& row = inner_.assets.items.rows.at(index);
    Reader object = Reader(archive_.Work(), inner_.assets.header.DataOrder())
                        .Sub(inner_.assets.DataOffset + row.ObjOffset, row.ObjSize, "object");
    PreviewFields out;
    out.root = ReadObjectFields(*tree, object, FieldContext{trees_->ReferenceTypes()});
    out.typeName = std::string(tree->Root().type);
    return out;
}

std::vector<uint8_t> ObjectPreview::Page(size_t index, uint64_t offset, size_t count) const {
    const ObjectRow& row = inner_.assets.items.rows.at(index);
    if (offset >= row.ObjSize) return {};
    Reader object = Reader(archive_.Work(), inner_.assets.header.DataOrder())
                        .Sub(inner_.assets.DataOffset + row.ObjOffset, row.ObjSize, "object");
    object.Skip(offset, "page");
    return object.Bytes(std::min<uint64_t>(count, row.ObjSize - offset), "page");
}

} // namespace kestrel
