#include "texture/TextureResource.h"

#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/SafePath.h"
#include "texture/TextureSizes.h"

#include <system_error>

namespace kestrel {
namespace {

[[noreturn]] void Refuse(const std::string& path, const char* why) {
    throw KestrelError("Refused resource path " + path + ": " + why);
}

// Splits at "/" and "\" (both separate names in the engine's paths).
bool HasParentComponent(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

std::string DropTrailingDotsAndBlanks(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name.empty() ? "_" : name;
}

} // namespace

std::filesystem::path ResourceFilePath(const std::string& outputBaseDir, const std::string& path) {
    if (path.find('\0') != std::string::npos) Refuse(path, "it holds a NUL byte");
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) Refuse(path, "it is absolute");
    if (path.size() >= 2 && path[1] == ':') Refuse(path, "it names a drive");
    if (HasParentComponent(path)) Refuse(path, "it leaves the archive directory");
    std::string relative = path;
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    const std::filesystem::path base(outputBaseDir);
    auto full = base / relative;
    if (!IsInside(base, full)) Refuse(path, "it leaves the archive directory");
    return full;
}

std::string ResourceDirFor(std::string_view path) {
    const size_t dot = path.find('.');
    const std::string dir = dot == std::string_view::npos
                                ? std::string(path)
                                : "res_" + std::string(path.substr(0, dot + 1));
    std::string out;
    size_t start = 0;
    while (start <= dir.size()) {
        size_t end = dir.find_first_of("/\\", start);
        if (end == std::string::npos) end = dir.size();
        if (end > start) out += DropTrailingDotsAndBlanks(dir.substr(start, end - start)) + "/";
        start = end + 1;
    }
    return out.empty() ? "_/" : out;
}

std::optional<TextureImages> OpenTextureImages(const ConverterInput& in, const TextureObject& tex,
                                               const Reader& object) {
    if (!tex.StreamedData) {
        Reader source = object;
        source.Seek(tex.imageStart, "image data");
        return TextureImages{source, ""};
    }
    const std::string& path = tex.resource.path;
    // Resource files lie beside the archive; an "archive:" path names an inner file of a bundle,
    // which an earlier export wrote into the export tree.
    const bool inExportTree = path.rfind("archive:", 0) == 0 || in.state.ArchiveDir.empty();
    const std::string& base = inExportTree ? in.state.OutputBaseDir : in.state.ArchiveDir;
    const auto file = ResourceFilePath(base, path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        in.state.Report().Alert(in.state.Localization.MsgMissingFile + base + path);
        return std::nullopt;
    }
    Reader source(FileSource::Open(file), Endian::Little);
    // The stream offset is an unsigned 32-bit position in the resource file.
    source.Seek(static_cast<uint32_t>(tex.header.dataSizes.at(1)), "stream offset");
    return TextureImages{source, ResourceDirFor(path)};
}

void RequireImages(const structure_tex_hat& header, const Reader& source, uint64_t images) {
    if (header.completeImageSize <= 0 || images == 0) return;
    const uint64_t need = CheckedMul(static_cast<uint64_t>(header.completeImageSize), images,
                                     "image size x image count");
    if (need > source.Remaining()) {
        throw KestrelError("Texture sizes do not fit: " + std::to_string(images) + " image(s) of " +
                           std::to_string(header.completeImageSize) + " bytes need " +
                           std::to_string(need) + " bytes, " + source.Name() + " holds " +
                           std::to_string(source.Remaining()) + " from offset " +
                           HexOffset(source.Pos()));
    }
}

std::filesystem::path TextureOutputFile(const ConverterInput& in, const std::string& resourceDir,
                                        const std::string& extension, int64_t k) {
    std::string name = in.exportName + extension;
    if (k >= 2) {
        name.push_back('_');
        name += std::to_string(k);
    }
    auto file = in.OutputFile(resourceDir + name);
    CreateDirectories(file.parent_path());
    return file;
}

} // namespace kestrel
