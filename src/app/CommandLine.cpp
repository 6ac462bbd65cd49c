#include "app/CommandLine.h"

#include "app/ConsoleReporter.h"
#include "app/HelpText.h"
#include "app/Options.h"
#include "app/Tasks.h"
#include "common/Error.h"
#include "common/Localization.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {
namespace {

std::filesystem::path ExecutableDirectory(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

bool IsTaskWord(const std::string& word) {
    return word == "export" || word == "import" || word == "exportbundle" || word == "list";
}

} // namespace

int RunCommandLine(KestrelState& state, const std::vector<std::string>& params) {
    const bool russian = LocaleIsRussian();
    state.ConsoleMode = true;
    state.ConsoleAttached = true;
    const std::string task = ToLowerAscii(params.at(0));
    if (!IsTaskWord(task)) {
        ConsoleReporter::Line(stdout, HelpText(russian));
        return 2;
    }
    const std::string archive = params.size() > 1 ? params[1] : std::string();
    std::error_code ec;
    if (archive.empty() || !std::filesystem::is_regular_file(archive, ec)) {
        ConsoleReporter::Line(stdout, ArchiveNotFoundText(russian) + archive);
        return 1;
    }
    ReadOptions(state, params);
    return RunTask(state, task, archive);
}

int RunProgram(int argc, char** argv) {
    KestrelState state;
    state.Localization = InitLocalization();
    state.ExecutableDir = ExecutableDirectory(argc > 0 ? argv[0] : "kestrel");
    ConsoleReporter reporter;
    state.reporter = &reporter;
    if (argc < 2) {
        ConsoleReporter::Line(stderr, "This build of Kestrel has no window yet: run it with a task "
                                      "(kestrel export <archive>); kestrel help lists the tasks.");
        return 1;
    }
    std::vector<std::string> params(argv + 1, argv + argc);
    return RunCommandLine(state, params);
}

} // namespace kestrel
