#pragma once
#include "session/State.h"

#include <string>
#include <vector>

namespace kestrel {

// Reads the options of a command line into the state. `params` are the parameters after the
// program name: params[0] is the task, params[1] the archive, options start at params[2].
// Returns the option that is unknown or lacks its value ("" when all are right); options read
// before it are applied.
std::string ReadOptions(KestrelState& state, const std::vector<std::string>& params,
                        bool& missingValue);

// Rewrites the -t list through the type-name table ("tex" -> "28", "dds" -> "28" plus "89" and
// "186", ...) and sets the export switches its words ask for.
void ApplyTypeNames(KestrelState& state);

// The switches of an export of everything (no -t).
void SetExportAllSwitches(KestrelState& state);

std::string ToLowerAscii(std::string text);

} // namespace kestrel
