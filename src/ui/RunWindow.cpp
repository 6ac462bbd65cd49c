#include "ui/RunWindow.h"

#include "common/Localization.h"
#include "io/AtomicFile.h"
#include "session/RunOptions.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace kestrel::ui {

namespace {

// TERM, INT and HUP remove the working copy and any partial output, as on the command line, and
// end the window with 128 + the signal number.
extern "C" void EndWindowOnSignal(int signal) {
    ScratchFiles::UnlinkAllFromSignal();
    ::_exit(128 + signal);
}

void InstallWindowSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = EndWindowOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace

int RunWindow(int argc, char** argv) {
    // Without any display the toolkit would abort; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(InitLocalization().MsgNeedsDisplay.c_str(), stderr);
        return 1;
    }
    QApplication app(argc, argv);
    InstallWindowSignalHandlers();
    RunOptions options;
    options.text = InitLocalization();
    std::error_code ec;
    options.executableDir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    MainWindow window(options);
    // Centred on the screen.
    if (const QScreen* screen = app.primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    if (argc == 2) {
        const QString path = QString::fromLocal8Bit(argv[1]);
        // A folder opens as a game: every archive below it.
        QTimer::singleShot(0, &window, [&window, path] {
            if (QFileInfo(path).isDir()) {
                window.OpenFolder(path);
            } else {
                window.OpenFile(path);
            }
        });
    }
    return app.exec();
}

} // namespace kestrel::ui
