// Fitting many spectra with one circuit and one set of options: side by side
// on the process-wide worker pool, or in input order with warm starts. The
// batch runs on a thread of its own so that the caller stays free to watch
// it, and it can be cancelled between fits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/cancellation.hpp"
#include "fit/fit_dispatch.hpp"

namespace vorlane {

// Why one spectrum of a batch has no outcome.
struct BatchError {
    enum class Kind { Fit, OutOfMemory, Internal };
    Kind kind = Kind::Fit;
    std::string message;  // the fit's or the guess's user-facing message
};

using BatchOutcome = std::expected<FitOutcome, BatchError>;

// Where one spectrum's fit starts, and the parameters a guess left at their
// placeholder values (the network gave no finite value for them).
struct Start {
    SeriesList nodes;
    std::vector<std::size_t> placeholders;
};

// The start a lone fit of one spectrum would use (the circuit's own values
// or a guess), or the message of why there is none. Called from several
// threads at once.
using StartRule = std::function<std::expected<Start, std::string>(
    const SeriesList& circuit, std::span<const double> frequencies, std::span<const Complex> impedances)>;

struct BatchPlan {
    SeriesList circuit;
    StartRule fresh_start;
    // In input order, each fit starting from the previous fitted values (see
    // the warm-start rule below); otherwise every fit from its fresh start.
    bool warm_start = false;
    // No fit starts after one has failed.
    bool stop_at_first_error = false;
    // Fits run at once; 0 or more than the pool has means every thread.
    std::size_t workers = 0;
};

// The warm-start rule. Spectrum k starts from the values fitted to the
// last spectrum before it that has a fit, moved inside their bounds as fit
// moves a circuit's own values: the warm fit is the fit of the previous
// result's circuit with guess_init=False. That warm fit is checked against a
// fit from the fresh start when it did not succeed, or when its cost per
// point exceeds WARM_CHECK_FACTOR times the median cost per point of the
// last WARM_HISTORY fits (a median, so that one spectrum the circuit cannot
// fit does not disarm the check for the next). The fresh fit replaces it
// when it succeeded and the warm fit did not, or when the warm fit's cost
// exceeds WARM_REPLACE_FACTOR times the fresh one's: about two standard
// deviations of the chi-square of a 60-point spectrum, so a replacement
// is clearly better and a warm fit about as good keeps its continuity.
inline constexpr double WARM_CHECK_FACTOR = 2.0;
inline constexpr double WARM_REPLACE_FACTOR = 1.25;
inline constexpr std::size_t WARM_HISTORY = 5;

class FitBatch {
public:
    // `items` hold each spectrum with the method and its settings; their
    // `nodes` are replaced by each fit's start.
    FitBatch(BatchPlan plan, std::vector<FitOptions> items);
    // Interrupts and waits for the fits under way.
    ~FitBatch();
    FitBatch(const FitBatch&) = delete;
    FitBatch& operator=(const FitBatch&) = delete;

    // Starts the fits on the batch's own thread and the worker pool.
    void start();
    // True once no fit runs or will run; waits at most `slice` for that.
    bool wait_for(std::chrono::milliseconds slice);
    void wait();
    // Lets the fits under way end and starts no other.
    void cancel();
    // Starts no other fit and stops those under way within milliseconds,
    // leaving their outcomes meaningless: for a caller that drops the batch.
    void interrupt();
    // Spectra whose fit has ended.
    std::size_t finished() const { return finished_.load(); }

    // Per spectrum in input order: its outcome, or nothing when it never ran.
    // Only after wait_for has returned true or wait has returned.
    std::vector<std::optional<BatchOutcome>>& outcomes() { return outcomes_; }
    const SeriesList& circuit() const { return plan_.circuit; }
    // Per spectrum: the parameters its fresh start left at placeholders.
    const std::vector<std::vector<std::size_t>>& placeholders() const { return placeholders_; }

private:
    void run();
    void run_side_by_side();
    void run_in_order();
    BatchOutcome fit_from(FitOptions& item, SeriesList start);
    BatchOutcome fresh_fit(std::size_t index);
    BatchOutcome warm_fit(std::size_t index, const FitOutcome& previous, double usual_cost_per_point);
    void record(std::size_t index, BatchOutcome outcome);

    BatchPlan plan_;
    std::vector<FitOptions> items_;
    std::vector<std::optional<BatchOutcome>> outcomes_;
    std::vector<std::vector<std::size_t>> placeholders_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> finished_{0};
    std::atomic<bool> cancelled_{false};
    // Current on the batch thread and, through the pool, on its workers.
    Cancellation interruption_{nullptr};
    std::mutex mutex_;
    std::condition_variable done_signal_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace vorlane
