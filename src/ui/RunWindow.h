#pragma once

namespace kestrel::ui {

// Runs the main window until it is closed, opened on argv[1] when given. Returns the exit code.
int RunWindow(int argc, char** argv);

} // namespace kestrel::ui
