#include "app/CommandLine.h"
#include "ui/RunWindow.h"

// Without parameters, or with only an archive path, the window opens; every task runs on the
// command line without constructing any part of the window toolkit.
int main(int argc, char** argv) {
    if (kestrel::ui::WantsWindow(argc, argv)) return kestrel::ui::RunWindow(argc, argv);
    return kestrel::RunProgram(argc, argv);
}
