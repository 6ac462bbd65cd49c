#include "audio/SoundFacts.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrel {
namespace {

// Ogg pages of a stream's end are searched for in this many last bytes (a page is at most
// 65,307 bytes).
constexpr uint64_t kOggTail = 65536 + 512;

uint32_t Le(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | p[k];
    return v;
}

std::optional<SoundStreamFacts> WaveFacts(Reader r) {
    r.SetOrder(Endian::Little);
    r.Skip(12, "RIFF header");
    SoundStreamFacts facts;
    uint32_t byteRate = 0;
    while (r.Remaining() >= 8) {
        char id[4];
        r.Bytes(id, 4, "chunk id");
        const uint32_t size = r.U32("chunk size");
        if (std::memcmp(id, "fmt ", 4) == 0 && size >= 16) {
            const uint16_t tag = r.U16("format tag");
            facts.channels = r.U16("channels");
            facts.frequency = r.U32("sample rate");
            byteRate = r.U32("byte rate");
            facts.format = tag == 1 ? "WAV (PCM)" : "WAV (format " + std::to_string(tag) + ")";
            r.Skip(std::min<uint64_t>(size - 12, r.Remaining()), "fmt chunk");
        } else if (std::memcmp(id, "data", 4) == 0) {
            if (byteRate != 0) facts.seconds = static_cast<double>(size) / byteRate;
            break;
        } else {
            r.Skip(std::min<uint64_t>(size + (size & 1), r.Remaining()), "chunk");
        }
    }
    if (facts.format.empty()) return std::nullopt;
    return facts;
}

std::optional<SoundStreamFacts> VorbisFacts(const Reader& sound) {
    // The first page holds the identification packet: "\1vorbis", version, channels, rate.
    Reader r = sound;
    r.Skip(26, "Ogg page header");
    const uint8_t segments = r.U8("segment count");
    r.Skip(segments, "segment table");
    uint8_t packet[16];
    r.Bytes(packet, sizeof packet, "Vorbis identification");
    if (packet[0] != 1 || std::memcmp(packet + 1, "vorbis", 6) != 0) return std::nullopt;
    SoundStreamFacts facts;
    facts.format = "Ogg Vorbis";
    facts.channels = packet[11];
    facts.frequency = Le(packet + 12, 4);
    // The last page's granule position counts the samples of the stream.
    const uint64_t tail = std::min<uint64_t>(kOggTail, sound.End() - sound.Begin());
    Reader end = sound.Sub(sound.End() - tail, tail, "Ogg stream end");
    const std::vector<uint8_t> bytes = end.Bytes(tail, "Ogg stream end");
    // A page header needs 14 bytes up to the end of its granule position.
    for (size_t k = bytes.size() >= 14 ? bytes.size() - 13 : 0; k-- > 0;) {
        if (std::memcmp(&bytes[k], "OggS", 4) != 0) continue;
        const uint64_t granule = Le(&bytes[k + 6], 4) | (uint64_t{Le(&bytes[k + 10], 4)} << 32);
        if (facts.frequency != 0 && granule != ~uint64_t{0})
            facts.seconds = static_cast<double>(granule) / facts.frequency;
        break;
    }
    return facts;
}

} // namespace

std::optional<SoundStreamFacts> ReadSoundStreamFacts(const Reader& sound) {
    if (sound.Remaining() < 16) return std::nullopt;
    Reader head = sound;
    char magic[12];
    head.Bytes(magic, sizeof magic, "audio header");
    if (std::memcmp(magic, "RIFF", 4) == 0 && std::memcmp(magic + 8, "WAVE", 4) == 0)
        return WaveFacts(sound);
    if (std::memcmp(magic, "OggS", 4) == 0) return VorbisFacts(sound);
    return std::nullopt;
}

} // namespace kestrel
