#pragma once
#include <string>

namespace kestrel {

// The command-line help, printed when the first parameter is no task word.
std::string HelpText(bool russian);

// "Archive not found: " in the interface language.
std::string ArchiveNotFoundText(bool russian);

} // namespace kestrel
