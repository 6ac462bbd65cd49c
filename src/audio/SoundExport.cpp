#include "audio/SoundExport.h"

#include "common/Error.h"
#include "io/AtomicFile.h"

#include "audio/SoundClip.h"
#include "io/ResourceFile.h"
#include "io/SafePath.h"
#include "io/Writer.h"

#include <system_error>

namespace kestrel {
namespace {

void WriteSoundFile(const ConverterInput& in, const std::string& subdirectory,
                    const std::string& extension, Reader& data) {
    auto dir = in.OutputDir();
    if (!subdirectory.empty()) {
        dir = JoinInside(dir, subdirectory);
        CreateDirectories(dir);
    }
    AtomicOutputFile out(JoinInside(dir, SafeComponent(in.exportName + extension)),
                         AtomicOutputFile::Flush::RenameOnly);
    CopySoundData(data, out.File(), 0);
    out.Commit();
    in.Report().ProgressLine(in.exportName + " -> Audio File - " + extension);
}

void ExportFromResource(const ConverterInput& in, const SoundClip& clip,
                        const std::string& archiveDirName, const std::string& resourceName) {
    const SoundResource resource =
        ResolveSoundResource(in.context, clip, archiveDirName, resourceName, in.exportName);
    if (!ResourceFileExists(resource.file)) {
        throw KestrelError(MissingResourceText(in.context.text.MsgMissingFile, resource));
    }
    const auto source = OpenResourceFile(resource.file);
    RequireSoundDataInside(clip.audioOffset, clip.audioLength, source->Size(), resource.shownPath,
                           in.exportName);
    Reader data(source, clip.audioOffset, clip.audioOffset + clip.audioLength);
    // The extension comes from the resource data alone: the body bytes at 20 of a streamed clip
    // are its offset, whose look says nothing about the sound.
    const std::string extension = ProbeAudioExtension(data);
    WriteSoundFile(in, resource.subdirectory, extension, data);
}

} // namespace

void ExportSound(const ConverterInput& in, const std::string& archiveDirName,
                 const std::string& defaultResourceName) {
    Reader body = in.object;
    body.SetOrder(in.context.assets.header.DataOrder());
    const SoundClip clip = ReadSoundClipOf(in.context, body, in.exportName);
    switch (clip.layout) {
    case SoundLayout::Unsupported:
        in.Report().Notice("Not supported file " + in.exportName);
        return;
    case SoundLayout::Embedded: {
        Reader data = body.Sub(body.Begin() + clip.dataPos, clip.audioLength, "sound data");
        WriteSoundFile(in, "", clip.bodyExtension, data);
        return;
    }
    case SoundLayout::Streamed:
    case SoundLayout::NamedResource:
        ExportFromResource(in, clip, archiveDirName, defaultResourceName);
        return;
    }
}

} // namespace kestrel
