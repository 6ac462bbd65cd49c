#pragma once
#include "session/State.h"

#include <string>
#include <vector>

namespace kestrel {

// The program body: the window without parameters, one command-line task with them. Returns the
// process exit code: 0 success, 2 unknown task word (after the help), 1 missing archive or a
// failed task.
int RunProgram(int argc, char** argv);

// One command-line run on a prepared state; params are the parameters after the program name.
int RunCommandLine(KestrelState& state, const std::vector<std::string>& params);

} // namespace kestrel
