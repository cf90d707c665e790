// The process-wide worker pool.
//
// One pool per process, sized to the hardware threads available to the
// process and started on first use. Work is a parallel map over an index
// range: the range is split recursively between idle workers, the calling
// thread takes part, and results keep index order. A call made from inside a
// worker spreads its work over the same pool without deadlocking.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace vorlane::pool {

// Number of threads that run work (workers plus the caller).
std::size_t concurrency();

// Calls body(begin, end) on disjoint contiguous chunks covering [0, n), at
// least `grain` indices per chunk except the last; returns when all chunks
// are done. `body` must not throw.
void parallel_for(std::size_t n, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body);

// Results of f(0) .. f(n - 1) in index order, one index per task.
template <class T, class F>
std::vector<T> parallel_map(std::size_t n, F&& f) {
    std::vector<T> out(n);
    parallel_for(n, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out[i] = f(i);
    });
    return out;
}

}  // namespace vorlane::pool
