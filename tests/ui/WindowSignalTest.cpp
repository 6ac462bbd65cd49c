// TERM, INT and HUP to the window remove its working copy, as they do on the command line.
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

TEST(WindowSignals, RemoveTheWorkingCopyAndEndWith128PlusTheSignal) {
    const fs::path program = fs::path(KestrelBinary()).parent_path() / "kestrel-window";
    ASSERT_TRUE(fs::exists(program)) << program;
    TempDir dir;
    AssetsSpec plan;
    plan.objects.push_back({49, "note", TextBody("x")});
    const auto assets = BuildAssetsFile(plan);
    const fs::path archive = dir / "small.unity3d";
    const auto bytes = BuildUnityFS({{"CAB-small", {assets.begin(), assets.end()}, 4}}).bytes;
    WriteFileBytes(archive, {bytes.begin(), bytes.end()});
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl(program.c_str(), program.c_str(), archive.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // The window keeps its working copy while it is open (bounded wait: 20 s).
        bool made = false;
        for (int i = 0; i < 2000 && !made; ++i) {
            made = !WorkingFilesIn(dir.Path()).empty();
            if (!made) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(made) << "signal " << signal;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
        EXPECT_TRUE(WorkingFilesIn(dir.Path()).empty()) << "signal " << signal;
    }
}

} // namespace
