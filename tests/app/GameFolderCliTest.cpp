// A game folder as one input of the built program: every archive below it listed, exported,
// edited and imported in one run each; the Addressables catalog stops checking the CRC of a
// bundle written; the sample games exported whole match their archives exported one by one.
#include "session/GameFolder.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/CatalogBuilder.h"
#include "support/Cli.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// A plain assets file holding one text "readme" and a material.
std::vector<uint8_t> TextArchive(const std::string& text, size_t materialBytes = 200) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody(text)});
    plan.objects.push_back({21, "m", NoiseBytes(materialBytes, 2)});
    return BuildAssetsFile(plan);
}

void Write(const fs::path& file, const std::vector<uint8_t>& bytes) {
    fs::create_directories(file.parent_path());
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
}

constexpr const char* kBundleId =
    "{UnityEngine.AddressableAssets.Addressables.RuntimePath}/StandaloneWindows64/hero.bundle";
const std::vector<std::string> kPrefixes = {
    "{UnityEngine.AddressableAssets.Addressables.RuntimePath}/StandaloneWindows64"};

std::string Catalog(const std::string& heroCrc) {
    return BuildCatalogJson({{kBundleId, heroCrc}, {"0#/other.bundle", "999"}}, kPrefixes);
}

// The game: two archives named level0 in different folders, a split archive, a bundle with its
// .resS entry listed by the catalog with a CRC, a text file; returns the archives' relative
// paths as the folder run names them, sorted.
std::vector<std::string> BuildGame(const fs::path& game) {
    Write(game / "Game_Data/level0", TextArchive("first level"));
    Write(game / "Game_Data/sub/level0", TextArchive("second level"));
    Write(game / "Game_Data/sharedassets0.assets", TextArchive("shared"));
    const std::vector<uint8_t> big = TextArchive("split in pieces", 3000);
    fs::create_directories(game / "Game_Data/split");
    WriteSplitPieces(game / "Game_Data/split/big.assets", big, 1024);
    Write(game / "Game_Data/notes.txt", Bytes("not an archive"));
    fs::create_directories(game / "StreamingAssets/aa/StandaloneWindows64");
    WriteStreamedTextureBundle(game / "StreamingAssets/aa/StandaloneWindows64/hero.bundle");
    WriteFileBytes(game / "StreamingAssets/aa/catalog.json", Bytes(Catalog("1234567")));
    return {"Game_Data/level0", "Game_Data/sharedassets0.assets", "Game_Data/split/big.assets",
            "Game_Data/sub/level0", "StreamingAssets/aa/StandaloneWindows64/hero.bundle"};
}

std::vector<std::string> HeadingsOf(const std::string& listing) {
    std::vector<std::string> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("## ")) out.push_back(line.substr(3));
    }
    return out;
}

NamedFiles GameFiles(const fs::path& game) {
    NamedFiles files = FilesIn(game, /*wholeTree=*/true);
    std::erase_if(files, [](const auto& f) { return f.first.starts_with("Unity_Assets_Files/"); });
    return files;
}

TEST(GameFolderCli, AGameIsListedExportedEditedAndImportedInOneRunEach) {
    struct Case {
        std::vector<std::string> importOptions;
        bool catalogCleared;
    };
    for (const Case& c : {Case{{"-j", "2"}, true}, Case{{"-j", "1", "--keep-catalog"}, false}}) {
        TempDir dir;
        const fs::path game = dir / "game";
        const std::vector<std::string> archives = BuildGame(game);
        const CliResult listed = RunKestrel({"list", game.string(), "-j", "2"}, "C.UTF-8");
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        EXPECT_EQ(HeadingsOf(listed.out), archives) << listed.out;
        EXPECT_NE(listed.out.find("## Game_Data/sub/level0\n1\treadme.txt\t49 (TextAsset)"),
                  std::string::npos)
            << listed.out;
        EXPECT_TRUE(listed.out.ends_with("5 archives, 12 objects, 0 failures, 2 files skipped\n"))
            << listed.out;

        ASSERT_EQ(RunKestrel({"export", game.string()}, "C.UTF-8").exitCode, 0);
        const fs::path trees = game / "Unity_Assets_Files";
        EXPECT_EQ(ReadFileText(trees / "Game_Data/sub/level0/readme.txt"), "second level");
        // What an import of the untouched trees reads back changes nothing.
        const NamedFiles before = GameFiles(game);
        const CliResult unchanged = RunKestrel({"import", game.string()}, "C.UTF-8");
        EXPECT_EQ(unchanged.exitCode, 0) << unchanged.err;
        EXPECT_EQ(GameFiles(game), before);

        struct Edit {
            std::string file, text;
        };
        const std::vector<Edit> edits = {
            {"Game_Data/level0/readme.txt", "edited first"},
            {"Game_Data/sub/level0/readme.txt", "edited second, longer than before"},
            {"Game_Data/split/big.assets/readme.txt", "edited split"},
            {"StreamingAssets/aa/StandaloneWindows64/hero.bundle/CAB-second/dialogue.txt",
             "edited dialogue"}};
        for (const Edit& e : edits)
            WriteFileBytes(trees / e.file, Bytes(e.text));
        fs::remove_all(trees / "Game_Data/sharedassets0.assets"); // no tree: left alone
        const auto shared = ReadFileBytes(game / "Game_Data/sharedassets0.assets");

        std::vector<std::string> args = {"import", game.string()};
        args.insert(args.end(), c.importOptions.begin(), c.importOptions.end());
        const CliResult imported = RunKestrel(args, "C.UTF-8");
        EXPECT_EQ(imported.exitCode, 0) << imported.err;
        EXPECT_NE(imported.out.find("4 archives, 4 objects, 0 failures, 2 files skipped; 4 "
                                    "archives written, 1 without an export tree\n"),
                  std::string::npos)
            << imported.out;
        EXPECT_EQ(ReadFileBytes(game / "Game_Data/sharedassets0.assets"), shared);

        const fs::path again = dir / "again";
        ASSERT_EQ(RunKestrel({"export", game.string(), "-p", again.string()}, "C.UTF-8").exitCode,
                  0);
        for (const Edit& e : edits)
            EXPECT_EQ(ReadFileText(again / "Unity_Assets_Files" / e.file), e.text) << e.file;

        const fs::path catalog = game / "StreamingAssets/aa/catalog.json";
        // The CRC's digits become "0" and blanks: every other byte stays.
        EXPECT_EQ(ReadFileText(catalog), Catalog(c.catalogCleared ? "0      " : "1234567"));
        EXPECT_EQ(fs::exists(catalog.string() + ".bak"), c.catalogCleared);
        if (c.catalogCleared) {
            EXPECT_EQ(ReadFileText(catalog.string() + ".bak"), Catalog("1234567"));
            EXPECT_NE(imported.out.find("catalog.json: CRC set to 0 for 1 edited bundle(s)"),
                      std::string::npos)
                << imported.out;
        } else {
            EXPECT_NE(imported.out.find("left unchanged (--keep-catalog)"), std::string::npos)
                << imported.out;
        }
    }
}

TEST(GameFolderCli, ASampleGameExportedWholeMatchesItsArchivesExportedAlone) {
    // Plain files with a .resS, split pieces, LZMA bundles with resource entries, and a folder of
    // bundles with their manifests: small, and every way an archive lies in a game.
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent";
    for (const char* name : {"Amatsugu__Dodge-Blocks", "s0040143__flappyBrid_android",
                             "BigGiantHead__eBookReader", "SpiritWolf2015__U3d5_AB"}) {
        if (!fs::is_directory(samples / name)) {
            std::cout << "skipped " << name << ": not among the samples\n";
            continue;
        }
        TempDir dir;
        const fs::path game = dir / "game";
        fs::copy(samples / name, game, fs::copy_options::recursive);
        const fs::path whole = dir / "whole";
        const CliResult r = RunKestrel({"export", game.string(), "-p", whole.string()}, "C.UTF-8");
        const FolderContents contents = WalkGameFolder(game);
        ASSERT_FALSE(contents.archives.empty()) << name;
        for (const FolderArchive& a : contents.archives) {
            const fs::path alone = dir / "alone" / a.relativePath;
            const CliResult one =
                RunKestrel({"export", a.file.string(), "-p", alone.string()}, "C.UTF-8");
            EXPECT_EQ(r.exitCode == 0, one.exitCode == 0) << a.relativePath;
            const std::string fileName = fs::path(a.relativePath).filename().string();
            const fs::path aloneTree =
                alone / "Unity_Assets_Files" / fileName.substr(0, fileName.find('.'));
            EXPECT_EQ(FilesIn(whole / "Unity_Assets_Files" / a.relativePath, true),
                      FilesIn(aloneTree, true))
                << name << ": " << a.relativePath;
        }
        const NamedFiles before = FilesIn(game, true);
        const CliResult back =
            RunKestrel({"import", game.string(), "-p", whole.string()}, "C.UTF-8");
        EXPECT_EQ(back.exitCode, r.exitCode) << back.err;
        EXPECT_EQ(FilesIn(game, true), before) << name;
    }
}

} // namespace
