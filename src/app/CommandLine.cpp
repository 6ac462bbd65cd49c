#include "app/CommandLine.h"

#include "app/ConsoleReporter.h"
#include "app/HelpText.h"
#include "app/Options.h"
#include "app/Tasks.h"
#include "common/Error.h"
#include "common/Localization.h"
#include "io/AtomicFile.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

std::filesystem::path ExecutableDirectory(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

// INT, TERM and HUP remove the working files and partial outputs of the run, then end it with
// 128 + the signal number; so does PIPE, when the reader of the output goes away
// (`kestrel list ARCHIVE | head -1`).
extern "C" void StopOnSignal(int signal) {
    ScratchFiles::UnlinkAllFromSignal();
    ::_exit(128 + signal);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::sigaction(signal, &action, nullptr);
    }
    // A file-size limit then makes the write fail with an error instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool IsTaskWord(const std::string& word) {
    return word == "export" || word == "import" || word == "exportbundle" || word == "list";
}

} // namespace

int RunCommandLine(KestrelState& state, const std::vector<std::string>& params) {
    const bool russian = LocaleIsRussian();
    state.ConsoleMode = true;
    state.ConsoleAttached = true;
    state.KeepListRows = false;
    const std::string task = ToLowerAscii(params.at(0));
    if (task == "--help" || task == "-h" || task == "help") {
        ConsoleReporter::Line(stdout, HelpText(russian));
        return 0;
    }
    if (task == "--version") {
        ConsoleReporter::Line(stdout, std::string("Kestrel ") + kKestrelVersion);
        return 0;
    }
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
    bool missingValue = false;
    const std::string wrong = ReadOptions(state, params, missingValue);
    if (!wrong.empty()) {
        const std::string what = WithValue(missingValue ? state.Localization.MsgOptionNeedsValue
                                                        : state.Localization.MsgUnknownOption,
                                           wrong);
        std::fputs((what + "\n" + HelpLinesFor(wrong, russian)).c_str(), stderr);
        return 2;
    }
    return RunTask(state, task, archive);
}

int RunProgram(int argc, char** argv) {
    KestrelState state;
    state.Localization = InitLocalization();
    state.ExecutableDir = ExecutableDirectory(argc > 0 ? argv[0] : "kestrel");
    InstallSignalHandlers();
    ConsoleReporter reporter(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    state.reporter = &reporter;
    if (argc < 2) {
        ConsoleReporter::Line(stderr, "This build of Kestrel has no window yet: run it with a task "
                                      "(kestrel export <archive>); kestrel help lists the tasks.");
        return 1;
    }
    std::vector<std::string> params(argv + 1, argv + argc);
    const int code = RunCommandLine(state, params);
    // Any error shown makes the run fail, also when the task itself went on to the end.
    const int status = code == 0 && reporter.Alerts() != 0 ? 1 : code;
    // The task has removed its working files and every output is complete. What is left is
    // freeing the run's tables, which for an archive of 200,000 objects costs a third as much as
    // parsing it; the process ends here and the system takes the memory back at once.
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace kestrel
