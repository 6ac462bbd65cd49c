#include "assets/AssetsParser.h"
#include "support/AssetsBuilder.h"
#include "support/RecordedMessages.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

AssetsSpec TreeSpec(int format, bool big, const std::string& engineVersion = "5.0.0f4") {
    AssetsSpec plan;
    plan.formatVersion = format;
    plan.bigEndian = big;
    plan.typeTrees = true;
    plan.engineVersion = engineVersion;
    plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({-1, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({49, "readme", TextBody("hello", plan.Order())});
    plan.objects.push_back({4, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({-5, std::nullopt, {0, 0, 0, 0}});
    return plan;
}

AssetsFile Parse(const std::vector<uint8_t>& bytes, RecordedMessages& reporter) {
    ParseOptions options;
    options.innerFileName = "mainData";
    options.reporter = &reporter;
    return ParseAssets(std::make_shared<MemorySource>("mainData", bytes), 0, options);
}

// The table lies behind type trees that are not walked; it is found by its entries, in either
// byte order, whatever the number of alignment bytes between the count and the table.
TEST(ObjectTableSearch, FindsTheTableBehindTypeTrees) {
    for (int format : {14, 15}) {
        for (bool big : {false, true}) {
            for (const char* version : {"5.0.0f4", "5.0.0f", "5.0.0", "5.0.10f1"}) {
                SCOPED_TRACE(std::to_string(format) + (big ? " big " : " little ") + version);
                AssetsSpec plan = TreeSpec(format, big, version);
                const BuiltAssets built = BuildAssets(plan);
                RecordedMessages reporter;
                const AssetsFile file = Parse(built.bytes, reporter);
                EXPECT_TRUE(reporter.alerts.empty());
                EXPECT_EQ(file.typeTreeFlag, 1);
                EXPECT_EQ(file.objectCount, 5u);
                EXPECT_EQ(file.tableStart, built.tableStart);
                ASSERT_EQ(file.items.Count(), 5u);
                EXPECT_EQ(file.items.ExportName[2], "readme.txt");
                EXPECT_EQ(file.items.rows[2].PayloadSize, 5u);
                EXPECT_EQ(file.items.ExportName[4], "mainData_00001.-5");
                EXPECT_EQ(file.items.rows[3].ObjOffset, built.objectOffsets[3]);

                plan.typeTrees = false;
                const AssetsFile flat = Parse(BuildAssetsFile(plan), reporter);
                ASSERT_EQ(flat.items.Count(), 5u);
                for (size_t i = 0; i < 5; ++i) {
                    EXPECT_EQ(flat.items.ExportName[i], file.items.ExportName[i]);
                }
            }
        }
    }
}

TEST(ObjectTableSearch, CountNotBesideTheTableWarnsAndUsesTheWordBeforeIt) {
    for (bool big : {false, true}) {
        // A version text that puts the count directly before the table.
        BuiltAssets built;
        for (const char* version : {"5.0.0f4", "5.0.0f", "5.0.0", "5.0.10f1"}) {
            built = BuildAssets(TreeSpec(15, big, version));
            if (built.tableStart - built.objectCountPos == 4) break;
        }
        ASSERT_EQ(built.tableStart - built.objectCountPos, 4u);
        std::vector<uint8_t> bytes = built.bytes;
        // Neither 5 nor 6: the count, declared as 2, is taken from 4 bytes before the table.
        bytes[built.objectCountPos + (big ? 3 : 0)] = 2;
        RecordedMessages reporter;
        const AssetsFile file = Parse(bytes, reporter);
        ASSERT_EQ(reporter.alerts.size(), 1u);
        EXPECT_EQ(reporter.alerts[0], "WARNING: Not find coint offsets.");
        EXPECT_EQ(file.objectCount, 2u);
        EXPECT_EQ(file.items.Count(), 2u);
    }
}

TEST(ObjectTableSearch, NoFittingEntryStopsWithAnEmptyTable) {
    for (int format : {14, 15}) {
        const BuiltAssets built = BuildAssets(TreeSpec(format, false));
        std::vector<uint8_t> bytes = built.bytes;
        // Give every entry a script index that matches no rule.
        const size_t entrySize = format == 15 ? 28 : 24;
        for (size_t i = 0; i < 5; ++i) {
            const size_t at = built.tableStart + i * entrySize + 20;
            bytes[at] = 7; // class ID 7 against type ID 1, 4, 49, or a script class
            bytes[at + 1] = 0;
        }
        RecordedMessages reporter;
        const AssetsFile file = Parse(bytes, reporter);
        ASSERT_EQ(reporter.alerts.size(), 1u);
        EXPECT_EQ(reporter.alerts[0], "Error: Not find offsets.");
        EXPECT_EQ(file.objectCount, 0u);
        EXPECT_EQ(file.items.Count(), 0u);
    }
}

// The run of entries is taken from the first path-ID-1 entry that fits, extended backwards: a
// table whose path IDs start above 1 is still found from the entry with path ID 1.
TEST(ObjectTableSearch, RunExtendsBackwardsFromPathIdOne) {
    const BuiltAssets built = BuildAssets(TreeSpec(14, false));
    std::vector<uint8_t> bytes = built.bytes;
    for (size_t i = 0; i < 5; ++i) {
        bytes[built.tableStart + i * 24] = static_cast<uint8_t>(i == 3 ? 1 : 10 + i);
    }
    RecordedMessages reporter;
    const AssetsFile file = Parse(bytes, reporter);
    EXPECT_TRUE(reporter.alerts.empty());
    EXPECT_EQ(file.tableStart, built.tableStart);
    EXPECT_EQ(file.items.Count(), 5u);
}

} // namespace
