#include "ui/RunWindow.h"

#include "common/Localization.h"
#include "session/State.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QScreen>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

namespace kestrel::ui {

bool WantsWindow(int argc, char** argv) {
    if (argc < 2) return true;
    if (argc > 2) return false;
    std::string word = argv[1];
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word == "export" || word == "import" || word == "exportbundle" || word == "list")
        return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(argv[1], ec);
}

int RunWindow(int argc, char** argv) {
    // Without any display the toolkit would abort; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(InitLocalization().MsgNeedsDisplay.c_str(), stderr);
        return 1;
    }
    QApplication app(argc, argv);
    KestrelState state;
    state.Localization = InitLocalization();
    std::error_code ec;
    state.ExecutableDir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    MainWindow window(state);
    // Centred on the screen.
    if (const QScreen* screen = app.primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    if (argc == 2) {
        const QString path = QString::fromLocal8Bit(argv[1]);
        QTimer::singleShot(0, &window, [&window, path] { window.OpenFile(path); });
    }
    return app.exec();
}

} // namespace kestrel::ui
