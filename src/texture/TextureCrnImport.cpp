#include "common/Error.h"
#include "texture/ExternalTool.h"
#include "texture/TextureFormats.h"
#include "texture/TextureImport.h"
#include "texture/TextureImportCommon.h"

#include <system_error>

namespace kestrel {
namespace {

// Crunches the edited DDS beside a CRN file into that CRN file with the crunch tool. The tool
// writes a file of its own first, which replaces the CRN file only when it succeeded, so a
// failed run leaves the exported CRN file as it was. Returns false when the tool is missing.
bool CrunchEditedPicture(const TextureImportInput& in, const std::filesystem::path& edited) {
    const auto tool = FindCrunchTool(in.executableDir);
    if (tool.empty()) return false;
    in.reporter.ProgressLine(edited.string() + " -> CRN");
    auto crunched = in.imageFile;
    crunched.replace_filename("." + in.imageFile.filename().string() + ".kestrel.crn");
    std::error_code ec;
    std::filesystem::remove(crunched, ec);
    const auto status =
        RunAndWait(tool, {"-out", crunched.string(), "-file", edited.string()}, false);
    if (!status || *status != 0 || !std::filesystem::is_regular_file(crunched, ec) ||
        std::filesystem::file_size(crunched, ec) == 0) {
        std::filesystem::remove(crunched, ec);
        throw KestrelError(edited.string() + ": the crunch tool " + tool.string() +
                           (status ? " failed (exit status " + std::to_string(*status) + ")"
                                   : " could not be started") +
                           "; the texture is left unchanged");
    }
    std::filesystem::rename(crunched, in.imageFile, ec);
    if (ec) {
        std::filesystem::remove(crunched, ec);
        throw KestrelError(in.imageFile.string() + ": cannot replace it: " + ec.message());
    }
    return true;
}

} // namespace

void ImportTextureCRN(const TextureImportInput& in) {
    const TextureObject tex = ReadImportTarget(in);
    const TextureHeader& h = tex.header;
    // Crunched bytes in any other format would be read as that format's pixels.
    if (!IsCrunchedFormat(h.textureFormat)) {
        throw KestrelError(in.imageFile.string() + ": the texture's format " +
                           std::to_string(h.textureFormat) + " does not hold crunched data");
    }
    if (h.imageCount != 1) {
        throw KestrelError(in.imageFile.string() + ": the texture holds " +
                           std::to_string(h.imageCount) +
                           " images; a CRN file replaces exactly one");
    }
    auto edited = in.imageFile;
    edited += ".dds";
    std::error_code ec;
    if (std::filesystem::is_regular_file(edited, ec) && !CrunchEditedPicture(in, edited)) {
        in.reporter.Alert(edited.string() +
                          ": the crunch tool (crunch or crunch_x64 beside the program) is "
                          "missing, so this picture is not used; " +
                          in.imageFile.string() + " is imported as it is");
    }
    Reader file = OpenPicture(in.imageFile);
    ImportedPicture picture;
    picture.width = h.width;
    picture.height = h.height;
    picture.format = h.textureFormat;
    picture.imageCount = h.imageCount;
    picture.mipField = h.mipField;
    picture.images = file.Bytes(file.Remaining(), "CRN data");
    ImageSizeField(picture.images.size(), 1, in.imageFile);
    WriteRebuiltTexture(in, tex, picture);
    in.reporter.ProgressLine(in.imageFile.string() + " -> TEX");
}

} // namespace kestrel
