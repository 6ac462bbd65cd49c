#pragma once
#include "session/State.h"

#include <string>
#include <vector>

namespace kestrel {

// The program body: the window without parameters, one command-line task with them. The exit code
// is 0 for success, 2 for an unknown task word (after the help), 1 for a missing archive or a
// failed task; after a task the process ends here with it, without freeing the run's tables.
int RunProgram(int argc, char** argv);

// One command-line run on a prepared state; params are the parameters after the program name.
int RunCommandLine(KestrelState& state, const std::vector<std::string>& params);

} // namespace kestrel
