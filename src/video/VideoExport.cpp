#include "video/VideoExport.h"

#include "common/EngineVersion.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteStreams.h"
#include "io/ResourceFile.h"
#include "io/ResourcePath.h"
#include "io/SafePath.h"

#include <system_error>

namespace kestrel {
namespace {

// Where the video data lies: the fields of m_ExternalResources and the original file's name.
struct VideoResource {
    std::string originalPath;
    std::string source;
    uint64_t offset = 0;
    uint64_t size = 0;
};

// The VideoClip's fields after its name, up to m_ExternalResources, as the engine stores them
// from 5.6 on: the pixel aspect ratio from 2017.2, the video shaders from 2020.1.
VideoResource ReadVideoResource(Reader r, const EngineVersion& version) {
    VideoResource v;
    v.originalPath = r.AlignedString("m_OriginalPath");
    r.Skip(16, "proxy and picture sizes");
    if (version >= EngineVersion{2017, 2, 0, 'a', 0}) r.Skip(8, "pixel aspect ratio");
    r.Skip(8 + 8 + 4, "frame rate, frame count and format");
    r.SkipArray(2, "m_AudioChannelCount");
    r.SkipArray(4, "m_AudioSampleRate");
    const uint32_t languages = r.U32("m_AudioLanguage");
    for (uint32_t i = 0; i < languages; ++i)
        r.AlignedString("m_AudioLanguage");
    if (version >= EngineVersion{2020, 1, 0, 'a', 0}) r.SkipArray(12, "m_VideoShaders");
    v.source = r.AlignedString("m_ExternalResources.m_Source");
    v.offset = r.U64("m_ExternalResources.m_Offset");
    v.size = r.U64("m_ExternalResources.m_Size");
    return v;
}

// The original file's extension when it is a plain one (".mp4", ".webm"), else ".video".
std::string VideoExtension(const std::string& originalPath) {
    const auto slash = originalPath.find_last_of("/\\");
    const std::string name =
        slash == std::string::npos ? originalPath : originalPath.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size() || name.size() - dot > 8)
        return ".video";
    const std::string ext = name.substr(dot);
    for (size_t i = 1; i < ext.size(); ++i) {
        const char c = ext[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return ".video";
    }
    return ext;
}

} // namespace

void ExportVideoClip(const ConverterInput& in) {
    const ConverterContext& context = in.context;
    Reader body = in.object;
    body.SetOrder(context.assets.header.DataOrder());
    const VideoResource video =
        ReadVideoResource(body, ParseEngineVersion(context.assets.header.engineVersion));
    if (video.source.empty() || video.size == 0) {
        in.Report().Notice("No video data in " + in.exportName);
        return;
    }
    const ResourceFileLocation where =
        LocateResourceFile(context.places, video.source, in.exportName);
    if (!ResourceFileExists(where.file)) {
        throw KestrelError(context.text.MsgMissingFile + where.shownPath);
    }
    const auto source = OpenResourceFile(where.file);
    if (video.offset > source->Size() || video.size > source->Size() - video.offset) {
        throw KestrelError("Video data of " + in.exportName + " at offset " +
                           HexOffset(video.offset) + ", " + std::to_string(video.size) +
                           " bytes long, lies outside " + where.shownPath);
    }
    AtomicOutputFile out(in.OutputFile(in.exportName + VideoExtension(video.originalPath)),
                         AtomicOutputFile::Flush::RenameOnly);
    SourceInput from(source, video.offset, video.offset + video.size);
    FileOutput to(out.File());
    CopyStream(from, to);
    out.Commit();
}

} // namespace kestrel
