#include "session/Converters.h"

#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "audio/SoundExport.h"
#include "audio/SoundImport.h"
#include "common/Error.h"
#include "mesh/MeshExport.h"
#include "texture/TextureExport.h"
#include "texture/TextureImport.h"
#include "texture/TextureLayouts.h"
#include "video/VideoExport.h"

#include <array>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Sounds are named after the archive (for pieces: the name they join to), never a working copy.
std::string SoundResourceName(const Archive& archive) {
    std::string name = fs::path(archive.Name()).filename().string();
    if (archive.SplitPieceCount() > 0) name = fs::path(name).stem().string();
    return name + ".resS";
}

template <void (*Export)(const ConverterInput&)>
ConvertResult ExportWith(const InnerScope&, const ConverterInput& in) {
    return Converted([&] { Export(in); });
}

ConvertResult ExportMesh(const InnerScope& scope, const ConverterInput& in) {
    return Converted([&] { ExportMeshOBJ(in, scope.inner.assets.header.EngineMajorVersion); });
}

ConvertResult ExportClip(const InnerScope& scope, const ConverterInput& in) {
    return Converted(
        [&] { ExportSound(in, scope.inner.dirName, SoundResourceName(scope.archive)); });
}

ConvertResult ExportVideo(const InnerScope& scope, const ConverterInput& in) {
    return Converted([&] {
        if (scope.inner.assets.header.formatVersion >= 17) ExportVideoClip(in);
    });
}

template <void (*Import)(const TextureImportInput&)>
ConvertResult ImportTexture(const InnerScope& scope, const EditedFile& f) {
    return Converted([&] {
        // The raw file holds the bytes after the name field only: no head goes before them.
        Import({{},
                scope.ObjectBody(f.index),
                f.editedFile,
                f.rawFile,
                scope.options.noFlipTexture,
                scope.reporter,
                scope.options.executableDir,
                TextureLayoutOfObject(scope.inner.assets, f.index),
                ResourcePlacesOf(scope),
                scope.options.pngFormat});
    });
}

ConvertResult ImportClip(const InnerScope& scope, const EditedFile& f) {
    return ImportSoundFile(scope, f.index, f.editedFile);
}

constexpr std::array<ConverterRow, 16> kRows{{
    {ClassId::kTexture2D, "Textures", "dds", kOutDds, kDdsOutput, ExportWith<ExportTextureDDS>,
     ImportTexture<ImportTextureDDS>},
    {ClassId::kTexture2D, "Textures", "crn", kOutCrn, kCrnOutput, ExportWith<ExportTextureCRN>,
     ImportTexture<ImportTextureCRN>},
    {ClassId::kTexture2D, "Textures", "ktx", kOutKtx, kKtxOutput, ExportWith<ExportTextureKTX>,
     ImportTexture<ImportTextureKTX>},
    {ClassId::kTexture2D, "Textures", "pvr", kOutPvr, kPvrOutput, ExportWith<ExportTexturePVR>,
     ImportTexture<ImportTexturePVR>},
    {ClassId::kTexture2D, "Textures", "png", kOutPng, 0, ExportWith<ExportTexturePNG>,
     ImportTexture<ImportTexturePNG>},
    // The png row writes the EXR pictures of float formats; they come back this way.
    {ClassId::kTexture2D, "Textures", "exr", kOutPng, 0, nullptr, ImportTexture<ImportTexturePNG>},
    {ClassId::kCubemap, "Cubemap", "dds", kOutDds, kDdsOutput, ExportWith<ExportTextureDDS>,
     ImportTexture<ImportTextureDDS>},
    {ClassId::kCubemap, "Cubemap", "crn", kOutCrn, kCrnOutput, ExportWith<ExportTextureCRN>,
     ImportTexture<ImportTextureCRN>},
    {ClassId::kCubemap, "Cubemap", "ktx", kOutKtx, kKtxOutput, ExportWith<ExportTextureKTX>,
     ImportTexture<ImportTextureKTX>},
    {ClassId::kCubemap, "Cubemap", "pvr", kOutPvr, kPvrOutput, ExportWith<ExportTexturePVR>,
     ImportTexture<ImportTexturePVR>},
    {ClassId::kCubemap, "Cubemap", "png", kOutPng, 0, ExportWith<ExportTexturePNG>,
     ImportTexture<ImportTexturePNG>},
    {ClassId::kCubemap, "Cubemap", "exr", kOutPng, 0, nullptr, ImportTexture<ImportTexturePNG>},
    {ClassId::kProceduralTexture, "ProceduralTextures", "dds", kOutDds, 0,
     ExportWith<ExportProceduralTextureDDS>, ImportTexture<ImportProceduralDDS>},
    {ClassId::kMesh, "Mesh", "obj", kOutObj, 0, ExportMesh, nullptr},
    {ClassId::kAudioClip, "Sounds", "", 0, 0, ExportClip, ImportClip},
    {ClassId::kVideoClip, "Videos", "", 0, 0, ExportVideo, nullptr},
}};

} // namespace

std::span<const ConverterRow> ConverterRows() {
    return kRows;
}

ConvertResult ImportSoundFile(const InnerScope& scope, size_t itemIndex,
                              const fs::path& audioFile) {
    return Converted([&] {
        if (itemIndex >= scope.inner.assets.items.Count()) {
            throw KestrelError("No object number " + std::to_string(itemIndex) + " to import " +
                               audioFile.string() + " into");
        }
        const std::string& name = scope.inner.assets.items.ExportName[itemIndex];
        const ConverterContext context = ContextOf(scope);
        ImportSound(SoundImportInput{context, scope.ObjectBody(itemIndex), name,
                                     scope.inner.dirName, SoundResourceName(scope.archive),
                                     audioFile, scope.TreeRelative() + name});
    });
}

} // namespace kestrel
