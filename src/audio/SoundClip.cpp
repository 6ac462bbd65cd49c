#include "audio/SoundClip.h"

#include "assets/ClassId.h"
#include "assets/ConverterInput.h"
#include "assets/TypeTree.h"
#include "common/Error.h"
#include "io/ResourcePath.h"
#include "io/SafePath.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrel {
namespace {

struct AudioSignature {
    std::string_view magic; // the first 4 bytes of the file
    std::string_view extension;
};

constexpr std::array<AudioSignature, 5> kAudioSignatures{{
    {"OggS", ".ogg"},
    {"RIFF", ".wav"},
    {"FORM", ".aif"},
    {"FSB5", ".fsb"},
    {std::string_view("ID3\x03", 4), ".mp3"},
}};

// An MPEG audio frame starts with eleven set bits, so a leading 0xFF is taken for MP3.
constexpr uint8_t kMpegSyncByte = 0xFF;

std::string SoundError(const std::string& exportName, const std::string& what) {
    return "Sound " + exportName + ": " + what;
}

SoundClip ReadEmbedded(Reader& body, SoundClip clip, const std::string& exportName) {
    body.Seek(body.Begin() + kSoundLengthPos, "sound length");
    clip.audioLength = body.U32("sound length");
    const uint64_t room = clip.bodySize - kSoundDataPos;
    if (clip.audioLength > room) {
        throw KestrelError(SoundError(exportName, "length " + std::to_string(clip.audioLength) +
                                                      " passes the end of the object (" +
                                                      std::to_string(room) + " bytes of sound)"));
    }
    clip.layout = SoundLayout::Embedded;
    return clip;
}

SoundClip ReadNamedResource(Reader& body, SoundClip clip, const std::string& exportName) {
    body.Seek(body.Begin() + kResourcePathPos, "resource path length");
    const uint32_t pathLength = body.U32("resource path length");
    const uint64_t pathEnd = kResourcePathPos + 4 + static_cast<uint64_t>(pathLength);
    const uint64_t fieldsPos = AlignUp4(pathEnd);
    if (fieldsPos + 16 > clip.bodySize) {
        throw KestrelError(SoundError(exportName, "resource path of " + std::to_string(pathLength) +
                                                      " bytes does not fit the object (" +
                                                      std::to_string(clip.bodySize) + " bytes)"));
    }
    const auto pathBytes = body.Bytes(pathLength, "resource path");
    clip.storedPath.assign(pathBytes.begin(), pathBytes.end());
    clip.offsetFieldPos = fieldsPos;
    body.Seek(body.Begin() + fieldsPos, "resource offset");
    clip.audioOffset = body.U64("resource offset");
    clip.audioLength = body.U64("resource length");
    clip.layout = SoundLayout::NamedResource;
    return clip;
}

// Formats 5 to 8 carry the AudioClip's tree: the body position of its sound bytes when they are
// the last field ("audio data", after their 32-bit length) and every field between the name and
// them has a fixed size; nullopt otherwise.
std::optional<uint64_t> TreeSoundDataPos(const AssetsFile& file) {
    if (file.metadataStart == 0) return std::nullopt;
    for (const SerializedType& type : file.types) {
        if (type.classId != ClassId::kAudioClip || type.tree.empty()) continue;
        try {
            const TypeTree tree(type.tree);
            const auto& fields = tree.Root().fields;
            if (fields.size() < 2 || fields.front()->name != "m_Name" ||
                fields.back()->kind != FieldKind::TypelessData)
                return std::nullopt;
            uint64_t pos = 0;
            for (size_t i = 1; i + 1 < fields.size(); ++i) {
                if (!IsPrimitive(fields[i]->kind)) return std::nullopt;
                pos += fields[i]->width;
                if (fields[i]->alignAfter) pos = AlignUp4(pos);
            }
            return pos + 4;
        } catch (const KestrelError&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

SoundClip ReadEmbeddedAt(Reader& body, uint64_t dataPos, const std::string& exportName) {
    SoundClip clip;
    clip.bodySize = body.End() - body.Begin();
    if (dataPos > clip.bodySize) {
        throw KestrelError(SoundError(exportName, "the object ends before its sound data (" +
                                                      std::to_string(clip.bodySize) + " bytes)"));
    }
    body.Seek(body.Begin() + dataPos - 4, "sound length");
    clip.audioLength = body.U32("sound length");
    if (clip.audioLength > clip.bodySize - dataPos) {
        throw KestrelError(SoundError(exportName, "length " + std::to_string(clip.audioLength) +
                                                      " passes the end of the object"));
    }
    clip.bodyExtension = ProbeAudioExtension(body);
    clip.dataPos = dataPos;
    if (!clip.bodyExtension.empty()) clip.layout = SoundLayout::Embedded;
    return clip;
}

} // namespace

std::string AudioExtension(const uint8_t* bytes, uint64_t available) {
    if (available < 4) return "";
    const std::string_view head(reinterpret_cast<const char*>(bytes), 4);
    for (const auto& signature : kAudioSignatures) {
        if (head == signature.magic) return std::string(signature.extension);
    }
    return bytes[0] == kMpegSyncByte ? ".mp3" : "";
}

std::string ProbeAudioExtension(Reader& reader) {
    const uint64_t pos = reader.Pos();
    uint8_t head[4] = {};
    const uint64_t got = reader.TryBytes(head, sizeof head);
    reader.Seek(pos);
    return AudioExtension(head, got);
}

SoundClip ReadSoundClip(Reader body, const std::string& exportName) {
    SoundClip clip;
    clip.bodySize = body.End() - body.Begin();
    if (clip.bodySize > kSoundDataPos) {
        body.Seek(body.Begin() + kSoundDataPos);
        clip.bodyExtension = ProbeAudioExtension(body);
    }
    if (!clip.bodyExtension.empty() && clip.bodySize != kStreamedBodySize) {
        return ReadEmbedded(body, clip, exportName);
    }
    if (clip.bodySize == kStreamedBodySize) {
        body.Seek(body.Begin() + kSoundLengthPos);
        clip.audioLength = body.U32("sound length");
        clip.audioOffset = body.U32("sound offset");
        clip.layout = SoundLayout::Streamed;
        return clip;
    }
    if (clip.bodySize >= kNamedResourceMinBody) {
        body.Seek(body.Begin() + kSoundDataPos);
        bool zeros = true;
        for (int i = 0; i < 8; ++i)
            zeros = body.U8("resource marker") == 0 && zeros;
        if (zeros) return ReadNamedResource(body, clip, exportName);
    }
    return clip;
}

SoundClip ReadSoundClip(Reader body, const AudioClipLayout& layout, const std::string& exportName) {
    SoundClip clip;
    clip.bodySize = body.End() - body.Begin();
    body.Seek(body.Begin());
    try {
        for (const ClipField& field : layout.fields) {
            const std::string_view name = field.name;
            if (name == "m_Offset") clip.offsetFieldPos = body.Pos() - body.Begin();
            switch (field.kind) {
            case ClipFieldKind::I32:
            case ClipFieldKind::F32:
                body.U32(field.name);
                break;
            case ClipFieldKind::U64: {
                const uint64_t v = body.U64(field.name);
                if (name == "m_Offset") clip.audioOffset = v;
                if (name == "m_Size") clip.audioLength = v;
                break;
            }
            case ClipFieldKind::Bool:
                body.U8(field.name);
                break;
            case ClipFieldKind::Align:
                body.AlignFromBegin(4);
                break;
            case ClipFieldKind::String: {
                std::string text = body.AlignedString(field.name);
                if (name == "m_Source") clip.storedPath = std::move(text);
                break;
            }
            }
        }
    } catch (const KestrelError& e) {
        throw KestrelError(SoundError(exportName, e.what()));
    }
    clip.layout = clip.storedPath.empty() ? SoundLayout::Unsupported : SoundLayout::NamedResource;
    return clip;
}

SoundClip ReadSoundClipOf(const ConverterContext& context, const Reader& body,
                          const std::string& exportName) {
    if (const auto dataPos = TreeSoundDataPos(context.assets)) {
        Reader whole = body;
        return ReadEmbeddedAt(whole, *dataPos, exportName);
    }
    const AudioClipLayout* layout =
        AudioClipLayoutFor(ParseEngineVersion(context.assets.header.engineVersion));
    return layout != nullptr ? ReadSoundClip(body, *layout, exportName)
                             : ReadSoundClip(body, exportName);
}

SoundResource ResolveSoundResource(const ConverterContext& context, const SoundClip& clip,
                                   const std::string& archiveDirName,
                                   const std::string& resourceName, const std::string& exportName) {
    SoundResource resource;
    if (clip.layout == SoundLayout::Streamed) {
        if (resourceName != SafeComponent(resourceName)) {
            throw KestrelError("Refused resource file name of " + exportName + ": \"" +
                               resourceName + "\"");
        }
        resource.relativePath = resourceName;
        const ResourcePlaces& at = context.places;
        const std::string& base = at.archiveDir.empty() ? at.outputBaseDir : at.archiveDir;
        resource.file = JoinInside(base, resource.relativePath, Links::Follow);
        resource.shownPath = base + resource.relativePath;
        resource.subdirectory = SafeComponent("resS_" + resourceName);
        return resource;
    }
    ResourcePlaces places = context.places;
    places.archiveDirName = archiveDirName;
    const ResourceFileLocation where = LocateResourceFile(places, clip.storedPath, exportName);
    resource.relativePath = where.relativePath;
    resource.file = where.file;
    resource.shownPath = where.shownPath;
    resource.subdirectory = SafeComponent("res_" + where.fileName);
    return resource;
}

std::string MissingResourceText(const std::string& prefix, const SoundResource& resource) {
    return prefix + resource.shownPath;
}

void RequireSoundDataInside(uint64_t offset, uint64_t length, uint64_t fileSize,
                            const std::string& fileName, const std::string& exportName) {
    if (offset > fileSize || length > fileSize - offset) {
        throw KestrelError(SoundError(exportName, "sound data at offset " + std::to_string(offset) +
                                                      ", " + std::to_string(length) +
                                                      " bytes long, lies outside " + fileName +
                                                      " (" + std::to_string(fileSize) + " bytes)"));
    }
}

void CopySoundData(Reader& from, OutputFile& to, uint64_t at) {
    constexpr uint64_t kChunk = 1 << 20;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kChunk, from.Remaining())));
    while (from.Remaining() != 0) {
        const uint64_t n = std::min<uint64_t>(buffer.size(), from.Remaining());
        from.Bytes(buffer.data(), n, "sound data");
        to.WriteAt(at, buffer.data(), static_cast<size_t>(n));
        at += n;
    }
}

} // namespace kestrel
