#include "common/Error.h"
#include "io/ByteSource.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFileHeaders.h"
#include "texture/TextureImport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sys/stat.h>

namespace kestrel {
namespace {

using test::MakeTextureObject;
using test::ReadFileBytes;
using test::TempDir;
using test::TextureCase;
using test::TextureObjectSpec;
using test::WriteFileBytes;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes Sequence(size_t n, uint8_t start) {
    Bytes out(n);
    std::iota(out.begin(), out.end(), start);
    return out;
}

// Imports `picture` into `body` with `importer`; returns the rebuilt bytes (empty when none).
Bytes Import(void (*importer)(const TextureImportInput&), const Bytes& body,
             const fs::path& picture, test::RecordedMessages& messages,
             Endian order = Endian::Little, const fs::path& executableDir = {}) {
    const auto rebuilt = picture.parent_path() / "rebuilt.bin";
    fs::remove(rebuilt);
    importer({{},
              Reader(std::make_shared<MemorySource>("level0", body), order),
              picture,
              rebuilt,
              false,
              messages,
              executableDir});
    return fs::exists(rebuilt) ? ReadFileBytes(rebuilt) : Bytes{};
}

// KTX and PVR files of a cubemap set the image count of the object they are imported into:
// a one-image texture takes all six faces, with sizes from the files (big-endian fields, pixels
// as stored).
TEST(TextureKtxPvrImport, FacesSetTheImageCount) {
    const std::pair<void (*)(const ConverterInput&), void (*)(const TextureImportInput&)>
        converters[] = {{ExportTextureKTX, ImportTextureKTX}, {ExportTexturePVR, ImportTexturePVR}};
    const char* extensions[] = {".ktx", ".pvr"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(extensions[i]);
        TempDir dir;
        TextureCase tc(dir.Path(), 89, 34, "sky.cbm", Endian::Big);
        TextureObjectSpec cube;
        cube.width = cube.height = 8;
        cube.format = 34;
        cube.imageCount = 6;
        cube.pixels = Sequence(6 * 32, 1);
        const Bytes body = MakeTextureObject(cube, Endian::Big);
        converters[i].first(tc.Input(body));
        TextureObjectSpec single = cube;
        single.width = single.height = 4;
        single.imageCount = 1;
        single.pixels = Bytes(8, 0);
        const auto picture = tc.OutputDir() / (std::string("sky.cbm") + extensions[i]);
        EXPECT_EQ(Import(converters[i].second, MakeTextureObject(single, Endian::Big), picture,
                         tc.messages, Endian::Big),
                  body);
    }
}

// A pixel format outside the tables leaves the object unchanged with an error naming the file;
// a picture cut short is refused.
TEST(TextureKtxPvrImport, UnknownFormatsAreReportedAndShortPicturesRefused) {
    struct Case {
        void (*exportTexture)(const ConverterInput&);
        void (*importTexture)(const TextureImportInput&);
        const char* extension;
        size_t formatAt; // offset of the pixel format field
    };
    const Case cases[] = {{ExportTextureKTX, ImportTextureKTX, ".ktx", 28},
                          {ExportTexturePVR, ImportTexturePVR, ".pvr", 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        TempDir dir;
        TextureCase tc(dir.Path(), 28, 47, "t.tex", Endian::Little);
        TextureObjectSpec plan;
        plan.width = plan.height = 8;
        plan.format = 47;
        plan.pixels = Sequence(64, 0);
        const Bytes body = MakeTextureObject(plan, Endian::Little);
        c.exportTexture(tc.Input(body));
        const auto picture = tc.OutputDir() / (std::string("t.tex") + c.extension);
        const Bytes file = ReadFileBytes(picture);

        Bytes unknown = file;
        unknown[c.formatAt] ^= 0x40;
        WriteFileBytes(picture, unknown);
        try {
            Import(c.importTexture, body, picture, tc.messages);
            ADD_FAILURE() << "an unknown pixel format was imported";
        } catch (const KestrelError& e) {
            EXPECT_NE(std::string(e.what()).find(picture.string()), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(picture.parent_path() / "rebuilt.bin"));
        EXPECT_TRUE(tc.messages.alerts.empty());

        WriteFileBytes(picture, Bytes(file.begin(), file.end() - 1));
        EXPECT_THROW(Import(c.importTexture, body, picture, tc.messages), KestrelError);
        WriteFileBytes(picture, file);
        EXPECT_EQ(Import(c.importTexture, body, picture, tc.messages), body);
    }
}

// A CRN import replaces the crunched data and keeps width, height, format and mip field.
TEST(TextureCrnImport, KeepsSizeAndFormat) {
    TempDir dir;
    TextureObjectSpec plan;
    plan.width = plan.height = 64;
    plan.format = 29;
    plan.mip = 7;
    plan.pixels = Sequence(50, 9);
    const Bytes crn = Sequence(123, 200);
    WriteFileBytes(dir / "c.tex.crn", crn);
    test::RecordedMessages messages;
    const Bytes rebuilt = Import(ImportTextureCRN, MakeTextureObject(plan, Endian::Big),
                                 dir / "c.tex.crn", messages, Endian::Big);
    plan.pixels = crn;
    EXPECT_EQ(rebuilt, MakeTextureObject(plan, Endian::Big));
    EXPECT_TRUE(messages.alerts.empty());

    plan.format = 12; // DXT5 pixels cannot take crunched data
    EXPECT_THROW(Import(ImportTextureCRN, MakeTextureObject(plan, Endian::Big), dir / "c.tex.crn",
                        messages, Endian::Big),
                 KestrelError);
}

// An edited ".crn.dds" is crunched into the ".crn" file by the tool beside the program before
// the import; without the tool the import says so and takes the ".crn" file as it is; a failing
// tool leaves the texture unchanged.
TEST(TextureCrnImport, EditedDdsGoesThroughTheCrunchTool) {
    TempDir dir;
    const fs::path tools = dir / "bin";
    fs::create_directories(tools);
    WriteFileBytes(dir / "c.tex.crn", Bytes(12, 1));
    WriteFileBytes(dir / "c.tex.crn.dds", Bytes(200, 2));
    TextureObjectSpec plan;
    plan.format = 28;
    plan.pixels = Bytes(12, 1);
    const Bytes body = MakeTextureObject(plan, Endian::Little);

    test::RecordedMessages messages;
    EXPECT_EQ(Import(ImportTextureCRN, body, dir / "c.tex.crn", messages, Endian::Little, tools),
              body);
    ASSERT_EQ(messages.alerts.size(), 1u);
    EXPECT_NE(messages.alerts[0].find("c.tex.crn.dds"), std::string::npos);

    // The stand-in tool writes its arguments, as the crunched data, to the -out file.
    const fs::path tool = tools / "crunch_x64";
    auto install = [&](const std::string& script) {
        const std::string text = "#!/bin/sh\n" + script + "\n";
        WriteFileBytes(tool, Bytes(text.begin(), text.end()));
        ::chmod(tool.c_str(), 0755);
    };
    install("[ \"$1\" = -out ] && [ \"$3\" = -file ] && printf '%s' \"$4\" > \"$2\"");
    messages = {};
    const Bytes rebuilt =
        Import(ImportTextureCRN, body, dir / "c.tex.crn", messages, Endian::Little, tools);
    const std::string edited = (dir / "c.tex.crn.dds").string();
    plan.pixels = Bytes(edited.begin(), edited.end());
    EXPECT_EQ(rebuilt, MakeTextureObject(plan, Endian::Little));
    EXPECT_EQ(ReadFileBytes(dir / "c.tex.crn"), plan.pixels);
    EXPECT_TRUE(messages.alerts.empty());

    install("exit 3");
    EXPECT_THROW(Import(ImportTextureCRN, body, dir / "c.tex.crn", messages, Endian::Little, tools),
                 KestrelError);
    EXPECT_EQ(ReadFileBytes(dir / "c.tex.crn"), plan.pixels);
}

// A crunched texture becomes a PNG through the crunch tool's DDS (here a stand-in's: red over
// blue in DXT1, rows as the engine stores them), read back by ImageMagick; its unedited picture
// changes nothing, an edited one is refused for want of an encoder, and without the tool the
// export says so and writes no picture.
TEST(TextureCrnPicture, ThroughTheToolToPngAndBack) {
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick convert is not installed";
    TempDir tools;
    test::TextureCase tc(tools / "out", 28, 28, "c.tex", Endian::Little);
    tc.options.outputs |= kOutPng;
    TextureObjectSpec plan;
    plan.width = plan.height = 8;
    plan.format = 28;
    plan.pixels = Sequence(40, 3);
    const Bytes body = MakeTextureObject(plan, Endian::Little);
    const fs::path png = tc.OutputDir() / "c.tex.png";

    ExportTexturePNG(tc.Input(body));
    ASSERT_EQ(tc.messages.notices.size(), 1u);
    EXPECT_NE(tc.messages.notices[0].find("crunch tool"), std::string::npos);
    EXPECT_FALSE(fs::exists(png));

    const Bytes dxt1 = test::TwoBandDXT1(8, 8);
    const DDSHeader header = BuildDDSHeader(10, static_cast<int32_t>(dxt1.size()), 8, 8, 0);
    Bytes dds(header.bytes.begin(), header.bytes.end());
    dds.insert(dds.end(), dxt1.begin(), dxt1.end());
    WriteFileBytes(tools / "picture.dds", dds);
    const std::string script = "#!/bin/sh\n[ \"$1\" = -out ] && cp \"$(dirname \"$0\")/picture.dds\" \"$2\"\n";
    WriteFileBytes(tools / "crunch", Bytes(script.begin(), script.end()));
    ::chmod((tools / "crunch").c_str(), 0755);
    tc.options.executableDir = tools.Path();
    ExportTexturePNG(tc.Input(body));
    const auto top = test::DecodePixel(png, 0, 0);
    const auto bottom = test::DecodePixel(png, 0, 7);
    ASSERT_TRUE(top && bottom);
    EXPECT_EQ(top->width, 8);
    EXPECT_GT(top->r, 200); // red over blue, upright
    EXPECT_GT(bottom->b, 200);
    EXPECT_EQ(std::distance(fs::directory_iterator(tc.OutputDir()), fs::directory_iterator{}), 1)
        << "the tool's files are removed";

    test::RecordedMessages messages;
    EXPECT_EQ(Import(ImportTexturePNG, body, png, messages, Endian::Little, tools.Path()), Bytes{});
    ASSERT_EQ(std::system(("convert '" + png.string() + "' -fill white -draw 'point 1,1' '" +
                           png.string() + "'").c_str()),
              0);
    try {
        Import(ImportTexturePNG, body, png, messages, Endian::Little, tools.Path());
        ADD_FAILURE() << "an edited crunched picture was taken";
    } catch (const KestrelError& e) {
        EXPECT_NE(std::string(e.what()).find("no encoder"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace kestrel
