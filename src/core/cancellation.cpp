// Cooperative stopping of long computations: the per-thread current
// cancellation, the coarse clock of the owners' polls and the rate limit of
// the owner's check.
#include "core/cancellation.hpp"

#include <pthread.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace vorlane {
namespace {

thread_local Cancellation* current = nullptr;

// Polls between clock readings when the coarse clock stands still (its
// thread could not be started): a poll costs a few nanoseconds, a clock
// reading some tens, and loops poll every microsecond or so at the fastest.
constexpr unsigned POLLS_PER_CLOCK_READING = 256;

// The check may have to wait for the interpreter lock held by another
// thread; a check that took long is spaced out so that the waiting costs at
// most about 1/STALL_SHARE of the work, up to MAX_INTERVAL between checks.
constexpr int STALL_SHARE = 20;
constexpr Cancellation::Clock::duration MAX_INTERVAL = std::chrono::milliseconds(200);

// The coarse clock: `ticks` grows every TICK while some cancellation with a
// check exists, and for LINGER_TICKS more, so that calls following one
// another do not wake the thread each time. A poll that sees it unchanged
// knows that less than about TICK has passed since its last clock reading
// and skips the reading; one that sees it moved reads the clock.
//
// The state is never destroyed: the detached thread may still run at
// process exit. A forked child has the state but not the thread: the fork
// handler makes the next cancellation start one.
constexpr std::chrono::milliseconds TICK{5};
constexpr unsigned LINGER_TICKS = 200;

struct CoarseClock {
    std::atomic<std::uint64_t> ticks{0};
    std::atomic<std::uint32_t> users{0};
    std::atomic<bool> running{false};
    // Forks since the process started, and the thread that is the clock's
    // (an older one, if it still runs, ends at its next tick).
    std::atomic<std::uint64_t> forks{0};
    std::atomic<std::uint64_t> generation{0};
};

CoarseClock& coarse_clock() {
    static CoarseClock* const clock = new CoarseClock;
    return *clock;
}

void tick_while_used(std::uint64_t generation) {
    CoarseClock& clock = coarse_clock();
    unsigned idle_ticks = 0;
    while (clock.generation.load(std::memory_order_relaxed) == generation) {
        if (clock.users.load(std::memory_order_relaxed) != 0) {
            idle_ticks = 0;
        } else if (++idle_ticks > LINGER_TICKS) {
            clock.users.wait(0);  // until the next cancellation with a check
            idle_ticks = 0;
            continue;
        }
        std::this_thread::sleep_for(TICK);
        clock.ticks.fetch_add(1, std::memory_order_relaxed);
    }
}

// In a forked child only this thread is left, so plain stores suffice.
void forget_clock_thread() {
    CoarseClock& clock = coarse_clock();
    clock.users.store(0, std::memory_order_relaxed);
    clock.running.store(false, std::memory_order_relaxed);
    clock.forks.fetch_add(1, std::memory_order_relaxed);
}

// Starts the clock's thread unless one runs. Without a thread (the system
// refused one) polls fall back to reading the clock every
// POLLS_PER_CLOCK_READING calls.
void start_coarse_clock() {
    CoarseClock& clock = coarse_clock();
    if (clock.running.exchange(true)) return;
    static const bool fork_handler = pthread_atfork(nullptr, nullptr, forget_clock_thread) == 0;
    (void)fork_handler;
    const std::uint64_t generation = clock.generation.fetch_add(1, std::memory_order_relaxed) + 1;
    try {
        std::thread(tick_while_used, generation).detach();
    } catch (const std::system_error&) {
    }
}

}  // namespace

Cancellation::Cancellation(std::function<bool()> check)
    : check_(std::move(check)), owner_(std::this_thread::get_id()), next_check_(Clock::now() + CHECK_INTERVAL) {
    if (!check_) return;
    CoarseClock& clock = coarse_clock();
    clock_user_ = true;
    clock_user_fork_ = clock.forks.load(std::memory_order_relaxed);
    if (clock.users.fetch_add(1) == 0) clock.users.notify_one();
    start_coarse_clock();
    seen_tick_ = clock.ticks.load(std::memory_order_relaxed);
}

Cancellation::~Cancellation() {
    CoarseClock& clock = coarse_clock();
    if (clock_user_ && clock_user_fork_ == clock.forks.load(std::memory_order_relaxed)) clock.users.fetch_sub(1);
}

bool Cancellation::poll() {
    if (requested() || !check_ || std::this_thread::get_id() != owner_) return requested();
    const std::uint64_t tick = coarse_clock().ticks.load(std::memory_order_relaxed);
    if (tick == seen_tick_ && calls_until_clock_ > 0) {
        --calls_until_clock_;
        return false;
    }
    seen_tick_ = tick;
    calls_until_clock_ = POLLS_PER_CLOCK_READING;
    return poll_after_wait();
}

bool Cancellation::poll_after_wait() {
    if (requested() || !check_ || std::this_thread::get_id() != owner_) return requested();
    const Clock::time_point now = Clock::now();
    if (now < next_check_) return false;
    if (check_()) {
        request();
        return true;
    }
    const Clock::time_point after = Clock::now();
    next_check_ = after + std::clamp<Clock::duration>((after - now) * STALL_SHARE, CHECK_INTERVAL, MAX_INTERVAL);
    return false;
}

CancellationScope::CancellationScope(Cancellation* cancellation) noexcept : previous_(current) {
    current = cancellation;
}

CancellationScope::~CancellationScope() { current = previous_; }

Cancellation* current_cancellation() noexcept { return current; }

}  // namespace vorlane
