#include "session/Converters.h"

#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "audio/SoundExport.h"
#include "audio/SoundImport.h"
#include "common/Error.h"
#include "mesh/MeshExport.h"
#include "session/ExportDriver.h"
#include "texture/TextureExport.h"
#include "texture/TextureImport.h"
#include "texture/TextureLayouts.h"
#include "video/VideoExport.h"

#include <array>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// The object's bytes after its name field, read from the working file: what its raw file holds.
Reader ObjectBody(const KestrelState& state, size_t index) {
    const ObjectRow& row = state.assets.items.rows.at(index);
    const uint64_t start = state.assets.DataOffset + row.ObjOffset;
    if (row.NameHeaderSize > row.ObjSize) {
        throw KestrelError(state.ArchiveName + ": object at offset " + HexOffset(start) +
                           " is shorter than its name field");
    }
    return Reader(state.WorkStream, state.assets.header.DataOrder())
        .Sub(start + row.NameHeaderSize, row.ObjSize - row.NameHeaderSize, "object");
}

// Sounds are named after the archive (for pieces: the name they join to), never a working copy.
std::string SoundResourceName(const KestrelState& state) {
    std::string archive = fs::path(state.ArchiveName).filename().string();
    if (state.SplitPieceCount > 0) archive = fs::path(archive).stem().string();
    return archive + ".resS";
}

template <void (*Export)(const ConverterInput&)>
void ExportWith(KestrelState&, const ConverterInput& in) {
    Export(in);
}

void ExportMesh(KestrelState& state, const ConverterInput& in) {
    ExportMeshOBJ(in, state.assets.header.EngineMajorVersion);
}

void ExportClip(KestrelState& state, const ConverterInput& in) {
    ExportSound(in, state.ArchiveDirName, SoundResourceName(state));
}

void ExportVideo(KestrelState& state, const ConverterInput& in) {
    if (state.assets.header.formatVersion >= 17) ExportVideoClip(in);
}

template <void (*Import)(const TextureImportInput&)>
void ImportTexture(KestrelState& state, const EditedFile& f) {
    // The raw file holds the bytes after the name field only: no head goes before them.
    Import({{},
            ObjectBody(state, f.index),
            f.editedFile,
            f.rawFile,
            state.NoFlipTexture,
            state.Report(),
            state.ExecutableDir,
            TextureLayoutOfObject(state.assets, f.index),
            ResourcePlacesOf(state)});
}

void ImportClip(KestrelState& state, const EditedFile& f) {
    const std::string& name = state.Items().ExportName[f.index];
    const ConverterContext context = ContextOf(state);
    ImportSound(SoundImportInput{context, ObjectBody(state, f.index), name, state.ArchiveDirName,
                                 SoundResourceName(state), f.editedFile,
                                 ExportTreeRelative(state) + name});
}

using S = KestrelState;

constexpr std::array<ConverterRow, 12> kRows{{
    {ClassId::kTexture2D, "Textures", "dds", &S::ExportDDS, kDdsOutput,
     ExportWith<ExportTextureDDS>, ImportTexture<ImportTextureDDS>},
    {ClassId::kTexture2D, "Textures", "crn", &S::ExportCRN, kCrnOutput,
     ExportWith<ExportTextureCRN>, ImportTexture<ImportTextureCRN>},
    {ClassId::kTexture2D, "Textures", "ktx", &S::ExportKTX, kKtxOutput,
     ExportWith<ExportTextureKTX>, ImportTexture<ImportTextureKTX>},
    {ClassId::kTexture2D, "Textures", "pvr", &S::ExportPVR, kPvrOutput,
     ExportWith<ExportTexturePVR>, ImportTexture<ImportTexturePVR>},
    {ClassId::kCubemap, "Cubemap", "dds", &S::ExportDDS, kDdsOutput, ExportWith<ExportTextureDDS>,
     ImportTexture<ImportTextureDDS>},
    {ClassId::kCubemap, "Cubemap", "crn", &S::ExportCRN, kCrnOutput, ExportWith<ExportTextureCRN>,
     ImportTexture<ImportTextureCRN>},
    {ClassId::kCubemap, "Cubemap", "ktx", &S::ExportKTX, kKtxOutput, ExportWith<ExportTextureKTX>,
     ImportTexture<ImportTextureKTX>},
    {ClassId::kCubemap, "Cubemap", "pvr", &S::ExportPVR, kPvrOutput, ExportWith<ExportTexturePVR>,
     ImportTexture<ImportTexturePVR>},
    {ClassId::kProceduralTexture, "ProceduralTextures", "dds", &S::ExportDDS, 0,
     ExportWith<ExportProceduralTextureDDS>, ImportTexture<ImportProceduralDDS>},
    {ClassId::kMesh, "Mesh", "obj", &S::ExportOBJ, 0, ExportMesh, nullptr},
    {ClassId::kAudioClip, "Sounds", "", nullptr, 0, ExportClip, ImportClip},
    {ClassId::kVideoClip, "Videos", "", nullptr, 0, ExportVideo, nullptr},
}};

} // namespace

std::span<const ConverterRow> ConverterRows() {
    return kRows;
}

void ImportSound(KestrelState& state, size_t itemIndex, const std::filesystem::path& audioFile) {
    if (itemIndex >= state.Items().Count()) {
        throw KestrelError("No object number " + std::to_string(itemIndex) + " to import " +
                           audioFile.string() + " into");
    }
    if (!state.WorkStream) state.WorkStream = FileSource::Open(state.WorkFileName);
    const std::string& name = state.Items().ExportName[itemIndex];
    const ConverterContext context = ContextOf(state);
    ImportSound(SoundImportInput{context, ObjectBody(state, itemIndex), name, state.ArchiveDirName,
                                 fs::path(state.WorkFileName).filename().string() + ".resS",
                                 audioFile, ExportTreeRelative(state) + name});
}

} // namespace kestrel
