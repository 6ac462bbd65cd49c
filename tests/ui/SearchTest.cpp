#include "ui/Search.h"
#include "ui/Sorting.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::ui;

namespace {

std::shared_ptr<MemorySource> BytesWithTextAt(size_t size, uint64_t at, const std::string& text) {
    std::vector<uint8_t> bytes(size, '.');
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<long>(at));
    return std::make_shared<MemorySource>("object", std::move(bytes));
}

} // namespace

TEST(SearchObjectData, FindsTextAcrossEveryChunkBorderPosition) {
    const std::string text = "needle";
    // The text starts before, across and after the border of the first two chunks.
    for (uint64_t at : {kSearchChunk - 6, kSearchChunk - 5, kSearchChunk - 1, kSearchChunk,
                        2 * kSearchChunk - 3}) {
        const auto source = BytesWithTextAt(2 * kSearchChunk + 100, at, text);
        EXPECT_TRUE(SearchObjectData(*source, text, 0, source->Size())) << at;
        // The range ends one byte before the end of the text: not found.
        EXPECT_FALSE(SearchObjectData(*source, text, 0, at + text.size() - 1)) << at;
        EXPECT_FALSE(SearchObjectData(*source, text, at + 1, source->Size())) << at;
    }
}

TEST(SearchObjectData, EmptyRangesTextsAndOverlongTextsNeverMatch) {
    const auto source = BytesWithTextAt(100, 10, "abc");
    EXPECT_FALSE(SearchObjectData(*source, "abc", 10, 10));
    EXPECT_FALSE(SearchObjectData(*source, "", 0, 100));
    const std::string overlong(kSearchChunk + 1, '.');
    const auto big = BytesWithTextAt(kSearchChunk + 10, 0, overlong);
    EXPECT_FALSE(SearchObjectData(*big, overlong, 0, big->Size()));
    // A range beyond the end of the file ends at the end of the file.
    EXPECT_TRUE(SearchObjectData(*source, "abc", 0, 1u << 30));
}

TEST(SearchRows, ContentSearchSkipsTexturesSoundsFontsAndMovies) {
    for (int32_t typeId : {27, 28, 83, 128, 152})
        EXPECT_TRUE(NeverSearchedByContent(typeId)) << typeId;
    for (int32_t typeId : {1, 48, 49, 114, -1})
        EXPECT_FALSE(NeverSearchedByContent(typeId)) << typeId;
}

TEST(SearchRows, NameMatchUpperCasesOnlyAsciiLetters) {
    struct Case {
        const char* name;
        const char* text;
        bool matchCase;
        bool expected;
    };
    const Case cases[] = {
        {"Alpha.tex", "alpha", false, true},
        {"Alpha.tex", "alpha", true, false},
        {"ALPHABET.txt", "alpha", false, true},
        {"beta.mat", "alpha", false, false},
        {"Alpha.tex", "", false, false},
        {"Ärger", "ä", false, false},
        {"Ärger", "Är", true, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameMatches(c.name, c.text, c.matchCase), c.expected) << c.name << " " << c.text;
}

TEST(SearchRows, FindRowWrapsOnlyWithLoopAndTestsEachRowOnce) {
    std::vector<TColumns_ListView> rows(3);
    rows[0].name = "Alpha.tex";
    rows[1].name = "beta.mat";
    rows[2].name = "ALPHABET.txt";
    SearchQuery q{"alpha", false, false, false};
    EXPECT_EQ(FindRow(rows, 3, nullptr, 0, false, q), 0u);
    EXPECT_EQ(FindRow(rows, 3, nullptr, 1, false, q), 2u);
    EXPECT_EQ(FindRow(rows, 3, nullptr, 3, false, q), std::nullopt);
    EXPECT_EQ(FindRow(rows, 3, nullptr, -1, true, q), std::nullopt);
    q.loop = true;
    EXPECT_EQ(FindRow(rows, 3, nullptr, 3, false, q), 0u);
    EXPECT_EQ(FindRow(rows, 3, nullptr, -1, true, q), 2u);
    q.text = "beta";
    EXPECT_EQ(FindRow(rows, 3, nullptr, 2, false, q), 1u);
    q.text = "gamma";
    // Every start, both directions: all rows tested once, then none.
    for (long long start = -1; start <= 3; ++start) {
        EXPECT_EQ(FindRow(rows, 3, nullptr, start, false, q), std::nullopt);
        EXPECT_EQ(FindRow(rows, 3, nullptr, start, true, q), std::nullopt);
    }
}
