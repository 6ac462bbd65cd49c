#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::DecodePixel;
using test::MakeTextureObject;
using test::TempDir;
using test::TextureCase;
using test::TextureObjectSpec;

// A picture whose top half is red and bottom half blue, in the engine's storage (bottom row
// first), must come out of the DDS file with red on top.
struct DecodeCase {
    const char* name;
    int32_t format;
    std::vector<uint8_t> pixels;
};

std::vector<DecodeCase> Cases(int w, int h) {
    return {
        {"DXT1", 10, test::TwoBandDXT1(w, h)},
        {"DXT5", 12, test::TwoBandDXT5(w, h)},
        {"RGBA32", 4, test::TwoBandImage(w, h, {255, 0, 0, 255}, {0, 0, 255, 255})},
        {"ARGB32", 5, test::TwoBandImage(w, h, {255, 255, 0, 0}, {255, 0, 0, 255})},
        {"RGB24", 3, test::TwoBandImage(w, h, {255, 0, 0}, {0, 0, 255})},
    };
}

bool IsRed(const test::DecodedPixel& p) {
    return p.r > 200 && p.g < 50 && p.b < 50;
}
bool IsBlue(const test::DecodedPixel& p) {
    return p.b > 200 && p.g < 50 && p.r < 50;
}

TEST(TextureDdsDecode, PicturesDecodeUprightWithTheirSize) {
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    constexpr int kW = 16;
    constexpr int kH = 8;
    for (const auto& c : Cases(kW, kH)) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        TextureCase tc(dir.Path(), 28, c.format, "pic.tex", Endian::Little);
        TextureObjectSpec plan;
        plan.width = kW;
        plan.height = kH;
        plan.format = c.format;
        plan.pixels = c.pixels;
        ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little)));
        const auto file = tc.OutputDir() / "pic.tex.dds";
        const auto top = DecodePixel(file, 3, 0);
        const auto bottom = DecodePixel(file, 3, kH - 1);
        ASSERT_TRUE(top && bottom) << "ImageMagick could not read " << file;
        EXPECT_EQ(top->width, kW);
        EXPECT_EQ(top->height, kH);
        EXPECT_TRUE(IsRed(*top)) << top->r << " " << top->g << " " << top->b;
        EXPECT_TRUE(IsBlue(*bottom)) << bottom->r << " " << bottom->g << " " << bottom->b;

        // Without the flip the picture keeps the engine's order: upside down.
        tc.options.noFlipTexture = true;
        ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little)));
        const auto unflipped = DecodePixel(file, 3, 0);
        ASSERT_TRUE(unflipped);
        EXPECT_TRUE(IsBlue(*unflipped));
    }
}

TEST(TextureDdsDecode, RowsInsideOneBlockAreFlipped) {
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    // 4 x 4: one block whose upper two texel rows are red and lower two blue.
    for (const auto& c : Cases(4, 4)) {
        if (c.format != 10 && c.format != 12) continue;
        SCOPED_TRACE(c.name);
        TempDir dir;
        TextureCase tc(dir.Path(), 28, c.format, "b.tex", Endian::Little);
        TextureObjectSpec plan;
        plan.width = 4;
        plan.height = 4;
        plan.format = c.format;
        plan.pixels = c.pixels;
        ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little)));
        const auto top = DecodePixel(tc.OutputDir() / "b.tex.dds", 0, 1);
        const auto bottom = DecodePixel(tc.OutputDir() / "b.tex.dds", 0, 2);
        ASSERT_TRUE(top && bottom);
        EXPECT_TRUE(IsRed(*top));
        EXPECT_TRUE(IsBlue(*bottom));
    }
}

} // namespace
} // namespace kestrel
