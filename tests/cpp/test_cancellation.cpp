#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include "circuit/impedance.hpp"
#include "circuit/parser.hpp"
#include "core/cancellation.hpp"
#include "core/interruptible_sort.hpp"
#include "core/worker_pool.hpp"
#include "fit/fit_dispatch.hpp"

namespace vorlane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls as a long loop would, until a stop or `limit` runs out.
Clock::duration time_until_stop(Clock::duration limit) {
    const Clock::time_point start = Clock::now();
    while (!poll_stop() && Clock::now() - start < limit) {
    }
    return Clock::now() - start;
}

TEST(Cancellation, TheCheckRunsOnTheOwnerAboutEveryIntervalUntilItSaysStop) {
    std::atomic<int> checks{0};
    // The interval counts from the cancellation's making.
    const Clock::time_point start = Clock::now();
    Cancellation cancellation([&] { return ++checks == 5; });
    const CancellationScope scope(&cancellation);
    (void)time_until_stop(std::chrono::seconds(5));
    const Clock::duration took = Clock::now() - start;
    EXPECT_TRUE(stop_requested());
    EXPECT_EQ(checks.load(), 5);
    EXPECT_GE(took, 5 * Cancellation::CHECK_INTERVAL);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_TRUE(poll_stop());
    EXPECT_EQ(checks.load(), 5);
}

TEST(Cancellation, OtherThreadsOnlyReadTheFlag) {
    std::atomic<int> checks{0};
    Cancellation cancellation([&] { return ++checks > 0; });
    std::thread other([&] {
        const CancellationScope scope(&cancellation);
        EXPECT_GE(time_until_stop(milliseconds(50)), milliseconds(50));
        cancellation.request();
        EXPECT_TRUE(poll_stop());
    });
    other.join();
    EXPECT_EQ(checks.load(), 0);
    EXPECT_FALSE(poll_stop());  // no scope on this thread
}

TEST(Cancellation, ScopesNestAndRestore) {
    Cancellation outer([] { return false; });
    Cancellation inner([] { return false; });
    const CancellationScope a(&outer);
    {
        const CancellationScope b(&inner);
        inner.request();
        EXPECT_TRUE(stop_requested());
    }
    EXPECT_FALSE(stop_requested());
    EXPECT_EQ(current_cancellation(), &outer);
}

TEST(Cancellation, PoolChunksSeeTheCallersStopAndItsWaitKeepsChecking) {
    std::atomic<int> checks{0};
    const Clock::time_point start = Clock::now();
    Cancellation cancellation([&] {
        ++checks;
        return Clock::now() - start > milliseconds(100);
    });
    const CancellationScope scope(&cancellation);
    std::atomic<int> stopped_chunks{0};
    // Every chunk, also the caller's own, runs until it sees the stop.
    pool::parallel_for(4 * pool::concurrency(), 1, [&](std::size_t, std::size_t) {
        if (time_until_stop(std::chrono::seconds(10)) < std::chrono::seconds(10)) ++stopped_chunks;
    });
    EXPECT_EQ(stopped_chunks.load(), static_cast<int>(4 * pool::concurrency()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_GT(checks.load(), 1);
}

TEST(Cancellation, ALoopThatPollsRarelyHasItsCheckRunAtTheFirstPollAfterItIsDue) {
    // Every step of the loop takes 60 ms, as a column of a large
    // least-squares problem does.
    const Clock::time_point start = Clock::now();
    const Clock::duration due = milliseconds(100);
    Cancellation cancellation([&] { return Clock::now() - start > due; });
    const CancellationScope scope(&cancellation);
    while (!poll_stop() && Clock::now() - start < std::chrono::seconds(5)) std::this_thread::sleep_for(milliseconds(60));
    EXPECT_TRUE(stop_requested());
    // Reading the clock only every 17th poll stopped after a second.
    EXPECT_LT(Clock::now() - start, due + milliseconds(150));
}

TEST(Cancellation, TheSortInPiecesGivesTheStableOrderAndStopsWhenAsked) {
    // Keys with many ties, tagged with their position: only a stable sort
    // keeps the tags of equal keys ascending.
    std::vector<std::pair<int, std::size_t>> values;
    for (std::size_t i = 0; i < 5 * SORT_RUN + 123; ++i) values.emplace_back(static_cast<int>((i * 7919) % 1000), i);
    auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
    auto expected = values;
    std::stable_sort(expected.begin(), expected.end(), by_key);
    auto sorted = values;
    stable_sort_polling(sorted, by_key);
    EXPECT_EQ(sorted, expected);

    Cancellation cancellation([] { return true; });
    const CancellationScope scope(&cancellation);
    cancellation.request();
    auto stopped = values;
    stable_sort_polling(stopped, by_key);
    // The same elements, whatever their order: the guess indexes with them.
    std::sort(stopped.begin(), stopped.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ(stopped, values);
}

TEST(Cancellation, ALongGlobalFitEndsSoonAfterTheStop) {
    FitOptions options;
    options.method = "differential_evolution";
    options.de_evaluations = std::uint64_t{1} << 40;
    options.nodes = *parse("R0-(R1,C1)");
    for (int i = 0; i < 40; ++i) {
        options.frequencies.push_back(std::pow(10.0, i / 8.0));
        options.impedances.push_back(impedance(options.nodes, options.frequencies.back() * TWO_PI));
    }
    const Clock::time_point start = Clock::now();
    Cancellation cancellation([&] { return Clock::now() - start > milliseconds(50); });
    const CancellationScope scope(&cancellation);
    (void)run_fit(options);
    EXPECT_TRUE(stop_requested());
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}

}  // namespace
}  // namespace vorlane
