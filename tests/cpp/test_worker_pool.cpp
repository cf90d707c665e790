#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/worker_pool.hpp"

namespace vorlane {
namespace {

// Every index in [0, n) visited exactly once, chunks of at least `grain`.
void check_cover(std::size_t n, std::size_t grain) {
    std::vector<std::atomic<int>> hits(n);
    std::atomic<std::size_t> short_chunks{0};
    pool::parallel_for(n, grain, [&](std::size_t begin, std::size_t end) {
        ASSERT_LT(begin, end);
        ASSERT_LE(end, n);
        if (end - begin < grain && end != n) ++short_chunks;
        for (std::size_t i = begin; i < end; ++i) ++hits[i];
    });
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << "n " << n << " index " << i;
    EXPECT_EQ(short_chunks.load(), 0u);
}

TEST(WorkerPool, CoversTheRangeExactlyOnce) {
    for (std::size_t n : {0u, 1u, 2u, 7u, 100u, 12345u})
        for (std::size_t grain : {0u, 1u, 3u, 64u, 100000u}) check_cover(n, grain);
}

TEST(WorkerPool, SizedToTheThreadsAvailable) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_EQ(pool::concurrency(), static_cast<std::size_t>(CPU_COUNT(&set)));
}

TEST(WorkerPool, MapKeepsIndexOrder) {
    const auto out = pool::parallel_map<std::size_t>(5000, [](std::size_t i) { return i * i; });
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * i);
}

std::size_t nested_sum(std::size_t depth) {
    if (depth == 0) return 1;
    const auto parts = pool::parallel_map<std::size_t>(6, [depth](std::size_t) { return nested_sum(depth - 1); });
    std::size_t sum = 0;
    for (std::size_t p : parts) sum += p;
    return sum;
}

TEST(WorkerPool, NestedCallsFromWorkersComplete) { EXPECT_EQ(nested_sum(4), 6u * 6u * 6u * 6u); }

TEST(WorkerPool, ManyConcurrentCallers) {
    std::vector<std::thread> callers;
    std::atomic<std::size_t> failures{0};
    for (int t = 0; t < 12; ++t) {
        callers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                std::atomic<std::size_t> total{0};
                pool::parallel_for(1000, 7, [&](std::size_t begin, std::size_t end) {
                    total += nested_sum(1) * (end - begin);
                });
                if (total != 6000) ++failures;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0u);
}

TEST(WorkerPool, ForkedChildStartsItsOwnPool) {
    pool::parallel_for(100, 1, [](std::size_t, std::size_t) {});
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(20);  // a hang in the child must fail the test, not block it
        const auto out = pool::parallel_map<int>(1000, [](std::size_t i) { return static_cast<int>(i); });
        _exit(out[999] == 999 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vorlane
