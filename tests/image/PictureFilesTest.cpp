// PNG and EXR files: what we write reads back the same (rows turned twice), and ImageMagick
// reads our PNGs with the top row first.
#include "image/PictureFiles.h"
#include "common/Error.h"
#include "image/ImageTestSupport.h"
#include "image/PlaneConvert.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel::test {
namespace {

using image::ChannelSet;
using image::ImagePlane;
using image::PixelKind;

// The plane with only the channels a picture of `set` keeps (the rest as a reader fills them).
ImagePlane Expected(const ImagePlane& p, ChannelSet set) {
    ImagePlane out = p;
    const uint16_t max = p.kind == PixelKind::kRgba16 ? 65535 : 255;
    for (size_t i = 0; i < static_cast<size_t>(p.width) * p.height; ++i) {
        auto set16 = [&](uint32_t c, uint32_t value) {
            if (p.kind == PixelKind::kRgba16)
                out.rgba16[i * 4 + c] = static_cast<uint16_t>(value);
            else
                out.rgba8[i * 4 + c] = static_cast<uint8_t>(value);
        };
        auto get = [&](uint32_t c) -> uint32_t {
            return p.kind == PixelKind::kRgba16 ? p.rgba16[i * 4 + c] : p.rgba8[i * 4 + c];
        };
        if (set == ChannelSet::kGray || set == ChannelSet::kAlpha) {
            set16(1, get(0));
            set16(2, get(0));
        }
        if (set == ChannelSet::kGrayGreen) set16(2, 0);
        if (set != ChannelSet::kRgba && set != ChannelSet::kAlpha) set16(3, max);
    }
    return out;
}

TEST(ImagePictureFiles, PngRoundTripsEveryLayout) {
    TempDir dir;
    const ChannelSet sets[] = {ChannelSet::kAlpha, ChannelSet::kGray, ChannelSet::kGrayGreen,
                               ChannelSet::kRgb, ChannelSet::kRgba};
    for (PixelKind kind : {PixelKind::kRgba8, PixelKind::kRgba16}) {
        for (ChannelSet set : sets) {
            const ImagePlane picture = TestPicture(13, 9, kind);
            const auto path = dir / ("p" + std::to_string(static_cast<int>(set)) + ".png");
            image::WritePng(picture, set, path, 6);
            const ImagePlane back = image::ReadPng(path);
            ASSERT_EQ(back.kind, kind);
            const ImagePlane expected = Expected(picture, set);
            EXPECT_EQ(back.rgba8, expected.rgba8) << static_cast<int>(set);
            EXPECT_EQ(back.rgba16, expected.rgba16) << static_cast<int>(set);
            if (kind != PixelKind::kRgba8) continue;
            // ImageMagick sees the last stored row first.
            auto theirs = ReadWithTool(Tool::kImageMagick, path);
            ASSERT_EQ(theirs.size(), expected.rgba8.size());
            for (uint32_t y = 0; y < 9; ++y)
                for (uint32_t i = 0; i < 13 * 4; ++i)
                    EXPECT_EQ(theirs[y * 52 + i], expected.rgba8[(8 - y) * 52 + i]);
        }
    }
}

// PNGs ImageMagick writes in other colour types read as RGBA, rows back in stored order.
TEST(ImagePictureFiles, PngReadsPaletteAndGray16Files) {
    TempDir dir;
    const std::string palette = (dir / "palette.png").string();
    const std::string gray = (dir / "gray.png").string();
    ASSERT_EQ(
        std::system(("convert -size 3x2 xc:red -fill blue -draw 'point 0,0' PNG8:'" + palette + "'")
                        .c_str()),
        0);
    ASSERT_EQ(std::system(("convert -size 2x4 gradient:white-black -depth 16 -colorspace Gray "
                           "-define png:color-type=0 -define png:bit-depth=16 '" +
                           gray + "'")
                              .c_str()),
              0);
    const ImagePlane p = image::ReadPng(palette);
    ASSERT_EQ(p.kind, PixelKind::kRgba8);
    const std::vector<uint8_t> blue{0, 0, 255, 255}, red{255, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(p.rgba8.begin() + 12, p.rgba8.begin() + 16), blue); // top left
    EXPECT_EQ(std::vector<uint8_t>(p.rgba8.begin(), p.rgba8.begin() + 4), red);
    const ImagePlane g = image::ReadPng(gray);
    ASSERT_EQ(g.kind, PixelKind::kRgba16);
    EXPECT_EQ(g.rgba16[0], 0);         // the file's bottom row is black
    EXPECT_EQ(g.rgba16[3 * 8], 65535); // its top row white
    EXPECT_EQ(g.rgba16[3 * 8 + 1], 65535);
    EXPECT_EQ(g.rgba16[3], 65535);
}

TEST(ImagePictureFiles, PngRefusesHugeAndBrokenFiles) {
    TempDir dir;
    image::WritePng(TestPicture(4, 4, PixelKind::kRgba8), ChannelSet::kRgba, dir / "a.png", 1);
    auto bytes = ReadFileBytes(dir / "a.png");
    bytes[17] = 0x01; // width 65540: past the limit, with the header's CRC made right again
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k)
        bytes[29 + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
    WriteFileBytes(dir / "huge.png", bytes);
    try {
        image::ReadPng(dir / "huge.png");
        ADD_FAILURE() << "a 65540-wide PNG was read";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("huge.png is larger than 16384"), std::string::npos)
            << e.what();
    }
    bytes.resize(40);
    WriteFileBytes(dir / "short.png", bytes);
    EXPECT_THROW(image::ReadPng(dir / "short.png"), KestrelError);
}

TEST(ImagePictureFiles, ExrRoundTripsHalvesAndFloats) {
    TempDir dir;
    const ImagePlane picture = TestPicture(11, 7, PixelKind::kRgbaFloat);
    image::WritePng(picture, ChannelSet::kRgb, dir / "not.png", 1);
    for (bool halves : {false, true}) {
        image::WriteExr(picture, ChannelSet::kRgba, dir / "p.exr", halves);
        const ImagePlane back = image::ReadExr(dir / "p.exr");
        ASSERT_EQ(back.rgbaF.size(), picture.rgbaF.size());
        for (size_t i = 0; i < back.rgbaF.size(); ++i)
            EXPECT_NEAR(back.rgbaF[i], picture.rgbaF[i], halves ? picture.rgbaF[i] / 1000 : 0.0f);
    }
    image::WriteExr(picture, ChannelSet::kGray, dir / "g.exr", true);
    const ImagePlane gray = image::ReadExr(dir / "g.exr");
    EXPECT_EQ(gray.rgbaF[1], 0.0f);
    EXPECT_EQ(gray.rgbaF[3], 1.0f);
    EXPECT_THROW(image::ReadExr(dir / "not.png"), KestrelError);
}

} // namespace
} // namespace kestrel::test
