// Cooperative stopping of long computations.
//
// A Cancellation belongs to the thread that creates it (its owner) and is
// made the current one of that thread by a CancellationScope. The worker
// pool hands the current cancellation of a caller on to the workers that run
// its chunks, so every thread working for one call sees the same flag.
//
// Long loops call `poll_stop()` where the owner thread may safely run other
// code (loop heads, between blocks of a spectrum): on the owner it runs the
// cancellation's check when one is due, elsewhere it only reads the flag.
// A poll tells that time has passed from a coarse clock, a counter that a
// background thread advances every few milliseconds while cancellations with
// a check exist: reading it costs as little as reading the flag, so loops may
// poll per block of points, and a loop that polls only every some tens of
// milliseconds still has its check run at the first poll after it is due.
// Code in the middle of per-thread state it will reuse calls
// `stop_requested()`, which only reads the flag. Once a stop is requested the
// results of the interrupted computation are meaningless; the computation
// only has to end soon, and its caller discards what it returns.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace vorlane {

class Cancellation {
public:
    using Clock = std::chrono::steady_clock;

    // `check` runs on the owner thread only, about every CHECK_INTERVAL of
    // work, and returns true when the computation must stop.
    explicit Cancellation(std::function<bool()> check);
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    bool requested() const noexcept { return stopped_.load(std::memory_order_relaxed); }
    void request() noexcept { stopped_.store(true, std::memory_order_relaxed); }

    // On the owner thread: runs the check when it is due, reading the clock
    // only when the coarse clock has moved since the last reading (or after
    // many calls, should it stand still). Any thread: whether a stop has
    // been requested.
    bool poll();
    // As poll(), reading the clock at once: for a caller that has just
    // waited rather than worked.
    bool poll_after_wait();

    static constexpr Clock::duration CHECK_INTERVAL = std::chrono::milliseconds(10);

private:
    // The owner's bookkeeping sits on a cache line of its own: workers read
    // the fields above at every block while the owner counts its polls, and
    // sharing a line would make every one of those reads a cache miss.
    static constexpr std::size_t CACHE_LINE = 64;

    std::function<bool()> check_;
    std::thread::id owner_;
    std::atomic<bool> stopped_{false};
    // Touched by the owner thread only.
    alignas(CACHE_LINE) Clock::time_point next_check_;
    unsigned calls_until_clock_ = 0;
    std::uint64_t seen_tick_ = 0;
    // Whether this cancellation keeps the coarse clock running, and the
    // process's fork count then: a forked child counts its users afresh.
    bool clock_user_ = false;
    std::uint64_t clock_user_fork_ = 0;
};

// Makes `cancellation` (may be null) the current one of this thread for the
// scope's lifetime; scopes nest.
class CancellationScope {
public:
    explicit CancellationScope(Cancellation* cancellation) noexcept;
    ~CancellationScope();
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

private:
    Cancellation* previous_;
};

// The current cancellation of this thread, or null.
Cancellation* current_cancellation() noexcept;

// Whether the current cancellation of this thread asked to stop.
inline bool stop_requested() noexcept {
    const Cancellation* c = current_cancellation();
    return c != nullptr && c->requested();
}

// As stop_requested(), after running the owner's check when one is due.
inline bool poll_stop() {
    Cancellation* c = current_cancellation();
    return c != nullptr && c->poll();
}

// Points between two polls of a cheap loop over the points of a spectrum:
// some microseconds of work.
inline constexpr std::size_t POINTS_PER_POLL = 256;

// poll_stop() at the first point of every block of POINTS_PER_POLL; false
// at the others.
inline bool poll_stop_at_point(std::size_t i) { return i % POINTS_PER_POLL == 0 && poll_stop(); }

}  // namespace vorlane
