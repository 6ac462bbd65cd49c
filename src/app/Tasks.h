#pragma once
#include "common/Reporter.h"
#include "session/RunOptions.h"

#include <string>

namespace kestrel {

// Runs one command-line task (options.task: list, export, exportbundle or import) on the archive;
// the archive is opened once and its working files are removed afterwards. Returns the exit code.
int RunTask(const RunOptions& options, const std::string& archive, Reporter& reporter);

} // namespace kestrel
