// Numeric work with the interpreter lock released that Ctrl-C can stop.
//
// Python's own signal handler only notes that a signal arrived; the Python
// handlers (the one raising KeyboardInterrupt among them) run when the main
// thread checks for signals while holding the interpreter lock. A call made
// on the main thread therefore installs a Cancellation whose check takes the
// lock back for a moment, runs PyErr_CheckSignals and releases it again. The
// check runs on the calling thread only, at the computation's safe points
// and while it waits for the worker pool, about every 10 ms; workers only
// read the resulting flag. The lock is taken only by a thread that holds no
// pool lock and whose chunks are not awaited by anyone else, so the check
// cannot deadlock with the pool. Calls from other threads cannot receive
// signals and run unwatched.
#pragma once

#include <optional>
#include <utility>

#include "core/cancellation.hpp"
#include "python/py_ref.hpp"

namespace vorlane::py {

class InterruptibleRelease {
public:
    // Releases the interpreter lock; on the main thread, watches for signals.
    InterruptibleRelease();
    // Takes the lock back.
    ~InterruptibleRelease();
    InterruptibleRelease(const InterruptibleRelease&) = delete;
    InterruptibleRelease& operator=(const InterruptibleRelease&) = delete;

    // Whether a signal handler raised; its exception is then set.
    bool interrupted() const { return cancellation_ && cancellation_->requested(); }

private:
    bool check_signals();

    PyThreadState* state_;
    std::optional<Cancellation> cancellation_;
    std::optional<CancellationScope> scope_;
};

// Runs `f` with the lock released: its result, or nothing when a signal
// handler raised during the work (the exception is set, the result dropped).
template <class F>
auto interruptible(F&& f) -> std::optional<decltype(f())> {
    InterruptibleRelease released;
    auto result = f();
    if (released.interrupted()) return std::nullopt;
    return std::optional<decltype(f())>(std::move(result));
}

}  // namespace vorlane::py
