#pragma once
#include <functional>

namespace kestrel::bench {

// Runs `work` once in a forked child and returns the child's peak resident set in MiB (wait4's
// ru_maxrss), so that neither the parent's generated data nor its earlier runs count; -1 when the
// child fails.
double ChildPeakMiB(const std::function<void()>& work);

// This process's resident set now, in MiB.
double ParentRssMiB();

} // namespace kestrel::bench
