#include "app/Options.h"
#include "session/ExportDriver.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

KestrelState Parse(std::vector<std::string> params) {
    KestrelState s;
    bool missing = false;
    EXPECT_EQ(ReadOptions(s, params, missing), "");
    return s;
}

std::string ErrorOf(std::vector<std::string> params, bool& missing) {
    KestrelState s;
    return ReadOptions(s, params, missing);
}

TEST(Options, TypeListIsLowerCasedSplitAndMapped) {
    KestrelState s = Parse({"export", "a.assets", "-t", "TEX,dds"});
    ASSERT_TRUE(s.TypeFilterActive);
    EXPECT_EQ(s.TypeFilter, (std::vector<std::string>{"tex", "dds"}));
    ApplyTypeNames(s);
    // "dds" appends 89 and 186; the appended entries are not looked up again.
    EXPECT_EQ(s.TypeFilter, (std::vector<std::string>{"28", "28", "89", "186"}));
    EXPECT_TRUE(s.ExportRawTextures);
    EXPECT_TRUE(s.ExportDDS);
    EXPECT_TRUE(s.ExportConvert);
    EXPECT_FALSE(s.ExportCRN);
    EXPECT_FALSE(s.ExportPVR);
    EXPECT_FALSE(s.ExportKTX);
    EXPECT_FALSE(s.ExportOBJ);
}

TEST(Options, UnknownWordsStayAndNamesAreCaseInsensitive) {
    KestrelState s = Parse({"export", "a", "-t", "PhysMat2D, 114 ,foo"});
    ApplyTypeNames(s);
    EXPECT_EQ(s.TypeFilter, (std::vector<std::string>{"62", "114", "foo"}));
    EXPECT_FALSE(s.ExportConvert);
}

TEST(Options, RawOnlyWordsRunNoConverter) {
    KestrelState s = Parse({"export", "a", "-t", "tex"});
    ApplyTypeNames(s);
    EXPECT_TRUE(s.ExportRawTextures);
    EXPECT_FALSE(s.ExportConvert);
    EXPECT_FALSE(s.ExportDDS);

    KestrelState audio = Parse({"export", "a", "-t", "ogg,snd,obj,ktx"});
    ApplyTypeNames(audio);
    EXPECT_EQ(audio.TypeFilter, (std::vector<std::string>{"83", "83", "43", "28"}));
    EXPECT_TRUE(audio.ExportConvert);
    EXPECT_TRUE(audio.ExportRawAudio);
    EXPECT_TRUE(audio.ExportOBJ);
    EXPECT_TRUE(audio.ExportKTX);
    EXPECT_FALSE(audio.ExportRawMesh);
}

TEST(Options, LaterTypeListReplacesEarlierOne) {
    KestrelState s = Parse({"export", "a", "-t", "tex", "-t", "mesh"});
    EXPECT_EQ(s.TypeFilter, (std::vector<std::string>{"mesh"}));
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
    KestrelState archiveNamedLikeOption;
    EXPECT_EQ(ReadOptions(archiveNamedLikeOption, {"export", "-t", "tex"}, missing), "tex");
    EXPECT_FALSE(archiveNamedLikeOption.TypeFilterActive);
}

TEST(Options, PathFlagsAndEntry) {
    KestrelState s = Parse({"EXPORT", "a", "-P", "/out/Dir", "-F", "-No_Flip_Texture", "-e", "2"});
    EXPECT_TRUE(s.CustomPathGiven);
    EXPECT_EQ(s.CustomPath, "/out/Dir/"); // the separator is added, the case kept
    EXPECT_TRUE(s.FontAsObject);
    EXPECT_TRUE(s.NoFlipTexture);
    EXPECT_EQ(s.SelectedEntry.index, 2u);
    EXPECT_FALSE(s.SelectedEntry.name.has_value());

    KestrelState named = Parse({"list", "a", "-e", "CAB-1234", "-p", "/x/"});
    ASSERT_TRUE(named.SelectedEntry.name.has_value());
    EXPECT_EQ(*named.SelectedEntry.name, "CAB-1234");
    EXPECT_EQ(named.CustomPath, "/x/");
    EXPECT_FALSE(named.FontAsObject);
}

TEST(Options, ExportAllSwitchesLeaveKtxOff) {
    KestrelState s;
    SetExportAllSwitches(s);
    EXPECT_TRUE(s.ExportConvert && s.ExportRawTextures && s.ExportDDS && s.ExportCRN &&
                s.ExportPVR && s.ExportRawAudio && s.ExportRawMesh && s.ExportOBJ);
    EXPECT_FALSE(s.ExportKTX);
}

TEST(Options, TypeFilterMatchesScriptsThrough114) {
    KestrelState s = Parse({"export", "a", "-t", "114"});
    ApplyTypeNames(s);
    EXPECT_TRUE(PassesTypeFilter(s, 114));
    EXPECT_TRUE(PassesTypeFilter(s, -3));
    EXPECT_FALSE(PassesTypeFilter(s, 28));
    KestrelState none;
    EXPECT_TRUE(PassesTypeFilter(none, 28));
    KestrelState tex = Parse({"export", "a", "-t", "28"});
    EXPECT_FALSE(PassesTypeFilter(tex, -28));
}

} // namespace
