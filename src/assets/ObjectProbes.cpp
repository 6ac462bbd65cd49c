#include "assets/ObjectProbes.h"

#include "assets/ClassId.h"

#include "common/EngineVersion.h"
#include "io/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrel {

ObjectBytes::ObjectBytes(const ByteSource& source, uint64_t start, uint32_t size, bool bigEndian)
    : source_(source), start_(start), size_(size), big_(bigEndian) {
    const size_t want = std::min<size_t>(kHeadSize, size_);
    headLength_ = source_.ReadAt(start_, head_.data(), want);
}

bool ObjectBytes::Read(uint64_t offset, void* dst, uint64_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    if (offset + count <= headLength_) {
        std::memcpy(dst, head_.data() + offset, static_cast<size_t>(count));
        return true;
    }
    return source_.ReadAt(start_ + offset, dst, static_cast<size_t>(count)) == count;
}

std::optional<uint32_t> ObjectBytes::Word(uint64_t offset) const {
    uint8_t b[4];
    if (!Read(offset, b, 4)) return std::nullopt;
    return LoadU32(b, big_ ? Endian::Big : Endian::Little);
}

bool ObjectBytes::Holds(uint64_t offset, std::string_view bytes) const {
    char buf[8];
    if (bytes.size() > sizeof buf || !Read(offset, buf, bytes.size())) return false;
    return std::memcmp(buf, bytes.data(), bytes.size()) == 0;
}

namespace {

// The single-precision value 0.1 that precedes the font data length, as stored in each order.
constexpr std::string_view kPointOneLittle{"\xCD\xCC\xCC\x3D", 4};
constexpr std::string_view kPointOneBig{"\x3D\xCC\xCC\xCD", 4};
constexpr std::string_view kOs2Tag{"OS/2", 4};
constexpr std::string_view kOggTag{"OggS", 4};
constexpr std::string_view kXmlStart{"<?xml", 5};

// An inner payload is kept only when it lies inside the object; otherwise there is none.
void SetPayload(ProbeResult& out, const ObjectBytes& object, uint64_t nameEnd, uint64_t offset,
                std::optional<uint32_t> size) {
    if (size && nameEnd + offset + *size <= object.Size()) {
        out.payloadOffset = static_cast<uint32_t>(offset);
        out.payloadSize = *size;
    } else {
        out.payloadOffset = 0;
        out.payloadSize = 0;
    }
}

struct FontScan {
    std::optional<uint64_t> afterMarker; // object offset just past the value 0.1
    bool sawOs2 = false;
};

// Reads the 4-byte groups from the name end up to the object end, in chunks.
FontScan ScanFont(const ObjectBytes& object, uint64_t nameEnd) {
    const std::string_view marker = object.BigEndian() ? kPointOneBig : kPointOneLittle;
    constexpr uint64_t kChunk = uint64_t{64} * 1024;
    std::vector<char> chunk;
    FontScan scan;
    uint64_t pos = nameEnd;
    while (pos + 4 <= object.Size()) {
        const uint64_t groups = std::min<uint64_t>(kChunk, object.Size() - pos) / 4;
        chunk.resize(static_cast<size_t>(groups * 4));
        if (!object.Read(pos, chunk.data(), chunk.size())) break;
        for (uint64_t g = 0; g < groups; ++g, pos += 4) {
            const std::string_view group(chunk.data() + g * 4, 4);
            if (group == marker) {
                scan.afterMarker = pos + 4;
                return scan;
            }
            if (group == kOs2Tag) scan.sawOs2 = true;
        }
    }
    return scan;
}

void ProbeFont(ProbeResult& out, const ObjectBytes& object, uint64_t nameEnd, bool fontAsObject) {
    const FontScan scan = ScanFont(object, nameEnd);
    if (scan.afterMarker && *scan.afterMarker < object.Size()) {
        const uint64_t at = *scan.afterMarker;
        SetPayload(out, object, nameEnd, at - nameEnd + 4, object.Word(at));
    } else if (scan.sawOs2) {
        // Fonts with a glyph table keep its entry count at +48 and the data length after the
        // 8-byte entries that start at +56.
        const auto count = object.Word(nameEnd + 48);
        if (count && *count != 0) {
            const uint64_t at = nameEnd + 56 + 8 * uint64_t{*count};
            if (at < object.Size())
                SetPayload(out, object, nameEnd, at - nameEnd + 4, object.Word(at));
        }
    }
    if (out.payloadSize == 0) {
        out.payloadOffset = 0;
        out.extension = ".font_raw";
    }
    if (fontAsObject) {
        out.payloadOffset = 0;
        out.payloadSize = 0;
        out.extension = ".fnt";
    }
}

void ProbeText(ProbeResult& out, const ObjectBytes& object, uint64_t nameEnd) {
    // The text follows its length word; a length that runs past the object leaves no text.
    SetPayload(out, object, nameEnd, 4, object.Word(nameEnd));
    out.payloadOffset = 4;
    if (object.Holds(nameEnd + 4, kXmlStart)) out.extension = ".xml";
}

void ProbeMovie(ProbeResult& out, const ObjectBytes& object, uint64_t nameEnd) {
    if (object.Holds(nameEnd + 16, kOggTag)) {
        SetPayload(out, object, nameEnd, 16, object.Word(nameEnd + 12));
    } else if (object.Holds(nameEnd + 20, kOggTag)) {
        SetPayload(out, object, nameEnd, 20, object.Word(nameEnd + 16));
    }
}

std::optional<int32_t> AsFormat(std::optional<uint32_t> word) {
    if (!word) return std::nullopt;
    return static_cast<int32_t>(*word);
}

} // namespace

ProbeResult ProbeObject(int32_t classId, const ObjectBytes& object, uint32_t nameEnd,
                        std::string extension, bool fontAsObject) {
    ProbeResult out;
    out.extension = std::move(extension);
    switch (classId) {
    case ClassId::kFont:
        ProbeFont(out, object, nameEnd, fontAsObject);
        break;
    case ClassId::kShader:
    case ClassId::kTextAsset:
        ProbeText(out, object, nameEnd);
        break;
    case ClassId::kMovieTexture:
        ProbeMovie(out, object, nameEnd);
        break;
    case ClassId::kTexture2D:
    case ClassId::kCubemap:
        out.textureFormat = AsFormat(object.Word(uint64_t{nameEnd} + 12));
        break;
    case ClassId::kProceduralTexture:
        if (object.Size() >= uint64_t{nameEnd} + 12) {
            out.textureFormat = AsFormat(object.Word(object.Size() - 12));
        }
        break;
    default:
        break;
    }
    return out;
}

namespace {

// Offset of m_TextureFormat after the name of a Texture2D or Cubemap: width, height and image
// size first; 2017.3 adds the fallback format and a flag word in front, 2020.1 the stripped mip
// count after the image size; 2023.2 dropped the fallback format, keeping one flag word.
uint64_t TextureFormatOffset(const std::string& engineVersion) {
    const EngineVersion v = ParseEngineVersion(engineVersion);
    if (v >= Version(2023, 2)) return 20;
    if (v >= Version(2020, 1)) return 24;
    if (v >= Version(2017, 3)) return 20;
    return 12;
}

} // namespace

ProbeResult ProbeModernObject(int32_t classId, const ObjectBytes& object, uint32_t nameEnd,
                              std::string extension, bool fontAsObject,
                              const std::string& engineVersion) {
    switch (classId) {
    case ClassId::kShader: {
        ProbeResult out;
        out.extension = std::move(extension);
        out.payloadOffset = 0;
        out.payloadSize = object.Size() - nameEnd;
        return out;
    }
    case ClassId::kTexture2D:
    case ClassId::kCubemap: {
        ProbeResult out;
        out.extension = std::move(extension);
        out.textureFormat =
            AsFormat(object.Word(uint64_t{nameEnd} + TextureFormatOffset(engineVersion)));
        return out;
    }
    default:
        return ProbeObject(classId, object, nameEnd, std::move(extension), fontAsObject);
    }
}

} // namespace kestrel
