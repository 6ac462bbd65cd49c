#include "texture/ExternalTool.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>

extern char** environ;

namespace kestrel {
namespace {

// posix_spawn file actions that point the standard streams at /dev/null.
class HiddenStreams {
public:
    HiddenStreams() {
        ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        if (!ok_) return;
        ok_ = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0) == 0;
    }
    ~HiddenStreams() { posix_spawn_file_actions_destroy(&actions_); }
    HiddenStreams(const HiddenStreams&) = delete;
    HiddenStreams& operator=(const HiddenStreams&) = delete;
    [[nodiscard]] bool Ok() const { return ok_; }
    [[nodiscard]] const posix_spawn_file_actions_t* Get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

} // namespace

std::filesystem::path FindCrunchTool(const std::filesystem::path& executableDir) {
    if (executableDir.empty()) return {};
    std::error_code ec;
    for (const char* name : {"crunch", "crunch_x64"}) {
        auto candidate = executableDir / name;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return {};
}

std::optional<int> RunAndWait(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments, bool hidden) {
    const std::string programText = program.string();
    std::vector<std::string> texts;
    texts.reserve(arguments.size() + 1);
    texts.push_back(programText);
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(texts.size() + 1);
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    HiddenStreams streams;
    if (hidden && !streams.Ok()) return std::nullopt;
    pid_t pid = 0;
    if (posix_spawn(&pid, programText.c_str(), hidden ? streams.Get() : nullptr, nullptr,
                    argv.data(), environ) != 0) {
        return std::nullopt;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kestrel
