#include "common/Error.h"
#include "io/ByteSource.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TextureImport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numeric>

namespace kestrel {
namespace {

using test::MakeTextureObject;
using test::ReadFileBytes;
using test::TempDir;
using test::TextureCase;
using test::TextureObjectSpec;

using Bytes = std::vector<uint8_t>;

// Exports the object `body` to DDS, imports the file into `target` (default: the same object) and
// returns the rebuilt object bytes.
Bytes ExportThenImport(const Bytes& body, int32_t format, Endian order, bool noFlip,
                       const Bytes* target = nullptr) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, format, "tex.tex", order);
    tc.state.NoFlipTexture = noFlip;
    ExportTextureDDS(tc.Input(body));
    const auto rebuilt = dir.Path() / "rebuilt.bin";
    auto source = std::make_shared<MemorySource>("level0", target ? *target : body);
    ImportTextureDDS(
        {{}, Reader(source, order), tc.OutputDir() / "tex.tex.dds", rebuilt, noFlip, tc.messages});
    EXPECT_TRUE(tc.messages.alerts.empty());
    return ReadFileBytes(rebuilt);
}

TEST(TextureDdsImport, NoEditRoundTripGivesTheSameObjectBytes) {
    const int32_t formats[] = {1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 35, 36, 37};
    for (int32_t format : formats) {
        const uint64_t size = DdsPixelFormatFor(format).bytesPerPixel.Bytes(8, 8);
        for (auto layout : {TextureLayout::MipFlag, TextureLayout::MipCount}) {
            for (uint32_t mip : {0u, 1u}) {
                for (Endian order : {Endian::Little, Endian::Big}) {
                    for (bool noFlip : {false, true}) {
                        TextureObjectSpec plan;
                        plan.layout = layout;
                        plan.width = plan.height = 8;
                        plan.format = format;
                        plan.mip = mip;
                        plan.pixels.resize(size);
                        std::iota(plan.pixels.begin(), plan.pixels.end(), uint8_t{7});
                        plan.trailing = {1, 2, 3, 4, 5, 6, 7, 8};
                        const Bytes body = MakeTextureObject(plan, order);
                        SCOPED_TRACE("format " + std::to_string(format) + " layout " +
                                     std::to_string(static_cast<int>(layout)) + " mip " +
                                     std::to_string(mip) + " noFlip " + std::to_string(noFlip));
                        EXPECT_EQ(ExportThenImport(body, format, order, noFlip), body);
                    }
                }
            }
        }
    }
}

TEST(TextureDdsImport, SharedPixelFormatsPreferTheObjectsFormatThen13And5) {
    const std::array<uint32_t, 4> argb32{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const std::array<uint32_t, 4> argb4444{0xF00, 0xF0, 0xF, 0xF000};
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 32, argb32, 10)->format, 5);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 32, argb32, 14)->format, 14);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 16, argb4444, 10)->format, 13);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 16, argb4444, 2)->format, 2);
    EXPECT_EQ(DdsFormatForPixelFormat(0x4, FourCC("DXT5"), 0, {}, 4)->format, 12);
    EXPECT_EQ(DdsFormatForPixelFormat(0x4, FourCC("BC7 "), 0, {}, 4), nullptr);
}

TEST(TextureDdsImport, UnknownPixelFormatLeavesTheObjectUnchangedAndShortPicturesAreRefused) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 12, "tex.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.format = 12;
    plan.pixels.assign(16, 0);
    const Bytes body = MakeTextureObject(plan, Endian::Little);
    ExportTextureDDS(tc.Input(body));
    const auto dds = tc.OutputDir() / "tex.tex.dds";
    Bytes file = ReadFileBytes(dds);
    const auto rebuilt = dir.Path() / "rebuilt.bin";
    auto source = std::make_shared<MemorySource>("level0", body);
    auto write = [&](const Bytes& bytes) {
        std::ofstream(dds, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    };

    Bytes unknown = file;
    unknown[84] = 'Q';
    write(unknown);
    ImportTextureDDS({{}, Reader(source), dds, rebuilt, false, tc.messages});
    EXPECT_FALSE(std::filesystem::exists(rebuilt));
    ASSERT_EQ(tc.messages.alerts.size(), 1u);
    EXPECT_NE(tc.messages.alerts[0].find(dds.string()), std::string::npos);

    Bytes wider = file;
    wider[16] = 64; // 64 x 4 DXT5 needs 256 bytes; the file holds 16
    write(wider);
    EXPECT_THROW(ImportTextureDDS({{}, Reader(source), dds, rebuilt, false, tc.messages}),
                 KestrelError);
    EXPECT_FALSE(std::filesystem::exists(rebuilt));
}

// Importing a picture with other sizes, levels or format into an object gives the object that
// picture was exported from: the mip flag or count, sizes and format follow the file.
TEST(TextureDdsImport, SizesMipFieldAndFormatFollowTheFile) {
    for (auto layout : {TextureLayout::MipFlag, TextureLayout::MipCount}) {
        SCOPED_TRACE(static_cast<int>(layout));
        TextureObjectSpec target;
        target.layout = layout;
        target.format = 10;
        target.mip = 0;
        target.pixels.assign(8, 3);
        TextureObjectSpec picture = target;
        picture.width = picture.height = 8;
        picture.format = 12;
        picture.mip = layout == TextureLayout::MipFlag ? 1 : 2; // 8 x 8 and 4 x 4
        picture.pixels.resize(64 + 16);
        std::iota(picture.pixels.begin(), picture.pixels.end(), uint8_t{1});
        const Bytes body = MakeTextureObject(picture, Endian::Big);
        const Bytes targetBody = MakeTextureObject(target, Endian::Big);
        EXPECT_EQ(ExportThenImport(body, 12, Endian::Big, false, &targetBody), body);
    }
}

// Runs a shell command and returns the first line of its combined output.
std::string RunLine(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[256];
        if (fgets(buffer, sizeof buffer, pipe) != nullptr) out = buffer;
        pclose(pipe);
    }
    return out;
}

// A picture written by ImageMagick, imported into a texture and exported again, shows the same
// pixels.
TEST(TextureDdsImport, ImageMagickPictureSurvivesImportAndExport) {
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    const std::pair<const char*, int32_t> cases[] = {{"dxt5", 12}, {"none", 3}};
    for (const auto& [compression, format] : cases) {
        SCOPED_TRACE(compression);
        TempDir dir;
        const auto png = dir.Path() / "in.png";
        const auto dds = dir.Path() / "in.dds";
        RunLine("convert -size 16x16 xc:red -fill blue -draw 'rectangle 0,0 7,5' '" + png.string() +
                "' && convert '" + png.string() + "' -define dds:compression=" + compression +
                " '" + dds.string() + "'");
        TextureObjectSpec plan;
        plan.width = plan.height = 16;
        plan.format = format;
        plan.pixels.assign(DdsPixelFormatFor(format).bytesPerPixel.Bytes(16, 16), 0);
        const Bytes body = MakeTextureObject(plan, Endian::Little);
        const auto rebuilt = dir.Path() / "rebuilt.bin";
        TextureCase tc(dir.Path(), 28, format, "tex.tex", Endian::Little);
        ImportTextureDDS({{},
                          Reader(std::make_shared<MemorySource>("level0", body)),
                          dds,
                          rebuilt,
                          false,
                          tc.messages});
        ExportTextureDDS(tc.Input(ReadFileBytes(rebuilt)));
        const auto again = tc.OutputDir() / "tex.tex.dds";
        EXPECT_EQ(RunLine("compare -metric AE '" + dds.string() + "[0]' '" + again.string() +
                          "[0]' null:"),
                  "0");
    }
}

} // namespace
} // namespace kestrel
