#pragma once
#include "session/State.h"

#include <string>

namespace kestrel {

// Runs one command-line task ("export", "import", "exportbundle", "list") on the archive and
// cleans up the working files. Returns the exit code.
int RunTask(KestrelState& state, const std::string& task, const std::string& archive);

// Appends object `index`'s row as the list task prints it: number, name, type, size, offset,
// tab-separated.
void AppendListLine(std::string& out, const AssetsFile& file, size_t index);

} // namespace kestrel
