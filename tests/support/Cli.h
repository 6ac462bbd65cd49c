#pragma once
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
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

// A kestrel child whose stdout and stderr are one pipe the test reads (or leaves full). Started by
// root it runs as "nobody" when asked, so that folder permissions apply to it; under a file-size
// limit a write fails with an error (the program ignores SIGXFSZ); under an address-space limit
// an allocation past it fails.
struct KestrelChild {
    pid_t pid = -1;
    int out = -1;

    static KestrelChild Start(const std::vector<std::string>& args,
                              rlim_t fileLimit = RLIM_INFINITY, bool asNobody = false,
                              rlim_t addressLimit = RLIM_INFINITY);
    // Everything the child writes, up to its end.
    std::string ReadAll();
    // Its exit code, or 1000 + the signal that ended it.
    int Wait();
    long peakKiB = 0; // after ReadAll: the child's peak resident set, sampled every 5 ms
};

} // namespace kestrel::test
