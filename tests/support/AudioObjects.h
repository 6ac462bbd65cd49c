#pragma once
#include "common/Reporter.h"
#include "io/ByteOrder.h"
#include "support/RecordedMessages.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

struct OpenedArchive;

// AudioClip bodies (the bytes after the object's name field) in the layouts the engine writes.

// Engines 3 and 4 keep the audio file inside the object: m_Format, m_Type, m_3D and
// m_UseHardware, m_Stream, then the length at 16 and the audio bytes from 20, padded to 4.
// engineMajor chooses the field values; engines 5 and later never embed (std::invalid_argument).
std::vector<uint8_t> MakeEmbeddedAudioBody(int engineMajor, Endian order,
                                           const std::vector<uint8_t>& audioBytes);

// Engine 4 clip streamed from the .resS file beside the assets file: 24 bytes, the length at 16
// and the offset into the resource file at 20.
std::vector<uint8_t> MakeStreamedAudioBody(Endian order, uint32_t audioLength,
                                           uint32_t audioOffset);

// Engine 5 clip naming its resource file: the clip fields, m_Source at 32 (length and text,
// padded to 4), u64 offset, u64 length, m_CompressionFormat.
std::vector<uint8_t> MakeNamedResourceAudioBody(Endian order, const std::string& resourcePath,
                                                uint64_t audioOffset, uint64_t audioLength);

// A clip of 5.5 and later laid out for `engineVersion` by the builder's own reading of the
// engine's type trees: from 2017.1 m_Ambisonic is the byte after m_IsTrackerFormat (before, that
// byte is padding). `ambisonic` and `subsoundIndex` fill those fields.
std::vector<uint8_t> MakeVersionedAudioBody(const std::string& engineVersion, Endian order,
                                            const std::string& resourcePath, uint64_t audioOffset,
                                            uint64_t audioLength, bool ambisonic = false,
                                            uint32_t subsoundIndex = 0);

// The whole object: the name field (u32 length, the name, zeros to 4) followed by the body.
std::vector<uint8_t> MakeAudioClipObject(const std::string& name, Endian order,
                                         const std::vector<uint8_t>& body);

// A valid RIFF WAVE file of `samples` 8-bit mono samples at 8000 Hz (a short ramp).
std::vector<uint8_t> MakeTinyWav(uint32_t samples);

// A short Ogg Vorbis sine made by ffmpeg in `dir`; empty when ffmpeg is missing or fails.
std::vector<uint8_t> MakeTinyOgg(const std::filesystem::path& dir);

// The format name ffprobe gives for a file ("wav", "ogg", ...), or "" when ffprobe cannot read
// it or is missing.
std::string ProbeFormatName(const std::filesystem::path& file);

// True when ffprobe runs on this machine.
bool HaveFfprobe();

// Makes `dir` the archive's directory holding a plain file "level0" with one AudioClip object
// (name field + body) at data offset 16, opens it in `opened` and fills its inner file with one
// item row "<exportName>" describing it (format 15 rows, directory name "level0").
void InstallOneClip(OpenedArchive& opened, const std::filesystem::path& dir,
                    const std::string& exportName, Endian order, const std::vector<uint8_t>& body);

} // namespace kestrel::test
