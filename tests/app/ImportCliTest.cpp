// The import task of the built program: export, edit, import end to end, its messages, and the
// faults a user meets (the process killed at any moment, a file-size limit, a folder that cannot
// be written): the archive is always exactly the old or exactly the new one.
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/OpenedArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// A plain assets file "level0.assets" in dir: a text asset first, then a material of meshBytes.
fs::path WriteLevel(const TempDir& dir, size_t materialBytes = 300) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody("123456789")});
    plan.objects.push_back({21, "m", NoiseBytes(materialBytes, 2)});
    plan.objects.push_back({1, std::nullopt, NoiseBytes(16, 3)});
    const auto bytes = BuildAssetsFile(plan);
    const fs::path archive = dir / "level0.assets";
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    return archive;
}

std::vector<unsigned char> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

bool Reopens(const fs::path& archive) {
    try {
        const OpenedArchive a(archive.string());
        return a.Items().Count() == 3;
    } catch (const std::exception&) {
        return false;
    }
}

TEST(ImportCli, ExportEditImportGivesTheEditBackOut) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    const fs::path tree = dir / "Unity_Assets_Files" / "level0";
    WriteFileBytes(tree / "readme.txt", Bytes("a longer text than before"));
    const CliResult r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("import\n\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Unity_Assets_Files/level0/readme.txt\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("m.mat"), std::string::npos) << "unchanged files are not told";
    EXPECT_TRUE(r.out.ends_with("\n1 object changed, archive written\n")) << r.out;
    const CliResult unchanged = RunKestrel({"import", archive.string(), "-v"}, "C.UTF-8");
    EXPECT_NE(unchanged.out.find("level0/m.mat\n"), std::string::npos) << "-v tells every file";
    EXPECT_TRUE(unchanged.out.ends_with("\nnothing changed, archive not written\n"))
        << unchanged.out;

    const fs::path again = dir / "again";
    ASSERT_EQ(RunKestrel({"export", archive.string(), "-p", again.string()}, "C.UTF-8").exitCode,
              0);
    EXPECT_EQ(ReadFileBytes(again / "Unity_Assets_Files" / "level0" / "readme.txt"),
              Bytes("a longer text than before"));
    EXPECT_EQ(ReadFileBytes(again / "Unity_Assets_Files" / "level0" / "m.mat"),
              ReadFileBytes(tree / "m.mat"));
}

TEST(ImportCli, TheExportTreeUnderDashPIsTheOneImported) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    const fs::path out = dir / "out";
    ASSERT_EQ(RunKestrel({"export", archive.string(), "-p", out.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(out / "Unity_Assets_Files" / "level0" / "readme.txt", Bytes("from -p"));
    const CliResult r =
        RunKestrel({"import", archive.string(), "-p", out.string(), "-e", "0"}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const OpenedArchive a(archive.string());
    EXPECT_EQ(a.Items().rows[0].PayloadSize, 7u);
}

TEST(ImportCli, AFileOfNoObjectIsToldInTheUsersLanguageAndChangesNothing) {
    struct Case {
        std::string lang, text;
    };
    for (const Case& c : {Case{"C.UTF-8", "File not found in archive: Readme.txt\nAnd it will "
                                          "be skipped.\n"},
                          Case{"ru_RU.UTF-8", "Файл не найден в архиве: Readme.txt\nИ будет "
                                              "пропущен.\n"}}) {
        TempDir dir;
        const fs::path archive = WriteLevel(dir);
        const auto before = ReadFileBytes(archive);
        fs::create_directories(dir / "Unity_Assets_Files" / "level0");
        WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "Readme.txt", Bytes("x"));
        const CliResult r = RunKestrel({"import", archive.string()}, c.lang);
        EXPECT_EQ(r.exitCode, 1) << "an error was shown";
        EXPECT_EQ(r.err, c.text);
        EXPECT_EQ(ReadFileBytes(archive), before);
    }
}

// Imports an edit of each readme.txt into `target` (an archive, or a game folder of `archives`)
// once to learn the new bytes, then 50 times from the old archives with the process killed at a
// random moment of the run: every time each archive is exactly the old or exactly the new one,
// and opens.
void KillImportsAtRandomMoments(const fs::path& target, const std::vector<fs::path>& archives,
                                const std::vector<fs::path>& editedTexts) {
    ASSERT_EQ(RunKestrel({"export", target.string()}, "C.UTF-8").exitCode, 0);
    for (const fs::path& text : editedTexts)
        WriteFileBytes(text, std::vector<unsigned char>(1024 + 9, 'n'));
    std::vector<std::vector<unsigned char>> oldBytes, newBytes;
    for (const fs::path& archive : archives)
        oldBytes.push_back(ReadFileBytes(archive));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunKestrel({"import", target.string()}, "C.UTF-8").exitCode, 0);
    const auto runTime = std::chrono::steady_clock::now() - started;
    for (const fs::path& archive : archives)
        newBytes.push_back(ReadFileBytes(archive));
    ASSERT_NE(oldBytes, newBytes);

    std::mt19937 random(12345);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(runTime).count();
    std::uniform_int_distribution<long long> moment(0, span + span / 4);
    size_t old = 0, replaced = 0;
    for (int i = 0; i < 50; ++i) {
        for (size_t a = 0; a < archives.size(); ++a)
            WriteFileBytes(archives[a], oldBytes[a]);
        KestrelChild child = KestrelChild::Start({"import", target.string()});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child.pid, SIGKILL);
        child.ReadAll();
        child.Wait();
        for (size_t a = 0; a < archives.size(); ++a) {
            const fs::path& archive = archives[a];
            const auto now = ReadFileBytes(archive);
            EXPECT_TRUE(now == oldBytes[a] || now == newBytes[a])
                << "kill " << i << ": " << archive;
            EXPECT_TRUE(Reopens(archive)) << "kill " << i << ": " << archive;
            (now == oldBytes[a] ? old : replaced) += 1;
            // What the killed run left went with the open above; its import lock file stays for
            // the next import, which takes it and removes it.
            for (const fs::path& p : WorkingFilesIn(archive.parent_path()))
                EXPECT_TRUE(p.string().ends_with(".kestrel-lock")) << "kill " << i << ": " << p;
        }
    }
    std::cout << target.filename().string() << ", 50 kills: " << old << " archives left old, "
              << replaced << " new\n";
}

TEST(ImportCli, KilledAtAnyMomentAPlainFileIsTheOldOrTheNewOne) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, 4u << 20);
    KillImportsAtRandomMoments(archive, {archive}, {dir / "Unity_Assets_Files/level0/readme.txt"});
}

TEST(ImportCli, KilledAtAnyMomentACompressedBundleIsTheOldOrTheNewOne) {
    TempDir dir;
    const fs::path plain = WriteLevel(dir, 4u << 20);
    const auto assets = ReadFileBytes(plain);
    fs::remove(plain);
    const fs::path archive = dir / "level0.unity3d";
    WriteFileBytes(archive, BuildUnityFS({{"CAB-level", {assets.begin(), assets.end()}, 4}}).bytes);
    KillImportsAtRandomMoments(archive, {archive},
                               {dir / "Unity_Assets_Files/level0/CAB-level/readme.txt"});
}

TEST(ImportCli, KilledAtAnyMomentEachArchiveOfAGameFolderIsTheOldOrTheNewOne) {
    // Two plain files and a compressed bundle in nested folders, imported by two workers.
    TempDir dir;
    const fs::path level = WriteLevel(dir, 1u << 20);
    const auto assets = ReadFileBytes(level);
    fs::remove(level);
    const fs::path game = dir / "game";
    const std::vector<fs::path> archives = {game / "Data/level0", game / "Data/more/level0",
                                            game / "Bundles/level0.unity3d"};
    for (const fs::path& a : archives)
        fs::create_directories(a.parent_path());
    WriteFileBytes(archives[0], assets);
    WriteFileBytes(archives[1], assets);
    WriteFileBytes(archives[2],
                   BuildUnityFS({{"CAB-level", {assets.begin(), assets.end()}, 4}}).bytes);
    const fs::path trees = game / "Unity_Assets_Files";
    KillImportsAtRandomMoments(game, archives,
                               {trees / "Data/level0/readme.txt",
                                trees / "Data/more/level0/readme.txt",
                                trees / "Bundles/level0.unity3d/CAB-level/readme.txt"});
}

TEST(ImportCli, AFileSizeLimitFailsClearlyAndLeavesTheArchiveAndNoTemporaryFile) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, 256 * 1024);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "readme.txt", Bytes("longer text"));
    const auto before = ReadFileBytes(archive);
    KestrelChild child = KestrelChild::Start({"import", archive.string()}, 64 * 1024);
    const std::string said = child.ReadAll();
    EXPECT_EQ(child.Wait(), 1) << said;
    EXPECT_NE(said.find("Cannot import into " + archive.string()), std::string::npos) << said;
    EXPECT_NE(said.find("File too large"), std::string::npos) << said;
    EXPECT_NE(said.find("The archive is unchanged."), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(archive), before);
    EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty());
}

TEST(ImportCli, AFolderThatCannotBeWrittenIsAClearError) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the child as another user";
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "readme.txt", Bytes("longer text"));
    const auto before = ReadFileBytes(archive);
    ::chmod(dir.Path().c_str(), 0555);
    KestrelChild child = KestrelChild::Start({"import", archive.string()}, RLIM_INFINITY, true);
    const std::string said = child.ReadAll();
    const int code = child.Wait();
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(code, 1) << said;
    EXPECT_NE(said.find("cannot be written to"), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(archive), before);
}

// An Android build: the assets file and its .resource file both cut into pieces. The sound is
// read from the resource pieces; an unedited import changes no piece; an edited sound goes after
// the pieces' end, filling the last one to the cut size and adding the next; a failed import
// leaves every piece as it was.
TEST(ImportCli, ASoundInResourcePiecesComesBackFromThem) {
    TempDir dir;
    const auto wav = MakeTinyWav(1000);
    std::vector<uint8_t> resource(64, 0xEE);
    resource.insert(resource.end(), wav.begin(), wav.end());
    const size_t kPiece = 1 << 20;
    resource.resize(2 * kPiece - 1000, 0x5A); // the last piece 1000 bytes short of full
    AssetsSpec plan;
    plan.targetPlatform = 13; // Android
    plan.objects.push_back(
        {83, "jump",
         MakeNamedResourceAudioBody(Endian::Little, "sharedassets0.resource", 64, wav.size())});
    const auto assets = BuildAssetsFile(plan);
    ASSERT_GT(WriteSplitPieces(dir / "sharedassets0.assets", assets, assets.size() / 3 + 1), 1u);
    ASSERT_EQ(WriteSplitPieces(dir / "sharedassets0.resource", resource, kPiece), 2u);
    const fs::path archive = dir / "sharedassets0.assets.split0";

    const CliResult exported = RunKestrel({"export", archive.string()}, "C.UTF-8");
    ASSERT_EQ(exported.exitCode, 0) << exported.err << exported.out;
    const fs::path sound = dir / "Unity_Assets_Files/sharedassets0/Sounds/"
                                 "res_sharedassets0.resource/jump.snd.wav";
    ASSERT_EQ(ReadFileBytes(sound), std::vector<unsigned char>(wav.begin(), wav.end()))
        << exported.out;

    const NamedFiles pieces = FilesIn(dir.Path());
    const CliResult unedited = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(unedited.exitCode, 0) << unedited.err;
    EXPECT_EQ(FilesIn(dir.Path()), pieces) << unedited.out;

    // The sound fills piece 1, makes piece 2 whole and would go on into piece 3, where a folder
    // stands in the way: the import fails and takes back what it wrote.
    const auto edited = MakeTinyWav(kPiece + 4000);
    WriteFileBytes(sound, {edited.begin(), edited.end()});
    fs::create_directory(dir / "sharedassets0.resource.split3");
    const CliResult failed = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(failed.exitCode, 1) << failed.out;
    EXPECT_NE(failed.err.find("sharedassets0.resource.split3"), std::string::npos) << failed.err;
    EXPECT_EQ(FilesIn(dir.Path()), pieces);

    fs::remove(dir / "sharedassets0.resource.split3");
    const CliResult r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    for (const char* full : {"sharedassets0.resource.split1", "sharedassets0.resource.split2"})
        EXPECT_EQ(fs::file_size(dir / full), kPiece) << full;
    EXPECT_EQ(fs::file_size(dir / "sharedassets0.resource.split3"), edited.size() - 1000 - kPiece);
    const fs::path again = dir / "again";
    ASSERT_EQ(RunKestrel({"export", archive.string(), "-p", again.string()}, "C.UTF-8").exitCode,
              0);
    EXPECT_EQ(ReadFileBytes(again / "Unity_Assets_Files/sharedassets0/Sounds/"
                                    "res_sharedassets0.resource/jump.snd.wav"),
              std::vector<unsigned char>(edited.begin(), edited.end()));
}

} // namespace
