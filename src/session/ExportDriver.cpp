#include "session/ExportDriver.h"

#include "assets/AssetsParser.h"
#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/SafePath.h"
#include "session/Converters.h"
#include "session/JsonForms.h"
#include "texture/TextureFormats.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Copies count bytes from the reader into a new file, in pieces, so that a large object is never
// held in memory whole.
void CopyToFile(Reader& from, uint64_t count, const fs::path& path) {
    AtomicOutputFile out(path, AtomicOutputFile::Flush::RenameOnly);
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(count, 1 << 20)));
    from.Require(count, "object data");
    while (count != 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
        from.Bytes(buffer.data(), piece, "object data");
        out.Write(buffer.data(), piece);
        count -= piece;
    }
    out.Commit();
}

// The texture notices: a format no converter takes, and YUY2 asked for as KTX.
void ReportUnconvertedTexture(const InnerScope& scope, size_t index) {
    const ItemTable& items = scope.inner.Items();
    const int32_t format = items.types[index].TextureFormat;
    const std::string& name = items.ExportName[index];
    const bool modern = scope.inner.assets.header.formatVersion >= 16;
    if (scope.options.Writes(kOutKtx) && !scope.options.Writes(kOutPvr) && format == 21) {
        // The first letter of "ОNLY" is a Cyrillic capital O, as the message has always read.
        scope.reporter.Notice("Not supported ktx " + TextureFormatShortName(format, modern) + " " +
                              name + " \xD0\x9ENLY PVR!!!");
    }
    if (!TextureFormatSupports(format, kAnyOutput)) {
        scope.reporter.Notice("Not supported format compression " +
                              TextureFormatShortName(format, modern) + " " + name);
    }
}

// Runs every converter row of the object's class that the options ask for (texture rows also
// when the texture's format can go to that file). Returns false when one of them failed.
bool RunConverters(const InnerScope& scope, size_t index, const Reader& object) {
    const ItemTable& items = scope.inner.Items();
    const int32_t classId = items.rows[index].ClassID;
    const int32_t format = items.types[index].TextureFormat;
    const ConverterContext context = ContextOf(scope);
    const std::string rootRel = scope.TreeRelative();
    bool ok = true;
    for (const ConverterRow& row : ConverterRows()) {
        if (row.classId != classId || row.exportFile == nullptr ||
            (row.output != 0 && !scope.options.Writes(static_cast<OutputKind>(row.output))))
            continue;
        if (row.textureKind != 0 && !TextureFormatSupports(format, row.textureKind)) continue;
        const ConvertResult result = row.exportFile(
            scope, ConverterInput{context, object, rootRel + std::string(row.directory) + "/",
                                  items.ExportName[index], index});
        if (!result.ok) {
            scope.reporter.Alert(result.message);
            ok = false;
        }
    }
    if (classId == ClassId::kTexture2D || classId == ClassId::kCubemap)
        ReportUnconvertedTexture(scope, index);
    return ok;
}

bool WritesRawFile(const RunOptions& options, int32_t classId) {
    switch (classId) {
    case ClassId::kTexture2D:
    case ClassId::kCubemap:
    case ClassId::kProceduralTexture:
        return options.Writes(kOutRawTextures);
    case ClassId::kMesh:
        return options.Writes(kOutRawMesh);
    case ClassId::kAudioClip:
        return options.Writes(kOutRawAudio);
    default:
        return true;
    }
}

// Writes the object's payload or raw file into the export tree.
void WriteRawFile(const InnerScope& scope, size_t index, const Reader& object,
                  const fs::path& target) {
    const ObjectRow& row = scope.inner.Items().rows.at(index);
    if (HasInnerPayload(row.ClassID, row.PayloadSize)) {
        if (row.PayloadSize != 0) {
            Reader payload =
                object.Sub(object.Begin() + row.PayloadOffset, row.PayloadSize, "payload");
            CopyToFile(payload, row.PayloadSize, target);
        }
        return;
    }
    Reader raw = object;
    CopyToFile(raw, raw.Remaining(), target);
}

// Exports one object; false when a converter failed. Raises KestrelError when the object itself
// cannot be read or written.
bool ExportObject(const InnerScope& scope, size_t index) {
    const ObjectRow& row = scope.inner.Items().rows.at(index);
    const fs::path root = JoinInside(scope.OutputBaseDir(), scope.TreeRelative());
    CreateDirectories(root);
    const fs::path target = JoinInside(root, SafeComponent(scope.inner.Items().ExportName[index]));
    const Reader object = scope.ObjectBody(index);

    if (HasInnerPayload(row.ClassID, row.PayloadSize)) {
        WriteRawFile(scope, index, object, target);
        return true;
    }
    // The raw file needs no conversion: it is written first, so that a failed conversion still
    // leaves the object's bytes.
    if (WritesRawFile(scope.options, row.ClassID)) WriteRawFile(scope, index, object, target);
    if (object.Remaining() != 0 && scope.options.Writes(kOutConvert))
        return RunConverters(scope, index, object);
    return true;
}

} // namespace

void RewriteRawFile(const InnerScope& scope, size_t index) {
    const fs::path root = JoinInside(scope.OutputBaseDir(), scope.TreeRelative());
    WriteRawFile(scope, index, scope.ObjectBody(index),
                 JoinInside(root, SafeComponent(scope.inner.Items().ExportName.at(index))));
}

namespace {

// 1204 as "1,204".
std::string CountText(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

} // namespace

std::string ExportDoneLine(const ExportCount& count, const std::string& dir,
                           const InterfaceTexts& text) {
    const size_t done = count.attempted - std::min(count.failed, count.attempted);
    if (text.russian) return "Извлечено объектов: " + CountText(done) + ", в " + dir;
    return CountText(done) + (done == 1 ? " object" : " objects") + " exported to " + dir;
}

std::string ExportFailedLine(const ExportCount& count, const InterfaceTexts& text) {
    if (text.russian)
        return "Не удалось: " + CountText(count.failed) + " из " + CountText(count.attempted);
    return CountText(count.failed) + " of " + CountText(count.attempted) +
           (count.attempted == 1 ? " object" : " objects") + " failed";
}

bool PassesTypeFilter(const RunOptions& options, int32_t classId) {
    if (!options.typeFilterActive) return true;
    const std::string id = std::to_string(classId);
    return std::any_of(
        options.typeFilter.begin(), options.typeFilter.end(), [&](const std::string& entry) {
            return entry == id || (classId < 0 && entry == std::to_string(ClassId::kMonoBehaviour));
        });
}

std::vector<size_t> ExportedObjects(const ParsedInnerFile& inner, const RunOptions& options,
                                    bool everyObject) {
    std::vector<size_t> out;
    for (size_t i = 0; i < inner.Items().Count(); ++i) {
        if (everyObject || PassesTypeFilter(options, inner.Items().rows[i].ClassID))
            out.push_back(i);
    }
    return out;
}

ExportCount ExportObjects(const InnerScope& scope, const std::vector<size_t>& indices) {
    ExportCount count;
    const std::string prefix = scope.OutputBaseDir() + scope.TreeRelative();
    // A symbolic link on the way to the export tree would take every file elsewhere: the export
    // of the inner file stops before anything is written.
    try {
        JoinInside(scope.OutputBaseDir(), scope.TreeRelative());
    } catch (const KestrelError& e) {
        throw KestrelError(e.what(), true);
    }
    std::optional<FileTypeTrees> trees;
    if (scope.options.Writes(kOutJson) && !indices.empty()) trees = TypeTreesOf(scope);
    size_t withoutTree = 0;
    for (size_t k = 0; k < indices.size(); ++k) {
        const size_t i = indices[k];
        scope.reporter.ProgressLine(prefix + scope.inner.Items().ExportName.at(i));
        ++count.attempted;
        try {
            bool ok = ExportObject(scope, i);
            // The JSON file comes after the raw one: an object its tree does not read still
            // leaves its bytes.
            if (trees && !WriteObjectJson(scope, *trees, i,
                                          JoinInside(scope.OutputBaseDir(), scope.TreeRelative())))
                ++withoutTree;
            if (!ok) ++count.failed;
        } catch (const KestrelError& e) {
            // A file that cannot be written ends the run (every later output would fail alike);
            // any other failure of one object is shown and the export goes on with the next.
            if (e.OutputFailed()) throw;
            scope.reporter.Alert(e.what());
            ++count.failed;
        } catch (const std::exception& e) {
            scope.reporter.Alert(e.what());
            ++count.failed;
        }
        scope.reporter.Progress(static_cast<int>((k + 1) * 100 / indices.size()));
        scope.reporter.Breathe();
    }
    if (withoutTree != 0) {
        scope.reporter.Notice(prefix + ": " + std::to_string(withoutTree) + " of " +
                              std::to_string(indices.size()) +
                              " objects have no type tree: no JSON file, raw files only");
    }
    return count;
}

} // namespace kestrel
