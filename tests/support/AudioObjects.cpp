#include "support/AudioObjects.h"

#include "support/OpenedArchive.h"

#include "common/EngineVersion.h"

#include "io/ByteSource.h"
#include "io/Writer.h"

#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <fstream>
#include <iterator>

extern char** environ;

namespace kestrel::test {
namespace {

// The engine's AudioType numbers of the file kinds the builder embeds.
uint32_t AudioTypeOf(const std::vector<uint8_t>& audio) {
    const std::string head(audio.begin(),
                           audio.begin() + static_cast<long>(std::min<size_t>(4, audio.size())));
    if (head == "OggS") return 14;
    if (head == "RIFF") return 20;
    if (head == "FORM") return 2;
    return 13; // MPEG
}

struct RunResult {
    int exitCode = -1;
    std::string output;
};

// Runs a program with an argument vector (no shell) and captures its standard output.
RunResult Run(const std::vector<std::string>& args) {
    RunResult result;
    int fds[2];
    if (::pipe(fds) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            result.output.append(buf, n);
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
        }
    }
    ::close(fds[0]);
    return result;
}

} // namespace

std::vector<uint8_t> MakeEmbeddedAudioBody(int engineMajor, Endian order,
                                           const std::vector<uint8_t>& audioBytes) {
    if (engineMajor >= 5) {
        throw std::invalid_argument("engines 5 and later keep sounds in a resource file");
    }
    Writer w(order);
    w.U32(2);                       // m_Format
    w.U32(AudioTypeOf(audioBytes)); // m_Type
    w.U8(1);                        // m_3D
    w.U8(0);                        // m_UseHardware
    w.Zeros(2);
    w.U32(1); // m_Stream: decompress on load
    w.U32(static_cast<uint32_t>(audioBytes.size()));
    w.Bytes(audioBytes.data(), audioBytes.size());
    w.Align4();
    return w.Take();
}

std::vector<uint8_t> MakeStreamedAudioBody(Endian order, uint32_t audioLength,
                                           uint32_t audioOffset) {
    Writer w(order);
    w.U32(2);  // m_Format
    w.U32(14); // m_Type
    w.U8(1);
    w.U8(0);
    w.Zeros(2);
    w.U32(2); // m_Stream: streamed from the resource file
    w.U32(audioLength);
    w.U32(audioOffset);
    return w.Take();
}

std::vector<uint8_t> MakeVersionedAudioBody(const std::string& engineVersion, Endian order,
                                            const std::string& resourcePath, uint64_t audioOffset,
                                            uint64_t audioLength, bool ambisonic,
                                            uint32_t subsoundIndex) {
    const EngineVersion v = ParseEngineVersion(engineVersion);
    const bool hasAmbisonic = v.major >= 2017;
    Writer w(order);
    w.U32(1);     // m_LoadType
    w.U32(2);     // m_Channels
    w.U32(44100); // m_Frequency
    w.U32(16);    // m_BitsPerSample
    w.F32(1.5f);  // m_Length
    w.U8(0);      // m_IsTrackerFormat
    if (hasAmbisonic) w.U8(ambisonic ? 1 : 0);
    w.Align4();
    w.U32(subsoundIndex);
    w.U8(1); // m_PreloadAudioData
    w.U8(0); // m_LoadInBackground
    w.U8(0); // m_Legacy3D
    w.Align4();
    w.U32(static_cast<uint32_t>(resourcePath.size()));
    w.Bytes(resourcePath);
    w.Align4();
    w.U64(audioOffset);
    w.U64(audioLength);
    w.U32(1); // m_CompressionFormat: Vorbis
    return w.Take();
}

std::vector<uint8_t> MakeNamedResourceAudioBody(Endian order, const std::string& resourcePath,
                                                uint64_t audioOffset, uint64_t audioLength) {
    Writer w(order);
    w.U32(0);    // m_LoadType
    w.U32(1);    // m_Channels
    w.U32(8000); // m_Frequency
    w.U32(16);   // m_BitsPerSample
    w.F32(0.1f); // m_Length
    w.U8(0);     // m_IsTrackerFormat
    w.Zeros(3);
    w.U32(0); // m_SubsoundIndex
    w.U8(1);  // m_PreloadAudioData
    w.U8(0);  // m_LoadInBackground
    w.U8(1);  // m_Legacy3D
    w.Zeros(1);
    w.U32(static_cast<uint32_t>(resourcePath.size()));
    w.Bytes(resourcePath);
    w.Align4();
    w.U64(audioOffset);
    w.U64(audioLength);
    w.U32(1); // m_CompressionFormat: Vorbis
    return w.Take();
}

std::vector<uint8_t> MakeAudioClipObject(const std::string& name, Endian order,
                                         const std::vector<uint8_t>& body) {
    Writer w(order);
    w.U32(static_cast<uint32_t>(name.size()));
    w.Bytes(name);
    w.Align4();
    w.Bytes(body.data(), body.size());
    return w.Take();
}

std::vector<uint8_t> MakeTinyWav(uint32_t samples) {
    constexpr uint32_t kRate = 8000;
    Writer w(Endian::Little);
    w.Bytes("RIFF");
    w.U32(36 + samples + (samples & 1));
    w.Bytes("WAVE");
    w.Bytes("fmt ");
    w.U32(16);
    w.U16(1); // PCM
    w.U16(1); // mono
    w.U32(kRate);
    w.U32(kRate); // bytes per second
    w.U16(1);     // block align
    w.U16(8);     // bits per sample
    w.Bytes("data");
    w.U32(samples);
    for (uint32_t i = 0; i < samples; ++i)
        w.U8(static_cast<uint8_t>(128 + (i % 32) * 2));
    if (samples & 1) w.U8(0); // chunks are padded to an even size
    return w.Take();
}

std::vector<uint8_t> MakeTinyOgg(const std::filesystem::path& dir) {
    const auto file = dir / "tone.ogg";
    const RunResult r = Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                             "sine=frequency=440:sample_rate=8000", "-t", "0.1", "-c:a",
                             "libvorbis", file.string()});
    if (r.exitCode != 0) return {};
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ProbeFormatName(const std::filesystem::path& file) {
    const RunResult r = Run({"ffprobe", "-v", "error", "-show_entries", "format=format_name", "-of",
                             "default=noprint_wrappers=1:nokey=1", file.string()});
    if (r.exitCode != 0) return "";
    std::string name = r.output;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    return name;
}

void InstallOneClip(OpenedArchive& opened, const std::filesystem::path& dir,
                    const std::string& exportName, Endian order, const std::vector<uint8_t>& body) {
    constexpr uint32_t kDataOffset = 16;
    const std::string name = exportName.substr(0, exportName.rfind('.'));
    std::vector<uint8_t> work(kDataOffset, 0xEE);
    const auto object = MakeAudioClipObject(name, order, body);
    work.insert(work.end(), object.begin(), object.end());
    const auto workFile = dir / "level0";
    WriteWholeFile(workFile, work.data(), work.size());

    opened.archive = Archive::Open(workFile.string(), *opened.reporter);
    ParsedInnerFile& inner = opened.inner;
    inner = ParsedInnerFile{};
    inner.name = "level0";
    inner.dirName = "level0";
    inner.size = work.size();
    inner.assets.header.formatVersion = 15;
    inner.assets.header.BigEndianFlag = order == Endian::Big ? 1 : 0;
    inner.assets.header.EngineMajorVersion = 5;
    inner.assets.DataOffset = kDataOffset;
    inner.assets.objectCount = 1;
    ObjectRow row;
    row.ObjOffset = 0;
    row.ObjSize = static_cast<uint32_t>(object.size());
    row.ClassID = 83;
    row.NameHeaderSize = static_cast<uint32_t>(object.size() - body.size());
    inner.Items().rows.push_back(row);
    inner.Items().tableWords = {1, 0, static_cast<uint32_t>(row.ObjOffset), row.ObjSize, 83, 83, 0};
    inner.Items().ExportName.push_back(exportName);
    inner.Items().types.push_back({"AudioClip", 0});
}

bool HaveFfprobe() {
    return Run({"ffprobe", "-version"}).exitCode == 0;
}

} // namespace kestrel::test
