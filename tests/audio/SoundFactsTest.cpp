// The facts the preview shows of a sound, compared with what ffprobe reads of the same file.
#include "audio/SoundFacts.h"
#include "io/ByteSource.h"
#include "support/AudioObjects.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// ffprobe's "channels sample_rate duration" of the first stream.
std::string Probe(const fs::path& file) {
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=channels,sample_rate:format=duration -of "
                                "default=noprint_wrappers=1:nokey=1 '" +
                                file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    pclose(pipe);
    return out;
}

TEST(SoundFacts, ChannelsFrequencyAndLengthAsFfprobeReadsThem) {
    if (!HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
    TempDir dir;
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"tone.wav", MakeTinyWav(800)}, {"tone.ogg", MakeTinyOgg(dir.Path())}};
    for (const auto& [name, bytes] : files) {
        ASSERT_FALSE(bytes.empty()) << name << ": ffmpeg made no file";
        const fs::path file = dir.Path() / name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        std::istringstream probed(Probe(file));
        uint32_t channels = 0, rate = 0;
        double seconds = 0;
        ASSERT_TRUE(probed >> rate >> channels >> seconds) << name << ": " << probed.str();
        const auto facts = ReadSoundStreamFacts(
            Reader(std::make_shared<MemorySource>(name, bytes)));
        ASSERT_TRUE(facts) << name;
        EXPECT_EQ(facts->channels, channels) << name;
        EXPECT_EQ(facts->frequency, rate) << name;
        EXPECT_NEAR(facts->seconds, seconds, 0.002) << name;
    }
    // Other formats, and a header cut short.
    const std::vector<uint8_t> mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(ReadSoundStreamFacts(Reader(std::make_shared<MemorySource>("x.mp3", mp3))));
    std::vector<uint8_t> cut = MakeTinyOgg(dir.Path());
    cut.resize(40);
    EXPECT_THROW(ReadSoundStreamFacts(Reader(std::make_shared<MemorySource>("x.ogg", cut))),
                 std::exception);
}

} // namespace
