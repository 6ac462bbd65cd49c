// `export -t png` writes each texture as a picture any viewer opens: ImageMagick reads the same
// pixels from it as from the DDS file of the same texture.
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// The number of pixels ImageMagick finds different between two pictures ("" when it cannot).
std::string DifferentPixels(const fs::path& a, const fs::path& b) {
    const std::string command =
        "compare -metric AE '" + a.string() + "' '" + b.string() + "' null: 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
        out += buffer;
    return out;
}

TEST(TexturePngExport, PicturesMatchTheirDdsFilesPixelForPixel) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    struct Case {
        const char* name;
        int32_t format;
        std::vector<uint8_t> pixels;
    };
    const std::vector<Case> cases = {
        {"dxt1", 10, TwoBandDXT1(16, 16)},
        {"dxt5", 12, TwoBandDXT5(16, 16)},
        {"rgba32", 4, TwoBandImage(16, 16, {255, 0, 0, 255}, {0, 0, 255, 128})},
        {"rgb24", 3, TwoBandImage(16, 16, {10, 200, 30}, {250, 250, 5})}};
    for (const Case& c : cases) {
        TextureObjectSpec texture;
        texture.layout = TextureLayout::MipFlag;
        texture.width = texture.height = 16;
        texture.format = c.format;
        texture.pixels = c.pixels;
        plan.objects.push_back({28, c.name, MakeTextureObject(texture, Endian::Little)});
    }
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(dir / "level0.assets", {bytes.begin(), bytes.end()});
    WriteStreamedTextureBundle(dir / "scene.bundle");
    for (const char* kinds : {"png", "dds"}) {
        for (const char* archive : {"level0.assets", "scene.bundle"}) {
            const CliResult r =
                RunKestrel({"export", (dir / archive).string(), "-t", kinds}, "C.UTF-8");
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
    }
    // The slowest, smallest level (another filter too) gives the same pixels.
    const CliResult small = RunKestrel({"export", (dir / "level0.assets").string(), "-t", "png",
                                        "--png-level", "9", "-p", (dir / "small").string()},
                                       "C.UTF-8");
    ASSERT_EQ(small.exitCode, 0) << small.err;
    std::vector<fs::path> pictures;
    for (const Case& c : cases)
        pictures.push_back(dir / "Unity_Assets_Files/level0/Textures" /
                           (c.name + std::string(".tex")));
    pictures.push_back(dir / "Unity_Assets_Files/scene/CAB-main/Textures/res_CAB-main/hero.tex");
    for (const fs::path& stem : pictures) {
        const fs::path png = fs::path(stem.string() + ".png");
        ASSERT_TRUE(fs::is_regular_file(png)) << png;
        EXPECT_EQ(DifferentPixels(png, fs::path(stem.string() + ".dds")), "0") << stem;
    }
    for (const Case& c : cases) {
        const std::string name = c.name + std::string(".tex.png");
        EXPECT_EQ(DifferentPixels(dir / "small/Unity_Assets_Files/level0/Textures" / name,
                                  dir / "Unity_Assets_Files/level0/Textures" / name),
                  "0")
            << name;
    }
}

} // namespace
