#include "io/Writer.h"
#include "texture/ExternalTool.h"
#include "texture/TextureExport.h"
#include "texture/TextureResource.h"

namespace kestrel {

void ExportTextureCRN(const ConverterInput& in) {
    Reader object = in.object;
    object.SetOrder(in.context.assets.header.DataOrder());
    const TextureObject tex = ReadTextureHeader(object, TextureLayoutOf(in));
    CheckTextureHeaderSizes(tex.header);
    auto images = OpenTextureImages(in, tex, object);
    if (!images) return;
    // Only the first image holds crunched data; a CRN file is that data as stored.
    RequireImages(tex.header, images->source, 1);
    const auto data =
        images->source.Bytes(static_cast<uint64_t>(tex.header.completeImageSize), "image");
    const auto crnFile = TextureOutputFile(in, images->resourceDir, ".crn", 1);
    WriteWholeFile(crnFile, data.data(), data.size());
    in.Report().ProgressLine(in.exportName + " -> CRN");

    if (!in.context.exportDDS) return;
    const auto tool = FindCrunchTool(in.context.executableDir);
    if (tool.empty()) return;
    in.Report().ProgressLine(in.exportName + ".crn -> DDS");
    const std::string crnPath = crnFile.string();
    // The tool writes the DDS image beside the CRN file; its result is not read back here.
    RunAndWait(tool, {"-out", crnPath + ".dds", "-file", crnPath}, true);
}

} // namespace kestrel
