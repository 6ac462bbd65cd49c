#pragma once
// The cores a run may keep busy. A thread that does CPU-bound work beside the one that started
// the run (a game-folder worker, a block compressor) first takes a core from here and gives it
// back when done, so that parallel work started inside parallel work never runs more busy threads
// than the machine has cores.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrel {

class CoreBudget {
public:
    // Takes up to `wanted` spare cores; returns how many it got, possibly none.
    static unsigned Take(unsigned wanted) {
        int spare = Spare().load();
        while (true) {
            const int got = std::min<int>(spare, static_cast<int>(wanted));
            if (got <= 0) return 0;
            if (Spare().compare_exchange_weak(spare, spare - got)) return static_cast<unsigned>(got);
        }
    }
    static void Give(unsigned count) { Spare() += static_cast<int>(count); }

private:
    // Every core but the one of the thread that started the run.
    static std::atomic<int>& Spare() {
        static std::atomic<int> spare{
            std::max(1, static_cast<int>(std::thread::hardware_concurrency())) - 1};
        return spare;
    }
};

// Spare cores held for a scope.
class CoreLease {
public:
    explicit CoreLease(unsigned wanted) : count_(CoreBudget::Take(wanted)) {}
    ~CoreLease() { CoreBudget::Give(count_); }
    CoreLease(const CoreLease&) = delete;
    CoreLease& operator=(const CoreLease&) = delete;
    unsigned Count() const { return count_; }

private:
    unsigned count_;
};

// Runs task(0) to task(n - 1), each once, on the calling thread and on the spare cores it can
// take (at most n - 1 of them). Every task runs even when another fails; afterwards the error of
// the lowest index that failed is raised, so which error comes out does not depend on the threads.
template <typename Task>
void RunOnCores(size_t n, const Task& task) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failures(n);
    const auto work = [&] {
        for (size_t k = next++; k < n; k = next++) {
            try {
                task(k);
            } catch (...) {
                failures[k] = std::current_exception();
            }
        }
    };
    {
        const CoreLease lease(n > 1 ? static_cast<unsigned>(n - 1) : 0);
        std::vector<std::jthread> helpers;
        for (unsigned h = 0; h < lease.Count(); ++h) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break; // no thread to be had: the others do the work
            }
        }
        work();
    }
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

} // namespace kestrel
