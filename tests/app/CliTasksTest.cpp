#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> SmallAssets() {
    AssetsSpec plan;
    plan.objects.push_back({49, "notes", TextBody("remember the bridge")});
    plan.objects.push_back({21, "a:b*c", {1, 2, 3, 4}});
    plan.objects.push_back({1, std::nullopt, {9, 9, 9, 9}});
    return BuildAssetsFile(plan);
}

// A UnityFS bundle of LZ4 blocks holding a resource entry first and the assets file second.
fs::path WriteBundle(const TempDir& dir) {
    const std::vector<InnerFile> files = {{"CAB-res.resS", NoiseBytes(300), 0},
                                          {"sub/CAB-main", SmallAssets(), 4}};
    UnityFSOptions options;
    options.blockSize = 256;
    const auto path = dir / "level.bundle.unity3d";
    WriteFileBytes(path, BuildUnityFS(files, options).bytes);
    return path;
}

std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root));
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CliTasks, ListPrintsOneTabSeparatedRowPerObject) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"list", bundle.string(), "-e", "1"}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    for (size_t start = 0; start < r.out.size();) {
        const size_t end = r.out.find('\n', start);
        lines.push_back(r.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(lines[0].starts_with("1\tnotes.txt\t49 (TextAsset)\t19\t0x")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("2\tabc.mat\t21 (Material)\t4\t0x")) << lines[1];
    EXPECT_TRUE(lines[2].starts_with("3\tCAB-main_00001.1\t1 (GameObject)\t4\t0x")) << lines[2];
    EXPECT_EQ(lines[0].size() - lines[0].rfind("0x"), 10u); // 8 upper-case hex digits
    // The same file chosen by name; the working copy is removed after the task.
    auto byName = RunKestrel({"LIST", bundle.string(), "-e", "CAB-main"}, "C.UTF-8");
    EXPECT_EQ(byName.out, r.out);
    EXPECT_EQ(FilesUnder(dir.Path()), std::vector<fs::path>{"level.bundle.unity3d"});
}

TEST(CliTasks, ExportWritesTheTreeAndOneLinePerItem) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r =
        RunKestrel({"export", bundle.string(), "-e", "1", "-p", (dir / "out").string()}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string root = (dir / "out").string() + "/Unity_Assets_Files/level/CAB-main/";
    EXPECT_EQ(r.out, "export\r\n\n" + root + "notes.txt\n" + root + "abc.mat\n" + root +
                         "CAB-main_00001.1\n");
    EXPECT_EQ(ReadFileText(root + "notes.txt"), "remember the bridge");
    EXPECT_EQ(ReadFileBytes(root + "abc.mat"), (std::vector<unsigned char>{1, 2, 3, 4}));
    EXPECT_EQ(FilesUnder(dir.Path()),
              (std::vector<fs::path>{"level.bundle.unity3d",
                                     "out/Unity_Assets_Files/level/CAB-main/CAB-main_00001.1",
                                     "out/Unity_Assets_Files/level/CAB-main/abc.mat",
                                     "out/Unity_Assets_Files/level/CAB-main/notes.txt"}));
}

TEST(CliTasks, TypeFilterLimitsTheExport) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"export", bundle.string(), "-e", "1", "-t", "TXT"}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FilesUnder(dir / "Unity_Assets_Files"),
              std::vector<fs::path>{"level/CAB-main/notes.txt"});
}

TEST(CliTasks, ExportBundleWritesInnerFilesUnchanged) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto r = RunKestrel({"exportbundle", bundle.string()}, "C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path out = dir / "Unity_Assets_Files/level/Bundle";
    EXPECT_EQ(ReadFileBytes(out / "CAB-res.resS"), NoiseBytes(300));
    EXPECT_TRUE(r.out.starts_with("export\r\n\nExport archive: ")) << r.out;
    EXPECT_EQ(FilesUnder(dir.Path()).size(), 3u);
}

TEST(CliTasks, UnknownInnerFileAndDamagedArchiveFailCleanly) {
    TempDir dir;
    const auto bundle = WriteBundle(dir);
    auto missing = RunKestrel({"list", bundle.string(), "-e", "7"}, "C.UTF-8");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("CAB-main"), std::string::npos) << missing.err;

    auto bytes = ReadFileBytes(bundle);
    bytes.resize(bytes.size() - 40);
    WriteFileBytes(bundle, bytes);
    auto damaged = RunKestrel({"export", bundle.string(), "-e", "1"}, "C.UTF-8");
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.err.find(bundle.string()), std::string::npos) << damaged.err;
    EXPECT_NE(damaged.err.find("0x"), std::string::npos) << damaged.err;
    // Nothing is left behind: no working copy, no export tree.
    EXPECT_EQ(FilesUnder(dir.Path()), std::vector<fs::path>{"level.bundle.unity3d"});
}

} // namespace
