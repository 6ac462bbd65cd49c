#pragma once
// What a person wants to know of a sound at a glance, read from its audio file's own headers.
#include "io/Reader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel {

struct SoundStreamFacts {
    std::string format; // "WAV (PCM)", "Ogg Vorbis"
    uint32_t channels = 0;
    uint32_t frequency = 0; // samples per second
    double seconds = -1;    // below 0 when the file does not tell
};

// Reads the facts of the audio file that `sound` holds exactly: a RIFF WAVE file by its "fmt " and
// "data" chunks, an Ogg Vorbis file by its identification header and the granule position of its
// last page. nullopt for other formats; raises KestrelError when a header runs past the bytes.
std::optional<SoundStreamFacts> ReadSoundStreamFacts(const Reader& sound);

} // namespace kestrel
