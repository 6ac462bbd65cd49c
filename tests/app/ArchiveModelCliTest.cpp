// One archive opened once per run: inner files by name, a bundle listed and exported whole
// without opening its working copy again, and options decided before file names.
#include "support/Cli.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct ArchiveModelCli : ::testing::Test {
    TempDir dir;
    fs::path bundle = dir / "scene.bundle";
    fs::path tree = dir / "Unity_Assets_Files" / "scene";
    void SetUp() override { WriteStreamedTextureBundle(bundle); }
};

TEST_F(ArchiveModelCli, ListAndExportCoverEveryInnerFileOfAOneBlockLz4HCBundle) {
    const CliResult list = RunKestrel({"list", bundle.string()}, "C.UTF-8");
    ASSERT_EQ(list.exitCode, 0) << list.err;
    for (const std::string header : {"# 0 CAB-main", "# 1 CAB-main.resS", "# 2 CAB-second"})
        EXPECT_NE(list.out.find(header + "\n"), std::string::npos) << list.out;

    const CliResult exported = RunKestrel({"export", bundle.string()}, "C.UTF-8");
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-main/Textures/res_CAB-main/hero.tex.dds"));
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-second/dialogue.txt"));
    // The working copy is gone with the run.
    for (const auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().string().find(".kestrel-"), std::string::npos) << e.path();
}

TEST_F(ArchiveModelCli, ExportByNameExportsTheNamedInnerFileAfterItsResources) {
    const CliResult second = RunKestrel({"export", bundle.string(), "-e", "CAB-second"}, "C.UTF-8");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-second/dialogue.txt"));
    EXPECT_FALSE(fs::exists(tree / "CAB-main"));

    const CliResult owner = RunKestrel({"export", bundle.string(), "-e", "CAB-main"}, "C.UTF-8");
    ASSERT_EQ(owner.exitCode, 0) << owner.err;
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-main/Textures/res_CAB-main/hero.tex.dds"));

    const CliResult wrong = RunKestrel({"export", bundle.string(), "-e", "CAB-none"}, "C.UTF-8");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("no inner file named \"CAB-none\""), std::string::npos) << wrong.err;
}

TEST_F(ArchiveModelCli, OptionsAreDecidedBeforeFileNames) {
    WriteFileBytes(dir / "--help", {1, 2, 3});
    WriteFileBytes(dir / "--version", {1, 2, 3});
    const CliResult help = RunKestrel({"--help"}, "C.UTF-8", dir.Path().string());
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_NE(help.out.find("export"), std::string::npos);
    const CliResult version = RunKestrel({"--version"}, "C.UTF-8", dir.Path().string());
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out.rfind("Kestrel ", 0), 0u) << version.out;
}

} // namespace
