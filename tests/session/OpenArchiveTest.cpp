#include "common/Error.h"
#include "session/Archive.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(p, {bytes.begin(), bytes.end()});
}

std::vector<InnerFile> TwoFiles() {
    return {{"BuildPlayer-Level1", MinimalAssetsFile("4.3.4f1", 100), 4},
            {"assets\\sub/sharedassets0.assets", MinimalAssetsFile("5.6.3p1", 50), 4}};
}

// Opens `path` as a run does and gives the error; the archive is closed again before it returns.
std::string ErrorOf(const std::string& path, const EntrySelector& entry = {}) {
    try {
        OpenedArchive a(path, entry);
    } catch (const KestrelError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(OpenArchivePaths, NamesFromTheArchiveAndTheInnerFile) {
    TempDir dir;
    const fs::path archive = dir / "level0.data.unity3d";
    Write(archive, BuildUnityFS(TwoFiles()).bytes);
    OpenedArchive a(archive.string(), Entry(1));
    EXPECT_EQ(a.archive->OutputBaseDir(a.options), dir.Path().string() + "/");
    EXPECT_EQ(a.archive->BaseName(), "level0");
    // The inner name is cut after its last "\" and then its last "/".
    EXPECT_EQ(a.inner.name, "sharedassets0.assets");
    EXPECT_EQ(a.inner.dirName, "level0/sharedassets0.assets");
    EXPECT_EQ(a.archive->SplitPieceCount(), 0u);
    EXPECT_EQ(a.archive->InnerFileNames(),
              (std::vector<std::string>{"BuildPlayer-Level1", "assets\\sub/sharedassets0.assets"}));
    EXPECT_EQ(a.inner.assets.header.engineVersion, "5.6.3p1");
    EXPECT_EQ(a.inner.assets.header.formatVersion, 15);

    OpenedArchive custom;
    custom.options.outputDir = "/some/out/";
    custom.Open(archive.string());
    EXPECT_EQ(custom.archive->OutputBaseDir(custom.options), "/some/out/");
    EXPECT_EQ(custom.inner.dirName, "level0/BuildPlayer-Level1");
}

TEST(OpenArchivePaths, TheParserReadsTheSelectedInnerFileInTheWorkingCopy) {
    AssetsSpec first;
    first.objects.push_back({49, "readme", TextBody("first file text")});
    AssetsSpec second;
    second.formatVersion = 9;
    second.engineVersion = "4.3.4f1";
    second.objects.push_back({1, std::nullopt, {0, 0, 0, 0}});
    second.objects.push_back({49, "notes", TextBody("second file text")});
    const std::vector<InnerFile> files = {{"CAB-one", BuildAssetsFile(first)},
                                          {"dir/CAB-two", BuildAssetsFile(second)}};
    TempDir dir;
    UnityFSOptions opt;
    opt.blockSize = 64; // the inner files straddle blocks
    Write(dir / "pair.unity3d", BuildUnityFS(files, opt).bytes);
    for (uint32_t i = 0; i < 2; ++i) {
        OpenedArchive a((dir / "pair.unity3d").string(), Entry(i));
        const ItemTable& items = a.Items();
        ASSERT_EQ(items.Count(), i == 0 ? 1u : 2u);
        const auto& row = items.listRows.back();
        const auto work = ReadFileBytes(a.archive->WorkFileName());
        ASSERT_LE(row.offset + row.size, work.size());
        const std::string text(work.begin() + static_cast<std::ptrdiff_t>(row.offset),
                               work.begin() + static_cast<std::ptrdiff_t>(row.offset + row.size));
        EXPECT_EQ(text, i == 0 ? "first file text" : "second file text");
        if (i == 1) {
            EXPECT_EQ(items.ExportName[0], "CAB-two_00001.1");
        }
    }
}

TEST(OpenArchivePaths, PlainAssetsFileWithoutDot) {
    TempDir dir;
    Write(dir / "mainData", MinimalAssetsFile("4.6.0f3", 10));
    OpenedArchive a((dir / "mainData").string());
    EXPECT_FALSE(a.archive->IsBundle());
    EXPECT_EQ(a.inner.base, 0u);
    EXPECT_EQ(a.inner.dirName, "mainData");
    EXPECT_EQ(a.inner.name, "mainData");
    EXPECT_EQ(a.archive->WorkFileName(), (dir / "mainData").string());
    EXPECT_EQ(a.inner.assets.header.engineVersion, "4.6.0f3");
}

TEST(OpenArchivePaths, UntrustedInnerNamesStayInsideTheExportTree) {
    TempDir dir;
    const std::vector<InnerFile> files = {{"..", MinimalAssetsFile("5.0.0f4")},
                                          {"x/..", MinimalAssetsFile("5.0.0f4")},
                                          {"C:evil", MinimalAssetsFile("5.0.0f4")},
                                          {"", MinimalAssetsFile("5.0.0f4")}};
    Write(dir / "a.unity3d", BuildUnityFS(files).bytes);
    OpenedArchive a((dir / "a.unity3d").string());
    for (uint32_t i = 0; i < files.size(); ++i) {
        a.Select(i);
        const fs::path tree = fs::path("/root/Unity_Assets_Files") / a.inner.dirName;
        EXPECT_EQ(tree.lexically_normal().parent_path(), "/root/Unity_Assets_Files/a")
            << a.inner.dirName;
        EXPECT_EQ(a.inner.name.find('/'), std::string::npos);
        EXPECT_NE(a.inner.name, "..");
    }
}

TEST(OpenArchiveSelection, ByIndexAndByName) {
    TempDir dir;
    const fs::path archive = dir / "b.unity3d";
    const auto built = BuildUnityRW(TwoFiles());
    const auto copy = ExpectedWorkCopyRW(TwoFiles(), {});
    Write(archive, built.bytes);

    {
        // the name after the cuts
        OpenedArchive byName(archive.string(), EntrySelector{0, "sharedassets0.assets", true});
        EXPECT_EQ(byName.inner.base, copy.innerOffsets[1]);
        OpenedArchive byFullName(archive.string(), EntrySelector{0, "BuildPlayer-Level1", true});
        EXPECT_EQ(byFullName.inner.base, copy.innerOffsets[0]);
    }
    ASSERT_FALSE(fs::exists(WorkingFileOf(archive))) << "every open above was cleaned up";
    const std::string msg = ErrorOf(archive.string(), EntrySelector{0, "nothing", true});
    EXPECT_NE(msg.find("no inner file named \"nothing\""), std::string::npos) << msg;
    EXPECT_NE(msg.find("\"BuildPlayer-Level1\""), std::string::npos) << msg;
    EXPECT_NE(msg.find("sharedassets0.assets"), std::string::npos) << msg;
    EXPECT_FALSE(fs::exists(WorkingFileOf(archive)));

    const std::string msg2 = ErrorOf(archive.string(), Entry(2));
    EXPECT_NE(msg2.find("no inner file number 2"), std::string::npos) << msg2;
    EXPECT_FALSE(fs::exists(WorkingFileOf(archive)));

    Write(dir / "plain.assets", MinimalAssetsFile("5.0.0f4"));
    EXPECT_NE(ErrorOf((dir / "plain.assets").string(), Entry(1)).find("not a bundle"),
              std::string::npos);
}

TEST(OpenArchiveSelection, AFailedSelectionKeepsTheOpenArchive) {
    TempDir dir;
    const fs::path archive = dir / "c.unity3d";
    Write(archive, BuildUnityFS(TwoFiles()).bytes);
    OpenedArchive a(archive.string());
    const std::string work = a.archive->WorkFileName();
    const uint64_t base = a.inner.base;
    EXPECT_THROW(a.Select(a.archive->Resolve(Entry(7))), KestrelError);
    EXPECT_EQ(a.archive->WorkFileName(), work);
    EXPECT_EQ(a.inner.base, base);
    EXPECT_TRUE(fs::exists(work)) << "a failed selection never removes the working copy";
    a.Select(1);
    EXPECT_EQ(a.inner.name, "sharedassets0.assets");
}

struct ResourceCase {
    std::vector<uint8_t> head;
    std::string kind;
    std::string type;
};

TEST(OpenArchiveResources, KindAndSingleItem) {
    const std::vector<ResourceCase> cases = {
        {{'O', 'g', 'g', 'S'}, "OggS", "AudioClip"},    {{'R', 'I', 'F', 'F'}, "RIFF", "AudioClip"},
        {{'F', 'O', 'R', 'M'}, "FORM", "AudioClip"},    {{'F', 'S', 'B', '5'}, "FSB5", "AudioClip"},
        {{0xFF, 0xFB, 0x90, 0x00}, "MP3", "AudioClip"}, {{'I', 'D', '3', 3}, "MP3", "AudioClip"},
        {{'J', 'U', 'N', 'K'}, "unknown", "unknown"}};
    for (const auto& c : cases) {
        TempDir dir;
        std::vector<uint8_t> resource = c.head;
        resource.resize(500, 0);
        Write(dir / "music.resource", resource);
        OpenedArchive a((dir / "music.resource").string());
        EXPECT_EQ(a.inner.resourceKind, c.kind);
        const ItemTable& items = a.Items();
        ASSERT_EQ(items.Count(), 1u);
        EXPECT_EQ(items.ExportName[0], "music");
        EXPECT_EQ(items.types[0].name, c.type);
        EXPECT_EQ(items.rows[0].ObjOffset, 0u);
        EXPECT_EQ(items.rows[0].ObjSize, 500u);
        EXPECT_TRUE(items.tableWords.empty()); // a resource has no table entry to write
        ASSERT_EQ(items.listRows.size(), 1u);
        EXPECT_EQ(items.listRows[0].number, 1u);
        EXPECT_EQ(items.listRows[0].name, "music");
        EXPECT_EQ(items.listRows[0].typeText, " (" + c.type + ")");
        EXPECT_EQ(items.listRows[0].size, 500u);
        EXPECT_EQ(a.inner.assets.objectCount, 0u);
    }
}

TEST(OpenArchiveResources, ResourceInsideABundleUsesTheNodeSize) {
    TempDir dir;
    std::vector<uint8_t> ogg = {'O', 'g', 'g', 'S'};
    ogg.resize(3000, 1);
    const std::vector<InnerFile> files = {{"CAB-a", MinimalAssetsFile("5.6.3p1", 10)},
                                          {"CAB-a.resource", ogg, 0}};
    Write(dir / "s.bundle", BuildUnityFS(files).bytes);
    OpenedArchive a((dir / "s.bundle").string(), Entry(1));
    const auto expected = ExpectedWorkCopyFS(files, {});
    EXPECT_EQ(a.inner.resourceKind, "OggS");
    EXPECT_EQ(a.Items().rows[0].ObjSize, 3000u);
    EXPECT_EQ(a.Items().rows[0].ObjOffset, expected.innerOffsets[1]);
    EXPECT_EQ(a.Items().listRows[0].offset, expected.innerOffsets[1]);
    EXPECT_EQ(a.Items().ExportName[0], "CAB-a.resource");
}

TEST(SplitArchives, JoinOpenAndCleanUp) {
    TempDir dir;
    const auto files = TwoFiles();
    // A compressed bundle in pieces: the joined file and its .TEMP copy are both working files.
    const auto built = BuildUnityFS(files);
    const fs::path base = dir / "x.unity3d";
    const uint32_t pieces = WriteSplitPieces(base, built.bytes, 100);
    ASSERT_GT(pieces, 2u);
    OpenedArchive a(base.string() + ".split0");
    EXPECT_EQ(a.archive->SplitPieceCount(), pieces);
    EXPECT_EQ(a.archive->WorkFileName(), WorkingFileOf(base));
    EXPECT_EQ(a.inner.dirName, "x/BuildPlayer-Level1");
    const auto joined = ReadFileBytes(WorkingFileOf(base, ".joined"));
    EXPECT_EQ(std::vector<uint8_t>(joined.begin(), joined.end()), built.bytes);

    // Selecting another inner file reads the working copy and keeps the name and piece count.
    a.Select(1);
    EXPECT_EQ(a.archive->SplitPieceCount(), pieces);
    EXPECT_EQ(a.archive->Name(), base.string() + ".split0");
    EXPECT_EQ(a.inner.dirName, "x/sharedassets0.assets");

    a.archive.reset();
    EXPECT_FALSE(fs::exists(WorkingFileOf(base, ".joined")));
    EXPECT_FALSE(fs::exists(WorkingFileOf(base)));
    EXPECT_TRUE(fs::exists(base.string() + ".split0"));
    EXPECT_TRUE(fs::exists(base.string() + ".split" + std::to_string(pieces - 1)));

    // A missing piece ends the join: the pieces before it are taken.
    fs::remove(base.string() + ".split2");
    EXPECT_NE(ErrorOf(base.string() + ".split0"), "(no error)");
    EXPECT_FALSE(fs::exists(WorkingFileOf(base, ".joined"))) << "a failed open removes it";
    EXPECT_FALSE(fs::exists(WorkingFileOf(base)));
}

TEST(SplitArchives, PlainAssetsPiecesJoinAndTheJoinedFileIsRemoved) {
    TempDir dir;
    const auto assets = MinimalAssetsFile("4.5.0f6", 5000);
    WriteSplitPieces(dir / "sharedassets0.assets", assets, 2048);
    OpenedArchive a((dir / "sharedassets0.assets.split0").string());
    EXPECT_EQ(a.archive->SplitPieceCount(), 3u);
    const std::string work = a.archive->WorkFileName();
    EXPECT_EQ(work, WorkingFileOf(dir / "sharedassets0.assets", ".joined"));
    EXPECT_EQ(a.inner.assets.header.engineVersion, "4.5.0f6");
    a.archive.reset();
    EXPECT_FALSE(fs::exists(work));
    EXPECT_TRUE(fs::exists(dir / "sharedassets0.assets.split1"));
}

TEST(CleanUp, RemovesOnlyWorkingCopies) {
    TempDir dir;
    const auto files = TwoFiles();
    // UnityFS and UnityWeb copies are removed; the archives stay.
    Write(dir / "fs.unity3d", BuildUnityFS(files).bytes);
    Write(dir / "web.unity3d", BuildUnityRW(files).bytes);
    for (const char* name : {"fs.unity3d", "web.unity3d"}) {
        OpenedArchive a((dir / name).string());
        const std::string work = a.archive->WorkFileName();
        ASSERT_TRUE(fs::exists(work));
        a.archive.reset();
        EXPECT_FALSE(fs::exists(work));
        EXPECT_TRUE(fs::exists(dir / name));
    }
    // A plain file and an uncompressed bundle opened in place are never removed.
    UnityRWOptions raw;
    raw.signature = "UnityRaw";
    raw.compressed = false;
    Write(dir / "raw.TEMP", BuildUnityRW(files, raw).bytes);
    Write(dir / "plain.assets", MinimalAssetsFile("5.0.0f4"));
    for (const char* name : {"raw.TEMP", "plain.assets"}) {
        OpenedArchive a((dir / name).string());
        EXPECT_EQ(a.archive->WorkFileName(), (dir / name).string());
        a.archive.reset();
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    }
    // A file the user named, even one called ".TEMP", is never removed.
    UnityFSOptions stored;
    stored.blocks = BlockKind::Stored;
    stored.blockInfo = BlockInfoKind::StoredAtStart;
    Write(dir / "copy.TEMP", BuildUnityFS(files, stored).bytes);
    OpenedArchive a((dir / "copy.TEMP").string());
    a.archive.reset();
    EXPECT_TRUE(fs::exists(dir / "copy.TEMP"));
}

TEST(OpenArchiveFailures, DamagedInputLeavesNoWorkingFiles) {
    TempDir dir;
    auto web = BuildUnityRW(TwoFiles()).bytes;
    web.resize(web.size() - 10);
    Write(dir / "cut.unity3d", web);
    const std::string msg = ErrorOf((dir / "cut.unity3d").string());
    EXPECT_NE(msg.find("cut.unity3d"), std::string::npos) << msg;
    EXPECT_NE(msg.find("offset 0x"), std::string::npos) << msg;
    EXPECT_NE(msg.find("Error lzma in data stream."), std::string::npos) << msg;
    EXPECT_FALSE(fs::exists(WorkingFileOf(dir / "cut.unity3d")));

    EXPECT_NE(ErrorOf((dir / "absent").string()).find("absent"), std::string::npos);
    EXPECT_NE(ErrorOf((dir / "absent.split0").string()).find("absent"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "absent"));
}

} // namespace
