// The deterministic multi-start least-squares fit: nine candidates run in
// order of their cost until one ends clean, then a re-fit with the
// parameters that ended at a bound held fixed.
#include "fit/levenberg_marquardt.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>

#include "circuit/impedance.hpp"
#include "core/cancellation.hpp"
#include "fit/range_safe_run.hpp"
#include "fit/start_point.hpp"

namespace vorlane {

namespace {

constexpr double RANGE_END_TOLERANCE = 1e-6;
constexpr double ABOVE_LOWER_FACTOR = 100.0;
constexpr double MIN_DRIFT = 1e-6;
constexpr double MAX_DRIFT = 1e6;
constexpr double DRIFT_FLOOR = 1e-300;

// Orders doubles by the IEEE 754 total order when compared as signed integers.
std::int64_t total_order_key(double x) {
    const auto bits = std::bit_cast<std::int64_t>(x);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// A point with its cost and the residual vector that cost was taken from.
struct Best {
    std::vector<double> params;
    double cost;
    bool success;
    std::vector<double> residuals;
};

// Everything a run needs besides its start and fixed flags, and the problem
// and solver arrays every run of the fit shares.
struct FitContext {
    FitContext(const FitModel& model, std::span<const double> omega, std::span<const Complex> measured,
               std::span<const double> weights, const LmOptions& options, EvalCounter& counter)
        : model(model),
          omega(omega),
          measured(measured),
          weights(weights),
          bounds(model.bounds()),
          options(options),
          counter(counter),
          problem(model, omega, measured, weights, model.bounds(), {}, {}, counter) {}

    const FitModel& model;
    std::span<const double> omega;
    std::span<const Complex> measured;
    std::span<const double> weights;
    const Bounds& bounds;
    const LmOptions& options;
    EvalCounter& counter;
    LmProblem problem;
    LmWorkspace workspace;
    std::vector<double> scratch;  // residuals whose cost is all that is kept

    std::expected<SingleStartResult, std::string> run(std::span<const double> start_physical,
                                                      const std::vector<bool>& fixed) {
        problem.restart(to_solver_space(start_physical, bounds), fixed);
        const std::expected<LmReport, std::string> report = lm_minimize(problem, options, workspace);
        if (!report) return std::unexpected(report.error());
        return SingleStartResult{physical(problem.params(), bounds), is_success(report->reason),
                                 report->evaluations};
    }
    // The point with its cost.
    Best evaluated(std::vector<double> params, bool success) const {
        std::vector<double> r = residuals(model, params, omega, measured, weights, counter);
        const double c = cost_of(r);
        return Best{std::move(params), c, success, std::move(r)};
    }
    double cost(std::span<const double> params) {
        scratch.resize(problem.num_residuals());
        residuals_into(model, params, omega, measured, weights, counter, scratch);
        return cost_of(scratch);
    }
    // A run that cannot leave the finite ranges, with its cost; nothing (and
    // the solver's text in `error`) when the solver fails.
    std::optional<Best> range_safe(std::span<const double> start, std::uint64_t& iterations) {
        std::expected<SingleStartResult, std::string> run =
            range_safe_single_start(problem, start, options, workspace);
        if (!run) {
            error = run.error();
            return std::nullopt;
        }
        iterations += run->evaluations;
        return evaluated(std::move(run->params), run->success);
    }

    // A run whose finite-range parameters ended at or beyond an end of their
    // range, brought back inside: those parameters held at the end while the
    // others are fitted once more, or a range-safe run from the clamped
    // point, whichever costs less (the clamped point when both fail). Any
    // other run is returned as it is. Nothing when the solver fails.
    std::optional<Best> clean_up(Best run, std::uint64_t& iterations, std::vector<bool>& at_bound) {
        std::vector<double> clamped = clamp_to_bounds(run.params, bounds);
        at_bound.assign(clamped.size(), false);
        for (std::size_t i = 0; i < clamped.size(); ++i) {
            const auto [lower, upper] = bounds[i];
            at_bound[i] = !unbounded_above(bounds[i]) && !(clamped[i] > lower && clamped[i] < upper);
        }
        if (std::none_of(at_bound.begin(), at_bound.end(), [](bool b) { return b; })) return run;
        std::expected<SingleStartResult, std::string> refit = this->run(clamped, at_bound);
        if (!refit) {
            error = refit.error();
            return std::nullopt;
        }
        iterations += refit->evaluations;
        // The refit starts from the clamped point and accepts only steps that
        // lower the cost, so a successful refit is never worse than that point.
        Best refitted = evaluated(std::move(refit->params), true);
        if (refit->success && std::isfinite(refitted.cost)) return refitted;
        Best result = evaluated(clamped, run.success);
        std::optional<Best> safe = range_safe(clamped, iterations);
        if (!safe) return std::nullopt;
        if (safe->cost < result.cost) result = std::move(*safe);
        return result;
    }

    std::string error;
};

}  // namespace

bool at_range_end(double value, double lower, double upper) {
    const double tolerance = RANGE_END_TOLERANCE * (upper - lower);
    return !(value - lower > tolerance && upper - value > tolerance);
}

bool is_clean_solution(std::span<const double> p, double cost, bool success, const Bounds& bounds,
                       std::span<const double> x0, const std::vector<bool>& settled) {
    if (!success || !std::isfinite(cost)) return false;
    const std::size_t n = std::min({p.size(), bounds.size(), x0.size()});
    for (std::size_t i = 0; i < n; ++i) {
        if (i < settled.size() && settled[i]) continue;
        const auto [lower, upper] = bounds[i];
        if (!unbounded_above(bounds[i])) {
            if (at_range_end(p[i], lower, upper)) return false;
            continue;
        }
        if (!(p[i] > ABOVE_LOWER_FACTOR * lower)) return false;
        const double start = std::fabs(x0[i]);
        const double q = p[i] / (start > DRIFT_FLOOR ? start : DRIFT_FLOOR);
        if (!(std::isfinite(q) && q >= MIN_DRIFT && q < MAX_DRIFT)) return false;
    }
    return true;
}

std::expected<SingleStartResult, std::string> levenberg_marquardt_single_start(
    const FitModel& model, std::span<const double> omega, std::span<const Complex> measured,
    std::span<const double> weights, const Bounds& bounds, std::span<const double> start_solver,
    const std::vector<bool>& fixed, const LmOptions& options, EvalCounter& counter) {
    LmProblem problem(model, omega, measured, weights, bounds, start_solver, fixed, counter);
    const std::expected<LmReport, std::string> report = lm_minimize(problem, options);
    if (!report) return std::unexpected(report.error());
    return SingleStartResult{physical(problem.params(), bounds), is_success(report->reason), report->evaluations};
}

FitResultOr levenberg_marquardt_fit(const FitModel& model, std::span<const double> frequencies_hz,
                                    std::span<const Complex> measured, bool modulus, const LmOptions& options,
                                    const MultiStartPolicy& policy) {
    if (const std::optional<FitError> error = check_fit_inputs(frequencies_hz.size(), measured.size(), model)) {
        return std::unexpected(*error);
    }
    std::vector<double> omega(frequencies_hz.size());
    for (std::size_t i = 0; i < omega.size(); ++i) omega[i] = frequencies_hz[i] * TWO_PI;
    const std::vector<double> weights = compute_weights(measured, modulus);
    EvalCounter counter;
    const Bounds& bounds = model.bounds();
    const std::vector<double>& x0 = model.start();
    FitContext fit(model, omega, measured, weights, options, counter);

    const std::vector<std::vector<double>> candidates = candidate_starting_points(x0, bounds);
    std::vector<double> candidate_costs(candidates.size());
    // The first candidate is x0, whose residuals may become the outcome's.
    Best start = fit.evaluated(candidates[0], false);
    candidate_costs[0] = start.cost;
    for (std::size_t i = 1; i < candidates.size(); ++i) candidate_costs[i] = fit.cost(candidates[i]);
    std::vector<std::size_t> order(candidates.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return total_order_key(candidate_costs[a]) < total_order_key(candidate_costs[b]);
    });

    const std::vector<bool> none_fixed(x0.size(), false);
    std::optional<Best> best;
    // The lowest cost of any run, whatever its success: no result may be
    // worse than a point the fit has already reached inside the bounds.
    std::optional<Best> lowest;
    std::uint64_t iterations = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t index = order[k];
        auto same_start = [&](std::size_t earlier) { return candidates[earlier] == candidates[index]; };
        if (policy.skip_repeated &&
            std::any_of(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), same_start)) {
            continue;
        }
        std::expected<SingleStartResult, std::string> run = fit.run(candidates[index], none_fixed);
        if (!run) return std::unexpected(FitError{FitError::Kind::Solver, run.error()});
        iterations += run->evaluations;
        const bool run_converged = run->success;
        std::vector<bool> held;
        std::optional<Best> cleaned =
            fit.clean_up(fit.evaluated(std::move(run->params), run->success), iterations, held);
        if (!cleaned) return std::unexpected(FitError{FitError::Kind::Solver, fit.error});
        // The parameters the clean-up settled at an end of their range are
        // judged by the clean-up; the others as usual.
        const bool clean = is_clean_solution(cleaned->params, cleaned->cost, cleaned->success, bounds, x0, held);
        if (std::isfinite(cleaned->cost) && (!lowest || cleaned->cost < lowest->cost)) lowest = *cleaned;
        // A success beats any failure; between equals only a strictly lower cost wins.
        if (!best || (cleaned->success && !best->success) ||
            (cleaned->success == best->success && cleaned->cost < best->cost)) {
            best = std::move(*cleaned);
        }
        if (clean || (policy.stop_at_converged && run_converged) || poll_stop()) break;
    }
    Best result = std::move(*best);

    // A failed run may have ended lower than the best success, and no fit may
    // end above the start it was given. Either way the runs found nothing
    // better, so one more run that cannot leave the ranges starts from the
    // better point.
    std::optional<Best> inside;
    if (lowest && !(result.cost <= lowest->cost)) inside = std::move(*lowest);
    if (within_bounds(x0, bounds) && std::isfinite(candidate_costs[0]) &&
        !((inside ? inside->cost : result.cost) <= candidate_costs[0])) {
        start.success = result.success && same_point(result.params, x0);
        inside = std::move(start);
    }
    if (inside) {
        result = std::move(*inside);
        std::optional<Best> safe = fit.range_safe(result.params, iterations);
        if (!safe) return std::unexpected(FitError{FitError::Kind::Solver, fit.error});
        if (safe->cost < result.cost) result = std::move(*safe);
    }
    return build_outcome(model, result.params, result.success, iterations, omega, measured, weights, counter,
                         result.residuals);
}

}  // namespace vorlane
