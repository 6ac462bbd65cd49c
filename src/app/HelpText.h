#pragma once
#include <string>

namespace kestrel {

// The version `kestrel --version` prints.
inline constexpr const char* kKestrelVersion = "0.1.0";

// The command-line help, printed when the first parameter is no task word.
std::string HelpText(bool russian);

// The lines of the usage block that describe `option` ("-e"), or every option line when it is
// no known option; one line each, ending in a line break.
std::string HelpLinesFor(const std::string& option, bool russian);

// "Archive not found: " in the interface language.
std::string ArchiveNotFoundText(bool russian);

} // namespace kestrel
