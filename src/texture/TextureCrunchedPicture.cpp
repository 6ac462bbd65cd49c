#include "texture/TextureCrunchedPicture.h"

#include "common/Error.h"
#include "image/PictureCodecs.h"
#include "io/ByteSource.h"
#include "io/Reader.h"
#include "io/Writer.h"
#include "texture/ExternalTool.h"
#include "assets/Vocabulary.h"
#include "texture/TextureFormats.h"
#include "texture/TextureImportCommon.h"

#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A hidden file beside the picture for the tool's input or output, removed when done.
struct ScratchName {
    fs::path path;
    ScratchName(const fs::path& beside, const char* suffix)
        : path(beside.parent_path() /
               ("." + beside.filename().string() + ".kestrel-" + std::to_string(::getpid()) +
                suffix)) {}
    ~ScratchName() {
        std::error_code ec;
        fs::remove(path, ec);
    }
    ScratchName(const ScratchName&) = delete;
    ScratchName& operator=(const ScratchName&) = delete;
};

} // namespace

int32_t CrunchedBaseFormat(int32_t crunchedFormat) {
    switch (crunchedFormat) {
    case texfmt::kDXT1Crunched:
        return texfmt::kDXT1;
    case texfmt::kDXT5Crunched:
        return texfmt::kDXT5;
    case texfmt::kETC_RGB4Crunched:
        return texfmt::kETC_RGB4;
    case texfmt::kETC2_RGBA8Crunched:
        return texfmt::kETC2_RGBA8;
    default:
        return 0;
    }
}

std::optional<image::ImagePlane> DecodeCrunched(const fs::path& executableDir,
                                                int32_t crunchedFormat,
                                                std::span<const uint8_t> crunched, uint32_t width,
                                                uint32_t height, const fs::path& scratchBeside) {
    const fs::path tool = FindCrunchTool(executableDir);
    if (tool.empty()) return std::nullopt;
    const int32_t base = CrunchedBaseFormat(crunchedFormat);
    const std::optional<image::PictureCodec> codec = image::FindPictureCodec(base);
    if (!codec) throw KestrelError("Internal error: no decoder for crunched format " +
                                   std::to_string(crunchedFormat));
    const ScratchName crn(scratchBeside, ".crn");
    const ScratchName dds(scratchBeside, ".dds");
    WriteWholeFile(crn.path, crunched.data(), crunched.size());
    const std::optional<int> status =
        RunAndWait(tool, {"-out", dds.path.string(), "-file", crn.path.string()}, true);
    std::error_code ec;
    if (!status || *status != 0 || !fs::is_regular_file(dds.path, ec)) {
        throw KestrelError("the crunch tool " + tool.string() +
                           " could not decompress the texture (exit status " +
                           (status ? std::to_string(*status) : std::string("none")) + ")");
    }
    Reader file(FileSource::Open(dds.path, tool.filename().string() + "'s DDS file"));
    const DdsPictureHeader header = ReadDdsPictureHeader(file, base);
    if (header.row == nullptr || header.row->format != base || header.width != width ||
        header.height != height) {
        throw KestrelError("the crunch tool " + tool.string() + " wrote a " +
                           std::to_string(header.width) + " x " + std::to_string(header.height) +
                           " picture of another format than the texture's " +
                           std::to_string(width) + " x " + std::to_string(height) + " " +
                           TextureFormatShortName(base, true));
    }
    const uint64_t levelBytes = image::PictureLevelBytes(base, width, height);
    if (header.dataSize < levelBytes) {
        throw KestrelError("the crunch tool " + tool.string() + " wrote " +
                           std::to_string(header.dataSize) + " bytes of pixels, short of the " +
                           std::to_string(levelBytes) + " of the base level");
    }
    const std::vector<uint8_t> level = file.Bytes(levelBytes, "DDS base level");
    image::ImagePlane plane;
    codec->decode(level, width, height, plane);
    return plane;
}

} // namespace kestrel
