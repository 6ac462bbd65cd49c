// Export then import with no edits gives back the same object bytes, for every row of the DDS
// and KTX/PVR format tables, crunched textures, procedural textures and cubemaps, in both object
// layouts with pixels inside, both byte orders, with and without -no_flip_texture.
#include "io/ByteSource.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TextureImport.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::TempDir;
using test::TextureCase;
using Bytes = std::vector<uint8_t>;

struct Container {
    const char* name;
    void (*exportTexture)(const ConverterInput&);
    void (*importTexture)(const TextureImportInput&);
    const char* extension;
    const char* directory;
    // Bytes of an 8 x 8 level followed, when two levels are asked for, by a 4 x 4 level.
    uint64_t (*imageSize)(int32_t format, bool twoLevels);
};

uint64_t DdsSize(int32_t format, bool twoLevels) {
    const BytesPerPixel bpp = DdsPixelFormatFor(format).bytesPerPixel;
    return bpp.Bytes(8, 8) + (twoLevels ? bpp.Bytes(4, 4) : 0);
}

uint64_t KtxPvrSize(int32_t format, bool twoLevels) {
    const uint32_t bits = KtxPvrFormatFor(format)->bitsPerPixel;
    return 64 * bits / 8 + (twoLevels ? 16 * bits / 8 : 0);
}

uint64_t CrnSize(int32_t, bool twoLevels) {
    return twoLevels ? 45 : 37; // crunched data of any length; not a multiple of 4
}

const Container kDds{"DDS", ExportTextureDDS, ImportTextureDDS, ".dds", "Textures/", DdsSize};
const Container kProcedural{"ProceduralDDS", ExportProceduralTextureDDS, ImportProceduralDDS,
                            ".dds",          "ProceduralTextures/",      DdsSize};
const Container kKtx{"KTX", ExportTextureKTX, ImportTextureKTX, ".ktx", "Textures/", KtxPvrSize};
const Container kPvr{"PVR", ExportTexturePVR, ImportTexturePVR, ".pvr", "Textures/", KtxPvrSize};
const Container kCrn{"CRN", ExportTextureCRN, ImportTextureCRN, ".crn", "Textures/", CrnSize};

struct Row {
    const Container* container;
    int32_t format;
    int32_t imageCount = 1;
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (int32_t format : {1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 35, 36, 37}) {
        EXPECT_EQ(DdsPixelFormatFor(format).format, format);
        rows.push_back({&kDds, format});
        rows.push_back({&kProcedural, format});
    }
    for (int32_t format : {21, 30, 31, 32, 33, 34, 35, 36, 41, 42, 43, 44, 45, 46, 47, 60, 61}) {
        const KtxPvrFormatRow* row = KtxPvrFormatFor(format);
        EXPECT_NE(row, nullptr);
        if (row->glInternalFormat != 0) rows.push_back({&kKtx, format});
        if (row->pvrPixelFormat >= 0) rows.push_back({&kPvr, format});
    }
    rows.push_back({&kCrn, 28});
    rows.push_back({&kCrn, 29});
    rows.push_back({&kDds, 12, 6});
    rows.push_back({&kDds, 5, 6});
    rows.push_back({&kKtx, 34, 6});
    rows.push_back({&kPvr, 47, 6});
    return rows;
}

Bytes Pixels(uint64_t size, int32_t images) {
    Bytes out(size * static_cast<uint64_t>(images));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(i * 7 + i / 251 + 3);
    return out;
}

Bytes Body(const Row& row, TextureLayout layout, int levelCase, Endian order) {
    const bool twoLevels = levelCase == 2;
    const Bytes pixels = Pixels(row.container->imageSize(row.format, twoLevels), row.imageCount);
    if (row.container == &kProcedural) {
        test::ProceduralTextureSpec plan;
        plan.width = plan.height = 8;
        plan.format = row.format;
        plan.mipValue = levelCase == 0 ? 0 : 1;
        plan.pixels = pixels;
        return test::MakeProceduralTextureObject(plan, order);
    }
    test::TextureObjectSpec plan;
    plan.layout = layout;
    plan.width = plan.height = 8;
    plan.format = row.format;
    plan.imageCount = row.imageCount;
    // No levels, one level with the flag or count 1, two levels (flag 1 or count 2).
    plan.mip = levelCase == 0 ? 0 : (twoLevels && layout == TextureLayout::MipCount ? 2 : 1);
    plan.pixels = pixels;
    plan.trailing = {9, 8, 7, 6, 5, 4, 3, 2};
    return test::MakeTextureObject(plan, order);
}

Bytes ExportThenImport(const Row& row, const Bytes& body, Endian order, bool noFlip) {
    TempDir dir;
    const std::string exportName = row.imageCount > 1 ? "sky.cbm" : "tex.tex";
    TextureCase tc(dir.Path(), row.imageCount > 1 ? 89 : 28, row.format, exportName, order);
    tc.options.noFlipTexture = noFlip;
    const std::string relativeDir =
        std::string("Unity_Assets_Files/level0/") + row.container->directory;
    row.container->exportTexture(tc.Input(body, relativeDir));
    const auto picture = tc.OutputDir(relativeDir) / (exportName + row.container->extension);
    const auto rebuilt = dir.Path() / "rebuilt.bin";
    auto source = std::make_shared<MemorySource>("level0", body);
    row.container->importTexture(
        {{}, Reader(source, order), picture, rebuilt, noFlip, tc.messages});
    EXPECT_TRUE(tc.messages.alerts.empty());
    return std::filesystem::exists(rebuilt) ? test::ReadFileBytes(rebuilt) : Bytes{};
}

TEST(TextureImportRoundTrip, UneditedPicturesGiveBackTheSameObjectBytes) {
    size_t cases = 0;
    for (const Row& row : Rows()) {
        const bool layoutMatters = row.container != &kProcedural;
        for (auto layout : {TextureLayout::MipFlag, TextureLayout::MipCount}) {
            if (!layoutMatters && layout == TextureLayout::MipCount) continue;
            for (int levelCase : {0, 1, 2}) {
                for (Endian order : {Endian::Little, Endian::Big}) {
                    for (bool noFlip : {false, true}) {
                        SCOPED_TRACE(std::string(row.container->name) + " format " +
                                     std::to_string(row.format) + " images " +
                                     std::to_string(row.imageCount) + " layout " +
                                     std::to_string(static_cast<int>(layout)) + " levels case " +
                                     std::to_string(levelCase) + " big-endian " +
                                     std::to_string(order == Endian::Big) + " noFlip " +
                                     std::to_string(noFlip));
                        const Bytes body = Body(row, layout, levelCase, order);
                        EXPECT_EQ(ExportThenImport(row, body, order, noFlip), body);
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_GT(cases, 700u);
}

} // namespace
} // namespace kestrel
