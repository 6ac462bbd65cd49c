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
    // Only formats 5 to 9, 14 and 15 have a fallback.
    EXPECT_EQ(EngineMajorVersionOf("", 5), 2);
    EXPECT_EQ(EngineMajorVersionOf("", 8), 3);
    EXPECT_EQ(EngineMajorVersionOf("", 4), 0);
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

// Formats 5 to 8 keep the metadata after the objects, from the endianness byte on; 5 and 6 have
// no version text and no platform. A file whose sizes place no metadata inside it is listed as a
// single resource; a table cut short is an error naming the file.
TEST(AssetsHeader, OlderFormatsReadTheirTrailingMetadata) {
    for (int32_t format : {5, 6, 7, 8}) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(std::to_string(format) + (big ? " big" : " little"));
            AssetsSpec plan;
            plan.formatVersion = format;
            plan.bigEndian = big;
            plan.typeTrees = true;
            plan.engineVersion = "3.4.2f3";
            plan.objects = {{49, "wall", TextBody("brick", plan.Order(), format != 5)},
                            {1, std::nullopt, {1, 2, 3, 4}}};
            const BuiltAssets built = BuildAssets(plan);
            const AssetsFile file = ParseAssets(Mem(built.bytes), 0, Options());
            EXPECT_EQ(file.header.BigEndianFlag == 1, big);
            EXPECT_EQ(file.header.engineVersion, format >= 7 ? "3.4.2f3" : "");
            EXPECT_EQ(file.header.EngineMajorVersion, format >= 7 ? 3 : 2);
            ASSERT_EQ(file.items.Count(), 2u);
            EXPECT_EQ(file.items.rows[0].PayloadSize, 5u);

            std::vector<uint8_t> oversized = built.bytes;
            oversized[0] = 0x7F; // metadata size beyond the file
            EXPECT_EQ(ParseAssets(Mem(oversized), 0, Options()).header.EngineMajorVersion, 0);
            std::vector<uint8_t> cut(built.bytes.begin(),
                                     built.bytes.begin() + static_cast<long>(built.tableStart) + 6);
            const uint32_t size = static_cast<uint32_t>(cut.size());
            const uint32_t metadata =
                size - static_cast<uint32_t>(built.objectOffsets.back() + built.objectSizes.back());
            for (int k = 0; k < 4; ++k) {
                cut[static_cast<size_t>(k)] = static_cast<uint8_t>(metadata >> (24 - 8 * k));
                cut[static_cast<size_t>(4 + k)] = static_cast<uint8_t>(size >> (24 - 8 * k));
            }
            try {
                ParseAssets(Mem(cut), 0, Options());
                ADD_FAILURE() << "a table cut short was read";
            } catch (const KestrelError& e) {
                EXPECT_NE(std::string(e.what()).find("level0"), std::string::npos) << e.what();
            }
        }
    }
}

} // namespace
