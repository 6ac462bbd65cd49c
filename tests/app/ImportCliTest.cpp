// The import task of the built program: export, edit, import end to end, its messages, and the
// faults a user meets (the process killed at any moment, a file-size limit, a folder that cannot
// be written): the archive is always exactly the old or exactly the new one.
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

std::vector<fs::path> TemporaryFilesIn(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string().find(".kestrel-") != std::string::npos)
            found.push_back(e.path());
    }
    return found;
}

bool Reopens(const fs::path& archive) {
    try {
        KestrelState state;
        state.ConsoleMode = true;
        OpenArchive(state, archive.string());
        return state.Items().Count() == 3;
    } catch (const std::exception&) {
        return false;
    }
}

// A kestrel child with stdout and stderr on one pipe; started by root it can run as "nobody",
// so that folder permissions apply to it, and under a file-size limit (SIGXFSZ is ignored by
// the program, so the write fails with an error instead).
struct Child {
    pid_t pid = -1;
    int out = -1;

    static Child Start(const std::vector<std::string>& args, rlim_t fileLimit = RLIM_INFINITY,
                       bool asNobody = false) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        Child c;
        c.pid = ::fork();
        if (c.pid == 0) {
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            ::close(fds[0]);
            if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            const rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::vector<std::string> argv = {KestrelBinary()};
            argv.insert(argv.end(), args.begin(), args.end());
            std::vector<char*> ptrs;
            for (auto& a : argv)
                ptrs.push_back(a.data());
            ptrs.push_back(nullptr);
            ::execv(ptrs[0], ptrs.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        c.out = fds[0];
        return c;
    }
    std::string ReadAll() {
        std::string text;
        char buf[4096];
        for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
};

TEST(ImportCli, ExportEditImportGivesTheEditBackOut) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    const fs::path tree = dir / "Unity_Assets_Files" / "level0";
    WriteFileBytes(tree / "readme.txt", Bytes("a longer text than before"));
    const CliResult r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("import\r\n\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Unity_Assets_Files/level0/readme.txt\n"), std::string::npos) << r.out;

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
    KestrelState state;
    state.ConsoleMode = true;
    OpenArchive(state, archive.string());
    EXPECT_EQ(state.Items().rows[0].PayloadSize, 7u);
}

TEST(ImportCli, AFileOfNoObjectIsToldInTheUsersLanguageAndChangesNothing) {
    struct Case {
        std::string lang, text;
    };
    for (const Case& c : {Case{"C.UTF-8", "File not found in archive: Readme.txt\r\nAnd it will "
                                          "be skipped.\n"},
                          Case{"ru_RU.UTF-8", "Файл не найден в архиве: Readme.txt\r\nИ будет "
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

TEST(ImportCli, KilledAtAnyMomentTheArchiveIsTheOldOrTheNewOne) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, 4u << 20);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "readme.txt",
                   std::vector<unsigned char>(1024 + 9, 'n'));
    const auto oldBytes = ReadFileBytes(archive);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunKestrel({"import", archive.string()}, "C.UTF-8").exitCode, 0);
    const auto runTime = std::chrono::steady_clock::now() - started;
    const auto newBytes = ReadFileBytes(archive);
    ASSERT_NE(oldBytes, newBytes);

    std::mt19937 random(12345);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(runTime).count();
    std::uniform_int_distribution<long long> moment(0, span + span / 4);
    size_t old = 0, replaced = 0;
    for (int i = 0; i < 50; ++i) {
        WriteFileBytes(archive, oldBytes);
        Child child = Child::Start({"import", archive.string()});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child.pid, SIGKILL);
        child.ReadAll();
        child.Wait();
        const auto now = ReadFileBytes(archive);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "kill " << i;
        EXPECT_TRUE(Reopens(archive)) << "kill " << i;
        (now == oldBytes ? old : replaced) += 1;
        // A kill leaves its temporary file: nothing can remove it then.
        for (const fs::path& p : TemporaryFilesIn(dir.Path()))
            fs::remove(p);
    }
    std::cout << "50 kills: " << old << " left the old archive, " << replaced << " the new one\n";
}

TEST(ImportCli, AFileSizeLimitFailsClearlyAndLeavesTheArchiveAndNoTemporaryFile) {
    TempDir dir;
    const fs::path archive = WriteLevel(dir, 256 * 1024);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "readme.txt", Bytes("longer text"));
    const auto before = ReadFileBytes(archive);
    Child child = Child::Start({"import", archive.string()}, 64 * 1024);
    const std::string said = child.ReadAll();
    EXPECT_EQ(child.Wait(), 1) << said;
    EXPECT_NE(said.find("Cannot import into " + archive.string()), std::string::npos) << said;
    EXPECT_NE(said.find("File too large"), std::string::npos) << said;
    EXPECT_NE(said.find("The archive is unchanged."), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(archive), before);
    EXPECT_TRUE(TemporaryFilesIn(dir.Path()).empty());
}

TEST(ImportCli, AFolderThatCannotBeWrittenIsAClearError) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the child as another user";
    TempDir dir;
    const fs::path archive = WriteLevel(dir);
    ASSERT_EQ(RunKestrel({"export", archive.string()}, "C.UTF-8").exitCode, 0);
    WriteFileBytes(dir / "Unity_Assets_Files" / "level0" / "readme.txt", Bytes("longer text"));
    const auto before = ReadFileBytes(archive);
    ::chmod(dir.Path().c_str(), 0555);
    Child child = Child::Start({"import", archive.string()}, RLIM_INFINITY, true);
    const std::string said = child.ReadAll();
    const int code = child.Wait();
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(code, 1) << said;
    EXPECT_NE(said.find("cannot be written to"), std::string::npos) << said;
    EXPECT_EQ(ReadFileBytes(archive), before);
}

} // namespace
