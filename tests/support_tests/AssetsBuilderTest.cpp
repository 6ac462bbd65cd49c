#include "support/AssetsBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

TEST(AssetsBuilder, Format15LittleEndianBytes) {
    AssetsSpec plan;
    plan.objects.push_back({49, "a", TextBody("hi")});
    const BuiltAssets built = BuildAssets(plan);
    const std::vector<uint8_t> expected = FromHex(
        // metadata size, file size, format, data offset, endianness
        "00000051 00000080 0000000F 00000070 00000000"
        // engine version, platform, type tree flag, type count
        "352E342E31663100 05000000 00 01000000"
        // class 49 and its type hash
        "31000000 01000000000000000000000000000001"
        // object count, alignment
        "01000000 000000"
        // path ID, start, size, type ID, class ID and script index, stripped
        "0100000000000000 00000000 10000000 31000000 3100FFFF 00000000"
        // script types, externals, user information, padding to the data area
        "00000000 00000000 00 0000000000000000000000"
        // name "a", text "hi"
        "01000000 61000000 02000000 68690000");
    EXPECT_EQ(built.bytes, expected);
    EXPECT_EQ(built.objectCountPos, 57u);
    EXPECT_EQ(built.tableStart, 64u);
    EXPECT_EQ(built.dataOffset, 0x70u);
}

TEST(AssetsBuilder, Format9BigEndianBytes) {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.bigEndian = true;
    plan.engineVersion = "4.3.4f1";
    plan.objects.push_back({1, std::nullopt, {0xAA, 0xBB, 0xCC, 0xDD}});
    const std::vector<uint8_t> expected =
        FromHex("00000031 00000054 00000009 00000050 01000000"
                // engine version, platform, type count, path ID width word, object count
                "342E332E34663100 00000005 00000000 00000000 00000001"
                // path ID, start, size, type ID, class ID and destroyed flag
                "00000001 00000000 00000004 00000001 00010000"
                // externals, user information, padding
                "00000000 00 0000000000000000000000"
                "AABBCCDD");
    EXPECT_EQ(BuildAssetsFile(plan), expected);
}

TEST(AssetsBuilder, ObjectsStartOnMultiplesOfEight) {
    AssetsSpec plan;
    plan.objects.push_back({49, "abc", TextBody("x")});
    plan.objects.push_back({1, std::nullopt, {1, 2, 3, 4}});
    plan.objects.push_back({49, "b", TextBody("yz")});
    const BuiltAssets built = BuildAssets(plan);
    ASSERT_EQ(built.objectOffsets.size(), 3u);
    EXPECT_EQ(built.objectOffsets[0], 0u);
    EXPECT_EQ(built.objectSizes[0], 16u);
    EXPECT_EQ(built.objectOffsets[1], 16u);
    EXPECT_EQ(built.objectOffsets[2], 24u);
    EXPECT_EQ(built.dataOffset % 16, 0u);
    EXPECT_EQ(built.bytes.size(), built.dataOffset + 24u + built.objectSizes[2]);
}

TEST(AssetsBuilder, BodyHelpers) {
    EXPECT_EQ(TextBody("abcde", Endian::Big), FromHex("00000005 6162636465000000"));
    EXPECT_EQ(FontBody({7}, Endian::Little),
              FromHex("00000000000000000000000000000000 00000000000000000000000000000000"
                      "CDCCCC3D 01000000 07000000 00000000000000000000000000000000"));
    TextureSpec texture;
    texture.format = 12;
    texture.imageData = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(TextureBody(texture),
              FromHex("04000000 04000000 08000000 0C000000 01000000 00010000 01000000"
                      "02000000 01000000 01000000 00000000 00000000 00000000 01000000"
                      "08000000 0102030405060708"));
}

} // namespace
