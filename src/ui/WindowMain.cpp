#include "ui/RunWindow.h"

// The window program: `kestrel` starts it when it is given no task.
int main(int argc, char** argv) {
    return kestrel::ui::RunWindow(argc, argv);
}
