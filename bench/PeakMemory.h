#pragma once
#include <functional>

namespace kestrel::bench {

// Runs `work` once in a forked child and returns the child's peak resident set in MiB (wait4's
// ru_maxrss), so that no earlier run counts; -1 when the child fails. The child starts with the
// pages this process has resident at the fork, so the figure includes them: benchmarks report
// ParentRssMiB beside it, and keep their generated data in files rather than in memory.
double ChildPeakMiB(const std::function<void()>& work);

// This process's resident set now, in MiB.
double ParentRssMiB();

} // namespace kestrel::bench
