#pragma once
#include <string>
#include <vector>

namespace kestrel::test {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The path of the built kestrel binary.
std::string KestrelBinary();

// Runs the kestrel binary with the arguments under the given locale (LC_ALL and LC_MESSAGES
// cleared, LANG set) and collects its output. cwd: working directory ("" = unchanged).
CliResult RunKestrel(const std::vector<std::string>& args, const std::string& lang,
                     const std::string& cwd = "");

} // namespace kestrel::test
