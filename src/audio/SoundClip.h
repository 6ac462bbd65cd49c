#pragma once
#include "assets/ConverterInput.h"
#include "audio/AudioClipLayout.h"
#include "io/Reader.h"
#include "io/Writer.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrel {

// The three ways an AudioClip body holds its sound, told apart by the body's size and the bytes
// at fixed positions. "Body" is the object's bytes after its name field.
enum class SoundLayout {
    Unsupported,
    Embedded,      // older engines: u32 length at 16, the audio file itself from 20
    Streamed,      // older engines, exactly 24 bytes: u32 length at 16, u32 offset into the .resS
    NamedResource, // newer engines: resource path at 32, then u64 offset and u64 length
};

// Body positions of the fields every layout uses.
inline constexpr uint64_t kSoundLengthPos = 16;
inline constexpr uint64_t kSoundDataPos = 20;
inline constexpr uint64_t kStreamedBodySize = 24;
inline constexpr uint64_t kResourcePathPos = 32;
inline constexpr uint64_t kNamedResourceMinBody = 52;

// What the body says about its sound. Positions are relative to the body start.
struct SoundClip {
    SoundLayout layout = SoundLayout::Unsupported;
    uint64_t bodySize = 0;
    // Extension of the audio file found at body position 20 ("" when none).
    std::string bodyExtension;
    uint64_t audioLength = 0;
    uint64_t audioOffset = 0; // Streamed and NamedResource: position in the resource file
    // NamedResource: the resource path as stored and the body position of its u64 offset field
    // (the u64 length follows it).
    std::string storedPath;
    uint64_t offsetFieldPos = 0;
    // Embedded: where the sound bytes start (their 32-bit length stands just before them).
    uint64_t dataPos = kSoundDataPos;
};

// Extension of an audio file from its first bytes: ".ogg", ".wav", ".aif", ".fsb", ".mp3", or ""
// when they match no signature (also when fewer than 4 bytes are available).
std::string AudioExtension(const uint8_t* bytes, uint64_t available);

// The signature test at the reader's position; the position is left unchanged.
std::string ProbeAudioExtension(Reader& reader);

// Reads the layout and its fields from a reader over the whole body (at any position, in the
// file's byte order). An embedded clip whose length passes the body end raises KestrelError.
SoundClip ReadSoundClip(Reader body, const std::string& exportName);

// Reads a clip of 5.5 and later by its layout row: a non-empty m_Source gives a NamedResource clip
// (offsetFieldPos at m_Offset, m_Size after it); an empty one is Unsupported. Raises KestrelError
// when the fields do not fit the body.
SoundClip ReadSoundClip(Reader body, const AudioClipLayout& layout, const std::string& exportName);

// The reading for the engine version the assets header states: by layout row from 5.5 on; for
// serialized formats 5 to 8 by the AudioClip type tree (the sound bytes are its last field, after
// fields of fixed sizes); by the body's size and bytes otherwise.
SoundClip ReadSoundClipOf(const ConverterContext& context, const Reader& body,
                          const std::string& exportName);

// Where a Streamed or NamedResource clip's resource file lies.
struct SoundResource {
    std::string relativePath;   // relative to OutputBaseDir, "/"-separated
    std::filesystem::path file; // OutputBaseDir + relativePath
    std::string shownPath;      // the text of the missing-file message
    std::string subdirectory;   // of Sounds/: "resS_<name>" or "res_<file name>"
};

// Resolves the resource file of a clip. A stored path of the form "archive:..." names the
// exported resource entry of the archive's bundle: Unity_Assets_Files/<first component of
// archiveDirName>/<R>/<R>, R being the stored path's file name. Any other path is taken relative
// to OutputBaseDir. Absolute paths and paths with a ".." component are refused with a
// KestrelError naming the clip, so no file outside OutputBaseDir is ever read or written.
SoundResource ResolveSoundResource(const ConverterContext& context, const SoundClip& clip,
                                   const std::string& archiveDirName,
                                   const std::string& resourceName, const std::string& exportName);

// The missing-resource text: "Отсутствует файл: " + the path looked for.
std::string MissingResourceText(const std::string& prefix, const SoundResource& resource);

// Raises a KestrelError naming the clip unless [offset, offset + length) lies inside a file of
// fileSize bytes.
void RequireSoundDataInside(uint64_t offset, uint64_t length, uint64_t fileSize,
                            const std::string& fileName, const std::string& exportName);

// Copies the rest of `from` to `to` at position `at`, in bounded chunks.
void CopySoundData(Reader& from, OutputFile& to, uint64_t at);

} // namespace kestrel
