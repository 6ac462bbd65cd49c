// Pictures exported by `export -t png` come back by `import`: unedited they leave the archive byte
// for byte; a rectangle drawn into them is in the texture after a reopen while every other object
// keeps its raw bytes; a format without an encoder refuses the edit unless --png-format names an
// uncompressed one; a picture of another size carries the texture's fields with it.
#include "image/PictureCodecs.h"
#include "image/PlaneConvert.h"
#include "io/ByteSource.h"
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/OpenedArchive.h"
#include "support/PictureEdits.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureHeader.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel {
namespace {

using namespace kestrel::test;
namespace fs = std::filesystem;

constexpr uint32_t kEdge = 16;

// A picture with colour and alpha gradients, so every channel carries an edit and its levels.
image::ImagePlane Gradient(uint32_t w, uint32_t h, uint32_t seed) {
    image::ImagePlane p = image::ImagePlane::Make(w, h, image::PixelKind::kRgba8);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p.rgba8[(static_cast<size_t>(y) * w + x) * 4];
            px[0] = static_cast<uint8_t>(x * 255 / std::max(w - 1, 1u));
            px[1] = static_cast<uint8_t>(y * 255 / std::max(h - 1, 1u));
            px[2] = static_cast<uint8_t>((seed * 40 + x * 8 + y * 4) & 0xFF);
            px[3] = static_cast<uint8_t>(255 - ((x + y) * 4 + seed) % 120);
        }
    }
    return p;
}

// Every level of one image of the format, encoded by the project's own encoders.
std::vector<uint8_t> EncodedLevels(int32_t format, uint32_t w, uint32_t h, uint32_t levels,
                                   uint32_t seed) {
    const auto codec = image::FindPictureCodec(format);
    std::vector<uint8_t> out;
    image::ImagePlane level = Gradient(w, h, seed);
    for (uint32_t l = 0; l < levels; ++l) {
        const uint64_t bytes = image::PictureLevelBytes(format, level.width, level.height);
        const size_t at = out.size();
        out.resize(at + bytes);
        codec->encode(level, std::span<uint8_t>(out).subspan(at, bytes));
        level = image::HalvePlane(level);
    }
    return out;
}

uint32_t FullChain(uint32_t w, uint32_t h) {
    return 1 + static_cast<uint32_t>(std::floor(std::log2(std::max(w, h))));
}

struct FormatCase {
    const char* name;
    int32_t format;
};

constexpr FormatCase kFormats[] = {
    {"rgba32", 4},    {"rgb24", 3},     {"alpha8", 1},      {"r16", 9},
    {"rgbahalf", 17}, {"rgba4444", 13}, {"dxt1", 10},       {"dxt5", 12},
    {"bc7", 25},      {"etc_rgb4", 34}, {"etc2_rgba8", 47}, {"astc_rgba_6x6", 56},
};

// An archive of every format of the table (odd rows with a full mip chain), a DXT5 cubemap, an
// untouched RGBA32 texture and a text, as engines up to 4 write them.
void WriteTableArchive(const fs::path& path) {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    uint32_t seed = 0;
    for (const FormatCase& c : kFormats) {
        TextureObjectSpec texture;
        texture.layout = TextureLayout::MipFlag;
        texture.width = texture.height = kEdge;
        texture.format = c.format;
        texture.mip = seed % 2;
        texture.pixels =
            EncodedLevels(c.format, kEdge, kEdge, texture.mip ? FullChain(kEdge, kEdge) : 1, seed);
        plan.objects.push_back({28, c.name, MakeTextureObject(texture, Endian::Little)});
        ++seed;
    }
    TextureObjectSpec cube;
    cube.layout = TextureLayout::MipFlag;
    cube.width = cube.height = kEdge;
    cube.format = 12;
    cube.imageCount = 6;
    for (uint32_t face = 0; face < 6; ++face) {
        const auto image = EncodedLevels(12, kEdge, kEdge, 1, 20 + face);
        cube.pixels.insert(cube.pixels.end(), image.begin(), image.end());
    }
    plan.objects.push_back({89, "sky", MakeTextureObject(cube, Endian::Little)});
    TextureObjectSpec keep;
    keep.layout = TextureLayout::MipFlag;
    keep.width = keep.height = 8;
    keep.format = 4;
    keep.pixels = EncodedLevels(4, 8, 8, 1, 7);
    plan.objects.push_back({28, "keep", MakeTextureObject(keep, Endian::Little)});
    plan.objects.push_back({49, "notes", TextBody("left alone")});
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(path, {bytes.begin(), bytes.end()});
}

CliResult Kestrel(const std::vector<std::string>& args) {
    return RunKestrel(args, "C.UTF-8");
}

// Export as pictures, import unedited (the archive stays byte for byte), draw the rectangle into
// the pictures of `edited`, import, and check the pictures and raw files of a fresh export.
void RoundTrip(const fs::path& dir, const fs::path& archive, const std::string& treeDir,
               const std::vector<std::pair<std::string, int32_t>>& edited) {
    SCOPED_TRACE(archive.filename().string());
    const auto original = ReadFileBytes(archive);
    ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "png"}).exitCode, 0);
    const CliResult unedited = Kestrel({"import", archive.string()});
    EXPECT_EQ(unedited.exitCode, 0) << unedited.err;
    EXPECT_EQ(ReadFileBytes(archive), original) << "an unedited import changed the archive";

    const fs::path before = dir / "before", after = dir / "after";
    ASSERT_EQ(
        Kestrel({"export", archive.string(), "-t", "tex,cbm,txt", "-p", before.string()}).exitCode,
        0);
    std::vector<image::ImagePlane> drawn;
    std::vector<std::string> names;
    for (const auto& [name, format] : edited) {
        const fs::path picture = ExportedPicture(dir / "Unity_Assets_Files" / treeDir, name);
        ASSERT_TRUE(DrawRedRectangle(picture)) << name;
        drawn.push_back(ReadPictureAsFloat(picture));
        names.push_back(name);
    }
    const CliResult imported = Kestrel({"import", archive.string()});
    ASSERT_EQ(imported.exitCode, 0) << imported.out << imported.err;

    ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "tex,cbm,txt,png", "-p", after.string()})
                  .exitCode,
              0);
    const fs::path tree = after / "Unity_Assets_Files" / treeDir;
    for (size_t i = 0; i < edited.size(); ++i) {
        EXPECT_EQ(
            DrawnRectangleProblem(ExportedPicture(tree, names[i]), drawn[i], edited[i].second), "");
    }
    EXPECT_EQ(
        RawFileProblems(FilesIn(before / "Unity_Assets_Files" / treeDir), FilesIn(tree), names),
        std::vector<std::string>{});
}

TEST(TexturePngImport, UneditedPicturesChangeNothingAndADrawnRectangleComesBack) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    {
        TempDir dir;
        const fs::path archive = dir / "level0.assets";
        WriteTableArchive(archive);
        std::vector<std::pair<std::string, int32_t>> edits;
        for (const FormatCase& c : kFormats)
            edits.emplace_back(std::string(c.name) + ".tex", c.format);
        edits.emplace_back("sky.cbm", 12);
        RoundTrip(dir.Path(), archive, "level0", edits);
    }
    {
        // Engines from 2019.4, the pixels streamed from the bundle's resource entry.
        TempDir dir;
        const fs::path archive = dir / "scene.bundle";
        WriteStreamedTextureBundle(archive);
        RoundTrip(dir.Path(), archive, std::string("scene/") + kStreamedOwner, {{"hero.tex", 12}});
    }
}

// The texture header of the archive's first object of `name`.
TextureHeader HeaderOf(const fs::path& archive, const std::string& exportName) {
    OpenedArchive a(archive.string());
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        if (a.Items().ExportName[i] != exportName) continue;
        Reader body = a.Scope().ObjectBody(i);
        return ReadTextureHeader(body).header;
    }
    ADD_FAILURE() << "no object " << exportName;
    return {};
}

TEST(TexturePngImport, FormatsWithoutEncoderRefuseAnEditUnlessAnUncompressedFormatIsNamed) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    struct Case {
        int32_t format;
        const char* name;
    };
    for (const Case c : {Case{32, "PVRTC_RGB4"}, Case{35, "ATC_RGB4"}, Case{36, "ATC_RGBA8"}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        AssetsSpec plan;
        TextureObjectSpec texture;
        texture.layout = TextureLayout::MipCount;
        texture.width = texture.height = kEdge;
        texture.format = c.format;
        texture.pixels.resize(image::PictureLevelBytes(c.format, kEdge, kEdge));
        for (size_t i = 0; i < texture.pixels.size(); ++i)
            texture.pixels[i] = static_cast<uint8_t>(i * 37 + 11);
        plan.objects.push_back({28, "mobile", MakeTextureObject(texture, Endian::Little)});
        plan.objects.push_back({49, "notes", TextBody("left alone")});
        const fs::path archive = dir / "mobile.assets";
        const auto bytes = BuildAssetsFile(plan);
        WriteFileBytes(archive, {bytes.begin(), bytes.end()});

        ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "png"}).exitCode, 0);
        const fs::path png = dir / "Unity_Assets_Files/mobile/Textures/mobile.tex.png";
        ASSERT_TRUE(DrawRedRectangle(png));
        const CliResult refused = Kestrel({"import", archive.string()});
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_NE((refused.out + refused.err)
                      .find("no encoder for texture format " + std::to_string(c.format) + " (" +
                            c.name + "); use --png-format RGBA32"),
                  std::string::npos)
            << refused.out << refused.err;
        EXPECT_NE((refused.out + refused.err).find(png.string()), std::string::npos);
        EXPECT_EQ(ReadFileBytes(archive), std::vector<unsigned char>(bytes.begin(), bytes.end()));

        const CliResult stored = Kestrel({"import", archive.string(), "--png-format", "rgba32"});
        ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
        const TextureHeader h = HeaderOf(archive, "mobile.tex");
        EXPECT_EQ(h.textureFormat, 4);
        EXPECT_EQ(h.completeImageSize, static_cast<int32_t>(kEdge * kEdge * 4));
        const fs::path again = dir / "again";
        ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "png", "-p", again.string()}).exitCode,
                  0);
        EXPECT_EQ(DrawnRectangleProblem(again / "Unity_Assets_Files/mobile/Textures/mobile.tex.png",
                                        ReadPictureAsFloat(png), 4),
                  "");
    }
}

TEST(TexturePngImport, APictureOfAnotherSizeCarriesTheFieldsWithIt) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    struct Case {
        TextureLayout layout;
        uint32_t mip; // flag or count
        int32_t format;
        uint32_t newWidth, newHeight;
        uint32_t levelsAfter;
    };
    const Case cases[] = {
        {TextureLayout::MipFlag, 1, 12, 32, 8, 6},  // a full chain stays full
        {TextureLayout::MipCount, 5, 25, 8, 20, 5}, // full for 16 x 16, full for 8 x 20
        {TextureLayout::MipCount, 3, 4, 4, 2, 3},   // as many as the object had
        {TextureLayout::MipCount, 1, 10, 12, 12, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + " to " + std::to_string(c.newWidth) + " x " +
                     std::to_string(c.newHeight));
        TempDir dir;
        AssetsSpec plan;
        TextureObjectSpec texture;
        texture.layout = c.layout;
        texture.width = texture.height = kEdge;
        texture.format = c.format;
        texture.mip = c.mip;
        const uint32_t levels =
            c.layout == TextureLayout::MipFlag ? (c.mip ? FullChain(kEdge, kEdge) : 1) : c.mip;
        texture.pixels = EncodedLevels(c.format, kEdge, kEdge, levels, 3);
        plan.objects.push_back({28, "resized", MakeTextureObject(texture, Endian::Little)});
        const fs::path archive = dir / "sized.assets";
        const auto bytes = BuildAssetsFile(plan);
        WriteFileBytes(archive, {bytes.begin(), bytes.end()});
        ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "png"}).exitCode, 0);
        const fs::path png = dir / "Unity_Assets_Files/sized/Textures/resized.tex.png";
        const std::string size = std::to_string(c.newWidth) + "x" + std::to_string(c.newHeight);
        ASSERT_EQ(std::system(("convert '" + png.string() + "' -resize " + size + "! '" +
                               png.string() + "'")
                                  .c_str()),
                  0);
        const CliResult r = Kestrel({"import", archive.string()});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

        const TextureHeader h = HeaderOf(archive, "resized.tex");
        EXPECT_EQ(h.width, static_cast<int32_t>(c.newWidth));
        EXPECT_EQ(h.height, static_cast<int32_t>(c.newHeight));
        uint64_t total = 0;
        for (uint32_t l = 0; l < c.levelsAfter; ++l)
            total += image::PictureLevelBytes(c.format, std::max(c.newWidth >> l, 1u),
                                              std::max(c.newHeight >> l, 1u));
        EXPECT_EQ(static_cast<uint64_t>(h.completeImageSize), total);
        const uint32_t mipField = h.mipField.size() == 4
                                      ? h.mipField[0] | (h.mipField[1] << 8)
                                      : (h.mipField[0] ? FullChain(c.newWidth, c.newHeight) : 1);
        EXPECT_EQ(mipField, c.levelsAfter);

        const fs::path again = dir / "again";
        ASSERT_EQ(Kestrel({"export", archive.string(), "-t", "png", "-p", again.string()}).exitCode,
                  0);
        const auto back =
            ReadPictureAsFloat(again / "Unity_Assets_Files/sized/Textures/resized.tex.png");
        EXPECT_EQ(back.width, c.newWidth);
        EXPECT_EQ(back.height, c.newHeight);
    }
}

} // namespace
} // namespace kestrel
