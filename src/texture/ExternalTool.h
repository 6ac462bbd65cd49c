#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The crunch tool beside the executable: "crunch", else "crunch_x64"; empty when neither is a
// file there (or executableDir is empty).
std::filesystem::path FindCrunchTool(const std::filesystem::path& executableDir);

// Runs `program` with `arguments` (argv[1...]) directly, without a shell, and waits for it to
// end. Hidden: its standard input, output and error are /dev/null. Returns its exit status
// (-1 when a signal ended it), or nullopt when it could not be started.
std::optional<int> RunAndWait(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments, bool hidden);

} // namespace kestrel
