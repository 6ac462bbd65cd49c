#pragma once

namespace kestrel::ui {

// Whether the parameters ask for the window: none, or only the path of an existing file that is
// not a task word.
bool WantsWindow(int argc, char** argv);

// Runs the main window until it is closed, opened on argv[1] when given. Returns the exit code.
int RunWindow(int argc, char** argv);

} // namespace kestrel::ui
