// The process-wide worker pool.
//
// A parallel_for publishes one job: its range cut into contiguous chunks of
// at least `grain` indices, claimed through an atomic counter. Whoever runs a
// chunk (a worker or the caller) claims it first, so a chunk is never waited
// for before somebody is executing it; the caller claims chunks of its own
// job until none is left and then only waits for the chunks already running.
// A nested call from inside a worker therefore always makes progress, even
// when every other worker is busy: it simply runs its chunks itself.
//
// A worker that finishes a job keeps looking for the next one for a short
// while (IDLE_SPIN) before it sleeps on the condition variable. Waking a
// sleeping thread takes tens of microseconds, as long as a whole job of a
// few thousand frequencies, so calls that follow one another (a loop over
// spectra, a sweep of parameter values) would otherwise run on the caller
// alone. The spin costs at most IDLE_SPIN of processor time per job.
//
// A job carries the caller's current cancellation to the threads that run
// its chunks. A caller that owns a cancellation keeps polling it while it
// waits for chunks running elsewhere, so that a stop is noticed even when
// the last chunks are long.
#include "core/worker_pool.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

#include "core/cancellation.hpp"

namespace vorlane::pool {
namespace {

// Several chunks per thread so that uneven chunks still balance out.
constexpr std::size_t CHUNKS_PER_THREAD = 4;

// Pauses (some microseconds in all) a caller spins before it sleeps.
constexpr int WAIT_SPINS = 64;

// How long an idle worker looks for new work before it sleeps, and how many
// pauses it makes between two looks at the clock.
constexpr std::chrono::microseconds IDLE_SPIN{200};
constexpr int PAUSES_PER_CLOCK_READ = 16;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

std::size_t available_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

struct Job {
    const std::function<void(std::size_t, std::size_t)>* body;
    std::size_t n;
    std::size_t chunk_size;
    std::size_t chunks;
    std::atomic<std::size_t> next_chunk{0};
    std::atomic<std::size_t> unfinished;
    // Released once, by whoever finishes the last chunk.
    std::binary_semaphore finished{0};
    Cancellation* cancellation = current_cancellation();

    Job(const std::function<void(std::size_t, std::size_t)>& b, std::size_t n_, std::size_t size,
        std::size_t count)
        : body(&b), n(n_), chunk_size(size), chunks(count), unfinished(count) {}

    // Runs chunks until none is left unclaimed; false if none was left.
    bool run_chunks() {
        const CancellationScope scope(cancellation);
        bool ran = false;
        for (std::size_t c = next_chunk.fetch_add(1); c < chunks; c = next_chunk.fetch_add(1)) {
            const std::size_t begin = c * chunk_size;
            (*body)(begin, std::min(n, begin + chunk_size));
            if (unfinished.fetch_sub(1) == 1) finished.release();
            ran = true;
        }
        return ran;
    }

    bool exhausted() const { return next_chunk.load() >= chunks; }

    // The chunks left are running on threads that claimed them before the
    // caller ran out; they usually end within microseconds, so a short spin
    // saves the sleep and wake-up. A thread preempted inside its chunk keeps
    // the caller waiting until it runs again: the caller sleeps meanwhile,
    // leaving its processor to that thread.
    void wait_until_done() {
        for (int spin = 0; spin < WAIT_SPINS && unfinished.load() != 0; ++spin) cpu_relax();
        if (unfinished.load() == 0) return;
        if (cancellation == nullptr) {
            finished.acquire();
            return;
        }
        while (!finished.try_acquire_for(Cancellation::CHECK_INTERVAL)) cancellation->poll_after_wait();
    }
};

class Pool {
public:
    explicit Pool(std::size_t threads) : threads_(threads), owner_(getpid()) {
        for (std::size_t i = 1; i < threads_; ++i) std::thread([this] { work(); }).detach();
    }

    std::size_t threads() const { return threads_; }
    pid_t owner() const { return owner_; }

    void run(const std::shared_ptr<Job>& job) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(job);
            queued_.store(queue_.size(), std::memory_order_release);
        }
        // The caller takes a chunk itself; waking more workers than there are
        // chunks beyond that one would only make them find nothing to do.
        const std::size_t helpers = std::min(threads_ - 1, job->chunks - 1);
        for (std::size_t i = 0; i < helpers; ++i) wake_.notify_one();
        job->run_chunks();
        retire(job);
        job->wait_until_done();
    }

private:
    void retire(const std::shared_ptr<Job>& job) {
        std::lock_guard lock(mutex_);
        std::erase(queue_, job);
        queued_.store(queue_.size(), std::memory_order_release);
    }

    // Returns as soon as a job is queued, or after IDLE_SPIN without one.
    void spin_for_work() const {
        const auto deadline = std::chrono::steady_clock::now() + IDLE_SPIN;
        for (;;) {
            for (int pause = 0; pause < PAUSES_PER_CLOCK_READ; ++pause) {
                if (queued_.load(std::memory_order_acquire) != 0) return;
                cpu_relax();
            }
            if (std::chrono::steady_clock::now() >= deadline) return;
        }
    }

    void work() {
        for (;;) {
            spin_for_work();
            std::shared_ptr<Job> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !queue_.empty(); });
                job = queue_.front();
                if (job->exhausted()) {
                    queue_.pop_front();
                    queued_.store(queue_.size(), std::memory_order_release);
                    continue;
                }
            }
            job->run_chunks();
            retire(job);
        }
    }

    std::size_t threads_;
    pid_t owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> queue_;
    // queue_.size(), readable without the mutex by spinning workers.
    std::atomic<std::size_t> queued_{0};
};

// Never destroyed: detached workers may still be waiting at process exit.
// A forked child inherits the pointer but not the threads, so it starts its
// own pool instead of queueing work nobody would take.
Pool& instance() {
    static std::mutex creation;
    static std::atomic<Pool*> current{nullptr};
    Pool* pool = current.load(std::memory_order_acquire);
    if (pool != nullptr && pool->owner() == getpid()) return *pool;
    std::lock_guard lock(creation);
    pool = current.load(std::memory_order_acquire);
    if (pool == nullptr || pool->owner() != getpid()) {
        pool = new Pool(available_threads());
        current.store(pool, std::memory_order_release);
    }
    return *pool;
}

}  // namespace

std::size_t concurrency() { return instance().threads(); }

void parallel_for(std::size_t n, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body) {
    if (n == 0) return;
    grain = std::max<std::size_t>(grain, 1);
    Pool& pool = instance();
    const std::size_t wanted = pool.threads() * CHUNKS_PER_THREAD;
    const std::size_t chunk_size = std::max(grain, (n + wanted - 1) / wanted);
    const std::size_t chunks = (n + chunk_size - 1) / chunk_size;
    if (pool.threads() == 1 || chunks == 1) {
        body(0, n);
        return;
    }
    pool.run(std::make_shared<Job>(body, n, chunk_size, chunks));
}

}  // namespace vorlane::pool
