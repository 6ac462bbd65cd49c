#include "session/ExportDriver.h"
#include "assets/AssetsParser.h"
#include "io/SafePath.h"
#include "io/Writer.h"
#include "session/Archive.h"
#include "support/RecordedMessages.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// A working file whose data area holds the given objects one after another (each: a name field
// when `named`, then its body) and a matching item table.
struct Fixture {
    kestrel::test::TempDir dir;
    RunOptions options;
    ParsedInnerFile inner;
    kestrel::test::RecordedMessages reporter;
    std::string workFileName;
    std::unique_ptr<Archive> archive;
    Writer data{Endian::Little};

    Fixture() {
        options.outputDir = dir.Path().string() + "/";
        inner.name = inner.dirName = "arc";
        workFileName = (dir / "arc.assets").string();
        data.Zeros(16); // stands in for the header; objects start after it
        inner.assets.DataOffset = 0;
    }

    void Add(int32_t classId, const std::string& exportName, const std::vector<uint8_t>& body,
             uint32_t nameHeader = 0, uint32_t payloadOffset = 0, uint32_t payloadSize = 0,
             int32_t textureFormat = 0) {
        ObjectRow row;
        row.ClassID = classId;
        row.ObjOffset = static_cast<uint32_t>(data.Size());
        data.Zeros(nameHeader);
        data.Bytes(body.data(), body.size());
        row.ObjSize = static_cast<uint32_t>(nameHeader + body.size());
        row.NameHeaderSize = nameHeader;
        row.PayloadOffset = payloadOffset;
        row.PayloadSize = payloadSize;
        inner.Items().rows.push_back(row);
        inner.Items().ExportName.push_back(exportName);
        inner.Items().types.push_back(TType_info{"", textureFormat});
    }

    size_t Export() {
        kestrel::test::WriteFileBytes(workFileName, data.Data());
        archive = Archive::Open(workFileName, reporter);
        inner.size = archive->Work()->Size();
        const InnerScope scope{*archive, inner, options, reporter};
        return ExportObjects(scope, ExportedObjects(inner, options, false)).failed;
    }

    fs::path Out(const std::string& name) const { return dir / ("Unity_Assets_Files/arc/" + name); }
};

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(ExportDriver, RawFilesHoldTheBytesAfterTheNameField) {
    Fixture f;
    f.options.outputs |= kOutConvert;
    f.Add(1, "level0_00001.1", Bytes("gameobject"));
    f.Add(21, "steel.mat", Bytes("material"), 8);
    f.Add(21, "empty.mat", {}, 8); // ends right after its name: an empty raw file
    EXPECT_EQ(f.Export(), 0u);
    EXPECT_EQ(kestrel::test::ReadFileText(f.Out("level0_00001.1")), "gameobject");
    EXPECT_EQ(kestrel::test::ReadFileText(f.Out("steel.mat")), "material");
    ASSERT_TRUE(fs::exists(f.Out("empty.mat")));
    EXPECT_EQ(fs::file_size(f.Out("empty.mat")), 0u);
    // One progress line per item: the export tree path of the item.
    ASSERT_EQ(f.reporter.lines.size(), 3u);
    EXPECT_EQ(f.reporter.lines[1], f.options.outputDir + "Unity_Assets_Files/arc/steel.mat");
}

TEST(ExportDriver, PayloadObjectsWriteTheirPayloadOnly) {
    Fixture f;
    Writer text(Endian::Little);
    text.U32(5);
    text.Bytes("hello");
    f.Add(49, "readme.txt", text.Data(), 8, 4, 5);
    f.Add(49, "blank.txt", {0, 0, 0, 0}, 8, 4, 0);     // empty payload: no file at all
    f.Add(128, "font.font_raw", Bytes("fontdata"), 8); // font without payload: raw file
    EXPECT_EQ(f.Export(), 0u);
    EXPECT_EQ(kestrel::test::ReadFileText(f.Out("readme.txt")), "hello");
    EXPECT_FALSE(fs::exists(f.Out("blank.txt")));
    EXPECT_EQ(kestrel::test::ReadFileText(f.Out("font.font_raw")), "fontdata");
}

TEST(ExportDriver, RawTexturesMeshesAndSoundsFollowTheirSwitches) {
    Fixture f;
    f.Add(28, "t.tex", Bytes("tex"), 0, 0, 0, 48);
    f.Add(43, "m.mesh", Bytes("mesh"));
    f.Add(83, "s.snd", Bytes("snd"));
    f.options.outputs |= kOutRawTextures;
    EXPECT_EQ(f.Export(), 0u);
    EXPECT_TRUE(fs::exists(f.Out("t.tex")));
    EXPECT_FALSE(fs::exists(f.Out("m.mesh")));
    EXPECT_FALSE(fs::exists(f.Out("s.snd")));
}

TEST(ExportDriver, UnsupportedTextureFormatsAreReportedNotFailed) {
    Fixture f;
    f.options.outputs |= kOutConvert | kOutRawTextures | kOutDds;
    f.Add(28, "half.tex", Bytes("data"), 0, 0, 0, 17);
    f.Add(28, "yuy2.tex", Bytes("data"), 0, 0, 0, 21);
    f.options.outputs |= kOutKtx;
    EXPECT_EQ(f.Export(), 0u);
    ASSERT_EQ(f.reporter.notices.size(), 2u);
    EXPECT_EQ(f.reporter.notices[0], "Not supported format compression RGBAHalf half.tex");
    EXPECT_EQ(f.reporter.notices[1], "Not supported ktx YUY2 yuy2.tex \xD0\x9ENLY PVR!!!");
    EXPECT_TRUE(fs::exists(f.Out("half.tex"))); // the raw file is still written
}

TEST(ExportDriver, OneBadObjectDoesNotStopTheOthers) {
    Fixture f;
    f.Add(1, "first.1", Bytes("one"));
    f.Add(1, "broken.1", Bytes("two"));
    f.inner.Items().rows.back().ObjSize = 1u << 30; // runs past the end of the working file
    f.Add(1, "last.1", Bytes("three"));
    EXPECT_EQ(f.Export(), 1u);
    EXPECT_TRUE(fs::exists(f.Out("first.1")));
    EXPECT_TRUE(fs::exists(f.Out("last.1")));
    ASSERT_EQ(f.reporter.alerts.size(), 1u);
    EXPECT_NE(f.reporter.alerts[0].find("arc.assets"), std::string::npos) << f.reporter.alerts[0];
}

TEST(ExportDriver, AFailedConversionStillLeavesTheRawFileAndCountsAsAFailure) {
    Fixture f;
    f.options.outputs |= kOutConvert | kOutRawTextures | kOutDds;
    kestrel::test::TextureObjectSpec plan;
    plan.width = plan.height = 16;
    plan.mip = 5;
    plan.pixels.assign(8, 0x55); // five DXT1 levels need 176 bytes
    const auto body = kestrel::test::MakeTextureObject(plan, Endian::Little);
    f.Add(28, "short.tex", body, 0, 0, 0, 10);
    EXPECT_EQ(f.Export(), 1u);
    EXPECT_EQ(kestrel::test::ReadFileText(f.Out("short.tex")),
              std::string(body.begin(), body.end()));
    EXPECT_EQ(f.reporter.alerts.size(), 1u);
}

TEST(ExportDriver, TypeFilterSelectsItemsOnce) {
    Fixture f;
    f.options.typeFilterActive = true;
    f.options.typeFilter = {"114", "114", "21"};
    f.Add(-3, "script_a.-3", Bytes("a"));
    f.Add(114, "behaviour.114", Bytes("b"));
    f.Add(1, "go.1", Bytes("c"));
    f.Add(21, "m.mat", Bytes("d"), 8);
    EXPECT_EQ(f.Export(), 0u);
    EXPECT_TRUE(fs::exists(f.Out("script_a.-3")));
    EXPECT_TRUE(fs::exists(f.Out("behaviour.114")));
    EXPECT_FALSE(fs::exists(f.Out("go.1")));
    EXPECT_TRUE(fs::exists(f.Out("m.mat")));
    EXPECT_EQ(f.reporter.lines.size(), 3u);
}

TEST(ExportDriver, NamesFromTheArchiveStayInsideTheTree) {
    Fixture f;
    f.inner.dirName = "arc/..";
    f.Add(1, "..", Bytes("x"));
    f.Export();
    // Whatever the driver makes of the names, the object's one file lies under the export tree.
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(f.dir.Path())) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    files.erase(std::remove(files.begin(), files.end(), fs::path(f.workFileName)), files.end());
    ASSERT_EQ(files.size(), 1u);
    const fs::path tree = fs::weakly_canonical(f.dir / "Unity_Assets_Files");
    const auto rel = fs::weakly_canonical(files[0]).lexically_relative(tree);
    EXPECT_FALSE(rel.empty() || *rel.begin() == "..") << files[0];
    EXPECT_EQ(kestrel::test::ReadFileText(files[0]), "x");
}

// Names past the file system's 255-byte limit are cut, keeping their extensions and a hash of the
// whole name, so two long names with one beginning still export to two files.
TEST(ExportDriver, LongNamesAreCutToFitAndStayApart) {
    Fixture f;
    const std::string stem(300, 'n');
    f.Add(21, stem + "a.mat", Bytes("first"), 8);
    f.Add(21, stem + "b.mat", Bytes("second"), 8);
    EXPECT_EQ(f.Export(), 0u);
    std::vector<std::string> contents;
    for (const auto& entry : fs::directory_iterator(f.dir / "Unity_Assets_Files/arc")) {
        const std::string name = entry.path().filename().string();
        EXPECT_LE(name.size(), kFileNameLimit);
        EXPECT_TRUE(name.ends_with(".mat")) << name;
        contents.push_back(kestrel::test::ReadFileText(entry.path()));
    }
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));
    const std::string cut = FitFileNameLimit(std::string(250, 'x') + ".tex.dds");
    EXPECT_EQ(cut.size(), kFileNameLimit);
    EXPECT_TRUE(cut.ends_with(".tex.dds")) << cut;
}

} // namespace
