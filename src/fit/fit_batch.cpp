// Fitting many spectra: the batch thread, the claim loop that spreads the
// spectra over the worker pool, and the warm-started walk in input order.
#include "fit/fit_batch.hpp"

#include <algorithm>
#include <compare>
#include <deque>
#include <exception>
#include <new>
#include <utility>

#include "core/worker_pool.hpp"
#include "fit/start_point.hpp"

namespace vorlane {
namespace {

// Nothing may escape into the pool: allocation failures and broken
// invariants become the spectrum's error.
template <class Fit>
BatchOutcome contained(Fit&& fit) noexcept {
    try {
        return fit();
    } catch (const std::bad_alloc&) {
        return std::unexpected(BatchError{BatchError::Kind::OutOfMemory, {}});
    } catch (const std::exception& error) {
        return std::unexpected(BatchError{BatchError::Kind::Internal, error.what()});
    }
}

double cost_per_point(const FitOutcome& outcome, std::size_t points) {
    return outcome.cost / static_cast<double>(std::max<std::size_t>(points, 1));
}

// The median of a few costs; NaN costs sort last, as in every ranking of fits.
double median(std::deque<double> costs) {
    std::ranges::sort(costs, [](double a, double b) { return std::strong_order(a, b) < 0; });
    return costs.empty() ? 0.0 : costs[costs.size() / 2];
}

// The warm fit is kept unless the fresh fit is clearly better; comparisons
// are strict and ordered, so a NaN cost never decides for the fresh fit.
bool fresh_is_clearly_better(const BatchOutcome& warm, const BatchOutcome& fresh) {
    if (!fresh || !fresh->success) return false;
    if (!warm || !warm->success) return true;
    return warm->cost > WARM_REPLACE_FACTOR * fresh->cost;
}

}  // namespace

FitBatch::FitBatch(BatchPlan plan, std::vector<FitOptions> items)
    : plan_(std::move(plan)), items_(std::move(items)), outcomes_(items_.size()), placeholders_(items_.size()) {}

FitBatch::~FitBatch() {
    interrupt();
    if (thread_.joinable()) thread_.join();
}

void FitBatch::start() {
    thread_ = std::thread([this] { run(); });
}

bool FitBatch::wait_for(std::chrono::milliseconds slice) {
    std::unique_lock lock(mutex_);
    return done_signal_.wait_for(lock, slice, [this] { return done_; });
}

void FitBatch::wait() {
    std::unique_lock lock(mutex_);
    done_signal_.wait(lock, [this] { return done_; });
}

void FitBatch::cancel() { cancelled_.store(true); }

void FitBatch::interrupt() {
    cancel();
    interruption_.request();
}

void FitBatch::run() {
    const CancellationScope scope(&interruption_);
    if (plan_.warm_start) {
        run_in_order();
    } else {
        run_side_by_side();
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    done_signal_.notify_all();
}

// Each task claims the next spectrum until none is left, so uneven fits
// balance out; a claimed spectrum is always fitted, so when a fit fails
// every spectrum before it has been or is being fitted.
void FitBatch::run_side_by_side() {
    const std::size_t threads = pool::concurrency();
    const std::size_t wanted = plan_.workers == 0 ? threads : std::min(plan_.workers, threads);
    const std::size_t tasks = std::min(wanted, items_.size());
    pool::parallel_for(tasks, 1, [this](std::size_t begin, std::size_t end) {
        for (std::size_t task = begin; task < end; ++task) {
            while (!cancelled_.load()) {
                const std::size_t i = next_.fetch_add(1);
                if (i >= items_.size()) break;
                record(i, contained([&] { return fresh_fit(i); }));
            }
        }
    });
}

void FitBatch::run_in_order() {
    std::optional<std::size_t> previous;
    std::deque<double> recent_costs;  // per point, of the last WARM_HISTORY fits
    for (std::size_t i = 0; i < items_.size() && !cancelled_.load(); ++i) {
        BatchOutcome outcome = contained([&] {
            return previous ? warm_fit(i, *outcomes_[*previous].value(), median(recent_costs)) : fresh_fit(i);
        });
        if (outcome) {
            previous = i;
            recent_costs.push_back(cost_per_point(*outcome, items_[i].frequencies.size()));
            if (recent_costs.size() > WARM_HISTORY) recent_costs.pop_front();
        }
        record(i, std::move(outcome));
    }
}

BatchOutcome FitBatch::fit_from(FitOptions& item, SeriesList start) {
    item.nodes = std::move(start);
    FitResultOr result = run_fit(item);
    if (!result) return std::unexpected(BatchError{BatchError::Kind::Fit, result.error().message()});
    return std::move(*result);
}

BatchOutcome FitBatch::fresh_fit(std::size_t index) {
    FitOptions& item = items_[index];
    auto start = plan_.fresh_start(plan_.circuit, item.frequencies, item.impedances);
    if (!start) return std::unexpected(BatchError{BatchError::Kind::Fit, std::move(start.error())});
    placeholders_[index] = std::move(start->placeholders);
    return fit_from(item, std::move(start->nodes));
}

BatchOutcome FitBatch::warm_fit(std::size_t index, const FitOutcome& previous, double usual_cost_per_point) {
    FitOptions& item = items_[index];
    // A warm start is given to the fit like the caller's own values: the
    // plain default fit runs from it, without the zero-configuration search.
    // The previous result holds the fixed values and lies within the own
    // bounds, so only the default rule for free values has work to do.
    const bool zero_configuration = std::exchange(item.zero_configuration, false);
    const FitModel previous_model(previous.circuit, item.constraints);
    BatchOutcome warm = fit_from(item, move_start_inside(previous_model, StartOrigin::User).model.tree());
    item.zero_configuration = zero_configuration;
    const bool check = !warm || !warm->success ||
                       !(cost_per_point(*warm, item.frequencies.size()) <= WARM_CHECK_FACTOR * usual_cost_per_point);
    if (!check) return warm;
    BatchOutcome fresh = fresh_fit(index);
    if (fresh_is_clearly_better(warm, fresh)) return fresh;
    placeholders_[index].clear();
    return warm;
}

void FitBatch::record(std::size_t index, BatchOutcome outcome) {
    if (!outcome && plan_.stop_at_first_error) cancel();
    outcomes_[index] = std::move(outcome);
    finished_.fetch_add(1);
}

}  // namespace vorlane
