#include "audio/SoundImport.h"

#include "audio/SoundClip.h"
#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ResourceFile.h"
#include "io/SafePath.h"
#include "io/Writer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <system_error>
#include <vector>

namespace kestrel {
namespace {

constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

// Writes an unsigned value of `width` bytes at `pos` in the given byte order.
void PutValue(std::vector<uint8_t>& bytes, uint64_t pos, uint64_t value, int width, Endian order) {
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (order == Endian::Big ? width - 1 - i : i);
        bytes.at(static_cast<size_t>(pos) + static_cast<size_t>(i)) =
            static_cast<uint8_t>(value >> shift);
    }
}

std::vector<uint8_t> BodyPrefix(Reader body, uint64_t count) {
    body.Seek(body.Begin());
    return body.Bytes(count, "sound object");
}

// Writes the new body beside its final place first (the atomic output file); Commit moves it
// there once the resource file holds the data it points to. Dropped without Commit, it leaves
// nothing.
class StagedRawObject {
public:
    StagedRawObject(const std::filesystem::path& target, const std::vector<uint8_t>& body)
        : file_((CreateDirectories(target.parent_path()), target),
                AtomicOutputFile::Flush::RenameOnly) {
        file_.Write(body);
    }
    void Commit() { file_.Commit(); }

private:
    AtomicOutputFile file_;
};

// True when `length` bytes of `stored` at `offset` equal the whole of `audio`.
bool SameBytes(const ByteSource& audio, const ByteSource& stored, uint64_t offset,
               uint64_t length) {
    constexpr uint64_t kChunk = 1 << 20;
    std::vector<uint8_t> a(static_cast<size_t>(std::min(kChunk, length)));
    std::vector<uint8_t> b(a.size());
    for (uint64_t done = 0; done < length;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(a.size(), length - done));
        if (audio.ReadAt(done, a.data(), n) != n ||
            stored.ReadAt(offset + done, b.data(), n) != n ||
            !std::equal(a.begin(), a.begin() + n, b.begin())) {
            return false;
        }
        done += n;
    }
    return true;
}

std::filesystem::path RawObjectPath(const SoundImportInput& in) {
    return JoinInside(in.context.places.outputBaseDir, SafeRelativePath(in.rawObjectRelativePath));
}

// The body up to the sound, the new length and sound, zero bytes up to a multiple of 4.
void ImportEmbedded(const SoundImportInput& in, const Reader& body, uint64_t dataPos) {
    const auto audio = FileSource::Open(in.audioFile);
    const uint64_t length = audio->Size();
    // The length field is 32-bit and the object size too, so the padded body must stay below 4 GiB.
    if (length > kMaxU32 - dataPos - 3) {
        throw KestrelError("Sound " + in.exportName + ": " + in.audioFile.string() + " (" +
                           std::to_string(length) + " bytes) is too large for the object");
    }
    std::vector<uint8_t> newBody = BodyPrefix(body, dataPos);
    PutValue(newBody, dataPos - 4, length, 4, body.Order());
    newBody.resize(static_cast<size_t>(dataPos + AlignUp4(length)), 0);
    Reader(audio).Bytes(newBody.data() + dataPos, length, "audio file");
    StagedRawObject raw(RawObjectPath(in), newBody);
    raw.Commit();
}

void ImportIntoResource(const SoundImportInput& in, const Reader& body, const SoundClip& clip) {
    const SoundResource resource =
        ResolveSoundResource(in.context, clip, in.archiveDirName, in.resourceName, in.exportName);
    if (!ResourceFileExists(resource.file)) {
        throw KestrelError(MissingResourceText(in.context.text.MsgMissingFile, resource));
    }
    const auto audio = FileSource::Open(in.audioFile);
    const uint64_t length = audio->Size();
    const auto stored = OpenResourceFile(resource.file);
    const uint64_t resourceSize = stored->Size();
    RequireSoundDataInside(clip.audioOffset, clip.audioLength, resourceSize, resource.shownPath,
                           in.exportName);
    // The sound the clip refers to stays where it is: an edited one goes after the file's end, so
    // that the archive, until it is written again, still finds its sound whole. An unedited one
    // changes nothing.
    const bool unchanged =
        clip.audioLength == length && SameBytes(*audio, *stored, clip.audioOffset, length);
    const uint64_t offset = unchanged ? clip.audioOffset : resourceSize;
    std::vector<uint8_t> newBody = BodyPrefix(body, clip.bodySize);
    if (clip.layout == SoundLayout::Streamed) {
        if (offset > kMaxU32 || length > kMaxU32) {
            throw KestrelError("Sound " + in.exportName + ": the sound would lie past 4 GiB in " +
                               resource.shownPath + ", beyond what the clip's 32-bit fields hold");
        }
        PutValue(newBody, kSoundLengthPos, length, 4, body.Order());
        PutValue(newBody, kSoundDataPos, offset, 4, body.Order());
    } else {
        PutValue(newBody, clip.offsetFieldPos, offset, 8, body.Order());
        PutValue(newBody, clip.offsetFieldPos + 8, length, 8, body.Order());
    }
    StagedRawObject raw(RawObjectPath(in), newBody);
    if (!unchanged && AppendToResourceFile(resource.file, *audio) != offset) {
        throw KestrelError("Sound " + in.exportName + ": " + resource.shownPath +
                           " changed its size while the sound was imported");
    }
    raw.Commit();
}

} // namespace

void ImportSound(const SoundImportInput& in) {
    Reader body = in.object;
    body.SetOrder(in.context.assets.header.DataOrder());
    const SoundClip clip = ReadSoundClipOf(in.context, body, in.exportName);
    switch (clip.layout) {
    case SoundLayout::Unsupported:
        in.context.reporter.Notice("Not supported file " + in.exportName);
        return;
    case SoundLayout::Embedded:
        ImportEmbedded(in, body, clip.dataPos);
        return;
    case SoundLayout::Streamed:
    case SoundLayout::NamedResource:
        ImportIntoResource(in, body, clip);
        return;
    }
}

} // namespace kestrel
