#include "app/CommandLine.h"

#include "app/ConsoleReporter.h"
#include "app/HelpText.h"
#include "app/Options.h"
#include "app/Tasks.h"
#include "common/BuildInfo.h"
#include "common/Error.h"
#include "common/Localization.h"
#include "io/AtomicFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
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

std::optional<Task> TaskOfWord(const std::string& word) {
    if (word == "export") return Task::kExport;
    if (word == "import") return Task::kImport;
    if (word == "exportbundle") return Task::kExportBundle;
    if (word == "list") return Task::kList;
    return std::nullopt;
}

// The window program: beside this one in a build folder, in its own folder once installed.
constexpr const char* kWindowProgram = "kestrel-window";

std::filesystem::path WindowProgram(const std::filesystem::path& executableDir) {
    std::error_code ec;
    const std::filesystem::path beside = executableDir / kWindowProgram;
    if (std::filesystem::exists(beside, ec)) return beside;
    return (executableDir / kWindowDirFromBinDir / kWindowProgram).lexically_normal();
}

int StartWindow(const std::filesystem::path& executableDir, int argc, char** argv) {
    const std::string window = WindowProgram(executableDir).string();
    std::vector<char*> args;
    args.push_back(const_cast<char*>(window.c_str()));
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(window.c_str(), args.data());
    ConsoleReporter::Line(stderr, "Kestrel's window (" + window +
                                      ") cannot be started: " + std::strerror(errno) +
                                      ". Run it with a task for the command line: kestrel export "
                                      "<archive> (kestrel --help lists the tasks).");
    return 1;
}

} // namespace

bool WantsWindow(const std::vector<std::string>& params) {
    if (params.empty()) return true;
    if (params.size() > 1) return false;
    // Options and task words are decided before file names: "--help" is the help even when a
    // file of that name lies in the current folder.
    const std::string word = ToLowerAscii(params[0]);
    if (word.starts_with('-') || TaskOfWord(word) || word == "help") return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(params[0], ec);
}

int RunCommandLine(RunOptions& options, const std::vector<std::string>& params,
                   Reporter& reporter) {
    const bool russian = LocaleIsRussian();
    options.keepListRows = false;
    const std::string task = ToLowerAscii(params.at(0));
    if (task == "--help" || task == "-h" || task == "help") {
        ConsoleReporter::Line(stdout, HelpText(russian));
        return 0;
    }
    if (task == "--version") {
        ConsoleReporter::Line(stdout, std::string("Kestrel ") + kKestrelVersion);
        return 0;
    }
    const std::optional<Task> chosen = TaskOfWord(task);
    if (!chosen) {
        ConsoleReporter::Line(stdout, HelpText(russian));
        return 2;
    }
    options.task = *chosen;
    const std::string archive = params.size() > 1 ? params[1] : std::string();
    std::error_code ec;
    // A folder is a whole game: every archive below it.
    if (archive.empty() || (!std::filesystem::is_regular_file(archive, ec) &&
                            !std::filesystem::is_directory(archive, ec))) {
        ConsoleReporter::Line(stdout, ArchiveNotFoundText(russian) + archive);
        return 1;
    }
    bool missingValue = false;
    const std::string wrong = ReadOptions(options, params, missingValue);
    if (!wrong.empty()) {
        const std::string what = WithValue(missingValue ? options.text.MsgOptionNeedsValue
                                                        : options.text.MsgUnknownOption,
                                           wrong);
        std::fputs((what + "\n" + HelpLinesFor(wrong, russian)).c_str(), stderr);
        return 2;
    }
    if (options.task == Task::kExport) {
        if (options.typeFilterActive) {
            ApplyTypeNames(options);
        } else {
            options.outputs = kOutEverything;
        }
    }
    return RunTask(options, archive, reporter);
}

int RunProgram(int argc, char** argv) {
    RunOptions options;
    options.executableDir = ExecutableDirectory(argc > 0 ? argv[0] : "kestrel");
    std::vector<std::string> params(argv + 1, argv + argc);
    if (WantsWindow(params)) return StartWindow(options.executableDir, argc, argv);
    options.text = InitLocalization();
    InstallSignalHandlers();
    ConsoleReporter reporter(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    const int code = RunCommandLine(options, params, reporter);
    // Any error shown makes the run fail, also when the task itself went on to the end.
    const int status = code == 0 && reporter.Alerts() != 0 ? 1 : code;
    // The task has removed its working files and every output is complete. What is left is
    // freeing the run's tables, which for an archive of 200,000 objects costs a third as much as
    // parsing it; the process ends here and the system takes the memory back at once.
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace kestrel
