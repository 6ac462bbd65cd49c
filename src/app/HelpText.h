#pragma once
#include "common/BuildInfo.h"

#include <string>

namespace kestrel {

// The command-line help, printed when the first parameter is no task word.
std::string HelpText(bool russian);

// The lines of the usage block that describe `option` ("-e"), or every option line when it is
// no known option; one line each, ending in a line break.
std::string HelpLinesFor(const std::string& option, bool russian);

// "Archive not found: " in the interface language.
std::string ArchiveNotFoundText(bool russian);

} // namespace kestrel
