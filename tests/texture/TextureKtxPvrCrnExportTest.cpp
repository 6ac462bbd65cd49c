#include "common/Error.h"
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFileHeaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <sys/stat.h>

namespace kestrel {
namespace {

using test::MakeTextureObject;
using test::ReadFileBytes;
using test::TempDir;
using test::TextureCase;
using test::TextureObjectSpec;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes Sequence(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * 7 + 1);
    return out;
}

Bytes ExpectedKtxHeader(uint32_t glInternal, uint32_t glBase, uint32_t w, uint32_t h,
                        uint32_t faces, uint32_t levels) {
    Writer out(Endian::Little);
    out.Bytes("\xAB"
              "KTX 11\xBB\r\n\x1A\n",
              12);
    for (uint32_t v :
         {0x04030201u, 0u, 1u, 0u, glInternal, glBase, w, h, 0u, 0u, faces, levels, 28u}) {
        out.U32(v);
    }
    return out.Take();
}

uint32_t LE32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The level sizes of a KTX file, checking that the level bytes are the image bytes in order.
std::vector<uint32_t> KtxLevelSizes(const Bytes& file, const Bytes& image) {
    std::vector<uint32_t> sizes;
    size_t at = 64 + LE32(file, 60);
    size_t used = 0;
    const uint32_t levels = LE32(file, 56);
    for (uint32_t i = 0; i < levels; ++i) {
        const uint32_t size = LE32(file, at);
        sizes.push_back(size);
        EXPECT_TRUE(std::equal(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(at + 4 + size),
                               image.begin() + static_cast<std::ptrdiff_t>(used)));
        at += 4 + size;
        used += size;
    }
    EXPECT_EQ(file.size() - at, image.size() - used);
    return sizes;
}

TEST(TextureKtxExport, PvrtcLevelsStopAtEightByEight) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 32, "p.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.width = 32;
    plan.height = 32;
    plan.format = 32;
    plan.mip = 6;
    plan.pixels = Sequence(768);
    ExportTextureKTX(tc.Input(MakeTextureObject(plan, Endian::Little)));
    const Bytes file = ReadFileBytes(tc.OutputDir() / "p.tex.ktx");
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 64),
              ExpectedKtxHeader(0x8C00, 0x1907, 32, 32, 1, 6));
    EXPECT_EQ(KtxLevelSizes(file, plan.pixels), (std::vector<uint32_t>{512, 128, 32, 32, 32, 32}));
    EXPECT_EQ(tc.messages.lines, std::vector<std::string>{"p.tex -> KTX"});
}

TEST(TextureKtxExport, EtcLevelsGoDownToFourByFour) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 34, "e.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.layout = TextureLayout::MipFlag;
    plan.width = 32;
    plan.height = 32;
    plan.format = 34;
    plan.mip = 1;
    plan.pixels = Sequence(696);
    ExportTextureKTX(tc.Input(MakeTextureObject(plan, Endian::Little)));
    const Bytes file = ReadFileBytes(tc.OutputDir() / "e.tex.ktx");
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 64),
              ExpectedKtxHeader(0x8D64, 0x1907, 32, 32, 1, 6));
    EXPECT_EQ(KtxLevelSizes(file, plan.pixels), (std::vector<uint32_t>{512, 128, 32, 8, 8, 8}));
}

TEST(TextureKtxExport, LevelCountRule) {
    EXPECT_EQ(KtxLevelCount(4, 32, 32, 1, 768).count, 6u);
    EXPECT_EQ(KtxLevelCount(4, 32, 32, 1, 768).minEdge, 8u);
    EXPECT_EQ(KtxLevelCount(4, 32, 32, 1, 696).minEdge, 4u);
    EXPECT_EQ(KtxLevelCount(4, 32, 32, 0, 696).count, 1u); // no mip levels
    EXPECT_EQ(KtxLevelCount(4, 32, 32, 9, 512).count, 1u); // one level fills the image
    EXPECT_EQ(KtxLevelCount(8, 16, 16, 1, 256).count, 1u);
}

TEST(TextureKtxExport, CubemapFacesEachGetAFileWithSixFaces) {
    TempDir dir;
    TextureCase tc(dir.Path(), 89, 34, "sky.cbm", Endian::Big);
    TextureObjectSpec plan;
    plan.width = 4;
    plan.height = 4;
    plan.format = 34;
    plan.imageCount = 6;
    plan.pixels = Sequence(48);
    const std::string rel = "Unity_Assets_Files/level0/Cubemap/";
    ExportTextureKTX(tc.Input(MakeTextureObject(plan, Endian::Big), rel));
    for (std::ptrdiff_t k = 1; k <= 6; ++k) {
        const std::string name = k == 1 ? "sky.cbm.ktx" : "sky.cbm.ktx_" + std::to_string(k);
        const Bytes file = ReadFileBytes(tc.OutputDir(rel) / name);
        ASSERT_EQ(file.size(), 64u + 28u + 4u + 8u) << name;
        EXPECT_EQ(LE32(file, 52), 6u);
        EXPECT_EQ(Bytes(file.begin() + 96, file.end()),
                  Bytes(plan.pixels.begin() + (k - 1) * 8, plan.pixels.begin() + k * 8));
    }
}

TEST(TextureKtxExport, FormatsWithoutKtxRowAreRefused) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 21, "y.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.format = 21;
    plan.pixels = Sequence(32);
    EXPECT_THROW(ExportTextureKTX(tc.Input(MakeTextureObject(plan, Endian::Little))), KestrelError);
    EXPECT_FALSE(fs::exists(tc.OutputDir() / "y.tex.ktx"));
}

Bytes ExpectedPvrHeader(uint32_t pixelFormat, uint32_t w, uint32_t h, uint32_t faces,
                        uint32_t mips) {
    Writer out(Endian::Little);
    for (uint32_t v : {0x03525650u, 0u, pixelFormat, 0u, 0u, 0u, h, w, 1u, 1u, faces, mips, 0u}) {
        out.U32(v);
    }
    return out.Take();
}

TEST(TexturePvrExport, HeadersAndData) {
    struct Case {
        int32_t format;
        uint32_t pvrFormat;
        TextureLayout layout;
        uint32_t mip;
        uint32_t expectedMips;
        int32_t w, h;
        size_t size;
    };
    const Case cases[] = {
        {34, 6, TextureLayout::MipCount, 3, 3, 8, 8, 48},   // mip count used unchanged
        {21, 17, TextureLayout::MipFlag, 0, 1, 4, 2, 16},   // YUY2, no mip levels
        {32, 2, TextureLayout::MipFlag, 1, 6, 32, 32, 768}, // counted as for KTX
        {42, 26, TextureLayout::MipCount, 1, 1, 4, 4, 8},   // EAC_R_SIGNED
        {43, 27, TextureLayout::MipCount, 1, 1, 4, 4, 16},  // EAC_RG
        {44, 28, TextureLayout::MipCount, 1, 1, 4, 4, 16},  // EAC_RG_SIGNED
        {61, 23, TextureLayout::MipCount, 1, 1, 4, 4, 16},  // ETC_RGBA8_3DS
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        TempDir dir;
        TextureCase tc(dir.Path(), 28, c.format, "v.tex", Endian::Big);
        TextureObjectSpec plan;
        plan.layout = c.layout;
        plan.width = c.w;
        plan.height = c.h;
        plan.format = c.format;
        plan.mip = c.mip;
        plan.pixels = Sequence(c.size);
        ExportTexturePVR(tc.Input(MakeTextureObject(plan, Endian::Big)));
        const Bytes file = ReadFileBytes(tc.OutputDir() / "v.tex.pvr");
        Bytes expected = ExpectedPvrHeader(c.pvrFormat, static_cast<uint32_t>(c.w),
                                           static_cast<uint32_t>(c.h), 1, c.expectedMips);
        expected.insert(expected.end(), plan.pixels.begin(), plan.pixels.end());
        EXPECT_EQ(file, expected);
        EXPECT_EQ(tc.messages.lines, std::vector<std::string>{"v.tex -> PVR"});
    }
}

TEST(TexturePvrExport, AtcHasNoPvrRow) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 35, "a.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.format = 35;
    plan.pixels = Sequence(8);
    EXPECT_THROW(ExportTexturePVR(tc.Input(MakeTextureObject(plan, Endian::Little))), KestrelError);
}

// A stand-in for the crunch tool: records its arguments one per line, makes noise on both
// output streams, waits a little and then writes the file named after -out.
void InstallStandInCrunch(const fs::path& dir, const std::string& name) {
    const fs::path script = dir / name;
    std::ofstream out(script);
    out << "#!/bin/sh\n"
           "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"
           "echo \""
        << name
        << " noise on stdout\"\n"
           "echo \""
        << name
        << " noise on stderr\" >&2\n"
           "sleep 0.2\n"
           "while [ $# -gt 0 ]; do\n"
           "  if [ \"$1\" = -out ]; then printf '"
        << name
        << "' > \"$2\"; fi\n"
           "  shift\n"
           "done\n";
    out.close();
    ::chmod(script.c_str(), 0755);
}

struct CrnRun {
    TempDir dir;
    TempDir toolDir;
    std::unique_ptr<TextureCase> tc;
    Bytes crunched = Sequence(40);

    explicit CrnRun(const std::string& exportName, bool exportDds) {
        tc = std::make_unique<TextureCase>(dir.Path(), 28, 28, exportName, Endian::Little);
        if (exportDds) tc->options.outputs |= kOutDds;
        tc->options.executableDir = toolDir.Path();
    }
    void Run() {
        TextureObjectSpec plan;
        plan.width = 64;
        plan.height = 64;
        plan.format = 28;
        plan.imageCount = 2; // only the first image is crunched data
        plan.pixels = crunched;
        plan.pixels.insert(plan.pixels.end(), 40, 0xEE);
        ExportTextureCRN(tc->Input(MakeTextureObject(plan, Endian::Little)));
    }
    [[nodiscard]] std::vector<std::string> RecordedArgs() const {
        std::ifstream in(toolDir / "args.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

TEST(TextureCrnExport, WritesCrunchedDataAndRunsTheTool) {
    const std::string name = "odd name 'q' \"$(touch x)\".tex";
    CrnRun run(name, true);
    InstallStandInCrunch(run.toolDir.Path(), "crunch");
    InstallStandInCrunch(run.toolDir.Path(), "crunch_x64");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.Run();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.find("noise"), std::string::npos);
    EXPECT_EQ(err.find("noise"), std::string::npos);

    const fs::path crn = run.tc->OutputDir() / (name + ".crn");
    EXPECT_EQ(ReadFileBytes(crn), run.crunched);
    EXPECT_EQ(run.RecordedArgs(),
              (std::vector<std::string>{"-out", crn.string() + ".dds", "-file", crn.string()}));
    // The tool had finished (and written its file) when the converter returned.
    EXPECT_EQ(test::ReadFileText(crn.string() + ".dds"), "crunch");
    EXPECT_EQ(run.tc->messages.lines,
              (std::vector<std::string>{name + " -> CRN", name + ".crn -> DDS"}));
    EXPECT_FALSE(fs::exists(fs::current_path() / "x"));
}

TEST(TextureCrnExport, FallsBackToTheX64Tool) {
    CrnRun run("c.tex", true);
    InstallStandInCrunch(run.toolDir.Path(), "crunch_x64");
    run.Run();
    const fs::path crn = run.tc->OutputDir() / "c.tex.crn";
    EXPECT_EQ(test::ReadFileText(crn.string() + ".dds"), "crunch_x64");
}

TEST(TextureCrnExport, ToolRunsOnlyWithDdsExportAndWhenPresent) {
    {
        CrnRun run("c.tex", false);
        InstallStandInCrunch(run.toolDir.Path(), "crunch");
        run.Run();
        EXPECT_TRUE(run.RecordedArgs().empty());
        EXPECT_EQ(ReadFileBytes(run.tc->OutputDir() / "c.tex.crn"), run.crunched);
        EXPECT_EQ(run.tc->messages.lines, std::vector<std::string>{"c.tex -> CRN"});
    }
    {
        CrnRun run("c.tex", true);
        run.Run();
        EXPECT_EQ(ReadFileBytes(run.tc->OutputDir() / "c.tex.crn"), run.crunched);
        EXPECT_FALSE(fs::exists(run.tc->OutputDir() / "c.tex.crn.dds"));
        EXPECT_EQ(run.tc->messages.lines, std::vector<std::string>{"c.tex -> CRN"});
    }
}

// Through the built program: the KTX file tells viewers that its rows run bottom-up without
// changing them, and a file with the key or without it imports the same.
TEST(TextureKtxExport, TheProgramMarksRowsBottomUpAndImportsWithOrWithoutTheKey) {
    TempDir dir;
    TextureObjectSpec plan;
    plan.format = 34; // ETC_RGB4: one 8-byte block
    plan.mip = 0;
    plan.pixels = Sequence(8);
    test::AssetsSpec assets;
    assets.objects.push_back({28, "stone", MakeTextureObject(plan, Endian::Little)});
    const fs::path archive = dir / "level0.assets";
    test::WriteFileBytes(archive, test::BuildAssetsFile(assets));
    ASSERT_EQ(test::RunKestrel({"export", archive.string(), "-t", "ktx"}, "C").exitCode, 0);
    const fs::path ktx = dir / "Unity_Assets_Files/level0/Textures/stone.tex.ktx";
    const Bytes file = ReadFileBytes(ktx);
    ASSERT_GE(file.size(), 92u);
    EXPECT_EQ(LE32(file, 60), 28u);
    EXPECT_EQ(std::string(file.begin() + 64, file.begin() + 92),
              std::string("\x17\0\0\0KTXorientation\0S=r,T=u\0\0", 28));
    EXPECT_EQ(KtxLevelSizes(file, plan.pixels), std::vector<uint32_t>{8});

    Bytes bare(file.begin(), file.begin() + 64);
    bare[60] = 0;
    bare.insert(bare.end(), file.begin() + 92, file.end());
    const Bytes variants[] = {file, bare};
    for (uint8_t i = 0; i < 2; ++i) {
        Bytes edited = variants[i];
        edited.back() = static_cast<uint8_t>(0xA0 + i); // the last pixel byte
        test::WriteFileBytes(ktx, edited);
        const test::CliResult imported = test::RunKestrel({"import", archive.string()}, "C");
        ASSERT_EQ(imported.exitCode, 0) << imported.out << imported.err;
        Bytes pixels = plan.pixels;
        pixels.back() = static_cast<uint8_t>(0xA0 + i);
        const Bytes after = ReadFileBytes(archive);
        EXPECT_NE(std::search(after.begin(), after.end(), pixels.begin(), pixels.end()),
                  after.end())
            << (i == 0 ? "with the key" : "without it");
    }
}

} // namespace
} // namespace kestrel
