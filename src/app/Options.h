#pragma once
#include "session/RunOptions.h"

#include <string>
#include <vector>

namespace kestrel {

// Reads the options of a command line into `options`. `params` are the parameters after the
// program name: params[0] is the task, params[1] the archive, options start at params[2].
// Returns the option that is unknown or lacks its value ("" when all are right); options read
// before it are applied.
std::string ReadOptions(RunOptions& options, const std::vector<std::string>& params,
                        bool& missingValue);

// Rewrites the -t list through the type-name table ("tex" -> "28", "dds" -> "28" plus "89" and
// "186", ...) and adds the output kinds its words ask for.
void ApplyTypeNames(RunOptions& options);

std::string ToLowerAscii(std::string text);

} // namespace kestrel
