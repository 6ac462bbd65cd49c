// Every encoder: decode-encode-decode. Pixel formats give back their stored bytes exactly; block
// formats are measured by PSNR on a natural picture.
#include "common/Error.h"
#include "image/Bc6h.h"
#include "image/Bc7.h"
#include "image/DesktopCodecs.h"
#include "image/ImageTestSupport.h"
#include "image/PixelCodecs.h"
#include "image/PlaneConvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace kestrel::test {
namespace {

using image::FindDesktopCodec;
using image::ImagePlane;
using image::PixelKind;

struct EncoderCase {
    int32_t format;
    double minPsnr; // 0: stored bytes come back exactly
    uint32_t channels;
};

// clang-format off
constexpr EncoderCase kEncoderCases[] = {
    {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {5, 0, 4}, {7, 0, 4}, {9, 0, 4}, {13, 0, 4},
    {14, 0, 4}, {15, 0, 4}, {16, 0, 4}, {17, 0, 4}, {18, 0, 4}, {19, 0, 4}, {20, 0, 4},
    {62, 0, 4}, {63, 0, 4},
    {10, 35, 3}, {11, 30, 4}, {12, 35, 4}, {24, 30, 3}, {25, 35, 4}, {26, 35, 1}, {27, 35, 2},
};
// clang-format on

// Stored bytes every value of which the format holds as it is: noise, with half and float
// values kept finite (NaN payloads need not survive).
std::vector<uint8_t> StoredBytes(int32_t format, size_t size) {
    auto bytes = ScrambledBytes(size, static_cast<uint32_t>(format) + 100);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if ((format >= 15 && format <= 17 && i % 2 == 1) ||
            (format >= 18 && format <= 20 && i % 4 == 3))
            bytes[i] &= 0x3F; // exponent below the all-ones of infinity and NaN
    }
    return bytes;
}

TEST(ImageEncoders, RoundTripExactOrAbovePsnr) {
    constexpr uint32_t kWidth = 64, kHeight = 64;
    for (const EncoderCase& c : kEncoderCases) {
        const auto* codec = FindDesktopCodec(c.format);
        ASSERT_NE(codec, nullptr) << c.format;
        ASSERT_NE(codec->encode, nullptr) << c.format;
        const size_t size = image::LevelByteSize(*codec, kWidth, kHeight);
        std::vector<uint8_t> stored(size), again(size);
        if (c.minPsnr == 0) {
            stored = StoredBytes(c.format, size);
        } else {
            const PixelKind source =
                codec->kind == PixelKind::kRgbaFloat ? PixelKind::kRgbaFloat : PixelKind::kRgba8;
            codec->encode(TestPicture(kWidth, kHeight, source), stored);
        }
        ImagePlane first, second;
        codec->decode(stored, kWidth, kHeight, first);
        codec->encode(first, again);
        codec->decode(again, kWidth, kHeight, second);
        if (c.minPsnr == 0) {
            EXPECT_EQ(stored, again) << "format " << c.format;
            continue;
        }
        // Quality against the original picture, not against the first encoding.
        const PixelKind source = first.kind;
        const ImagePlane original =
            image::ConvertPlane(TestPicture(kWidth, kHeight, source), source);
        const double psnr = Psnr(original, first, c.channels);
        std::cout << "format " << c.format << ": PSNR " << psnr << " dB\n";
        EXPECT_GE(psnr, c.minPsnr) << "format " << c.format;
        EXPECT_GE(Psnr(first, second, c.channels), c.minPsnr) << "re-encoding format " << c.format;
    }
}

TEST(ImageEncoders, Rgb9e5KeepsCanonicalValues) {
    const float values[] = {0.0f, 1.0f, 0.5f, 3.25f, 1000.0f, 65408.0f, 1.0f / 1024, 7e-5f};
    for (float v : values) {
        const uint32_t packed = image::PackRgb9e5(v, v / 2, v / 4);
        const std::vector<uint8_t> bytes{
            static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
            static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 24)};
        ImagePlane plane;
        image::DecodeRgb9e5(bytes, 1, 1, plane);
        EXPECT_NEAR(plane.rgbaF[0], v, v / 256) << v;
        std::vector<uint8_t> again(4);
        image::EncodeRgb9e5(plane, again);
        EXPECT_EQ(again, bytes) << v;
    }
}

// Edges that are not multiples of 4 decode from whole blocks, cropped.
TEST(ImageEncoders, PartialBlocksAreCropped) {
    const ImagePlane picture = TestPicture(8, 8, PixelKind::kRgba8);
    std::vector<uint8_t> blocks(4 * 16);
    image::EncodeBc7(picture, blocks);
    ImagePlane whole, cropped;
    image::DecodeBc7(blocks, 8, 8, whole);
    image::DecodeBc7(blocks, 7, 5, cropped);
    ASSERT_EQ(cropped.rgba8.size(), 7u * 5 * 4);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 7 * 4; ++x)
            EXPECT_EQ(cropped.rgba8[y * 28 + x], whole.rgba8[y * 32 + x]);
    EXPECT_THROW(image::DecodeBc7(std::span(blocks).first(48), 8, 8, whole), KestrelError);
}

} // namespace
} // namespace kestrel::test
