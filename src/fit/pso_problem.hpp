// What the global methods share: the solver-space cost of one fit, the
// search box, the rules by which a cost becomes a best, and the hand-over to
// the polish step.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "fit/fit_outcome.hpp"
#include "fit/global_methods.hpp"

namespace vorlane {

// What a search hands on: its best solver-space point (empty when every
// cost was NaN) and its own iteration count.
struct SearchResult {
    std::vector<double> best;
    std::uint64_t iterations = 0;
};

// The spectrum in engine units, the free parameters' bounds and starting values,
// and the fit's evaluation counter. Built after check_fit_inputs passed.
class PsoProblem {
public:
    PsoProblem(FitModel model, const SpectrumRef& spectrum);
    PsoProblem(const PsoProblem&) = delete;
    PsoProblem& operator=(const PsoProblem&) = delete;

    // 0.5 * sum r_k^2 at physical(y); one counted residual evaluation. A
    // non-finite cost is returned as it is.
    double cost(std::span<const double> y) const;

    std::size_t dimension() const { return start_.size(); }
    const Bounds& bounds() const { return bounds_; }
    const std::vector<double>& start() const { return start_; }
    std::vector<double> start_solver() const { return to_solver_space(start_, bounds_); }
    EvalCounter& counter() const { return counter_; }

    // polish_or_fallback from the physical image of the solver-space `best`.
    FitResultOr polish(std::span<const double> best, std::uint64_t iterations) const;
    // The polish of a search's best point, or the solver FitError
    // `no_best_text` when the search found none.
    FitResultOr finish(const SearchResult& search, const char* no_best_text) const;
    // build_outcome at the physical `params` on this problem's counter.
    FitOutcome outcome(std::span<const double> params, bool success, std::uint64_t iterations) const;

private:
    FitModel model_;
    SpectrumRef spectrum_;
    std::vector<double> omega_;
    std::vector<double> weights_;
    Bounds bounds_;
    std::vector<double> start_;
    mutable EvalCounter counter_;
};

struct SearchBox {
    std::vector<double> lower;
    std::vector<double> upper;
};

// Linear [lo, hi] for bounded parameters; for unbounded ones four decades
// either side of max(|x0|, 1e-6), as log10 offsets from lo.
SearchBox pso_search_box(const Bounds& bounds, std::span<const double> start);

// A solver FitError naming the first parameter whose box range has a NaN
// limit or no finite width: no method can sample such a range.
std::optional<FitError> check_search_box(const SearchBox& box, const FitModel& model);

FitError solver_error(std::string text);
// The refusal when the operating system gives no entropy for a source.
FitError no_entropy_error();

// A cost becomes the run's best when it is lower, or when both are
// infinite with the same sign; NaN never does.
inline bool replaces_best(double cost, double best) {
    return cost < best || (std::isinf(cost) && std::isinf(best) && std::signbit(cost) == std::signbit(best));
}

// The best point of a run so far; it starts at cost +inf and empty.
struct RunBest {
    std::vector<double> point;
    double cost = std::numeric_limits<double>::infinity();

    void offer(std::span<const double> y, double y_cost) {
        if (!replaces_best(y_cost, cost)) return;
        point.assign(y.begin(), y.end());
        cost = y_cost;
    }
};

// A cost improves on an incumbent when it is lower, or when it is a number
// and the incumbent is not: a NaN incumbent must never block all progress.
inline bool improves(double cost, double incumbent) {
    return cost < incumbent || (std::isnan(incumbent) && !std::isnan(cost));
}

// Strict weak order for stable sorts by cost: ascending, NaN (of either
// sign) after every number.
inline bool cost_before(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

}  // namespace vorlane
