#include "common/Error.h"
#include "io/Writer.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "texture/TextureExport.h"
#include "texture/TextureFormats.h"
#include "texture/TexturePixels.h"

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

struct PixelFormatFields {
    uint32_t flags, fourCC, bits, r, g, b, a;
};

// The DDS header as the published layout defines it, built field by field.
Bytes ExpectedDdsHeader(uint32_t width, uint32_t height, uint32_t linearSize, uint32_t mips,
                        const PixelFormatFields& pf) {
    Writer w(Endian::Little);
    w.Bytes("DDS ", 4);
    w.U32(124);
    w.U32(mips != 0 ? 0xA1007 : 0x81007);
    w.U32(height);
    w.U32(width);
    w.U32(linearSize);
    w.U32(0);
    w.U32(mips);
    w.Zeros(44);
    w.U32(32);
    for (uint32_t v : {pf.flags, pf.fourCC, pf.bits, pf.r, pf.g, pf.b, pf.a})
        w.U32(v);
    w.U32(mips != 0 ? 0x401008 : 0x1000);
    w.Zeros(16);
    return w.Take();
}

uint32_t Code(const char* s) {
    return static_cast<uint32_t>(s[0]) | (static_cast<uint32_t>(s[1]) << 8) |
           (static_cast<uint32_t>(s[2]) << 16) | (static_cast<uint32_t>(s[3]) << 24);
}

Bytes Sequence(size_t n) {
    Bytes out(n);
    std::iota(out.begin(), out.end(), uint8_t{1});
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Exports one Texture2D and returns the bytes of ExportName + ".dds".
Bytes ExportDds(const TextureObjectSpec& plan, Endian order = Endian::Little, bool noFlip = false) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, plan.format, "tex.tex", order);
    tc.options.noFlipTexture = noFlip;
    ExportTextureDDS(tc.Input(MakeTextureObject(plan, order)));
    EXPECT_EQ(tc.messages.lines, std::vector<std::string>{"tex.tex -> DDS"});
    return ReadFileBytes(tc.OutputDir() / "tex.tex.dds");
}

struct RowCase {
    int32_t format;
    PixelFormatFields pf;
    uint32_t halves; // bytes per pixel x 2
};

TEST(TextureDdsExport, EveryPixelFormatRowGivesItsHeader) {
    const RowCase cases[] = {
        {1, {0x2, 0, 8, 0, 0, 0, 0xFF}, 2},
        {2, {0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000}, 4},
        {3, {0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0}, 6},
        {4, {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 8},
        {5, {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 8},
        {7, {0x40, 0, 16, 0xF800, 0x7E0, 0x1F, 0}, 4},
        {9, {0x4, 111, 0, 0, 0, 0, 0}, 4},
        {10, {0x4, Code("DXT1"), 0, 0, 0, 0, 0}, 1},
        {11, {0x4, Code("DXT3"), 0, 0, 0, 0, 0}, 2},
        {12, {0x4, Code("DXT5"), 0, 0, 0, 0, 0}, 2},
        {13, {0x41, 0, 16, 0xF00, 0xF0, 0xF, 0xF000}, 4},
        {14, {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 8},
        {35, {0x5, Code("ATC "), 0, 0, 0, 0, 0}, 1},
        {36, {0x5, Code("ATCA"), 0, 0, 0, 0, 0}, 2},
        {37, {0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        const uint32_t size = 8 * 8 * c.halves / 2;
        TextureObjectSpec plan;
        plan.width = 8;
        plan.height = 8;
        plan.format = c.format;
        plan.mip = 1; // a count of one level
        plan.pixels = Sequence(size);
        const Bytes file = ExportDds(plan);
        ASSERT_EQ(file.size(), 128 + size);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 128), ExpectedDdsHeader(8, 8, size, 0, c.pf));
    }
}

TEST(TextureDdsExport, FormatWithoutRowGetsZeroPixelFormat) {
    EXPECT_EQ(DdsPixelFormatFor(20).flags, 0u);
    EXPECT_EQ(DdsPixelFormatFor(20).bytesPerPixel.halves, 8u);
    EXPECT_EQ(DdsPixelFormatFor(0).fourCC, 0u);
}

TEST(TextureDdsExport, UncompressedRowsAreFlippedAndChannelsConverted) {
    // 2 x 2 images; stored row 0 is the bottom of the picture, so the DDS starts with row 1.
    struct Case {
        int32_t format;
        Bytes stored, expected;
    };
    const Case cases[] = {
        // RGBA32: R, G, B, A -> B, G, R, A
        {4,
         {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18},
         {13, 12, 11, 14, 17, 16, 15, 18, 3, 2, 1, 4, 7, 6, 5, 8}},
        // ARGB32: A, R, G, B -> B, G, R, A
        {5,
         {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18},
         {14, 13, 12, 11, 18, 17, 16, 15, 4, 3, 2, 1, 8, 7, 6, 5}},
        // BGRA32 already matches the DDS masks.
        {37,
         {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18},
         {11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8}},
        // RGB24: R, G, B -> B, G, R
        {3, {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16}, {13, 12, 11, 16, 15, 14, 3, 2, 1, 6, 5, 4}},
        // RGBA4444: 0x1234 -> 0x4123 (little-endian 16-bit values)
        {13,
         {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE},
         {0xAB, 0xC9, 0xEF, 0x0D, 0x23, 0x41, 0x67, 0x85}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        TextureObjectSpec plan;
        plan.width = 2;
        plan.height = 2;
        plan.format = c.format;
        plan.pixels = c.stored;
        const Bytes file = ExportDds(plan);
        ASSERT_EQ(file.size(), 128 + c.expected.size());
        EXPECT_EQ(Bytes(file.begin() + 128, file.end()), c.expected);
    }
}

TEST(TextureDdsExport, NoFlipKeepsRowOrderButConvertsChannels) {
    TextureObjectSpec plan;
    plan.width = 1;
    plan.height = 2;
    plan.format = 4;
    plan.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes file = ExportDds(plan, Endian::Little, true);
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(TextureDdsExport, DXT1BlockRowsReversedAndIndexRowsFlipped) {
    // 8 x 8: two block rows of two blocks, each 4 colour bytes and 4 index rows.
    const Bytes b00 = {1, 2, 3, 4, 0x10, 0x11, 0x12, 0x13};
    const Bytes b01 = {5, 6, 7, 8, 0x20, 0x21, 0x22, 0x23};
    const Bytes b10 = {9, 10, 11, 12, 0x30, 0x31, 0x32, 0x33};
    const Bytes b11 = {13, 14, 15, 16, 0x40, 0x41, 0x42, 0x43};
    TextureObjectSpec plan;
    plan.width = 8;
    plan.height = 8;
    plan.format = 10;
    plan.pixels = Concat({b00, b01, b10, b11});
    const Bytes file = ExportDds(plan);
    const Bytes expected = {9,    10,   11,   12,   0x33, 0x32, 0x31, 0x30, 13,   14,   15,
                            16,   0x43, 0x42, 0x41, 0x40, 1,    2,    3,    4,    0x13, 0x12,
                            0x11, 0x10, 5,    6,    7,    8,    0x23, 0x22, 0x21, 0x20};
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), expected);
    EXPECT_EQ(ExportDds(plan, Endian::Little, true),
              Concat({Bytes(file.begin(), file.begin() + 128), plan.pixels}));
}

TEST(TextureDdsExport, DXT3AndDXT5BlockFlipsReverseAlphaAndIndexRows) {
    Bytes dxt3 = {0x01, 0x02, 0x11, 0x12, 0x21, 0x22, 0x31, 0x32,
                  9,    9,    9,    9,    0xA0, 0xA1, 0xA2, 0xA3};
    FlipDXT3Block(dxt3.data());
    EXPECT_EQ(dxt3, (Bytes{0x31, 0x32, 0x21, 0x22, 0x11, 0x12, 0x01, 0x02, 9, 9, 9, 9, 0xA3, 0xA2,
                           0xA1, 0xA0}));

    // Four 12-bit alpha rows packed low row first; flipping must give them in reverse order.
    const uint64_t rows[4] = {0x123, 0x456, 0x789, 0xABC};
    uint64_t packed = 0;
    for (int i = 0; i < 4; ++i)
        packed |= rows[i] << (12 * i);
    Bytes dxt5(16, 0);
    dxt5[0] = 0xFF;
    for (int i = 0; i < 6; ++i)
        dxt5[2 + static_cast<size_t>(i)] = static_cast<uint8_t>(packed >> (8 * i));
    dxt5[12] = 1, dxt5[13] = 2, dxt5[14] = 3, dxt5[15] = 4;
    FlipDXT5Block(dxt5.data());
    uint64_t flipped = 0;
    for (int i = 0; i < 6; ++i)
        flipped |= static_cast<uint64_t>(dxt5[2 + static_cast<size_t>(i)]) << (8 * i);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ((flipped >> (12 * i)) & 0xFFF, rows[3 - i]) << i;
    EXPECT_EQ(dxt5[0], 0xFF);
    EXPECT_EQ((Bytes(dxt5.begin() + 12, dxt5.end())), (Bytes{4, 3, 2, 1}));
}

TEST(TextureDdsExport, FlipTwiceRestoresEveryLevel) {
    const Bytes image = Sequence(8 * 8 + 4 * 4 + 2 * 2 + 1 + 3); // RGBA... as Alpha8, 3 extra
    Bytes once, twice;
    WriteFlippedLevels(once, image, 8, 8, BytesPerPixel{2}, 4, 1);
    WriteFlippedLevels(twice, once, 8, 8, BytesPerPixel{2}, 4, 1);
    EXPECT_NE(once, image);
    EXPECT_EQ(twice, image);
    // The bytes after the last level stay at the end unchanged.
    EXPECT_EQ(Bytes(once.end() - 3, once.end()), Bytes(image.end() - 3, image.end()));
}

TEST(TextureDdsExport, MipFlagCountsLevelsUpToTheImageSize) {
    // Layout with the has-mipmaps flag: 4x4 + 2x2 + 1x1 RGBA32 levels = 84 bytes.
    TextureObjectSpec plan;
    plan.layout = TextureLayout::MipFlag;
    plan.width = 4;
    plan.height = 4;
    plan.format = 37;
    plan.mip = 1;
    plan.pixels = Sequence(84);
    const Bytes file = ExportDds(plan);
    const PixelFormatFields bgra{0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 128), ExpectedDdsHeader(4, 4, 64, 3, bgra));
    // Level 0 rows reversed (16-byte rows), level 1 rows reversed (8-byte rows), level 2 as is.
    Bytes expected;
    const auto append = [&](std::ptrdiff_t from, std::ptrdiff_t count) {
        for (std::ptrdiff_t i = 0; i < count; ++i)
            expected.push_back(plan.pixels[from + i]);
    };
    for (std::ptrdiff_t r = 3; r >= 0; --r)
        append(r * 16, 16);
    for (std::ptrdiff_t r = 1; r >= 0; --r)
        append(64 + r * 8, 8);
    expected.insert(expected.end(), plan.pixels.begin() + 80, plan.pixels.end());
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), expected);

    plan.mip = 0;
    plan.pixels = Sequence(64);
    const Bytes single = ExportDds(plan);
    EXPECT_EQ(Bytes(single.begin(), single.begin() + 128), ExpectedDdsHeader(4, 4, 64, 0, bgra));
}

TEST(TextureDdsExport, DXT1FullChainWithMipFlag) {
    // 8x8 DXT1 with levels 8x8, 4x4, 2x2, 1x1: 32 + 8 + 8 + 8 bytes.
    TextureObjectSpec plan;
    plan.layout = TextureLayout::MipFlag;
    plan.width = 8;
    plan.height = 8;
    plan.format = 10;
    plan.mip = 1;
    plan.pixels = Sequence(56);
    const Bytes file = ExportDds(plan);
    const PixelFormatFields dxt1{0x4, Code("DXT1"), 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 128), ExpectedDdsHeader(8, 8, 32, 4, dxt1));
    ASSERT_EQ(file.size(), 128u + 56u);
    // The small levels are single blocks: their index rows are reversed in place.
    const Bytes lastLevel(file.end() - 8, file.end());
    EXPECT_EQ(lastLevel, (Bytes{49, 50, 51, 52, 56, 55, 54, 53}));
}

TEST(TextureDdsExport, AtcDataIsNeverFlipped) {
    TextureObjectSpec plan;
    plan.width = 8;
    plan.height = 8;
    plan.format = 35;
    plan.pixels = Sequence(32);
    const Bytes file = ExportDds(plan);
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), plan.pixels);
}

TEST(TextureDdsExport, LayoutsAreProbedBySizes) {
    TextureObjectSpec plan;
    plan.width = 2;
    plan.height = 2;
    plan.format = 4;
    plan.pixels = Sequence(16);
    for (auto layout : {TextureLayout::MipFlag, TextureLayout::MipCount}) {
        plan.layout = layout;
        for (Endian order : {Endian::Little, Endian::Big}) {
            const auto body = MakeTextureObject(plan, order);
            Reader object(std::make_shared<MemorySource>("t", body), order);
            EXPECT_EQ(ProbeTextureLayout(object), layout);
        }
    }
    TextureObjectSpec streamed;
    streamed.layout = TextureLayout::Streamed;
    streamed.streamSize = 64;
    streamed.path = "a.resS";
    Reader s(std::make_shared<MemorySource>("t", MakeTextureObject(streamed, Endian::Little)));
    EXPECT_EQ(ProbeTextureLayout(s), TextureLayout::Streamed);
    // Matching none: read with the flag layout.
    plan.layout = TextureLayout::MipCount;
    plan.completeImageSize = 16;
    plan.imageDataSize = 15;
    plan.pixels = Sequence(15);
    Reader none(std::make_shared<MemorySource>("t", MakeTextureObject(plan, Endian::Little)));
    EXPECT_EQ(ProbeTextureLayout(none), TextureLayout::MipFlag);
}

TEST(TextureDdsExport, HeaderReaderKeepsCarriedFieldsAndTrailingWords) {
    TextureObjectSpec plan;
    plan.width = 2;
    plan.height = 2;
    plan.format = 4;
    plan.mip = 0x0102;
    plan.pixels = Sequence(14); // 14 bytes: two bytes of padding follow
    plan.completeImageSize = 14;
    plan.trailing = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    for (Endian order : {Endian::Little, Endian::Big}) {
        Reader object(std::make_shared<MemorySource>("t", MakeTextureObject(plan, order)), order);
        const TextureObject tex = ReadTextureHeader(object);
        EXPECT_EQ(tex.layout, TextureLayout::MipCount);
        EXPECT_EQ(tex.header.mipField, (Bytes{0x02, 0x01, 0, 0}));
        EXPECT_EQ(tex.header.MipValue(), 2);
        EXPECT_EQ(tex.header.flagBytes, (Bytes{0, 1, 0, 0}));
        EXPECT_EQ(tex.header.carriedFields[0], 2);
        EXPECT_EQ(tex.header.dataSizes, std::vector<int32_t>{14});
        EXPECT_EQ(tex.header.trailingWords, (std::vector<uint32_t>{0xDDCCBBAA, 0xEE}));
        EXPECT_EQ(object.Pos(), 60u);
    }
}

TEST(TextureDdsExport, BigEndianObjectGivesTheSameFile) {
    TextureObjectSpec plan;
    plan.width = 8;
    plan.height = 8;
    plan.format = 10;
    plan.pixels = test::TwoBandDXT1(8, 8);
    EXPECT_EQ(ExportDds(plan, Endian::Big), ExportDds(plan, Endian::Little));
    plan.layout = TextureLayout::MipFlag;
    EXPECT_EQ(ExportDds(plan, Endian::Big), ExportDds(plan, Endian::Little));
}

TEST(TextureDdsExport, CubemapFacesGoToNumberedFiles) {
    TempDir dir;
    TextureCase tc(dir.Path(), 89, 4, "sky.cbm", Endian::Little);
    TextureObjectSpec plan;
    plan.width = 1;
    plan.height = 1;
    plan.format = 4;
    plan.imageCount = 6;
    plan.pixels = Sequence(24);
    const std::string rel = "Unity_Assets_Files/level0/Cubemap/";
    ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little), rel));
    const auto out = tc.OutputDir(rel);
    const char* names[] = {"sky.cbm.dds",   "sky.cbm.dds_2", "sky.cbm.dds_3",
                           "sky.cbm.dds_4", "sky.cbm.dds_5", "sky.cbm.dds_6"};
    Bytes firstHeader;
    for (int k = 0; k < 6; ++k) {
        const Bytes file = ReadFileBytes(out / names[k]);
        ASSERT_EQ(file.size(), 132u) << names[k];
        if (k == 0) firstHeader.assign(file.begin(), file.begin() + 128);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 128), firstHeader);
        const auto base = static_cast<uint8_t>(1 + 4 * k);
        EXPECT_EQ(Bytes(file.begin() + 128, file.end()),
                  (Bytes{static_cast<uint8_t>(base + 2), static_cast<uint8_t>(base + 1), base,
                         static_cast<uint8_t>(base + 3)}));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out),
                            std::filesystem::directory_iterator()),
              6);
}

TEST(TextureDdsExport, EmptyImageWritesNoFile) {
    TempDir dir;
    TextureCase tc(dir.Path(), 28, 4, "e.tex", Endian::Little);
    TextureObjectSpec plan;
    plan.format = 4;
    ExportTextureDDS(tc.Input(MakeTextureObject(plan, Endian::Little)));
    EXPECT_FALSE(std::filesystem::exists(tc.OutputDir() / "e.tex.dds"));
    EXPECT_TRUE(tc.messages.lines.empty());
    EXPECT_EQ(tc.messages.notices, std::vector<std::string>{"e.tex has no pixels: no picture written"});
}

TEST(TextureDdsExport, ProceduralTexture) {
    for (Endian order : {Endian::Little, Endian::Big}) {
        TempDir dir;
        TextureCase tc(dir.Path(), 186, 5, "p.ptex", order);
        test::ProceduralTextureSpec plan;
        plan.width = 1;
        plan.height = 2;
        plan.format = 5;
        plan.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
        const std::string rel = "Unity_Assets_Files/level0/ProceduralTextures/";
        ExportProceduralTextureDDS(tc.Input(test::MakeProceduralTextureObject(plan, order), rel));
        const Bytes file = ReadFileBytes(tc.OutputDir(rel) / "p.ptex.dds");
        const PixelFormatFields argb{0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        EXPECT_EQ(file, Concat({ExpectedDdsHeader(1, 2, 8, 0, argb), {8, 7, 6, 5, 4, 3, 2, 1}}));
        EXPECT_EQ(tc.messages.lines, std::vector<std::string>{"p.ptex -> DDS"});
    }
}

TEST(TextureDdsExport, ProceduralTextureOf88BytesIsSkipped) {
    TempDir dir;
    TextureCase tc(dir.Path(), 186, 5, "p.ptex", Endian::Little);
    const auto body = test::MakeProceduralTextureObject({}, Endian::Little);
    ASSERT_EQ(body.size(), 88u);
    ExportProceduralTextureDDS(tc.Input(body, "Unity_Assets_Files/level0/ProceduralTextures/"));
    EXPECT_FALSE(
        std::filesystem::exists(tc.OutputDir("Unity_Assets_Files/level0/ProceduralTextures/")));
    EXPECT_TRUE(tc.messages.lines.empty());
}

TEST(TextureDdsExport, ProceduralLengthBeyondObjectIsAnError) {
    TempDir dir;
    TextureCase tc(dir.Path(), 186, 5, "p.ptex", Endian::Little);
    test::ProceduralTextureSpec plan;
    plan.pixels = Sequence(8);
    plan.dataLength = 0x7FFFFFF0;
    EXPECT_THROW(ExportProceduralTextureDDS(
                     tc.Input(test::MakeProceduralTextureObject(plan, Endian::Little))),
                 KestrelError);
}

} // namespace
} // namespace kestrel
