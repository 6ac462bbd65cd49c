#include "support/Cli.h"

#include "support/TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <sys/resource.h>
#include <unistd.h>

extern char** environ;

namespace kestrel::test {

std::string KestrelBinary() {
    return KESTREL_BINARY_PATH;
}

CliResult RunKestrel(const std::vector<std::string>& args, const std::string& lang,
                     const std::string& cwd) {
    TempDir tmp;
    const std::string outPath = (tmp / "out").string();
    const std::string errPath = (tmp / "err").string();

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        // No display either: command-line mode must run without one.
        if (entry.starts_with("LC_ALL=") || entry.starts_with("LC_MESSAGES=") ||
            entry.starts_with("LANG=") || entry.starts_with("DISPLAY=") ||
            entry.starts_with("WAYLAND_DISPLAY=") || entry.starts_with("QT_QPA_PLATFORM=")) {
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("LANG=" + lang);

    std::vector<std::string> argv = {KESTREL_BINARY_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPtrs;
    for (auto& a : argv)
        argvPtrs.push_back(a.data());
    argvPtrs.push_back(nullptr);
    std::vector<char*> envPtrs;
    for (auto& e : env)
        envPtrs.push_back(e.data());
    envPtrs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argvPtrs.data(), envPtrs.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFileText(outPath);
    result.err = ReadFileText(errPath);
    return result;
}

KestrelChild KestrelChild::Start(const std::vector<std::string>& args, rlim_t fileLimit,
                                 bool asNobody, rlim_t addressLimit) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    KestrelChild c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(126);
        const rlimit limit{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const rlimit space{addressLimit, addressLimit};
        ::setrlimit(RLIMIT_AS, &space);
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

namespace {

// The program's own peak resident set so far ("VmHWM" of /proc/PID/status); 0 before its exec
// (the forked copy of this process is no measure of it) and once it has ended.
long HighWaterKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string name = std::filesystem::path(KestrelBinary()).filename().string();
    std::string line;
    if (!std::getline(status, line) || line != "Name:\t" + name.substr(0, 15)) return 0;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
    return 0;
}

} // namespace

std::string KestrelChild::ReadAll() {
    std::string text;
    char buf[65536];
    pollfd ready{out, POLLIN, 0};
    for (;;) {
        // The peak is sampled while the child runs: the one wait4 reports would also count the
        // memory of this process, which the child had between its fork and its exec.
        peakKiB = std::max(peakKiB, HighWaterKiB(pid));
        const int events = ::poll(&ready, 1, 5);
        if (events == 0 || (events < 0 && errno == EINTR)) continue;
        const ssize_t n = events > 0 ? ::read(out, buf, sizeof buf) : -1;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    return text;
}

int KestrelChild::Wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

} // namespace kestrel::test
