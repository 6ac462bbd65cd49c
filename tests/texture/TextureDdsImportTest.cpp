#include "common/Error.h"
#include "io/ByteSource.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFileHeaders.h"
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
    tc.options.noFlipTexture = noFlip;
    ExportTextureDDS(tc.Input(body));
    const auto rebuilt = dir.Path() / "rebuilt.bin";
    auto source = std::make_shared<MemorySource>("level0", target ? *target : body);
    ImportTextureDDS(
        {{}, Reader(source, order), tc.OutputDir() / "tex.tex.dds", rebuilt, noFlip, tc.messages});
    EXPECT_TRUE(tc.messages.alerts.empty());
    return ReadFileBytes(rebuilt);
}

// A DDS file of the given pixel format (taken from a texture format's row), sizes and levels.
Bytes DdsFile(int32_t format, int32_t width, int32_t height, uint32_t mipValue, const Bytes& data) {
    const DDSHeader header =
        BuildDDSHeader(format, static_cast<int32_t>(data.size()), width, height, mipValue);
    Bytes out(header.bytes.begin(), header.bytes.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Imports `dds` (written to a file) into `body` without flipping; returns the rebuilt bytes.
Bytes ImportDds(const Bytes& body, const Bytes& dds, Endian order = Endian::Little) {
    TempDir dir;
    test::WriteFileBytes(dir / "in.dds", dds);
    test::RecordedMessages messages;
    ImportTextureDDS({{},
                      Reader(std::make_shared<MemorySource>("level0", body), order),
                      dir / "in.dds",
                      dir / "rebuilt.bin",
                      true,
                      messages});
    EXPECT_TRUE(messages.alerts.empty());
    return ReadFileBytes(dir / "rebuilt.bin");
}

TEST(TextureDdsImport, SharedPixelFormatsKeepTheObjectsFormatElseTheLastRowWins) {
    const std::array<uint32_t, 4> argb32{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const std::array<uint32_t, 4> argb4444{0xF00, 0xF0, 0xF, 0xF000};
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 32, argb32, 10)->format, 5);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 32, argb32, 14)->format, 14);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 16, argb4444, 10)->format, 13);
    EXPECT_EQ(DdsFormatForPixelFormat(0x41, 0, 16, argb4444, 2)->format, 2);
    EXPECT_EQ(DdsFormatForPixelFormat(0x4, FourCC("DXT5"), 0, {}, 4)->format, 12);
    EXPECT_EQ(DdsFormatForPixelFormat(0x4, FourCC("BC7 "), 0, {}, 4), nullptr);
}

// A4R4G4B4 pixels come back as RGBA4444 (13) and 32-bit ARGB ones as ARGB32 (5) into an object
// of another format; the channels are turned back into the format's order.
TEST(TextureDdsImport, A4R4G4B4ReadsAs13And32BitArgbAs5) {
    TextureObjectSpec target;
    target.format = 10;
    target.mip = 1;
    target.pixels.assign(8, 0);
    const Bytes body = MakeTextureObject(target, Endian::Little);

    TextureObjectSpec expected = target;
    expected.width = 2;
    expected.height = 1;
    expected.format = 13;
    expected.pixels = {0x34, 0x12, 0x78, 0x56}; // 0x1234, 0x5678
    EXPECT_EQ(ImportDds(body, DdsFile(2, 2, 1, 0, {0x23, 0x41, 0x67, 0x85})),
              MakeTextureObject(expected, Endian::Little));

    expected.format = 5;
    expected.pixels = {0xA, 0xB, 0xC, 0xD, 0x1, 0x2, 0x3, 0x4}; // A, R, G, B
    EXPECT_EQ(ImportDds(body, DdsFile(4, 2, 1, 0, {0xD, 0xC, 0xB, 0xA, 0x4, 0x3, 0x2, 0x1})),
              MakeTextureObject(expected, Endian::Little));
}

// DXT1 levels of a 256 x 256 picture down to 4 x 4 (9 levels).
Bytes Dxt1Chain(uint32_t levels) {
    uint64_t size = 0;
    for (uint32_t level = 0, edge = 256; level < levels; ++level, edge = std::max(edge / 2, 4u))
        size += edge * edge / 2;
    return Bytes(size, 0x5A);
}

TEST(TextureDdsImport, MipFlagAndCountFollowTheFilesLevelCount) {
    struct Case {
        TextureLayout layout;
        uint32_t storedMip;
        uint32_t storedLevels;
        uint32_t fileLevels;
        uint32_t expectedMip;
    };
    const Case cases[] = {
        {TextureLayout::MipFlag, 1, 9, 1, 0},  {TextureLayout::MipFlag, 0, 1, 9, 1},
        {TextureLayout::MipCount, 1, 1, 9, 9}, {TextureLayout::MipCount, 9, 9, 1, 1},
        {TextureLayout::MipCount, 3, 3, 9, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.layout)) + " " +
                     std::to_string(c.storedMip) + " " + std::to_string(c.fileLevels));
        TextureObjectSpec target;
        target.layout = c.layout;
        target.width = target.height = 256;
        target.format = 10;
        target.mip = c.storedMip;
        target.pixels = Dxt1Chain(c.storedLevels);
        TextureObjectSpec expected = target;
        expected.mip = c.expectedMip;
        expected.pixels = Dxt1Chain(c.fileLevels);
        const Bytes dds = DdsFile(10, 256, 256, c.fileLevels, expected.pixels);
        for (Endian order : {Endian::Little, Endian::Big}) {
            EXPECT_EQ(ImportDds(MakeTextureObject(target, order), dds, order),
                      MakeTextureObject(expected, order));
        }
    }
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
    try {
        ImportTextureDDS({{}, Reader(source), dds, rebuilt, false, tc.messages});
        ADD_FAILURE() << "an unknown pixel format was imported";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find(dds.string()), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(rebuilt));
    EXPECT_TRUE(tc.messages.alerts.empty());

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

// An unedited streamed texture comes back as it was. One whose picture differs from the pixels
// in the resource file (changed there after the export) comes back with the picture's pixels
// inside the object and an empty stream reference; the resource file is not touched.
TEST(TextureDdsImport, StreamedTextureGetsItsPixelsInsideTheObjectWhenChanged) {
    for (Endian order : {Endian::Little, Endian::Big}) {
        TempDir dir;
        TextureCase tc(dir.Path(), 28, 12, "s.tex", order);
        Bytes pixels(64 + 16);
        std::iota(pixels.begin(), pixels.end(), uint8_t{5});
        Bytes resource(10, 0xEE);
        resource.insert(resource.end(), pixels.begin(), pixels.end());
        test::WriteFileBytes(dir / "sharedassets0.assets.resS", resource);
        TextureObjectSpec plan;
        plan.layout = TextureLayout::Streamed;
        plan.width = plan.height = 8;
        plan.format = 12;
        plan.mip = 2;
        plan.streamOffset = 10;
        plan.streamSize = static_cast<uint32_t>(pixels.size());
        plan.path = "sharedassets0.assets.resS";
        plan.trailing = {1, 2, 3, 4};
        const Bytes body = MakeTextureObject(plan, order);
        ExportTextureDDS(tc.Input(body));
        const auto dds = tc.OutputDir() / "res_sharedassets0" / "s.tex.dds";
        const auto rebuilt = dir / "rebuilt.bin";
        const auto import = [&] {
            ImportTextureDDS({{},
                              Reader(std::make_shared<MemorySource>("level0", body), order),
                              dds,
                              rebuilt,
                              false,
                              tc.messages,
                              {},
                              {},
                              tc.context->places});
        };
        import();
        EXPECT_EQ(ReadFileBytes(rebuilt), body);
        resource[10] ^= 0xFF;
        test::WriteFileBytes(dir / "sharedassets0.assets.resS", resource);
        import();
        TextureObjectSpec inside = plan;
        inside.layout = TextureLayout::MipCount;
        inside.pixels = pixels;
        inside.trailing = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4};
        EXPECT_EQ(ReadFileBytes(rebuilt), MakeTextureObject(inside, order));
        EXPECT_EQ(ReadFileBytes(dir / "sharedassets0.assets.resS"), resource);
    }
}

// The six faces of a cubemap are read from sky.cbm.dds, sky.cbm.dds_2 ... sky.cbm.dds_6; a
// missing or different face refuses the import.
TEST(TextureDdsImport, CubemapFacesAreReadFromTheNumberedFiles) {
    TempDir dir;
    TextureCase tc(dir.Path(), 89, 3, "sky.cbm", Endian::Little);
    TextureObjectSpec plan;
    plan.format = 3;
    plan.imageCount = 6;
    plan.pixels.resize(6 * 48);
    std::iota(plan.pixels.begin(), plan.pixels.end(), uint8_t{0});
    const Bytes body = MakeTextureObject(plan, Endian::Little);
    ExportTextureDDS(tc.Input(body, "Unity_Assets_Files/level0/Cubemap/"));
    const auto first = tc.OutputDir("Unity_Assets_Files/level0/Cubemap/") / "sky.cbm.dds";
    const auto rebuilt = dir / "rebuilt.bin";
    auto import = [&] {
        ImportTextureDDS({{},
                          Reader(std::make_shared<MemorySource>("level0", body)),
                          first,
                          rebuilt,
                          false,
                          tc.messages});
    };
    auto face = first;
    face += "_4";
    const Bytes fourth = ReadFileBytes(face);
    Bytes edited = fourth;
    edited[128] ^= 0xFF; // the first byte written is from the last stored row
    test::WriteFileBytes(face, edited);
    import();
    Bytes expected = plan.pixels;
    expected[3 * 48 + 38] ^= 0xFF; // B of the last row's first pixel, stored as R, G, B
    plan.pixels = expected;
    EXPECT_EQ(ReadFileBytes(rebuilt), MakeTextureObject(plan, Endian::Little));

    std::filesystem::remove(rebuilt);
    test::WriteFileBytes(face, Bytes(fourth.begin(), fourth.end() - 3));
    EXPECT_THROW(import(), KestrelError);
    std::filesystem::remove(face);
    EXPECT_THROW(import(), KestrelError);
    EXPECT_FALSE(std::filesystem::exists(rebuilt));
}

// A procedural texture takes sizes, format, has-mipmaps value and data length from the file, in
// its own byte order; one of 88 bytes or fewer is left alone.
TEST(TextureDdsImport, ProceduralTextureFollowsTheFile) {
    for (Endian order : {Endian::Little, Endian::Big}) {
        test::ProceduralTextureSpec target;
        target.format = 5;
        target.pixels.assign(64, 1);
        test::ProceduralTextureSpec expected;
        expected.width = 8;
        expected.height = 4;
        expected.format = 12;
        expected.mipValue = 1;
        expected.pixels.resize(32 + 16); // 8 x 4 and 4 x 4 (the smallest DXT level)
        std::iota(expected.pixels.begin(), expected.pixels.end(), uint8_t{3});
        TempDir dir;
        test::WriteFileBytes(dir / "p.dds", DdsFile(12, 8, 4, 2, expected.pixels));
        test::RecordedMessages messages;
        auto import = [&](const Bytes& body) {
            ImportProceduralDDS({{},
                                 Reader(std::make_shared<MemorySource>("level0", body), order),
                                 dir / "p.dds",
                                 dir / "rebuilt.bin",
                                 true,
                                 messages});
        };
        import(test::MakeProceduralTextureObject(target, order));
        EXPECT_EQ(ReadFileBytes(dir / "rebuilt.bin"),
                  test::MakeProceduralTextureObject(expected, order));
        std::filesystem::remove(dir / "rebuilt.bin");
        import(Bytes(88, 0));
        EXPECT_FALSE(std::filesystem::exists(dir / "rebuilt.bin"));
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
    struct Case {
        const char* compression;
        const char* background;
        int32_t format; // of the object the picture goes into
    };
    // Without alpha an uncompressed picture is 24-bit RGB; with alpha it is 32-bit ARGB, which
    // an RGBA32 object keeps and a DXT1 object reads as ARGB32.
    const Case cases[] = {{"dxt5", "red", 12},
                          {"none", "red", 3},
                          {"none", "'rgba(255,0,0,0.5)'", 4},
                          {"none", "'rgba(255,0,0,0.5)'", 10}};
    for (const auto& [compression, background, format] : cases) {
        SCOPED_TRACE(std::string(compression) + " " + background + " " + std::to_string(format));
        TempDir dir;
        const auto png = dir.Path() / "in.png";
        const auto dds = dir.Path() / "in.dds";
        RunLine("convert -size 16x16 xc:" + std::string(background) +
                " -fill blue -draw 'rectangle 0,0 7,5' '" + png.string() + "' && convert '" +
                png.string() + "' -define dds:compression=" + compression + " '" + dds.string() +
                "'");
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
