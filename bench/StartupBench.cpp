// Process start-up of the command line: `kestrel --version` run to its end, next to `/bin/true`
// started the same way (posix_spawn, wait). The difference is what loading the program and its
// libraries costs each run of a script or a game-folder loop.
#include "support/Cli.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs the program with its output to /dev/null and waits for it.
void RunOnce(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::abort();
}

void BM_StartTrue(benchmark::State& state) {
    for (auto _ : state)
        RunOnce({"/bin/true"});
}
BENCHMARK(BM_StartTrue)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartKestrelVersion(benchmark::State& state) {
    const std::string kestrel = kestrel::test::KestrelBinary();
    for (auto _ : state)
        RunOnce({kestrel, "--version"});
}
BENCHMARK(BM_StartKestrelVersion)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
