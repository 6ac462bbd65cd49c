#include "image/MobileCodecs.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrel::image {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 3)
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

// Repeats one block to fill a level of `count` blocks.
Bytes Repeat(const Bytes& block, size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i)
        out.insert(out.end(), block.begin(), block.end());
    return out;
}

ImagePlane Decode(int32_t format, const Bytes& data, uint32_t w, uint32_t h) {
    const MobileFormatCodec* codec = FindMobileCodec(format);
    EXPECT_NE(codec, nullptr);
    ImagePlane plane;
    codec->decoder(data, w, h, plane);
    return plane;
}

struct Probe {
    uint32_t x, y;
    std::array<int, 4> rgba;
};

struct BlockCase {
    const char* name;
    int32_t format;
    uint32_t width, height;
    Bytes data;
    std::vector<Probe> probes;
};

// Blocks built bit by bit from the format documents, with the pixels they must give.
std::vector<BlockCase> BlockCases() {
    const Bytes individual = Hex("84 00 00 1C 00 10 00 10");
    const Bytes eacBlock = Hex("80 20 E0 06 00 00 00 00");
    const Bytes pvrGrid = Hex("00 00 00 00 00 80 00 80");
    Bytes pvrWhiteAt2 = Repeat(pvrGrid, 4);
    for (size_t i = 0; i < 8; ++i)
        pvrWhiteAt2[16 + i] = Hex("00 00 00 00 FE FF 00 80")[i];
    Bytes etc2Rgba8 = eacBlock;
    etc2Rgba8.insert(etc2Rgba8.end(), individual.begin(), individual.end());
    return {
        {"etc1 individual",
         34,
         4,
         4,
         individual,
         {{0, 0, {138, 2, 2, 255}}, {1, 0, {128, 0, 0, 255}}, {3, 0, {115, 47, 47, 255}}}},
        {"etc2 individual", 45, 3, 2, individual, {{0, 0, {138, 2, 2, 255}}}},
        {"etc2 differential",
         45,
         4,
         4,
         Hex("87 00 FC 23 00 00 00 00"),
         {{0, 0, {137, 5, 255, 255}}, {3, 3, {125, 2, 224, 255}}}},
        {"etc2 T",
         45,
         4,
         4,
         Hex("FB 00 00 8F 11 00 10 10"),
         {{0, 0, {255, 0, 0, 255}},
          {1, 0, {64, 64, 200, 255}},
          {2, 0, {0, 0, 136, 255}},
          {3, 0, {0, 0, 72, 255}}}},
        {"etc2 H",
         45,
         4,
         4,
         Hex("00 04 7F FE 11 00 10 10"),
         {{0, 0, {23, 23, 23, 255}},
          {1, 0, {0, 0, 0, 255}},
          {2, 0, {255, 255, 255, 255}},
          {3, 0, {232, 232, 232, 255}}}},
        {"etc2 planar",
         45,
         4,
         4,
         Hex("7E 00 04 02 FE 00 00 3F"),
         {{0, 0, {255, 0, 0, 255}},
          {3, 0, {64, 191, 0, 255}},
          {0, 3, {64, 0, 191, 255}},
          {3, 3, {0, 191, 191, 255}}}},
        {"etc2 a1 opaque T", 46, 4, 4, Hex("FB 00 00 8F 11 00 10 10"), {{2, 0, {0, 0, 136, 255}}}},
        {"etc2 a1 transparent T",
         46,
         4,
         4,
         Hex("FB 00 00 8D 11 00 10 10"),
         {{1, 0, {64, 64, 200, 255}}, {2, 0, {0, 0, 0, 0}}}},
        {"etc2 a1 transparent differential",
         46,
         4,
         4,
         Hex("87 00 FC 21 00 10 00 00"),
         {{0, 0, {132, 0, 255, 255}}, {1, 0, {0, 0, 0, 0}}}},
        {"etc2 rgba8",
         47,
         4,
         4,
         etc2Rgba8,
         {{0, 0, {138, 2, 2, 156}}, {1, 0, {128, 0, 0, 98}}, {3, 0, {115, 47, 47, 122}}}},
        {"eac r",
         41,
         4,
         4,
         eacBlock,
         {{0, 0, {156, 0, 0, 255}}, {1, 0, {98, 0, 0, 255}}, {3, 3, {122, 0, 0, 255}}}},
        {"eac r signed",
         42,
         4,
         4,
         Hex("10 20 E0 06 00 00 00 00"),
         {{0, 0, {172, 0, 0, 255}}, {1, 0, {114, 0, 0, 255}}, {2, 2, {138, 0, 0, 255}}}},
        {"eac rg",
         43,
         4,
         4,
         Hex("80 20 E0 06 00 00 00 00 FF 00 00 00 00 00 00 00"),
         {{0, 0, {156, 254, 0, 255}}}},
        {"atc rgb",
         35,
         4,
         4,
         Hex("00 7C 1F 00 E4 00 00 00"),
         {{0, 0, {255, 0, 0, 255}},
          {1, 0, {159, 0, 95, 255}},
          {2, 0, {95, 0, 159, 255}},
          {3, 0, {0, 0, 255, 255}}}},
        {"atc rgb second palette",
         35,
         4,
         4,
         Hex("00 FC FF FF E4 00 00 00"),
         {{0, 0, {0, 0, 0, 255}}, {1, 0, {192, 0, 0, 255}}, {3, 0, {255, 255, 255, 255}}}},
        {"atc rgba",
         36,
         4,
         4,
         Hex("FF 00 88 0E 00 00 00 00 00 7C 1F 00 E4 00 00 00"),
         {{0, 0, {255, 0, 0, 255}},
          {1, 0, {159, 0, 95, 0}},
          {2, 0, {95, 0, 159, 218}},
          {3, 0, {0, 0, 255, 36}}}},
        {"pvrtc 4bpp",
         32,
         8,
         8,
         Repeat(Hex("55 55 55 55 1E 80 00 FC"), 4),
         {{0, 0, {95, 0, 159, 255}}, {7, 5, {95, 0, 159, 255}}}},
        {"pvrtc 4bpp punch-through",
         33,
         8,
         8,
         Repeat(Hex("AA AA AA AA 1F 80 00 FC"), 4),
         {{3, 3, {127, 0, 127, 0}}}},
        {"pvrtc 4bpp bilinear and order",
         32,
         8,
         8,
         pvrWhiteAt2,
         {{6, 2, {255, 255, 255, 255}}, {2, 2, {0, 0, 0, 255}}, {4, 4, {63, 63, 63, 255}}}},
        {"pvrtc 2bpp",
         30,
         16,
         8,
         Repeat(Hex("FF FF FF FF 1E 80 00 FC"), 4),
         {{9, 3, {255, 0, 0, 255}}}},
        {"pvrtc 2bpp interpolated",
         31,
         16,
         8,
         Repeat(Hex("02 00 00 00 1F 80 00 FC"), 4),
         {{0, 0, {255, 0, 0, 255}},
          {1, 0, {63, 0, 191, 255}},
          {7, 0, {63, 0, 191, 255}},
          {2, 0, {0, 0, 255, 255}}}},
    };
}

TEST(MobileCodecs, HandBuiltBlocksDecodeAsWorkedOut) {
    for (const BlockCase& c : BlockCases()) {
        SCOPED_TRACE(c.name);
        const ImagePlane plane = Decode(c.format, c.data, c.width, c.height);
        for (const Probe& p : c.probes) {
            const size_t at = (size_t{p.y} * plane.width + p.x) * 4;
            const std::array<int, 4> got{plane.rgba8[at], plane.rgba8[at + 1], plane.rgba8[at + 2],
                                         plane.rgba8[at + 3]};
            EXPECT_EQ(got, p.rgba) << "pixel " << p.x << "," << p.y;
        }
        // One byte short is refused with a message, never read past.
        Bytes shorter(c.data.begin(), c.data.end() - 1);
        ImagePlane ignored;
        EXPECT_THROW(FindMobileCodec(c.format)->decoder(shorter, c.width, c.height, ignored),
                     KestrelError);
    }
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// 8-bit RGBA of a picture file, read through ImageMagick.
Bytes ReadPicture(const fs::path& file) {
    const fs::path raw = file.string() + ".rgba";
    if (!Run("convert '" + file.string() + "' -depth 8 rgba:'" + raw.string() + "'")) return {};
    return test::ReadFileBytes(raw);
}

void Put16BE(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

// The level decoded by etc1tool from a PKM file (ETC1, no mipmaps).
Bytes DecodeWithEtc1tool(const Bytes& data, uint32_t w, uint32_t h, const fs::path& dir) {
    Bytes pkm{'P', 'K', 'M', ' ', '1', '0', 0, 0};
    for (uint32_t v : {(w + 3) / 4 * 4, (h + 3) / 4 * 4, w, h})
        Put16BE(pkm, v);
    pkm.insert(pkm.end(), data.begin(), data.end());
    test::WriteFileBytes(dir / "level.pkm", pkm);
    if (!Run("etc1tool '" + (dir / "level.pkm").string() + "' --decode -o '" +
             (dir / "etc1.png").string() + "'")) {
        return {};
    }
    return ReadPicture(dir / "etc1.png");
}

// The level decoded by the astcenc tool from a .astc file.
Bytes DecodeWithAstcenc(const Bytes& data, uint32_t bw, uint32_t bh, uint32_t w, uint32_t h,
                        const fs::path& dir) {
    Bytes file{0x13, 0xAB, 0xA1, 0x5C, static_cast<uint8_t>(bw), static_cast<uint8_t>(bh), 1};
    for (uint32_t v : {w, h, 1u}) {
        for (int i = 0; i < 3; ++i)
            file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    file.insert(file.end(), data.begin(), data.end());
    test::WriteFileBytes(dir / "level.astc", file);
    if (!Run("astcenc -dl '" + (dir / "level.astc").string() + "' '" + (dir / "astc.png").string() +
             "'")) {
        return {};
    }
    return ReadPicture(dir / "astc.png");
}

// Pixels whose first `channels` channels differ between our plane and the tool's RGBA.
size_t Differences(const ImagePlane& ours, const Bytes& theirs, size_t channels) {
    const size_t pixels = size_t{ours.width} * ours.height;
    if (theirs.size() != pixels * 4) return pixels;
    size_t differ = 0;
    for (size_t i = 0; i < pixels; ++i) {
        for (size_t c = 0; c < channels; ++c) {
            if (ours.rgba8[i * 4 + c] != theirs[i * 4 + c]) {
                ++differ;
                break;
            }
        }
    }
    return differ;
}

// A smooth picture with hard edges: gradients, a disc of another colour and a stripe.
ImagePlane TestPicture(uint32_t w, uint32_t h, bool binaryAlpha) {
    ImagePlane p = ImagePlane::Make(w, h, PixelKind::kRgba8);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const double dx = x - w / 2.0;
            const double dy = y - h / 2.0;
            const bool disc = dx * dx + dy * dy < w * h / 10.0;
            const bool stripe = x % 32 < 2;
            uint8_t* px = &p.rgba8[(size_t{y} * w + x) * 4];
            px[0] = static_cast<uint8_t>(disc ? 200 - y : x * 255 / w);
            px[1] = static_cast<uint8_t>(stripe ? 30 : y * 255 / h);
            px[2] = static_cast<uint8_t>(disc ? 60 + x / 2 : 128 + (x + y) / 4);
            px[3] = static_cast<uint8_t>(binaryAlpha ? (disc ? 255 : 0) : 255 - x * 2);
        }
    }
    return p;
}

size_t ChannelCount(ChannelSet set) {
    switch (set) {
    case ChannelSet::kGray:
        return 1;
    case ChannelSet::kGrayGreen:
        return 2;
    case ChannelSet::kRgb:
        return 3;
    default:
        return 4;
    }
}

// PSNR over the format's channels; pixels transparent in `a` count only by their alpha.
double Psnr(const ImagePlane& a, const ImagePlane& b, size_t channels) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.rgba8.size(); i += 4) {
        const bool hidden = channels == 4 && a.rgba8[i + 3] == 0;
        for (size_t c = hidden ? 3 : 0; c < channels; ++c) {
            const double d = double(a.rgba8[i + c]) - b.rgba8[i + c];
            sum += d * d;
            ++count;
        }
    }
    const double mse = sum / double(count);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

Bytes Encode(const MobileFormatCodec& codec, const ImagePlane& in) {
    Bytes out(MobileLevelBytes(codec, in.width, in.height));
    codec.encoder(in, out);
    return out;
}

struct EncodeCase {
    int32_t format;
    double minPsnr;
};

// Encode and decode a picture, then encode the decoded picture and decode it again: both must
// keep the picture, and every format's own tool must read what we wrote as we do.
TEST(MobileCodecs, EncodersKeepThePicture) {
    const std::vector<EncodeCase> cases{{34, 31}, {45, 39}, {46, 42}, {47, 40}, {41, 40}, {42, 40},
                                        {43, 40}, {44, 40}, {48, 40}, {50, 35}, {53, 28}, {60, 31}};
    test::TempDir dir;
    for (const EncodeCase& c : cases) {
        const MobileFormatCodec& codec = *FindMobileCodec(c.format);
        SCOPED_TRACE(codec.name);
        const ImagePlane picture = TestPicture(66, 62, c.format == 46);
        const Bytes first = Encode(codec, picture);
        const ImagePlane decoded = Decode(c.format, first, 66, 62);
        const ImagePlane again = Decode(c.format, Encode(codec, decoded), 66, 62);
        const size_t channels = ChannelCount(codec.channels);
        const double psnr = Psnr(picture, decoded, channels);
        std::printf("%-16s PSNR %.2f dB, re-encoded %.2f dB\n", codec.name, psnr,
                    Psnr(decoded, again, channels));
        EXPECT_GE(psnr, c.minPsnr);
        EXPECT_GE(Psnr(decoded, again, channels), c.minPsnr);
        if (c.format == 34) {
            EXPECT_EQ(Differences(decoded, DecodeWithEtc1tool(first, 66, 62, dir.Path()), 3), 0u);
        }
        if (codec.blockBytes == 16 && codec.format >= 48) {
            const Bytes theirs =
                DecodeWithAstcenc(first, codec.blockWidth, codec.blockHeight, 66, 62, dir.Path());
            EXPECT_EQ(Differences(decoded, theirs, 4), 0u);
        }
    }
}

// Pictures whose every block the ETC2 modes hold exactly: two colours of 4-bit channels in a
// block (the T mode holds both as they are) and planes of 6-7-6-bit corners (the planar mode).
// ETC1's sub-blocks can hold neither, so only an encoder that searches those modes gets them.
ImagePlane ExactForEtc2(bool planar) {
    ImagePlane p = ImagePlane::Make(32, 32, PixelKind::kRgba8);
    for (uint32_t y = 0; y < 32; ++y) {
        for (uint32_t x = 0; x < 32; ++x) {
            const uint32_t block = (y / 4) * 8 + x / 4;
            uint8_t* px = &p.rgba8[(y * 32 + x) * 4];
            if (planar) {
                // The planar mode's picture of corners O, H and V of 6, 7 and 6 bits, widened
                // by repeating their top bits: (x (H - O) + y (V - O) + 4 O + 2) / 4.
                for (uint32_t c = 0; c < 3; ++c) {
                    const int bits = c == 1 ? 7 : 6;
                    const auto widen = [&](int v) { return (v << (8 - bits)) | (v >> (2 * bits - 8)); };
                    // Corners in the middle half of the range keep every value within 0..255.
                    const int quarter = 1 << (bits - 2);
                    const auto corner = [&](uint32_t seed) {
                        return widen(quarter + static_cast<int>(seed % (2 * quarter)));
                    };
                    const int o = corner(block * 7 + c * 13);
                    const int h = corner(block * 3 + c * 29 + 5);
                    const int v = corner(block * 11 + c * 5 + 17);
                    const int value = (static_cast<int>(x % 4) * (h - o) +
                                       static_cast<int>(y % 4) * (v - o) + 4 * o + 2) >> 2;
                    px[c] = static_cast<uint8_t>(std::clamp(value, 0, 255));
                }
                px[3] = 255;
                continue;
            }
            const bool second = ((x * 7 + y * 3 + block) % 5) < 2;
            const uint32_t v = second ? (block * 5 + 3) % 16 : (block * 11 + 9) % 16;
            px[0] = static_cast<uint8_t>(v * 17);
            px[1] = static_cast<uint8_t>(((v + (second ? 4 : 12)) % 16) * 17);
            px[2] = static_cast<uint8_t>((15 - v) * 17);
            px[3] = 255;
        }
    }
    return p;
}

TEST(MobileCodecs, Etc2EncoderFindsTheModesThatHoldABlockExactly) {
    struct Case {
        int32_t format;
        bool planar;
    };
    for (const Case& c : {Case{45, false}, Case{47, false}, Case{45, true}, Case{47, true}}) {
        const MobileFormatCodec& codec = *FindMobileCodec(c.format);
        SCOPED_TRACE(std::string(codec.name) + (c.planar ? " planes" : " two colours"));
        const ImagePlane picture = ExactForEtc2(c.planar);
        const ImagePlane decoded = Decode(c.format, Encode(codec, picture), 32, 32);
        EXPECT_EQ(Psnr(picture, decoded, ChannelCount(codec.channels)), 99.0);
    }
}

struct KtxLevel {
    int32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes data;
};

// Level 0 of a KTX file written by the exporter, with the engine format of its GL format.
KtxLevel ReadKtx(const fs::path& file) {
    const Bytes b = test::ReadFileBytes(file);
    auto u32 = [&](size_t at) {
        return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
               uint32_t{b.at(at + 3)} << 24;
    };
    constexpr std::array<std::pair<uint32_t, int32_t>, 10> kGl{{{0x8D64, 34},
                                                                {0x9278, 47},
                                                                {0x8C00, 32},
                                                                {0x8C02, 33},
                                                                {0x93B0, 54},
                                                                {0x93B2, 55},
                                                                {0x93B4, 56},
                                                                {0x93B7, 57},
                                                                {0x93BB, 58},
                                                                {0x93BD, 59}}};
    KtxLevel level;
    for (const auto& [gl, format] : kGl) {
        if (gl == u32(28)) level.format = format;
    }
    level.width = u32(36);
    level.height = u32(40);
    const size_t start = 64 + u32(60);
    level.data.assign(b.begin() + static_cast<long>(start + 4),
                      b.begin() + static_cast<long>(start + 4 + u32(start)));
    return level;
}

// Every ETC1, ETC2, PVRTC and ASTC texture of the samples, exported to KTX by the program: ETC1
// decodes as etc1tool does and ASTC as astcenc does, pixel for pixel.
TEST(MobileCodecs, SampleTexturesAgreeWithIndependentDecoders) {
    const fs::path samples = test::SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "samples folder absent";
    const std::vector<std::string> archives{
        "BigGiantHead__eBookReader/AssetBundles/Android/book2",
        "SpiritWolf2015__U3d5_AB/AssetBundles/Android/texture.unity3d",
        "takahashikenichi__SpaceTouchTheNumber_iOSBuild/Data/sharedassets0.assets",
        "0038eri__Natsumatsuri-demo/Library/PlayerDataCache/Android/Data/data.unity3d",
        "0RUS__2048/Library/PlayerDataCache/Android/Data/data.unity3d",
        "AdrianLloyd7113__ggj2024/Library/PlayerDataCache/Android/Data/data.unity3d"};
    test::TempDir dir;
    for (size_t i = 0; i < archives.size(); ++i) {
        const auto out = dir / std::to_string(i);
        test::RunKestrel(
            {"export", (samples / archives[i]).string(), "-t", "ktx", "-p", out.string()}, "C");
    }
    std::map<std::string, std::array<size_t, 3>> tally; // textures, pixels, differing pixels
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        if (entry.path().extension() != ".ktx") continue;
        const KtxLevel level = ReadKtx(entry.path());
        const MobileFormatCodec* codec = FindMobileCodec(level.format);
        if (codec == nullptr) continue;
        SCOPED_TRACE(entry.path().string());
        const ImagePlane ours = Decode(level.format, level.data, level.width, level.height);
        Bytes theirs;
        if (level.format == 34) {
            theirs = DecodeWithEtc1tool(level.data, level.width, level.height, dir.Path());
        } else if (level.format >= 54) {
            theirs = DecodeWithAstcenc(level.data, codec->blockWidth, codec->blockHeight,
                                       level.width, level.height, dir.Path());
        }
        auto& t = tally[codec->name];
        t[0] += 1;
        t[1] += size_t{level.width} * level.height;
        if (!theirs.empty() || level.format == 34 || level.format >= 54) {
            t[2] += Differences(ours, theirs, level.format == 34 ? 3 : 4);
        }
    }
    for (const auto& [name, t] : tally) {
        std::printf("%-14s %zu textures, %zu pixels, %zu differ from the independent tool\n",
                    name.c_str(), t[0], t[1], t[2]);
        EXPECT_EQ(t[2], 0u) << name;
    }
    EXPECT_GE(tally["ETC_RGB4"][0], 1u);
    EXPECT_GE(tally["ASTC_RGBA_6x6"][0], 1u);
}

} // namespace
} // namespace kestrel::image
