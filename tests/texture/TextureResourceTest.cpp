#include "texture/TextureResource.h"
#include "common/Error.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kestrel {
namespace {

using test::MakeTextureObject;
using test::ReadFileBytes;
using test::TempDir;
using test::TextureCase;
using test::TextureObjectSpec;
using Bytes = std::vector<uint8_t>;

namespace fs = std::filesystem;

TextureObjectSpec StreamedSpec(const std::string& path, uint32_t offset, uint32_t size) {
    TextureObjectSpec plan;
    plan.layout = TextureLayout::Streamed;
    plan.width = 2;
    plan.height = 2;
    plan.format = 37;
    plan.streamOffset = offset;
    plan.streamSize = size;
    plan.path = path;
    plan.trailing = {1, 0, 0, 0};
    return plan;
}

Bytes ResourceFile(size_t prefix, const Bytes& pixels) {
    Bytes out(prefix, 0xEE);
    out.insert(out.end(), pixels.begin(), pixels.end());
    out.insert(out.end(), 7, 0xDD);
    return out;
}

size_t CountFiles(const fs::path& dir) {
    if (!fs::exists(dir)) return 0;
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

TEST(TextureResource, StreamedPixelsComeFromTheResourceFile) {
    for (Endian order : {Endian::Little, Endian::Big}) {
        TempDir dir;
        const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        test::WriteFileBytes(dir / "sharedassets0.assets.resS", ResourceFile(100, pixels));
        TextureCase tc(dir.Path(), 28, 37, "s.tex", order);
        ExportTextureDDS(
            tc.Input(MakeTextureObject(StreamedSpec("sharedassets0.assets.resS", 100, 16), order)));
        const Bytes file = ReadFileBytes(tc.OutputDir() / "res_sharedassets0" / "s.tex.dds");
        ASSERT_EQ(file.size(), 144u);
        // Rows of the 2 x 2 BGRA32 image come out in reverse order.
        EXPECT_EQ(Bytes(file.begin() + 128, file.end()),
                  (Bytes{9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_TRUE(tc.messages.alerts.empty());
    }
}

// With an export directory of its own (-p), the resource file is still looked up beside the
// archive; the export tree only receives what was exported.
TEST(TextureResource, ResourcesLieBesideTheArchiveNotInTheExportDirectory) {
    TempDir dir;
    test::WriteFileBytes(dir / "data.resS", ResourceFile(4, Bytes(16, 0x42)));
    TextureCase tc(dir / "elsewhere", 28, 37, "s.tex", Endian::Little);
    tc.archiveDir = dir.Path().string() + "/";
    ExportTextureDDS(tc.Input(MakeTextureObject(StreamedSpec("data.resS", 4, 16), Endian::Little)));
    EXPECT_TRUE(tc.messages.alerts.empty());
    EXPECT_EQ(ReadFileBytes(tc.OutputDir() / "res_data" / "s.tex.dds").size(), 144u);
}

TEST(TextureResource, StreamedKtxPvrAndCrnUseTheSameDirectory) {
    TempDir dir;
    test::WriteFileBytes(dir / "data.resS", ResourceFile(8, Bytes(8, 0x42)));
    TextureCase tc(dir.Path(), 28, 34, "e.tex", Endian::Little);
    auto plan = StreamedSpec("data.resS", 8, 8);
    plan.width = 4; // one ETC block
    plan.height = 4;
    plan.format = 34;
    plan.mip = 1;
    ExportTextureKTX(tc.Input(MakeTextureObject(plan, Endian::Little)));
    ExportTexturePVR(tc.Input(MakeTextureObject(plan, Endian::Little)));
    plan.format = 28;
    ExportTextureCRN(tc.Input(MakeTextureObject(plan, Endian::Little)));
    const auto out = tc.OutputDir() / "res_data";
    EXPECT_EQ(ReadFileBytes(out / "e.tex.ktx").size(), 64u + 28u + 4u + 8u);
    EXPECT_EQ(ReadFileBytes(out / "e.tex.pvr").size(), 52u + 8u);
    EXPECT_EQ(ReadFileBytes(out / "e.tex.crn"), Bytes(8, 0x42));
}

TEST(TextureResource, ResourceDirectoryNames) {
    EXPECT_EQ(ResourceDirFor("sharedassets0.assets.resS"), "res_sharedassets0/");
    EXPECT_EQ(ResourceDirFor("noextension"), "noextension/");
    EXPECT_EQ(ResourceDirFor("sub/level.resS"), "res_sub/level/");
    EXPECT_EQ(ResourceDirFor("..."), "res_/");
}

TEST(TextureResource, MissingResourceFileIsAnErrorAndWritesNothing) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 37, "m.tex", Endian::Little);
    const std::string expected = "Missing file: " + tc.outputBaseDir + "gone.resS";
    auto expectMissing = [&](void (*convert)(const ConverterInput&), const Bytes& body) {
        try {
            convert(tc.Input(body));
            ADD_FAILURE() << "no error for the missing resource file";
        } catch (const KestrelError& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
    };
    auto plan = StreamedSpec("gone.resS", 0, 16);
    expectMissing(ExportTextureDDS, MakeTextureObject(plan, Endian::Little));
    plan.format = 34;
    expectMissing(ExportTextureKTX, MakeTextureObject(plan, Endian::Little));
    expectMissing(ExportTexturePVR, MakeTextureObject(plan, Endian::Little));
    plan.format = 28;
    expectMissing(ExportTextureCRN, MakeTextureObject(plan, Endian::Little));
    EXPECT_TRUE(tc.messages.alerts.empty());
    EXPECT_TRUE(tc.messages.lines.empty());
    EXPECT_EQ(CountFiles(dir.Path()), 0u);
}

TEST(TextureResource, PathsLeavingTheArchiveDirectoryAreRefused) {
    TempDir outer;
    const fs::path base = outer / "archive";
    fs::create_directories(base);
    // A file that a refused path would reach.
    test::WriteFileBytes(outer / "x.resS", Bytes(64, 1));
    for (const std::string& path : std::vector<std::string>{
             "../x.resS", "sub/../../x.resS", "..\\x.resS", (outer / "x.resS").string(), "/x.resS",
             "\\x.resS", "C:x.resS", std::string("a\0b", 3)}) {
        SCOPED_TRACE(path);
        TextureCase tc(base, 28, 37, "r.tex", Endian::Little);
        const auto body = MakeTextureObject(StreamedSpec(path, 0, 16), Endian::Little);
        try {
            ExportTextureDDS(tc.Input(body));
            ADD_FAILURE() << "not refused";
        } catch (const KestrelError& e) {
            EXPECT_NE(std::string(e.what()).find("Refused resource path"), std::string::npos);
        }
        EXPECT_THROW(ExportTextureCRN(tc.Input(body)), KestrelError);
        EXPECT_TRUE(tc.messages.alerts.empty());
        EXPECT_EQ(CountFiles(base), 0u);
    }
}

TEST(TextureResource, SizesThatDoNotFitAreErrors) {
    struct Case {
        const char* what;
        TextureObjectSpec plan;
    };
    std::vector<Case> cases;
    TextureObjectSpec base;
    base.width = 2;
    base.height = 2;
    base.format = 4;
    base.pixels = Bytes(16, 7);
    {
        auto s = base;
        s.completeImageSize = 0x7FFFFFFF; // image larger than the object
        cases.push_back({"image size", s});
    }
    {
        auto s = base;
        s.completeImageSize = 1;
        s.imageCount = 0x7FFFFFFF; // images beyond the object, no allocation for them
        s.imageDataSize = 0x7FFFFFFF;
        cases.push_back({"image count", s});
    }
    {
        auto s = base;
        s.width = 0x7FFFFFFF; // rows far larger than the image
        s.height = 0x7FFFFFFF;
        cases.push_back({"width and height", s});
    }
    {
        auto s = base;
        s.width = -2;
        cases.push_back({"negative width", s});
    }
    {
        auto s = base;
        s.format = 10;
        s.width = 64; // DXT1 blocks of 64 x 64 need 2048 bytes, 16 are there
        s.height = 64;
        cases.push_back({"DXT1 level", s});
    }
    {
        auto s = base;
        s.mip = 9; // nine levels of 2 x 2 ... do not fit 16 bytes as DXT5
        s.format = 12;
        s.width = 4;
        s.height = 4;
        cases.push_back({"DXT5 levels", s});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        TextureCase tc(dir.Path(), 28, c.plan.format, "big.tex", Endian::Little);
        EXPECT_THROW(ExportTextureDDS(tc.Input(MakeTextureObject(c.plan, Endian::Little))),
                     KestrelError);
        EXPECT_EQ(CountFiles(dir.Path()), 0u);
    }
}

TEST(TextureResource, StreamedSizesBeyondTheResourceFileAreErrors) {
    TempDir dir;
    test::WriteFileBytes(dir / "d.resS", Bytes(40, 3));
    TextureCase tc(dir.Path(), 28, 37, "d.tex", Endian::Little);
    // Offset inside, but the image runs past the end.
    EXPECT_THROW(ExportTextureDDS(
                     tc.Input(MakeTextureObject(StreamedSpec("d.resS", 32, 16), Endian::Little))),
                 KestrelError);
    // Offset past the end.
    EXPECT_THROW(ExportTextureDDS(tc.Input(
                     MakeTextureObject(StreamedSpec("d.resS", 0xFFFFFFF0, 16), Endian::Little))),
                 KestrelError);
    // A huge image count is refused before anything is read or allocated.
    auto many = StreamedSpec("d.resS", 0, 0x7FFFFFFF);
    many.completeImageSize = 1;
    many.imageCount = 0x7FFFFFFF;
    EXPECT_THROW(ExportTextureDDS(tc.Input(MakeTextureObject(many, Endian::Little))), KestrelError);
    // Cubemap faces that the file does not hold.
    auto plan = StreamedSpec("d.resS", 0, 16 * 6);
    plan.imageCount = 6;
    EXPECT_THROW(ExportTexturePVR(tc.Input(MakeTextureObject(plan, Endian::Little))), KestrelError);
    EXPECT_EQ(CountFiles(tc.OutputDir()), 0u);
}

TEST(TextureResource, TruncatedObjectsRaiseErrorsAtEveryLength) {
    TextureObjectSpec plan = StreamedSpec("x.resS", 0, 16);
    const Bytes full = MakeTextureObject(plan, Endian::Little);
    TempDir dir;
    test::WriteFileBytes(dir / "x.resS", Bytes(16, 1));
    for (size_t n = 0; n < 78; ++n) {
        TextureCase tc(dir.Path(), 28, 37, "t.tex", Endian::Little);
        EXPECT_THROW(ExportTextureDDS(tc.Input(
                         Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)))),
                     KestrelError)
            << n;
    }
}

TEST(TextureResource, ExportNamesCannotLeaveTheOutputDirectory) {
    TempDir dir;
    const fs::path base = dir / "archive";
    fs::create_directories(base);
    TextureCase tc(base, 28, 37, "../../escape.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.width = 1;
    plan.height = 1;
    plan.format = 37;
    plan.pixels = {1, 2, 3, 4};
    ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little)));
    EXPECT_EQ(CountFiles(dir.Path()), CountFiles(tc.OutputDir()));
    EXPECT_EQ(CountFiles(tc.OutputDir()), 1u);
}

} // namespace
} // namespace kestrel
