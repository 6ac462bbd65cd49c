// Every decoder against an independent one: ImageMagick for the DXT and classic pixel formats,
// Pillow for the formats of DDS files with the extended header. Inputs are noise (every block
// mode, every bit pattern), our encoders' output for a natural picture, and the textures of the
// sample archives as `kestrel export` writes them.
#include "image/DesktopCodecs.h"
#include "image/ImageTestSupport.h"
#include "image/PlaneConvert.h"
#include "support/Cli.h"
#include "support/TempDir.h"
#include "texture/TexturePixels.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace kestrel::test {
namespace {

using image::FindDesktopCodec;
using image::ImagePlane;
using image::PixelKind;

// Channels a format has, as the mask MaxDifference takes.
uint32_t ChannelMask(image::ChannelSet set) {
    switch (set) {
    case image::ChannelSet::kAlpha:
        return 8;
    case image::ChannelSet::kGray:
        return 1;
    case image::ChannelSet::kGrayGreen:
        return 3;
    case image::ChannelSet::kRgb:
        return 7;
    case image::ChannelSet::kRgba:
        break;
    }
    return 15;
}

std::vector<uint8_t> DecodeToRgba8(int32_t format, const std::vector<uint8_t>& level, uint32_t w,
                                   uint32_t h) {
    ImagePlane plane;
    FindDesktopCodec(format)->decode(level, w, h, plane);
    return image::ConvertPlane(plane, PixelKind::kRgba8).rgba8;
}

struct DecoderCase {
    int32_t format;
    Tool tool;
};

// The tool's reading of a level. Pillow here reads no BC4, so a BC4 level goes to ImageMagick as
// the alpha blocks of DXT5 (the same block layout) and comes back as their alpha.
std::vector<uint8_t> TheirPixels(const DecoderCase& c, const std::filesystem::path& path,
                                 std::vector<uint8_t> level, uint32_t w, uint32_t h) {
    if (c.format != 26) {
        WriteDds(path, c.format, w, h, level);
        return ReadWithTool(c.tool, path);
    }
    std::vector<uint8_t> dxt5;
    for (size_t at = 0; at < level.size(); at += 8) {
        dxt5.insert(dxt5.end(), level.begin() + static_cast<ptrdiff_t>(at),
                    level.begin() + static_cast<ptrdiff_t>(at + 8));
        dxt5.insert(dxt5.end(), 8, 0);
    }
    WriteDds(path, 12, w, h, dxt5);
    auto pixels = ReadWithTool(Tool::kImageMagick, path);
    for (size_t i = 0; i + 3 < pixels.size(); i += 4)
        pixels[i] = pixels[i + 3];
    return pixels;
}

// Noise for a level. The reserved BC7 mode (a first byte of 0) is left out: Microsoft's
// description decodes it to transparent black, Pillow to opaque black.
std::vector<uint8_t> Noise(int32_t format, size_t bytes) {
    auto noise = ScrambledBytes(bytes, static_cast<uint32_t>(format));
    for (size_t at = 0; format == 25 && at < noise.size(); at += 16)
        noise[at] = noise[at] == 0 ? 1 : noise[at];
    return noise;
}

// clang-format off
constexpr DecoderCase kDecoderCases[] = {
    {2, Tool::kImageMagick}, {3, Tool::kImageMagick},
    {4, Tool::kImageMagick}, {5, Tool::kImageMagick}, {7, Tool::kImageMagick},
    {10, Tool::kImageMagick}, {11, Tool::kImageMagick}, {12, Tool::kImageMagick},
    {13, Tool::kImageMagick}, {14, Tool::kImageMagick}, {24, Tool::kPillow},
    {25, Tool::kPillow}, {26, Tool::kImageMagick}, {27, Tool::kPillow},
};
// clang-format on

TEST(ImageDecoderAgreement, NoiseAndEncodedPicturesMatchIndependentDecoders) {
    TempDir dir;
    constexpr uint32_t kWidth = 64, kHeight = 48;
    for (const DecoderCase& c : kDecoderCases) {
        const auto* codec = FindDesktopCodec(c.format);
        ASSERT_NE(codec, nullptr);
        const size_t bytes = image::LevelByteSize(*codec, kWidth, kHeight);
        std::vector<uint8_t> encoded(bytes);
        codec->encode(
            image::ConvertPlane(TestPicture(kWidth, kHeight, PixelKind::kRgba8), codec->kind),
            encoded);
        const std::vector<std::vector<uint8_t>> inputs{Noise(c.format, bytes), encoded};
        for (size_t i = 0; i < inputs.size(); ++i) {
            const auto path =
                dir / ("f" + std::to_string(c.format) + "_" + std::to_string(i) + ".dds");
            const auto theirs = TheirPixels(c, path, inputs[i], kWidth, kHeight);
            ASSERT_FALSE(theirs.empty()) << "format " << c.format << " unreadable by the tool";
            const auto ours = DecodeToRgba8(c.format, inputs[i], kWidth, kHeight);
            const int diff = MaxDifference(ours, theirs, ChannelMask(codec->channels));
            std::cout << "format " << c.format << (i == 0 ? " noise" : " encoded")
                      << ": max difference " << diff << "\n";
            EXPECT_LE(diff, 1) << "format " << c.format << " input " << i;
        }
    }
}

// The engine format of a DDS file that `kestrel export` wrote, and its level bytes turned back
// to the engine's order; 0 when the file is of no format compared here.
int32_t FormatOfDds(const std::vector<uint8_t>& file, std::vector<uint8_t>& level, uint32_t& w,
                    uint32_t& h) {
    auto u32 = [&file](size_t at) {
        return static_cast<uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                     file[at + 3] << 24);
    };
    if (file.size() < 148) return 0;
    h = u32(12);
    w = u32(16);
    const uint32_t flags = u32(80), fourCC = u32(84), bits = u32(88);
    const std::map<uint32_t, int32_t> byFourCC{
        {0x31545844, 10}, {0x33545844, 11}, {0x35545844, 12}};
    const std::map<uint32_t, int32_t> byDxgi{{80, 26}, {83, 27}, {95, 24}, {98, 25}};
    int32_t format = 0;
    size_t start = 128;
    if (fourCC == 0x30315844 && byDxgi.count(u32(128)) != 0) {
        format = byDxgi.at(u32(128));
        start = 148;
    } else if (byFourCC.count(fourCC) != 0) {
        format = byFourCC.at(fourCC);
    } else if ((flags & 0x40) != 0 && (bits == 32 || bits == 24)) {
        format = bits == 32 ? 14 : 3; // BGRA as it is; BGR turned back to RGB below
    } else if ((flags & 0x2) != 0 && bits == 8) {
        format = 1;
    }
    if (format == 0) return 0;
    const uint64_t size = image::LevelByteSize(*FindDesktopCodec(format), w, h);
    if (file.size() < start + size) return 0;
    level.assign(file.begin() + static_cast<ptrdiff_t>(start),
                 file.begin() + static_cast<ptrdiff_t>(start + size));
    if (format == 3) SwapRB24(level);
    return format;
}

TEST(ImageDecoderAgreement, SampleTexturesMatchIndependentDecoders) {
    const auto samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "samples folder absent";
    const char* archives[] = {
        "LukaszKot__first-person-game/Build/Build_Data/level0",
        "Asgla-Online__asgla-game/AssetBundles/StandaloneWindows/items/armor/armor2",
        "Amatsugu__Dodge-Blocks/Build/Build_Data/sharedassets0.assets",
        "ata4__disunity/bundle/3/MeatHookTrainer_v0.3.unity3d",
    };
    TempDir dir;
    std::map<int32_t, std::pair<int, int>> results; // format: files, worst difference
    for (const char* archive : archives) {
        const auto path = samples / archive;
        if (!std::filesystem::exists(path)) continue;
        RunKestrel({"export", path.string(), "-p", dir.Path().string()}, "C");
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path())) {
        if (entry.path().extension() != ".dds") continue;
        std::vector<uint8_t> level;
        uint32_t w = 0, h = 0;
        const int32_t format = FormatOfDds(ReadFileBytes(entry.path()), level, w, h);
        if (format == 0 || w * h > 1024 * 1024) continue;
        const Tool tool = format >= 24 && format <= 27 ? Tool::kPillow : Tool::kImageMagick;
        const auto theirs = ReadWithTool(tool, entry.path());
        if (theirs.size() != static_cast<size_t>(w) * h * 4) continue; // the tool saw more faces
        const int diff = MaxDifference(DecodeToRgba8(format, level, w, h), theirs,
                                       ChannelMask(FindDesktopCodec(format)->channels));
        auto& [files, worst] = results[format];
        ++files;
        worst = std::max(worst, diff);
        EXPECT_LE(diff, 1) << entry.path();
    }
    for (const auto& [format, r] : results)
        std::cout << "sample format " << format << ": " << r.first << " textures, max difference "
                  << r.second << "\n";
    EXPECT_FALSE(results.empty());
}

} // namespace
} // namespace kestrel::test
