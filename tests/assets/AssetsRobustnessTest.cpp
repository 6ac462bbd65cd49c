#include "assets/AssetsParser.h"
#include "common/Error.h"
#include "io/Writer.h"
#include "support/AssetsBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words, Endian order) {
    Writer w(order);
    for (uint32_t v : words)
        w.U32(v);
    return w.Take();
}

AssetsSpec RichSpec(int format, bool big, bool typeTrees) {
    AssetsSpec plan;
    plan.formatVersion = format;
    plan.bigEndian = big;
    plan.typeTrees = typeTrees;
    const Endian order = plan.Order();
    TextureSpec texture;
    texture.format = 10;
    texture.imageData.assign(8, 0x11);
    plan.objects.push_back({28, "tex", TextureBody(texture, order)});
    plan.objects.push_back({49, "doc", TextBody("<?xml?>", order)});
    plan.objects.push_back({128, "font", FontBody({1, 2, 3, 4, 5}, order)});
    plan.objects.push_back({152, "movie", Words({0, 0, 0, 4, 0x5367674F, 0}, order)});
    plan.objects.push_back({186, "proc", Words({0, 0, 0, 0, 5, 0, 0}, order)});
    plan.objects.push_back({1, std::nullopt, {1, 2, 3, 4}});
    plan.objects.push_back({-7, std::nullopt, {}});
    return plan;
}

AssetsFile Parse(std::vector<uint8_t> bytes) {
    ParseOptions options;
    options.innerFileName = "cut";
    options.fillListRows = true;
    SilentReporter reporter;
    options.reporter = &reporter;
    return ParseAssets(std::make_shared<MemorySource>("cut.assets", std::move(bytes)), 0, options);
}

// Every row of a parsed table describes bytes inside the data it was parsed from.
void ExpectSaneTable(const AssetsFile& file, uint64_t size) {
    const ItemTable& items = file.items;
    ASSERT_EQ(items.rows.size(), file.objectCount);
    ASSERT_EQ(items.ExportName.size(), file.objectCount);
    ASSERT_EQ(items.listRows.size(), file.objectCount);
    for (size_t i = 0; i < items.Count(); ++i) {
        const ObjectRow& row = items.rows[i];
        const uint64_t start = file.DataOffset + row.ObjOffset;
        EXPECT_LE(start + row.ObjSize, size);
        EXPECT_LE(row.NameHeaderSize, row.ObjSize);
        EXPECT_LE(uint64_t{row.NameHeaderSize} + row.PayloadOffset + row.PayloadSize,
                  std::max<uint64_t>(row.ObjSize, row.NameHeaderSize + 4u));
        EXPECT_LE(items.listRows[i].offset + items.listRows[i].size, size + 4);
        EXPECT_FALSE(items.ExportName[i].empty());
    }
}

// Cutting a valid file anywhere gives a clear error or a table that stays inside the data.
TEST(AssetsRobustness, EveryPrefixOfAValidFile) {
    for (int format : {9, 14, 15}) {
        for (bool big : {false, true}) {
            for (bool typeTrees : {false, true}) {
                SCOPED_TRACE(std::to_string(format) + (big ? " big" : " little") +
                             (typeTrees ? " trees" : ""));
                const std::vector<uint8_t> full = BuildAssetsFile(RichSpec(format, big, typeTrees));
                ASSERT_EQ(Parse(full).items.Count(), 7u);
                for (size_t n = 0; n < full.size(); ++n) {
                    const std::vector<uint8_t> prefix(full.begin(), full.begin() + n);
                    try {
                        ExpectSaneTable(Parse(prefix), n);
                    } catch (const KestrelError& e) {
                        EXPECT_NE(std::string(e.what()).find("cut.assets"), std::string::npos);
                    }
                }
            }
        }
    }
}

TEST(AssetsRobustness, ObjectOutsideTheFileIsAnError) {
    const BuiltAssets built = BuildAssets(RichSpec(15, false, false));
    std::vector<uint8_t> bytes = built.bytes;
    // Object 5 (the GameObject): its size word reaches past the end.
    bytes[built.tableStart + 5 * 28 + 12 + 3] = 0x7F;
    try {
        Parse(bytes);
        FAIL() << "no error";
    } catch (const KestrelError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("cut.assets"), std::string::npos) << what;
        EXPECT_NE(what.find("object 5"), std::string::npos) << what;
        EXPECT_NE(what.find("outside the file"), std::string::npos) << what;
    }
}

TEST(AssetsRobustness, HugeObjectCountIsRefusedBeforeAllocation) {
    for (int format : {9, 15}) {
        const BuiltAssets built = BuildAssets(RichSpec(format, false, false));
        std::vector<uint8_t> bytes = built.bytes;
        for (int i = 0; i < 4; ++i)
            bytes[built.objectCountPos + i] = 0xFF;
        try {
            Parse(bytes);
            FAIL() << "no error";
        } catch (const KestrelError& e) {
            EXPECT_NE(std::string(e.what()).find("do not fit"), std::string::npos) << e.what();
        }
    }
}

// Child counts of old-style type trees are not trusted: a huge count runs out of data (an
// error), it neither recurses without bound nor allocates.
TEST(AssetsRobustness, HugeTypeTreeChildCount) {
    AssetsSpec plan = RichSpec(9, false, true);
    std::vector<uint8_t> bytes = BuildAssetsFile(plan);
    // The root node of the first type record: its child count follows "NamedObject", "Base" and
    // 20 bytes of node fields.
    const std::string marker("Base", 5);
    const auto it = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(it, bytes.end());
    const size_t childCount = static_cast<size_t>(it - bytes.begin()) + 5 + 20;
    for (int i = 0; i < 4; ++i)
        bytes[childCount + i] = i == 3 ? 0x7F : 0xFF;
    EXPECT_THROW(Parse(bytes), KestrelError);
}

} // namespace
