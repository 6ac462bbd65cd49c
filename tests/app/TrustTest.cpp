// Faults users meet, tried for real on the built program: signals, file-size limits, two runs on
// one archive, read-only folders, usage errors.
#include "app/ConsoleReporter.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// A compressed bundle whose listing (one line per object) is far larger than a pipe holds, so a
// run whose stdout is not read stops inside its work, with its working copy made.
fs::path ManyObjectsBundle(const TempDir& dir) {
    AssetsSpec plan;
    for (int i = 0; i < 6000; ++i)
        plan.objects.push_back({49, "text_object_number_" + std::to_string(i), TextBody("x")});
    const fs::path archive = dir / "many.unity3d";
    const auto assets = BuildAssetsFile(plan);
    const auto bytes = BuildUnityFS({{"CAB-many", {assets.begin(), assets.end()}, 4}}).bytes;
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    return archive;
}

// Waits (up to 20 s) until `count` working files exist in dir.
bool WaitForWorkingFiles(const fs::path& dir, size_t count) {
    for (int i = 0; i < 2000; ++i) {
        if (WorkingFilesIn(dir).size() >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Trust, SignalsRemoveTheWorkingCopyAndExitWith128PlusTheSignal) {
    TempDir dir;
    const fs::path archive = ManyObjectsBundle(dir);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        KestrelChild child = KestrelChild::Start({"list", archive.string()});
        ASSERT_TRUE(WaitForWorkingFiles(dir.Path(), 1)) << signal;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(child.pid, signal);
        EXPECT_EQ(child.Wait(), 128 + signal);
        EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty()) << "signal " << signal;
    }
}

TEST(Trust, AFileSizeLimitIsAWriteErrorThatLeavesNothing) {
    TempDir dir;
    const fs::path archive = ManyObjectsBundle(dir);
    KestrelChild child = KestrelChild::Start({"list", archive.string()}, 4096);
    const std::string out = child.ReadAll();
    EXPECT_EQ(child.Wait(), 1) << "not killed by SIGXFSZ";
    EXPECT_NE(out.find("File too large"), std::string::npos) << out;
    EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty());
}

// An output that cannot be written stops the run with an error and leaves no cut file under a
// final name.
TEST(Trust, AnOutputThatCannotBeWrittenIsAbsentNotCut) {
    TempDir dir;
    AssetsSpec plan;
    plan.objects.push_back({49, "small", TextBody("tiny")});
    plan.objects.push_back({49, "big", TextBody(std::string(64 * 1024, 'b'))});
    plan.objects.push_back({49, "after", TextBody("later")});
    const auto bytes = BuildAssetsFile(plan);
    const fs::path archive = dir / "level0";
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    KestrelChild child = KestrelChild::Start({"export", archive.string()}, 32 * 1024);
    const std::string out = child.ReadAll();
    EXPECT_EQ(child.Wait(), 1) << out;
    const fs::path tree = dir / "Unity_Assets_Files" / "level0";
    EXPECT_TRUE(fs::exists(tree / "small.txt")) << out;
    EXPECT_FALSE(fs::exists(tree / "big.txt")) << "a cut file under its final name";
    EXPECT_FALSE(fs::exists(tree / "after.txt")) << "the run went on after a write error";
    EXPECT_NE(out.find("Write error"), std::string::npos) << out;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".kestrel-"), std::string::npos) << e.path();
}

TEST(Trust, TwoRunsOnOneArchiveEachHaveTheirOwnWorkingCopy) {
    TempDir dir;
    const fs::path archive = ManyObjectsBundle(dir);
    KestrelChild first = KestrelChild::Start({"list", archive.string()});
    KestrelChild second = KestrelChild::Start({"list", archive.string()});
    // Both are stopped mid-listing, each on its own copy.
    EXPECT_TRUE(WaitForWorkingFiles(dir.Path(), 2));
    const std::string a = first.ReadAll();
    const std::string b = second.ReadAll();
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.find("text_object_number_5999"), std::string::npos);
    EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty());
}

TEST(Trust, TheNextRunRemovesWhatAKilledRunLeftAndNothingElse) {
    TempDir dir;
    const fs::path archive = ManyObjectsBundle(dir);
    // A live run, stopped in the middle of its work, beside one killed in the middle of its own.
    KestrelChild stopped = KestrelChild::Start({"list", archive.string()});
    ASSERT_TRUE(WaitForWorkingFiles(dir.Path(), 1));
    ::kill(stopped.pid, SIGSTOP);
    const fs::path live = WorkingFilesIn(dir.Path()).at(0);
    KestrelChild killed = KestrelChild::Start({"list", archive.string()});
    ASSERT_TRUE(WaitForWorkingFiles(dir.Path(), 2));
    ::kill(killed.pid, SIGKILL);
    EXPECT_EQ(killed.Wait(), 1000 + SIGKILL);
    fs::path left;
    for (const fs::path& p : WorkingFilesIn(dir.Path()))
        left = p == live ? left : p;
    // What killed imports leave: the blocks of a packing, the temporary files of rewrites.
    const std::vector<std::string> dead = {"many.unity3d.kestrel-7.blocks",
                                           ".many.unity3d.kestrel-7-0.tmp",
                                           ".many.unity3d.kestrel-7.TEMP.kestrel-8-1.tmp"};
    // Names that only look like this archive's working files.
    const std::vector<std::string> kept = {
        "many.unity3d.kestrel-7.TEMP.bak", "many.unity3d.kestrel-7x.TEMP",
        "other.unity3d.kestrel-7.TEMP", ".many.unity3d.kestrel-7.tmp",
        "many.unity3d.kestrel-.TEMP"};
    for (const auto* names : {&dead, &kept}) {
        for (const std::string& name : *names)
            WriteFileBytes(dir / name, {'x'});
    }
    WriteFileBytes(dir / "mine.txt", {'m'});
    fs::create_symlink(dir / "mine.txt", dir / "many.unity3d.kestrel-9.TEMP");
    fs::create_directory(dir / "many.unity3d.kestrel-9.joined");

    const CliResult next = RunKestrel({"list", archive.string()}, "C.UTF-8");
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_FALSE(fs::exists(left));
    for (const std::string& name : dead)
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::is_symlink(dir / "many.unity3d.kestrel-9.TEMP"));
    EXPECT_EQ(ReadFileBytes(dir / "mine.txt"), std::vector<uint8_t>{'m'});
    EXPECT_TRUE(fs::is_directory(dir / "many.unity3d.kestrel-9.joined"));
    EXPECT_TRUE(fs::exists(live)) << "the working copy of a live run was removed";

    ::kill(stopped.pid, SIGKILL);
    stopped.Wait();
    EXPECT_EQ(RunKestrel({"list", archive.string()}, "C.UTF-8").exitCode, 0);
    EXPECT_FALSE(fs::exists(live)) << "only its owner's lock kept it";
}

TEST(Trust, AnExportRemovesTheTemporaryFilesAKilledExportLeftBesideItsOutputs) {
    TempDir dir;
    AssetsSpec plan;
    plan.objects.push_back({49, "note", TextBody("fine")});
    const auto bytes = BuildAssetsFile(plan);
    const fs::path level = dir / "level.assets";
    WriteFileBytes(level, {bytes.begin(), bytes.end()});
    ASSERT_EQ(RunKestrel({"export", level.string()}, "C").exitCode, 0);
    fs::path out;
    for (const auto& e : fs::recursive_directory_iterator(dir / "Unity_Assets_Files"))
        out = e.path().extension() == ".txt" ? e.path() : out;
    ASSERT_FALSE(out.empty());
    const std::string temp = "." + out.filename().string() + ".kestrel-7";
    const fs::path dead = out.parent_path() / (temp + "-0.tmp");
    const fs::path held = out.parent_path() / (temp + "-1.tmp");
    const fs::path other = out.parent_path() / (temp + ".tmp");
    for (const fs::path& p : {dead, held, other})
        WriteFileBytes(p, {'x'});
    const int lock = ::open(held.c_str(), O_RDONLY | O_CLOEXEC); // as a live export holds it
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_EQ(RunKestrel({"export", level.string()}, "C").exitCode, 0);
    ::close(lock);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(other));
}

TEST(Trust, AnyErrorShownFailsTheRunAndTheLastLineCountsFailures) {
    TempDir dir;
    AssetsSpec plan;
    TextureSpec streamed;
    streamed.layout = 3;
    streamed.imageData.assign(16, 0);
    streamed.streamPath = "gone.resS";
    plan.objects.push_back({28, "streamed", TextureBody(streamed)});
    plan.objects.push_back({49, "note", TextBody("fine")});
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(dir / "level.assets", {bytes.begin(), bytes.end()});
    const CliResult r = RunKestrel({"export", (dir / "level.assets").string()}, "C");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Missing file: "), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("1 of 2 objects failed\n")) << r.err;
}

TEST(Trust, ReadOnlyFolderListsThroughTmpdirAndImportSaysWhy) {
    TempDir dir;
    TempDir tmp;
    const fs::path archive = ManyObjectsBundle(dir);
    fs::create_directories(dir / "Unity_Assets_Files" / "many");
    ::chmod(dir.Path().c_str(), 0555);
    ::chmod(tmp.Path().c_str(), 0777);
    ::setenv("TMPDIR", tmp.Path().c_str(), 1);
    KestrelChild child = KestrelChild::Start({"list", archive.string()}, RLIM_INFINITY, true);
    EXPECT_TRUE(WaitForWorkingFiles(tmp.Path(), 1)) << "the copy is made in TMPDIR";
    const std::string out = child.ReadAll();
    EXPECT_EQ(child.Wait(), 0);
    ::unsetenv("TMPDIR");
    EXPECT_NE(out.find("text_object_number_5999"), std::string::npos);
    EXPECT_TRUE(WorkingFilesIn(tmp.Path()).empty());

    KestrelChild import = KestrelChild::Start({"import", archive.string()}, RLIM_INFINITY, true);
    const std::string said = import.ReadAll();
    EXPECT_EQ(import.Wait(), 1);
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_NE(said.find("import needs to write beside the archive"), std::string::npos) << said;
}

TEST(Trust, UsageErrorsHelpAndVersion) {
    TempDir dir;
    const auto bytes = MinimalAssetsFile("5.0.0f4");
    WriteFileBytes(dir / "a.assets", {bytes.begin(), bytes.end()});
    const std::string a = (dir / "a.assets").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string errHas;
    };
    const Case cases[] = {
        {{"list", a, "-zzz"}, 2, "Unknown option: -zzz"},
        {{"export", a, "-e"},
         2,
         "Option -e needs a value:\n  -e <file>     one inner file of a bundle"},
        {{"export", a, "-t"},
         2,
         "  -t <types>    export or import only these types\n                (-t ttf"},
        {{"list", a, "-p"}, 2, "  -p <dir>      the folder for Unity_Assets_Files"},
        {{"list", a, "-zzz", "ru"},
         2,
         "Неизвестная настройка: -zzz; настройки такие:\n  -t <типы>"},
        {{"list", a, "-p", "ru"}, 2, "Настройке -p нужно значение:\n  -p <каталог>"},
    };
    for (auto c : cases) {
        const bool russian = c.args.back() == "ru";
        if (russian) c.args.pop_back();
        const CliResult r = RunKestrel(c.args, russian ? "ru_RU.UTF-8" : "C");
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back();
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const CliResult help = RunKestrel({"--help"}, "C");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"-h", "help", "HELP"}) {
        const CliResult same = RunKestrel({word}, "C");
        EXPECT_EQ(same.exitCode, 0) << word;
        EXPECT_EQ(same.out, help.out) << word;
    }
    EXPECT_NE(help.out.find("kestrel TASK ARCHIVE [OPTIONS]"), std::string::npos);
    const CliResult version = RunKestrel({"--version"}, "C");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.starts_with("Kestrel ")) << version.out;
}

TEST(Trust, AnEmptyFileIsNoArchiveAndNothingIsWritten) {
    TempDir dir;
    WriteFileBytes(dir / "empty.assets", {});
    for (const char* task : {"list", "export"}) {
        const CliResult r = RunKestrel({task, (dir / "empty.assets").string()}, "C");
        EXPECT_EQ(r.exitCode, 1) << task;
        EXPECT_NE(r.err.find("empty.assets: not an archive Kestrel can read"), std::string::npos)
            << r.err;
    }
    const CliResult ru = RunKestrel({"list", (dir / "empty.assets").string()}, "ru_RU.UTF-8");
    EXPECT_NE(ru.err.find("empty.assets: это не архив, который Kestrel может прочитать"),
              std::string::npos)
        << ru.err;
    EXPECT_FALSE(fs::exists(dir / "Unity_Assets_Files"));
}

TEST(Trust, ErrorsNameTheArchiveTheUserGave) {
    TempDir dir;
    const auto bytes = BuildUnityFS({{"CAB-one", MinimalAssetsFile("5.0.0f4"), 4}}).bytes;
    WriteFileBytes(dir / "web.unity3d", {bytes.begin(), bytes.end()});
    const CliResult r = RunKestrel({"list", (dir / "web.unity3d").string(), "-e", "99"}, "C");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("web.unity3d: no inner file number 99"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("TEMP"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\r["), std::string::npos) << "no progress bar when not a terminal";
}

TEST(Trust, ProgressBarIsDrawnOnlyWhenAskedAndClearedBeforeOtherLines) {
    for (bool drawBar : {false, true}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ConsoleReporter reporter(out, err, drawBar);
        reporter.Progress(42);
        reporter.Alert("oops");
        reporter.Progress(100);
        std::fflush(err);
        std::rewind(err);
        char buf[512] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, err);
        const std::string text(buf, n);
        if (drawBar) {
            EXPECT_TRUE(text.starts_with("\r[################")) << text;
            EXPECT_NE(text.find("] 42%"), std::string::npos);
            EXPECT_TRUE(text.ends_with("\r\033[Koops\n")) << text;
        } else {
            EXPECT_EQ(text, "oops\n");
        }
        std::fclose(out);
        std::fclose(err);
    }
}

} // namespace

namespace {

TEST(Trust, AReaderThatClosesEarlyRemovesTheWorkingCopy) {
    TempDir dir;
    const fs::path archive = ManyObjectsBundle(dir);
    KestrelChild child = KestrelChild::Start({"list", archive.string()});
    char first[64];
    ASSERT_GT(::read(child.out, first, sizeof first), 0); // as `kestrel list ... | head -c 64`
    ASSERT_TRUE(WaitForWorkingFiles(dir.Path(), 1));
    ::close(child.out);
    child.out = -1;
    EXPECT_EQ(child.Wait(), 128 + SIGPIPE);
    EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty());
}

TEST(Trust, AUnityWebStreamShorterThanItsClaimFailsWithoutFillingTheDisk) {
    TempDir dir;
    UnityRWOptions options;
    options.claimedSize = 0x7FFFFF00u; // about 2 GiB claimed by a stream of a few KiB
    const auto bytes = BuildUnityRW({{"CAB-web", MinimalAssetsFile("4.3.4f1", 3000), 4}}, options);
    WriteFileBytes(dir / "web.unity3d", {bytes.bytes.begin(), bytes.bytes.end()});
    // Under a 64 MiB file-size limit a copy written ahead of the data would fail on the limit.
    KestrelChild child =
        KestrelChild::Start({"list", (dir / "web.unity3d").string()}, rlim_t{64} << 20);
    const std::string out = child.ReadAll();
    EXPECT_EQ(child.Wait(), 1);
    EXPECT_NE(out.find("web.unity3d: offset "), std::string::npos) << out;
    EXPECT_NE(out.find("ends after"), std::string::npos) << out;
    EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty());
}

} // namespace
