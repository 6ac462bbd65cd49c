#include "texture/TextureResource.h"

#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/ResourceFile.h"
#include "io/SafePath.h"
#include "texture/TextureSizes.h"

#include <system_error>

namespace kestrel {
namespace {

std::string DropTrailingDotsAndBlanks(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name.empty() ? "_" : name;
}

} // namespace

std::optional<TextureLayoutRow> TextureLayoutOf(const ConverterInput& in) {
    return TextureLayoutOfObject(in.context.assets, in.index);
}

std::string ResourceDirFor(std::string_view path) {
    // A bundle's own resource entry is named by its file name alone.
    if (path.starts_with("archive:")) path = path.substr(path.find_last_of("/\\:") + 1);
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
    const ResourceFileLocation where = LocateResourceFile(in.context.places, path, in.exportName);
    if (!ResourceFileExists(where.file)) {
        throw KestrelError(in.context.text.MsgMissingFile + where.shownPath);
    }
    Reader source(OpenResourceFile(where.file), Endian::Little);
    if (tex.streamOffset > source.End()) {
        source.Fail(tex.streamOffset, "stream offset", "lies past the end of the file");
    }
    source.Seek(tex.streamOffset, "stream offset");
    return TextureImages{source, ResourceDirFor(path)};
}

void RequireImages(const TextureHeader& header, const Reader& source, uint64_t images) {
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
