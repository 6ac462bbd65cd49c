#pragma once
#include "common/Reporter.h"
#include "session/RunOptions.h"

#include <string>
#include <vector>

namespace kestrel {

// The command-line program: one task, or the help or version. The exit code is 0 for success, 2
// for an unknown task word (after the help), 1 for a missing archive or a failed task; after a
// task the process ends here with it, without freeing the run's tables.
int RunProgram(int argc, char** argv);

// One command-line run; params are the parameters after the program name. `options` holds the
// language and the executable's directory; the task and the options are read into it.
int RunCommandLine(RunOptions& options, const std::vector<std::string>& params, Reporter& reporter);

// True when these parameters ask for the window: none, or one that names an existing file and is
// neither a task word nor an option.
bool WantsWindow(const std::vector<std::string>& params);

} // namespace kestrel
