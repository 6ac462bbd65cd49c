#include "assets/AssetsParser.h"
#include "common/Error.h"
#include "io/Writer.h"
#include "support/AssetsBuilder.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::shared_ptr<MemorySource> Mem(std::vector<uint8_t> bytes, std::string name = "level0") {
    return std::make_shared<MemorySource>(std::move(name), std::move(bytes));
}

ParseOptions Options() {
    ParseOptions options;
    options.innerFileName = "level0";
    return options;
}

TEST(EngineMajorVersion, LeadingIntegerOrFormatFallback) {
    EXPECT_EQ(EngineMajorVersionOf("5.6.3p1", 15), 5);
    EXPECT_EQ(EngineMajorVersionOf("2017.4.1f1", 17), 2017);
    EXPECT_EQ(EngineMajorVersionOf("4.3.4f1", 15), 4);
    EXPECT_EQ(EngineMajorVersionOf("abc", 15), 5);
    EXPECT_EQ(EngineMajorVersionOf("abc", 14), 4);
    EXPECT_EQ(EngineMajorVersionOf("abc", 9), 4);
    EXPECT_EQ(EngineMajorVersionOf("abc", 17), 0);
    EXPECT_EQ(EngineMajorVersionOf("x.y", 12), 0);
    // No "." at all, an empty or signed-only major part: not an integer.
    EXPECT_EQ(EngineMajorVersionOf("5", 17), 0);
    EXPECT_EQ(EngineMajorVersionOf(".5", 14), 4);
    EXPECT_EQ(EngineMajorVersionOf("5x.1", 17), 0);
    EXPECT_EQ(EngineMajorVersionOf("99999999999.1", 15), 5);
    // Only formats 9, 14 and 15 have a fallback.
    EXPECT_EQ(EngineMajorVersionOf("", 5), 0);
    EXPECT_EQ(EngineMajorVersionOf("", 8), 0);
    EXPECT_EQ(EngineMajorVersionOf("", 9), 4);
}

TEST(RowLayout, WordPositionsPerFormat) {
    const RowLayout old = RowLayoutFor(9);
    EXPECT_EQ(old.wordCount, 5u);
    EXPECT_EQ(old.objOffset, 1u);
    EXPECT_EQ(old.objSize, 2u);
    EXPECT_EQ(old.classId, 3u);
    EXPECT_EQ(old.secondType, 4u);
    EXPECT_EQ(RowLayoutFor(5).wordCount, 5u);
    const RowLayout f14 = RowLayoutFor(14);
    EXPECT_EQ(f14.wordCount, 6u);
    EXPECT_EQ(f14.objOffset, 2u);
    EXPECT_EQ(f14.classId, 4u);
    EXPECT_EQ(RowLayoutFor(15).wordCount, 7u);
    EXPECT_EQ(RowLayoutFor(15).secondType, 5u);
    EXPECT_EQ(RowLayoutFor(16).wordCount, 0u);
    EXPECT_EQ(RowLayoutFor(12).wordCount, 0u);
    EXPECT_EQ(RowLayoutFor(4).wordCount, 5u); // "9 and below"
}

TEST(AssetsHeader, ReadsFieldsInBothByteOrders) {
    for (bool big : {false, true}) {
        AssetsSpec plan;
        plan.bigEndian = big;
        plan.engineVersion = "5.6.3p1";
        plan.targetPlatform = 13;
        plan.objects.push_back({49, "t", TextBody("x", plan.Order())});
        const BuiltAssets built = BuildAssets(plan);
        AssetsFile file;
        ReadAssetsHeader(Mem(built.bytes), 0, file);
        EXPECT_EQ(file.header.formatVersion, 15);
        EXPECT_EQ(file.header.BigEndianFlag, big ? 1u : 0u);
        EXPECT_EQ(file.header.engineVersion, "5.6.3p1");
        EXPECT_EQ(file.header.EngineMajorVersion, 5);
        EXPECT_EQ(file.header.targetPlatform, 13u);
        EXPECT_EQ(file.header.afterPlatformPos, 20u + 8 + 4);
        EXPECT_EQ(file.headerFileSize, built.bytes.size());
        EXPECT_EQ(file.DataOffset, built.dataOffset);
    }
}

TEST(AssetsHeader, AssetsFileInsideALargerFile) {
    AssetsSpec plan;
    plan.objects.push_back({49, "note", TextBody("text")});
    std::vector<uint8_t> bytes(100, 0xEE);
    const std::vector<uint8_t> assets = BuildAssetsFile(plan);
    bytes.insert(bytes.end(), assets.begin(), assets.end());
    const AssetsFile file = ParseAssets(Mem(bytes), 100, Options());
    ASSERT_EQ(file.items.Count(), 1u);
    EXPECT_EQ(file.items.ExportName[0], "note.txt");
    EXPECT_EQ(file.DataOffset, 100u + BuildAssets(plan).dataOffset);
    EXPECT_EQ(file.items.rows[0].PayloadSize, 4u);
}

TEST(AssetsHeader, TooShortForAHeaderIsNoAssetsFile) {
    for (size_t size : {0u, 3u, 19u}) {
        AssetsFile file;
        ReadAssetsHeader(Mem(std::vector<uint8_t>(size, 0)), 0, file);
        EXPECT_EQ(file.header.EngineMajorVersion, 0) << size;
    }
    AssetsFile file;
    ReadAssetsHeader(Mem(std::vector<uint8_t>(64, 0)), 100, file);
    EXPECT_EQ(file.header.EngineMajorVersion, 0);
}

TEST(AssetsHeader, UnknownFormatWithoutVersionTextIsNoAssetsFile) {
    // An audio resource: "OggS" and a zero granule position give format 0.
    std::vector<uint8_t> ogg = {'O', 'g', 'g', 'S', 0, 2};
    ogg.resize(200, 0);
    const AssetsFile file = ParseAssets(Mem(ogg), 0, Options());
    EXPECT_EQ(file.header.EngineMajorVersion, 0);
    EXPECT_EQ(file.items.Count(), 0u);
}

// A file of a pre-release format 10 to 13 is an assets file without a
// table the program reads: the item table stays empty and nothing is reported.
TEST(AssetsHeader, UnparsedFormatsGiveAnEmptyTable) {
    for (uint32_t format : {10u, 13u}) {
        AssetsSpec plan;
        plan.engineVersion = "2019.3.13f1";
        plan.objects.push_back({49, "t", TextBody("x")});
        std::vector<uint8_t> bytes = BuildAssetsFile(plan);
        bytes[11] = static_cast<uint8_t>(format);
        const AssetsFile file = ParseAssets(Mem(bytes), 0, Options());
        EXPECT_EQ(file.header.formatVersion, static_cast<int32_t>(format));
        EXPECT_EQ(file.header.EngineMajorVersion, 2019);
        EXPECT_EQ(file.objectCount, 0u);
        EXPECT_EQ(file.items.Count(), 0u);
    }
}

// Formats 5 to 8 keep the metadata after the object data; 5 and 6 have no version text and no
// platform, and no path-ID-width word after the types (that word came with format 7).
std::vector<uint8_t> TrailingMetadataFile(uint32_t format, bool big) {
    const Endian order = big ? Endian::Big : Endian::Little;
    Writer data(order);
    data.Zeros(16);
    const uint32_t objectStart = 16;
    data.U32(4);
    data.Bytes("wall");
    data.Bytes(TextBody("brick", order).data(), 12);

    Writer meta(order);
    meta.U8(big ? 1 : 0);
    if (format >= 7) meta.CString("3.4.2f3");
    if (format >= 8) meta.U32(6);
    meta.I32(1);
    meta.I32(49);
    meta.CString("TextAsset");
    meta.CString("Base");
    meta.Zeros(20);
    meta.I32(0);
    if (format >= 7) meta.I32(0);
    meta.U32(2);
    for (uint32_t i = 0; i < 2; ++i) {
        meta.U32(i + 1);
        meta.U32(i == 0 ? objectStart : 0);
        meta.U32(i == 0 ? 20 : 4);
        meta.I32(i == 0 ? 49 : 1);
        meta.U16(i == 0 ? 49 : 1);
        meta.U16(0);
    }
    meta.I32(0);

    Writer file(Endian::Big);
    file.U32BE(static_cast<uint32_t>(meta.Size()));
    file.U32BE(static_cast<uint32_t>(data.Size() + meta.Size()));
    file.U32BE(format);
    file.U32BE(0);
    std::vector<uint8_t> bytes = file.Take();
    bytes.resize(16, 0);
    // The fixed header overlays the start of the data area, as in files of these formats.
    std::vector<uint8_t> out = data.Take();
    std::copy(bytes.begin(), bytes.end(), out.begin());
    out.insert(out.end(), meta.Data().begin(), meta.Data().end());
    return out;
}

// Files of formats before 9 keep their metadata at the end; read with the header of the later
// formats they show no engine version and are listed as a single resource, never parsed as a
// table of garbage.
TEST(AssetsHeader, OlderFormatsAreNoAssetsFiles) {
    for (uint32_t format : {5u, 6u, 7u, 8u}) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(std::to_string(format) + (big ? " big" : " little"));
            const AssetsFile file =
                ParseAssets(Mem(TrailingMetadataFile(format, big)), 0, Options());
            EXPECT_EQ(file.header.formatVersion, static_cast<int32_t>(format));
            EXPECT_EQ(file.header.EngineMajorVersion, 0);
            EXPECT_EQ(file.items.Count(), 0u);
        }
    }
}

} // namespace
