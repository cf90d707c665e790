// Cooperative stopping of long computations: the per-thread current
// cancellation and the rate limit of the owner's check.
#include "core/cancellation.hpp"

#include <algorithm>
#include <utility>

namespace vorlane {
namespace {

thread_local Cancellation* current = nullptr;

// Polls between clock readings: a poll costs a few nanoseconds, a clock
// reading some tens, and loops poll every microsecond or so at the fastest.
constexpr unsigned POLLS_PER_CLOCK_READING = 16;

// The check may have to wait for the interpreter lock held by another
// thread; a check that took long is spaced out so that the waiting costs at
// most about 1/STALL_SHARE of the work, up to MAX_INTERVAL between checks.
constexpr int STALL_SHARE = 20;
constexpr Cancellation::Clock::duration MAX_INTERVAL = std::chrono::milliseconds(200);

}  // namespace

Cancellation::Cancellation(std::function<bool()> check)
    : check_(std::move(check)), owner_(std::this_thread::get_id()), next_check_(Clock::now() + CHECK_INTERVAL) {}

bool Cancellation::poll() {
    if (requested() || !check_ || std::this_thread::get_id() != owner_) return requested();
    if (calls_until_clock_ > 0) {
        --calls_until_clock_;
        return false;
    }
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
