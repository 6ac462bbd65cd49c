#include "session/ExportDriver.h"

#include "io/AtomicFile.h"

#include "assets/AssetsParser.h"
#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "io/Writer.h"
#include "session/ConverterInput.h"
#include "session/Converters.h"
#include "session/Operations.h"

#include <algorithm>
#include <array>
#include <filesystem>

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

// The object's bytes after its name field, as every converter and the raw file see them.
Reader ObjectBytes(const KestrelState& state, const ObjectRow& row) {
    if (row.NameHeaderSize > row.ObjSize) {
        throw KestrelError(state.ArchiveName + ": object at offset " +
                           HexOffset(state.assets.DataOffset + row.ObjOffset) +
                           " is shorter than its name field");
    }
    const Endian order = state.assets.header.DataOrder();
    Reader whole(state.WorkStream, order);
    return whole.Sub(state.assets.DataOffset + row.ObjOffset + row.NameHeaderSize,
                     row.ObjSize - row.NameHeaderSize, "object");
}

// The texture notices: a format no converter takes, and YUY2 asked for as KTX.
void ReportUnconvertedTexture(KestrelState& state, size_t index) {
    const int32_t format = state.Items().types[index].TextureFormat;
    const std::string& name = state.Items().ExportName[index];
    const bool modern = state.assets.header.formatVersion >= 16;
    if (state.ExportKTX && !state.ExportPVR && format == 21) {
        // The first letter of "ОNLY" is a Cyrillic capital O, as the message has always read.
        state.Report().Notice("Not supported ktx " + TextureFormatShortName(format, modern) + " " +
                              name + " \xD0\x9ENLY PVR!!!");
    }
    if (!TextureFormatSupports(format, kAnyOutput)) {
        state.Report().Notice("Not supported format compression " +
                              TextureFormatShortName(format, modern) + " " + name);
    }
}

// Runs every converter row of the object's class that its switch asks for (texture rows also
// when the texture's format can go to that file).
void RunConverters(KestrelState& state, size_t index, const Reader& object,
                   const std::string& root) {
    const int32_t classId = state.Items().rows[index].ClassID;
    const int32_t format = state.Items().types[index].TextureFormat;
    const std::string& name = state.Items().ExportName[index];
    const ConverterContext context = ContextOf(state);
    for (const ConverterRow& row : ConverterRows()) {
        if (row.classId != classId || (row.enabled != nullptr && !(state.*row.enabled))) continue;
        if (row.textureKind != 0 && !TextureFormatSupports(format, row.textureKind)) continue;
        row.exportFile(state, ConverterInput{context, object,
                                             root + std::string(row.directory) + "/", name, index});
    }
    if (classId == ClassId::kTexture2D || classId == ClassId::kCubemap) {
        ReportUnconvertedTexture(state, index);
    }
}

bool WritesRawFile(const KestrelState& state, int32_t classId) {
    switch (classId) {
    case ClassId::kTexture2D:
    case ClassId::kCubemap:
    case ClassId::kProceduralTexture:
        return state.ExportRawTextures;
    case ClassId::kMesh:
        return state.ExportRawMesh;
    case ClassId::kAudioClip:
        return state.ExportRawAudio;
    default:
        return true;
    }
}

void ExportItemUnchecked(KestrelState& state, size_t index) {
    const ObjectRow& row = state.Items().rows.at(index);
    const std::string rootRel = ExportTreeRelative(state);
    const fs::path root = JoinInside(state.OutputBaseDir, rootRel);
    CreateDirectories(root);
    const fs::path target = JoinInside(root, SafeComponent(state.Items().ExportName[index]));
    const Reader object = ObjectBytes(state, row);

    if (HasInnerPayload(row.ClassID, row.PayloadSize)) {
        if (row.PayloadSize != 0) {
            Reader payload =
                object.Sub(object.Begin() + row.PayloadOffset, row.PayloadSize, "payload");
            CopyToFile(payload, row.PayloadSize, target);
        }
        return;
    }
    // The raw file needs no conversion: it is written first, so that a failed conversion still
    // leaves the object's bytes.
    if (WritesRawFile(state, row.ClassID)) {
        Reader raw = object;
        CopyToFile(raw, raw.Remaining(), target);
    }
    if (object.Remaining() != 0 && state.ExportConvert) {
        RunConverters(state, index, object, rootRel);
    }
}

} // namespace

std::string ExportTreeRelative(const KestrelState& state) {
    return ExportTreeOf(state.ArchiveDirName);
}

bool ExportItemChecked(KestrelState& state, size_t index) {
    try {
        ExportItemUnchecked(state, index);
        return true;
    } catch (const KestrelError& e) {
        // A file that cannot be written ends the run (every later output would fail alike);
        // any other failure of one object is shown and the export goes on with the next.
        if (e.OutputFailed()) throw;
        state.Report().Alert(e.what());
        return false;
    } catch (const std::exception& e) {
        state.Report().Alert(e.what());
        return false;
    }
}

void ExportItem(KestrelState& state, size_t index) {
    ExportItemChecked(state, index);
}

bool PassesTypeFilter(const KestrelState& state, int32_t classId) {
    if (!state.TypeFilterActive) return true;
    const std::string id = std::to_string(classId);
    return std::any_of(
        state.TypeFilter.begin(), state.TypeFilter.end(), [&](const std::string& entry) {
            return entry == id || (classId < 0 && entry == std::to_string(ClassId::kMonoBehaviour));
        });
}

size_t ExportFilteredItems(KestrelState& state, bool everyItem) {
    WorkStreamScope scope(state);
    // An object whose export showed an error (a missing resource file, say) counts as failed.
    CountingReporter counter(state.Report());
    Reporter* const shown = state.reporter;
    state.reporter = &counter;
    struct Restore {
        KestrelState& s;
        Reporter* r;
        ~Restore() { s.reporter = r; }
    } restore{state, shown};
    size_t failures = 0;
    const std::string prefix = state.OutputBaseDir + ExportTreeRelative(state);
    for (size_t i = 0; i < state.Items().Count(); ++i) {
        if (!everyItem && !PassesTypeFilter(state, state.Items().rows[i].ClassID)) continue;
        state.Report().ProgressLine(prefix + state.Items().ExportName[i]);
        const size_t before = counter.Alerts();
        if (!ExportItemChecked(state, i) || counter.Alerts() != before) ++failures;
        state.Report().Progress(static_cast<int>((i + 1) * 100 / state.Items().Count()));
    }
    return failures;
}

size_t ExportItems(KestrelState& state, const std::vector<size_t>& indices) {
    WorkStreamScope scope(state);
    size_t failures = 0;
    for (size_t k = 0; k < indices.size(); ++k) {
        if (!ExportItemChecked(state, indices[k])) ++failures;
        state.Report().Progress(static_cast<int>((k + 1) * 100 / indices.size()));
        state.Report().Breathe();
    }
    return failures;
}

} // namespace kestrel
