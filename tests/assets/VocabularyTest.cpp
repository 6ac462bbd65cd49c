#include "assets/Vocabulary.h"
#include "texture/TextureFormats.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

TEST(Vocabulary, ClassNames) {
    EXPECT_EQ(ClassName(114), "MonoBehaviour");
    EXPECT_EQ(ClassName(1), "GameObject");
    EXPECT_EQ(ClassName(28), "Texture2D");
    EXPECT_EQ(ClassName(1120), "LightmapSnapshot");
    EXPECT_EQ(ClassName(-3), "MonoBehaviour id: 114");
    EXPECT_EQ(ClassName(0), "MonoBehaviour id: 114");
    EXPECT_EQ(ClassName(7), "UNKNOW_TYPE");
    EXPECT_EQ(ClassName(5000), "UNKNOW_TYPE");
    EXPECT_EQ(ClassName(1121), "UNKNOW_TYPE");
}

TEST(Vocabulary, ClassTableHas235Entries) {
    int named = 0;
    for (int32_t id = 1; id <= 1120; ++id)
        named += ClassName(id) != "UNKNOW_TYPE";
    EXPECT_EQ(named, 235);
}

TEST(Vocabulary, TextureFormatNames) {
    EXPECT_EQ(TextureFormatName(12), "id: 12 - DXT5");
    EXPECT_EQ(TextureFormatName(0), "id: 0 - UNKNOW_FORMAT");
    EXPECT_EQ(TextureFormatName(62), "id: 62 - UNKNOW_FORMAT");
    EXPECT_EQ(TextureFormatName(-1), "id: -1 - UNKNOW_FORMAT");
    EXPECT_EQ(TextureFormatName(1), "id: 1 - Alpha8");
    EXPECT_EQ(TextureFormatName(61), "id: 61 - ETC_RGBA8_3DS");
    EXPECT_EQ(TextureFormatShortName(6), "UNUSED06");
    EXPECT_EQ(TextureFormatShortName(34), "ETC_RGB4");
    EXPECT_EQ(TextureFormatShortName(INT32_MIN), "UNKNOW_FORMAT");
}

TEST(Vocabulary, PlatformNames) {
    EXPECT_EQ(PlatformName(3), "");
    EXPECT_EQ(PlatformName(28), "BlackBerry");
    EXPECT_EQ(PlatformName(2), "MAC_OS_X_universal");
    EXPECT_EQ(PlatformName(0xFFFFFFFEu), "");
}

TEST(Vocabulary, TextureFormatSupportsSpotChecks) {
    EXPECT_FALSE(TextureFormatSupports(12, 3));
    EXPECT_TRUE(TextureFormatSupports(34, 4));
    EXPECT_FALSE(TextureFormatSupports(62, 0));
    EXPECT_TRUE(TextureFormatSupports(28, 2));
    EXPECT_FALSE(TextureFormatSupports(28, 1));
    EXPECT_TRUE(TextureFormatSupports(21, 4));
    EXPECT_FALSE(TextureFormatSupports(21, 3));
    EXPECT_TRUE(TextureFormatSupports(36, 3));
    EXPECT_FALSE(TextureFormatSupports(36, 4));
    EXPECT_FALSE(TextureFormatSupports(-1, 0));
    EXPECT_FALSE(TextureFormatSupports(12, 5));
}

// The allowed kinds per format, row by row of the format table: one set per group of formats.
TEST(Vocabulary, TextureFormatSupportsWholeTable) {
    auto kinds = [](int32_t format) {
        std::string out;
        for (uint8_t kind = 0; kind <= 4; ++kind) {
            if (TextureFormatSupports(format, kind)) out += static_cast<char>('0' + kind);
        }
        return out;
    };
    for (int32_t f : {1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 24, 25, 26, 27, 37})
        EXPECT_EQ(kinds(f), "01") << f;
    for (int32_t f : {28, 29, 64, 65})
        EXPECT_EQ(kinds(f), "02") << f;
    EXPECT_EQ(kinds(21), "04");
    for (int32_t f : {30, 31, 32, 33, 34, 41, 42, 43, 44, 45, 46, 47, 48, 59, 60, 61, 66, 71}) {
        EXPECT_EQ(kinds(f), "034") << f;
    }
    for (int32_t f : {35, 36})
        EXPECT_EQ(kinds(f), "013") << f;
    for (int32_t f : {0, 6, 8, 15, 16, 17, 18, 19, 20, 22, 23, 38, 39, 40, 62, 63, 72, -5}) {
        EXPECT_EQ(kinds(f), "") << f;
    }
}

TEST(Vocabulary, Extensions) {
    EXPECT_EQ(ExtensionForClass(28), ".tex");
    EXPECT_EQ(ExtensionForClass(62), ".physmat2D");
    EXPECT_EQ(ExtensionForClass(245), ".amsc");
    EXPECT_EQ(ExtensionForClass(1), "");
    EXPECT_EQ(ExtensionForClass(114), "");
    EXPECT_EQ(ExtensionForClass(-28), "");
    int withExtension = 0;
    for (int32_t id = 0; id < 300; ++id)
        withExtension += !ExtensionForClass(id).empty();
    EXPECT_EQ(withExtension, 27);
}

// Files of format 16 and later name the classes of the current engines; the older table stays
// as it was for the older files.
TEST(Vocabulary, ModernClassNamesAddTheCurrentEnginesClasses) {
    EXPECT_EQ(ModernClassName(329), "VideoClip");
    EXPECT_EQ(ModernClassName(687078895), "SpriteAtlas");
    EXPECT_EQ(ModernClassName(1001), "PrefabInstance");
    EXPECT_EQ(ClassName(1001), "Prefab");
    EXPECT_EQ(ClassName(329), "UNKNOW_TYPE");
    EXPECT_EQ(ModernClassName(28), "Texture2D");
    EXPECT_EQ(ModernClassName(5000), "UNKNOW_TYPE");
    EXPECT_TRUE(BeginsWithName(49));
    EXPECT_TRUE(BeginsWithName(329));
    EXPECT_FALSE(BeginsWithName(114));
    EXPECT_FALSE(BeginsWithName(1));
}

} // namespace
