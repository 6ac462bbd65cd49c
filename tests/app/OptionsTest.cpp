#include "app/Options.h"
#include "session/ExportDriver.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

RunOptions Parse(std::vector<std::string> params) {
    RunOptions s;
    bool missing = false;
    EXPECT_EQ(ReadOptions(s, params, missing), "");
    return s;
}

std::string ErrorOf(std::vector<std::string> params, bool& missing) {
    RunOptions s;
    return ReadOptions(s, params, missing);
}

TEST(Options, TypeListIsLowerCasedSplitAndMapped) {
    RunOptions s = Parse({"export", "a.assets", "-t", "TEX,dds"});
    ASSERT_TRUE(s.typeFilterActive);
    EXPECT_EQ(s.typeFilter, (std::vector<std::string>{"tex", "dds"}));
    ApplyTypeNames(s);
    // "dds" appends 89 and 186; the appended entries are not looked up again.
    EXPECT_EQ(s.typeFilter, (std::vector<std::string>{"28", "28", "89", "186"}));
    EXPECT_TRUE(s.Writes(kOutRawTextures));
    EXPECT_TRUE(s.Writes(kOutDds));
    EXPECT_TRUE(s.Writes(kOutConvert));
    EXPECT_FALSE(s.Writes(kOutCrn));
    EXPECT_FALSE(s.Writes(kOutPvr));
    EXPECT_FALSE(s.Writes(kOutKtx));
    EXPECT_FALSE(s.Writes(kOutObj));
}

TEST(Options, UnknownWordsStayAndNamesAreCaseInsensitive) {
    RunOptions s = Parse({"export", "a", "-t", "PhysMat2D, 114 ,foo"});
    ApplyTypeNames(s);
    EXPECT_EQ(s.typeFilter, (std::vector<std::string>{"62", "114", "foo"}));
    EXPECT_FALSE(s.Writes(kOutConvert));
}

TEST(Options, RawOnlyWordsRunNoConverter) {
    RunOptions s = Parse({"export", "a", "-t", "tex"});
    ApplyTypeNames(s);
    EXPECT_TRUE(s.Writes(kOutRawTextures));
    EXPECT_FALSE(s.Writes(kOutConvert));
    EXPECT_FALSE(s.Writes(kOutDds));

    RunOptions audio = Parse({"export", "a", "-t", "ogg,snd,obj,ktx"});
    ApplyTypeNames(audio);
    EXPECT_EQ(audio.typeFilter, (std::vector<std::string>{"83", "83", "43", "28"}));
    EXPECT_TRUE(audio.Writes(kOutConvert));
    EXPECT_TRUE(audio.Writes(kOutRawAudio));
    EXPECT_TRUE(audio.Writes(kOutObj));
    EXPECT_TRUE(audio.Writes(kOutKtx));
    EXPECT_FALSE(audio.Writes(kOutRawMesh));
}

TEST(Options, LaterTypeListReplacesEarlierOne) {
    RunOptions s = Parse({"export", "a", "-t", "tex", "-t", "mesh"});
    EXPECT_EQ(s.typeFilter, (std::vector<std::string>{"mesh"}));
}

TEST(Options, UnknownOptionsAndMissingValuesAreUsageErrors) {
    bool missing = false;
    for (const char* option : {"-t", "-P", "-e"}) {
        EXPECT_EQ(ErrorOf({"export", "a", option}, missing), ToLowerAscii(option));
        EXPECT_TRUE(missing);
    }
    EXPECT_EQ(ErrorOf({"export", "a", "-f", "-zzz"}, missing), "-zzz");
    EXPECT_FALSE(missing);
    // The archive position is never read as an option.
    RunOptions archiveNamedLikeOption;
    EXPECT_EQ(ReadOptions(archiveNamedLikeOption, {"export", "-t", "tex"}, missing), "tex");
    EXPECT_FALSE(archiveNamedLikeOption.typeFilterActive);
}

TEST(Options, PathFlagsAndEntry) {
    RunOptions s = Parse({"EXPORT", "a", "-P", "/out/Dir", "-F", "-No_Flip_Texture", "-e", "2"});
    EXPECT_EQ(s.outputDir, "/out/Dir/"); // the separator is added, the case kept
    EXPECT_TRUE(s.fontAsObject);
    EXPECT_TRUE(s.noFlipTexture);
    EXPECT_EQ(s.entry.index, 2u);
    EXPECT_TRUE(s.entry.given);
    EXPECT_FALSE(s.entry.name.has_value());

    RunOptions named = Parse({"list", "a", "-e", "CAB-1234", "-p", "/x/"});
    ASSERT_TRUE(named.entry.name.has_value());
    EXPECT_EQ(*named.entry.name, "CAB-1234");
    EXPECT_EQ(named.outputDir, "/x/");
    EXPECT_FALSE(named.fontAsObject);
}

TEST(Options, ExportAllSwitchesLeaveKtxOff) {
    RunOptions s;
    s.outputs = kOutEverything; // an export without -t
    EXPECT_TRUE(s.Writes(kOutConvert) && s.Writes(kOutRawTextures) && s.Writes(kOutDds) &&
                s.Writes(kOutCrn) && s.Writes(kOutPvr) && s.Writes(kOutRawAudio) &&
                s.Writes(kOutRawMesh) && s.Writes(kOutObj));
    EXPECT_FALSE(s.Writes(kOutKtx));
}

TEST(Options, TypeFilterMatchesScriptsThrough114) {
    RunOptions s = Parse({"export", "a", "-t", "114"});
    ApplyTypeNames(s);
    EXPECT_TRUE(PassesTypeFilter(s, 114));
    EXPECT_TRUE(PassesTypeFilter(s, -3));
    EXPECT_FALSE(PassesTypeFilter(s, 28));
    RunOptions none;
    EXPECT_TRUE(PassesTypeFilter(none, 28));
    RunOptions tex = Parse({"export", "a", "-t", "28"});
    EXPECT_FALSE(PassesTypeFilter(tex, -28));
}

} // namespace

namespace {

TEST(Options, PngFormatTakesUncompressedEncodedFormatsByNameOrNumber) {
    struct Case {
        const char* value;
        int32_t format; // 0: refused
    };
    for (const Case c : {Case{"RGBA32", 4}, Case{"rgbahalf", 17}, Case{"4", 4}, Case{"BGRA32", 14},
                         Case{"R8", 63}, Case{"Alpha8", 1}, Case{"RGBAFloat", 20}, Case{"DXT5", 0},
                         Case{"12", 0}, Case{"PVRTC_RGB4", 0}, Case{"rgba", 0}}) {
        SCOPED_TRACE(c.value);
        RunOptions s;
        bool missing = false;
        const std::string wrong =
            ReadOptions(s, {"import", "a", "--PNG-format", c.value, "-f"}, missing);
        if (c.format != 0) {
            EXPECT_EQ(wrong, "");
            EXPECT_EQ(s.pngFormat, c.format);
            EXPECT_TRUE(s.fontAsObject);
        } else {
            EXPECT_EQ(wrong, "--png-format");
            EXPECT_TRUE(missing);
            EXPECT_EQ(s.pngFormat, 0);
        }
    }
}

TEST(Options, WorkersAreACountFrom1To1024) {
    struct Case {
        const char* value;
        unsigned jobs; // 0: refused
    };
    for (const Case c : {Case{"1", 1}, Case{"2", 2}, Case{"1024", 1024}, Case{"0", 0},
                         Case{"1025", 0}, Case{"-1", 0}, Case{"2x", 0}, Case{"", 0}}) {
        SCOPED_TRACE(c.value);
        RunOptions s;
        bool missing = false;
        const std::string wrong =
            ReadOptions(s, {"export", "game", "-J", c.value, "--keep-catalog"}, missing);
        EXPECT_EQ(wrong, c.jobs != 0 ? "" : "-j");
        EXPECT_EQ(missing, c.jobs == 0);
        EXPECT_EQ(s.jobs, c.jobs);
        EXPECT_EQ(s.keepCatalog, c.jobs != 0);
    }
    for (const char* level : {"0", "9", "10", "-1", "x"}) {
        RunOptions s;
        bool missing = false;
        const bool good = std::string(level).size() == 1 && level[0] != 'x';
        EXPECT_EQ(ReadOptions(s, {"export", "a", "--png-level", level}, missing),
                  good ? "" : "--png-level");
        EXPECT_EQ(s.pngLevel, good ? level[0] - '0' : 1) << level;
    }
}

} // namespace
