#include "assets/AssetsParser.h"
#include "io/Writer.h"
#include "support/AssetsBuilder.h"
#include "support/RecordedMessages.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

AssetsFile Parse(const std::vector<uint8_t>& bytes, bool fontAsObject = false) {
    ParseOptions options;
    options.innerFileName = "level0";
    options.fontAsObject = fontAsObject;
    options.fillListRows = true;
    return ParseAssets(std::make_shared<MemorySource>("level0", bytes), 0, options);
}

AssetsFile Parse(const AssetsSpec& plan, bool fontAsObject = false) {
    return Parse(BuildAssetsFile(plan), fontAsObject);
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words, Endian order = Endian::Little) {
    Writer w(order);
    for (uint32_t v : words)
        w.U32(v);
    return w.Take();
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> Texture(int32_t format, Endian order = Endian::Little) {
    TextureSpec texture;
    texture.format = format;
    texture.imageData.assign(16, 0x55);
    return TextureBody(texture, order);
}

TEST(ItemTable, ExportNamesAreCleanedAndDuplicatesNumbered) {
    AssetsSpec plan;
    plan.objects.push_back({28, "a:b*c", Texture(12)});
    plan.objects.push_back({28, "ABC", Texture(12)});
    plan.objects.push_back({21, "abc", {0, 0, 0, 0}}); // another extension: no clash
    plan.objects.push_back({28, "abc", Texture(12)});
    plan.objects.push_back({28, std::string("x\x01y\0z\x1F\\/:*?\"<>|w", 16), Texture(12)});
    const AssetsFile file = Parse(plan);
    ASSERT_EQ(file.items.Count(), 5u);
    EXPECT_EQ(file.items.ExportName[0], "abc.tex");
    EXPECT_EQ(file.items.ExportName[1], "ABC_00001.tex");
    EXPECT_EQ(file.items.ExportName[2], "abc.mat");
    EXPECT_EQ(file.items.ExportName[3], "abc_00002.tex");
    EXPECT_EQ(file.items.ExportName[4], "xyzw.tex");
    EXPECT_EQ(file.items.rows[1].duplicateNumber, 1u);
    EXPECT_EQ(file.items.rows[3].duplicateNumber, 2u);
    EXPECT_EQ(file.items.rows[4].duplicateNumber, 0u);
}

TEST(ItemTable, FallbackNamesForClassesWithoutExtension) {
    AssetsSpec plan;
    plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({4, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({-3, std::nullopt, {0, 0, 0, 0}});
    plan.objects.push_back({-3, std::nullopt, {0, 0, 0, 0}});
    for (int format : {9, 14, 15}) {
        plan.formatVersion = format;
        const AssetsFile file = Parse(plan);
        ASSERT_EQ(file.items.Count(), 5u);
        EXPECT_EQ(file.items.ExportName[0], "level0_00001.1");
        EXPECT_EQ(file.items.ExportName[1], "level0_00001.4");
        EXPECT_EQ(file.items.ExportName[2], "level0_00002.1");
        EXPECT_EQ(file.items.ExportName[3], "level0_00001.-3");
        EXPECT_EQ(file.items.ExportName[4], "level0_00002.-3");
        EXPECT_EQ(file.items.types[3].name, "MonoBehaviour id: 114");
        EXPECT_EQ(file.items.types[1].name, "Transform");
        EXPECT_EQ(file.items.rows[2].occurrence, 2u);
        EXPECT_EQ(file.items.rows[2].NameHeaderSize, 0u);
    }
}

TEST(ItemTable, OccurrenceBeyondFiveDigitsKeepsAllDigits) {
    AssetsSpec plan;
    plan.objects.assign(100001, {1, std::nullopt, {}});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[99998], "level0_99999.1");
    EXPECT_EQ(file.items.ExportName[100000], "level0_100001.1");
}

TEST(ItemTable, NameLengthZeroAndAbove256) {
    AssetsSpec plan;
    plan.objects.push_back({28, "", Texture(10)});
    plan.objects.push_back({28, std::nullopt, Concat(Words({257}), Texture(10))});
    plan.objects.push_back({28, std::string(256, 'n'), Texture(10)});
    const BuiltAssets built = BuildAssets(plan);
    const AssetsFile file = Parse(built.bytes);
    ASSERT_EQ(file.items.Count(), 3u);

    EXPECT_EQ(file.items.ExportName[0], "level0_00001.tex");
    EXPECT_EQ(file.items.rows[0].NameHeaderSize, 4u);
    EXPECT_EQ(file.items.types[0].name, "Texture2D id: 10 - DXT1");

    EXPECT_EQ(file.items.ExportName[1], "level0_00002.tex");
    EXPECT_EQ(file.items.rows[1].NameHeaderSize, 0u);
    EXPECT_EQ(file.items.types[1].name, "Texture2D"); // no probe ran
    EXPECT_EQ(file.items.listRows[1].size, built.objectSizes[1]);
    EXPECT_EQ(file.items.listRows[1].offset, built.dataOffset + built.objectOffsets[1]);

    EXPECT_EQ(file.items.ExportName[2], std::string(256, 'n') + ".tex");
    EXPECT_EQ(file.items.rows[2].NameHeaderSize, 260u);
    EXPECT_EQ(file.items.listRows[2].size, built.objectSizes[2] - 260);
}

// Only objects with a name field count as earlier names: a fallback name of an object with name
// length 0 takes part, one of an object whose name length was too long does not.
TEST(ItemTable, DuplicatesCountOnlyObjectsWithANameField) {
    AssetsSpec plan;
    plan.objects.push_back({28, "", Texture(10)});
    plan.objects.push_back({28, "LEVEL0_00001", Texture(10)});
    plan.objects.push_back({28, std::nullopt, Words({300, 0, 0, 0})});
    plan.objects.push_back({28, "level0_00003", Texture(10)});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[0], "level0_00001.tex");
    EXPECT_EQ(file.items.ExportName[1], "LEVEL0_00001_00001.tex");
    EXPECT_EQ(file.items.ExportName[2], "level0_00003.tex");
    // The fallback name of object 2 is taken already: the later object gets the next free number.
    EXPECT_EQ(file.items.ExportName[3], "level0_00003_00001.tex");
}

// A real name that equals a later object's fallback name: the later object is the one renumbered,
// so both export to files of their own.
TEST(ItemTable, AFallbackNameTakenByAnEarlierRealNameGetsTheNextFreeNumber) {
    AssetsSpec plan;
    plan.objects.push_back({28, "level0_00002", Texture(10)});
    plan.objects.push_back({28, "", Texture(10)});
    plan.objects.push_back({28, "level0_00002_00001", Texture(10)});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[0], "level0_00002.tex");
    EXPECT_EQ(file.items.ExportName[1], "level0_00002_00001.tex");
    EXPECT_EQ(file.items.ExportName[2], "level0_00002_00001_00001.tex");
}

// The duplicate numbers of a mixed table agree with a plain scan over all earlier objects that
// have a name field (name length 0 included, too-long names excluded).
TEST(ItemTable, DuplicateNumbersMatchALinearScan) {
    const char* pool[] = {"Rock", "rock",         "ROCK",         "tree",
                          "Tree", "level0_00003", "LEVEL0_00024", "Level0_00001"};
    AssetsSpec plan;
    std::vector<std::string> base; // export name before numbering, as the rules give it
    uint32_t occurrence = 0;
    for (uint32_t i = 0; i < 400; ++i) {
        const uint32_t pick = (i * 7919u) % 23u;
        ++occurrence;
        const std::string fallback = "level0_" +
                                     std::string(5 - std::to_string(occurrence).size(), '0') +
                                     std::to_string(occurrence) + ".tex";
        if (pick == 0) {
            plan.objects.push_back({28, "", Texture(1)});
            base.push_back(fallback);
        } else if (pick == 1) {
            plan.objects.push_back({28, std::nullopt, Words({999, 0, 0, 0})});
            base.push_back("");
        } else {
            plan.objects.push_back({28, pool[pick % 8], Texture(1)});
            base.emplace_back(std::string(pool[pick % 8]) + ".tex");
        }
    }
    auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const AssetsFile file = Parse(plan);
    for (size_t i = 0; i < base.size(); ++i) {
        const bool named = plan.objects[i].name && !plan.objects[i].name->empty();
        uint32_t expected = 0;
        for (size_t j = 0; named && j < i; ++j) {
            expected += !base[j].empty() && lower(base[j]) == lower(base[i]);
        }
        EXPECT_EQ(file.items.rows[i].duplicateNumber, expected) << i;
    }
}

TEST(ItemTable, TextAssetsAndShaders) {
    AssetsSpec plan;
    plan.objects.push_back({49, "doc", TextBody("<?xml version=\"1.0\"?><a/>")});
    plan.objects.push_back({49, "doc2", TextBody("<?XML version=\"1.0\"?>")});
    plan.objects.push_back({48, "shader", TextBody("<?xml")});
    plan.objects.push_back({48, "plain", TextBody("Shader \"x\" {}")});
    const BuiltAssets built = BuildAssets(plan);
    const AssetsFile file = Parse(built.bytes);
    EXPECT_EQ(file.items.ExportName[0], "doc.xml");
    EXPECT_EQ(file.items.ExportName[1], "doc2.txt");
    EXPECT_EQ(file.items.ExportName[2], "shader.xml");
    EXPECT_EQ(file.items.ExportName[3], "plain.shader");
    const ObjectRow& row = file.items.rows[0];
    EXPECT_EQ(row.NameHeaderSize, 8u);
    EXPECT_EQ(row.PayloadOffset, 4u);
    EXPECT_EQ(row.PayloadSize, 25u);
    EXPECT_EQ(file.items.listRows[0].size, 25u);
    EXPECT_EQ(file.items.listRows[0].offset, built.dataOffset + built.objectOffsets[0] + 8 + 4);
    EXPECT_EQ(file.items.listRows[0].typeText, " (TextAsset)");
}

TEST(ItemTable, TextLengthPastTheObjectLeavesNoText) {
    AssetsSpec plan;
    plan.objects.push_back({49, "cut", Words({1000, 0x6C6D783F})});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.rows[0].PayloadSize, 0u);
    EXPECT_EQ(file.items.listRows[0].size, 0u);
}

TEST(ItemTable, FontsWithAndWithoutData) {
    const std::vector<uint8_t> ttf = {0, 1, 0, 0, 'O', 'S', '/', '2', 9, 9};
    AssetsSpec plan;
    plan.objects.push_back({128, "sans", FontBody(ttf)});
    plan.objects.push_back({128, "bitmap", Words({1, 2, 3, 4, 5})});
    const BuiltAssets built = BuildAssets(plan);
    const AssetsFile file = Parse(built.bytes);
    EXPECT_EQ(file.items.ExportName[0], "sans.ttf");
    EXPECT_EQ(file.items.rows[0].PayloadOffset, 8 * 4 + 4 + 4u);
    EXPECT_EQ(file.items.rows[0].PayloadSize, ttf.size());
    EXPECT_EQ(file.items.listRows[0].size, ttf.size());
    EXPECT_EQ(file.items.listRows[0].offset,
              built.dataOffset + built.objectOffsets[0] + file.items.rows[0].NameHeaderSize + 40);
    EXPECT_EQ(file.items.ExportName[1], "bitmap.font_raw");
    EXPECT_EQ(file.items.rows[1].PayloadSize, 0u);
    EXPECT_EQ(file.items.rows[1].PayloadOffset, 0u);
    EXPECT_EQ(file.items.listRows[1].size, built.objectSizes[1] - 12);

    const AssetsFile whole = Parse(built.bytes, true);
    EXPECT_EQ(whole.items.ExportName[0], "sans.fnt");
    EXPECT_EQ(whole.items.ExportName[1], "bitmap.fnt");
    EXPECT_EQ(whole.items.rows[0].PayloadSize, 0u);
    EXPECT_EQ(whole.items.listRows[0].size, built.objectSizes[0] - 8);
}

// Without the value 0.1 the data is found through the "OS/2" tag: a count K at +48 and the data
// length after K 8-byte entries from +56.
TEST(ItemTable, FontFoundThroughGlyphTable) {
    std::vector<uint32_t> words(14 + 2 * 2, 0);
    words[3] = 0x322F534F; // "OS/2" as stored
    words[12] = 2;         // K at +48
    std::vector<uint8_t> body;
    for (uint32_t w : words)
        body = Concat(body, Words({w}));
    body = Concat(body, Words({6}));
    body = Concat(body, {1, 2, 3, 4, 5, 6, 0, 0});
    AssetsSpec plan;
    plan.objects.push_back({128, "glyphs", body});
    plan.objects.push_back(
        {128, "toolong",
         Concat(Words({0, 0, 0, 0x322F534F, 0, 0, 0, 0, 0, 0, 0, 0, 50}), Words({0, 0, 0}))});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[0], "glyphs.ttf");
    EXPECT_EQ(file.items.rows[0].PayloadOffset, 56 + 16 + 4u);
    EXPECT_EQ(file.items.rows[0].PayloadSize, 6u);
    EXPECT_EQ(file.items.ExportName[1], "toolong.font_raw");
}

TEST(ItemTable, MovieTextures) {
    auto movie = [](uint32_t at) {
        std::vector<uint8_t> body = Words({0, 0, 0, 0, 0, 0});
        const uint32_t sizeAt = at - 4;
        body[sizeAt] = 4;
        body.resize(at);
        body = Concat(body, {'O', 'g', 'g', 'S'});
        return body;
    };
    AssetsSpec plan;
    plan.objects.push_back({152, "m16", movie(16)});
    plan.objects.push_back({152, "m20", movie(20)});
    plan.objects.push_back({152, "none", Words({0, 0, 0, 0, 0, 0, 0})});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[0], "m16.ogm");
    EXPECT_EQ(file.items.rows[0].PayloadOffset, 16u);
    EXPECT_EQ(file.items.rows[0].PayloadSize, 4u);
    EXPECT_EQ(file.items.rows[1].PayloadOffset, 20u);
    EXPECT_EQ(file.items.rows[1].PayloadSize, 4u);
    EXPECT_EQ(file.items.rows[2].PayloadSize, 0u);
    EXPECT_FALSE(HasInnerPayload(152, file.items.rows[2].PayloadSize));
}

TEST(ItemTable, TextureFormats) {
    AssetsSpec plan;
    plan.objects.push_back({28, "t", Texture(12)});
    plan.objects.push_back({89, "sky", Texture(34)});
    plan.objects.push_back({186, "proc", Concat(Words({0, 0, 0, 0}), Words({47, 0, 0}))});
    plan.objects.push_back({28, "short", Words({1, 1})});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.types[0].name, "Texture2D id: 12 - DXT5");
    EXPECT_EQ(file.items.types[0].TextureFormat, 12);
    EXPECT_EQ(file.items.types[1].name, "Cubemap id: 34 - ETC_RGB4");
    EXPECT_EQ(file.items.types[2].name, "ProceduralTexture id: 47 - ETC2_RGBA8");
    EXPECT_EQ(file.items.types[2].TextureFormat, 47);
    EXPECT_EQ(file.items.ExportName[2], "proc.ptex");
    // Too short to hold a format: read as none.
    EXPECT_EQ(file.items.types[3].name, "Texture2D id: 0 - UNKNOW_FORMAT");
    EXPECT_EQ(file.items.listRows[0].typeText, " (Texture2D id: 12 - DXT5)");
}

TEST(ItemTable, NameRunningPastTheObjectIsNoName) {
    AssetsSpec plan;
    // Length 9 fits the object (4 + 9 bytes) but its padding to 12 does not.
    plan.objects.push_back(
        {49, std::nullopt, Concat(Words({9}), {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'})});
    plan.objects.push_back({28, std::nullopt, Words({200, 0})});
    const AssetsFile file = Parse(plan);
    EXPECT_EQ(file.items.ExportName[0], "level0_00001.txt");
    EXPECT_EQ(file.items.rows[0].NameHeaderSize, 0u);
    EXPECT_EQ(file.items.ExportName[1], "level0_00001.tex");
    EXPECT_EQ(file.items.listRows[1].size, 8u);
}

TEST(ItemTable, ListRowsFollowAPermutation) {
    AssetsSpec plan;
    plan.objects.push_back({49, "first", TextBody("1")});
    plan.objects.push_back({1, std::nullopt, {0, 0, 0, 0, 0, 0, 0, 0}});
    AssetsFile file = Parse(plan);
    ASSERT_EQ(file.items.listRows.size(), 2u);
    EXPECT_EQ(file.items.listRows[1].number, 2u);
    EXPECT_EQ(file.items.listRows[1].size, 8u);
    FillListRow(file, 0, 1);
    FillListRow(file, 1, 0);
    EXPECT_EQ(file.items.listRows[0].number, 2u);
    EXPECT_EQ(file.items.listRows[0].name, "level0_00001.1");
    EXPECT_EQ(file.items.listRows[0].typeId, 1);
    EXPECT_EQ(file.items.listRows[0].typeText, " (GameObject)");
    EXPECT_EQ(file.items.listRows[1].number, 1u);
    EXPECT_EQ(file.items.listRows[1].name, "first.txt");
}

TEST(ItemTable, HasInnerPayload) {
    EXPECT_TRUE(HasInnerPayload(48, 0));
    EXPECT_TRUE(HasInnerPayload(49, 0));
    EXPECT_FALSE(HasInnerPayload(128, 0));
    EXPECT_TRUE(HasInnerPayload(128, 5));
    EXPECT_FALSE(HasInnerPayload(152, 0));
    EXPECT_TRUE(HasInnerPayload(152, 1));
    EXPECT_FALSE(HasInnerPayload(28, 9));
    EXPECT_FALSE(HasInnerPayload(-49, 9));
}

TEST(ItemTable, ListRowsAndProgressOnlyForTheWindow) {
    AssetsSpec plan;
    for (int i = 0; i < 300; ++i)
        plan.objects.push_back({49, "t", TextBody("x")});
    const std::vector<uint8_t> bytes = BuildAssetsFile(plan);
    RecordedMessages reporter;
    ParseOptions options;
    options.innerFileName = "level0";
    options.reporter = &reporter;
    const AssetsFile console = ParseAssets(std::make_shared<MemorySource>("a", bytes), 0, options);
    EXPECT_TRUE(console.items.listRows.empty());
    EXPECT_TRUE(reporter.percents.empty());
    EXPECT_EQ(reporter.breaths, 0);

    options.fillListRows = true;
    const AssetsFile window = ParseAssets(std::make_shared<MemorySource>("a", bytes), 0, options);
    EXPECT_EQ(window.items.listRows.size(), 300u);
    ASSERT_FALSE(reporter.percents.empty());
    EXPECT_EQ(reporter.percents.back(), 100);
    EXPECT_LE(reporter.percents.size(), 101u);
    EXPECT_TRUE(std::is_sorted(reporter.percents.begin(), reporter.percents.end()));
    EXPECT_GT(reporter.breaths, 0);
    EXPECT_EQ(window.items.ExportName[299], "t_00299.txt");
    EXPECT_TRUE(reporter.alerts.empty());
}

// The same objects written in either byte order give the same item table.
TEST(ItemTable, BigEndianMatchesLittleEndian) {
    for (int format : {9, 14, 15}) {
        for (bool typeTrees : {false, true}) {
            SCOPED_TRACE(std::to_string(format) + (typeTrees ? " with type trees" : ""));
            AssetsFile files[2];
            for (bool big : {false, true}) {
                AssetsSpec plan;
                plan.formatVersion = format;
                plan.typeTrees = typeTrees;
                plan.bigEndian = big;
                const Endian order = plan.Order();
                plan.objects.push_back({28, "tex", Texture(12, order)});
                plan.objects.push_back({49, "doc", TextBody("<?xml?>", order)});
                plan.objects.push_back({128, "font", FontBody({1, 2, 3}, order)});
                plan.objects.push_back({1, std::nullopt, {1, 2, 3, 4}});
                plan.objects.push_back({-2, std::nullopt, {1, 2, 3, 4}});
                plan.objects.push_back(
                    {186, "p", Concat(Words({0}, order), Words({3, 0, 0}, order))});
                plan.objects.push_back({28, "TEX", Texture(10, order)});
                files[big] = Parse(plan);
            }
            const ItemTable& le = files[0].items;
            const ItemTable& be = files[1].items;
            ASSERT_EQ(le.Count(), 7u);
            ASSERT_EQ(be.Count(), 7u);
            EXPECT_EQ(le.ExportName[6], "TEX_00001.tex");
            EXPECT_EQ(le.ExportName[2], "font.ttf");
            EXPECT_EQ(le.types[5].name, "ProceduralTexture id: 3 - RGB24");
            for (size_t i = 0; i < 7; ++i) {
                EXPECT_EQ(le.ExportName[i], be.ExportName[i]) << i;
                EXPECT_EQ(le.types[i].name, be.types[i].name) << i;
                EXPECT_EQ(le.rows[i].ClassID, be.rows[i].ClassID) << i;
                EXPECT_EQ(le.rows[i].NameHeaderSize, be.rows[i].NameHeaderSize) << i;
                EXPECT_EQ(le.rows[i].PayloadOffset, be.rows[i].PayloadOffset) << i;
                EXPECT_EQ(le.rows[i].PayloadSize, be.rows[i].PayloadSize) << i;
                EXPECT_EQ(le.listRows[i].size, be.listRows[i].size) << i;
                EXPECT_EQ(le.listRows[i].offset, be.listRows[i].offset) << i;
            }
        }
    }
}

} // namespace
