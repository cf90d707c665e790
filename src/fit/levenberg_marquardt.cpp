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
#include "circuit/layout.hpp"
#include "core/cancellation.hpp"

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

struct Best {
    std::vector<double> params;
    double cost;
    bool success;
};

// Everything a run needs besides its start and fixed flags.
struct FitContext {
    const SeriesList& nodes;
    std::span<const double> omega;
    std::span<const Complex> measured;
    std::span<const double> weights;
    const Bounds& bounds;
    const LmOptions& options;
    EvalCounter& counter;

    std::expected<SingleStartResult, std::string> run(std::span<const double> start_physical,
                                                      const std::vector<bool>& fixed) const {
        return levenberg_marquardt_single_start(nodes, omega, measured, weights, bounds,
                                                to_solver_space(start_physical, bounds), fixed, options, counter);
    }
    double cost(std::span<const double> params) const {
        return cost_of(residuals(nodes, params, omega, measured, weights, counter));
    }
};

}  // namespace

bool is_clean_solution(std::span<const double> p, double cost, bool success, const Bounds& bounds,
                       std::span<const double> x0) {
    if (!success || !std::isfinite(cost)) return false;
    const std::size_t n = std::min({p.size(), bounds.size(), x0.size()});
    for (std::size_t i = 0; i < n; ++i) {
        const auto [lower, upper] = bounds[i];
        if (!unbounded_above(bounds[i])) {
            const double tolerance = RANGE_END_TOLERANCE * (upper - lower);
            if (!(std::fabs(p[i] - lower) > tolerance && std::fabs(upper - p[i]) > tolerance)) return false;
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
    const SeriesList& nodes, std::span<const double> omega, std::span<const Complex> measured,
    std::span<const double> weights, const Bounds& bounds, std::span<const double> start_solver,
    const std::vector<bool>& fixed, const LmOptions& options, EvalCounter& counter) {
    LmProblem problem(nodes, std::vector<double>(omega.begin(), omega.end()), measured,
                      std::vector<double>(weights.begin(), weights.end()), bounds,
                      std::vector<double>(start_solver.begin(), start_solver.end()), fixed, counter);
    const std::expected<LmReport, std::string> report = lm_minimize(problem, options);
    if (!report) return std::unexpected(report.error());
    return SingleStartResult{physical(problem.params(), bounds), is_success(report->reason), report->evaluations};
}

FitResultOr levenberg_marquardt_fit(const SeriesList& nodes, std::span<const double> frequencies_hz,
                                    std::span<const Complex> measured, bool modulus, const LmOptions& options) {
    if (const std::optional<FitError> error = check_fit_inputs(frequencies_hz.size(), measured.size(), nodes)) {
        return std::unexpected(*error);
    }
    std::vector<double> omega(frequencies_hz.size());
    for (std::size_t i = 0; i < omega.size(); ++i) omega[i] = frequencies_hz[i] * TWO_PI;
    const std::vector<double> weights = compute_weights(measured, modulus);
    EvalCounter counter;
    const Bounds bounds = param_bounds(nodes);
    const std::vector<double> x0 = param_values(nodes);
    const FitContext fit{nodes, omega, measured, weights, bounds, options, counter};

    const std::vector<std::vector<double>> candidates = candidate_starting_points(x0, bounds);
    std::vector<std::int64_t> keys(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) keys[i] = total_order_key(fit.cost(candidates[i]));
    std::vector<std::size_t> order(candidates.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    const std::vector<bool> none_fixed(x0.size(), false);
    std::optional<Best> best;
    std::uint64_t iterations = 0;
    for (const std::size_t index : order) {
        std::expected<SingleStartResult, std::string> run = fit.run(candidates[index], none_fixed);
        if (!run) return std::unexpected(FitError{FitError::Kind::Solver, run.error()});
        iterations += run->evaluations;
        const double c = fit.cost(run->params);
        const bool clean = is_clean_solution(run->params, c, run->success, bounds, x0);
        // A success beats any failure; between equals only a strictly lower cost wins.
        if (!best || (run->success && !best->success) || (run->success == best->success && c < best->cost)) {
            best = Best{std::move(run->params), c, run->success};
        }
        if (clean || poll_stop()) break;
    }

    // Parameters that ended at (or beyond) an end of their range are held
    // there while the others are fitted once more.
    std::vector<double> result = clamp_to_bounds(best->params, bounds);
    bool success = best->success;
    std::vector<bool> at_bound(result.size(), false);
    for (std::size_t i = 0; i < result.size(); ++i) {
        const auto [lower, upper] = bounds[i];
        at_bound[i] = !unbounded_above(bounds[i]) && !(result[i] > lower && result[i] < upper);
    }
    if (std::none_of(at_bound.begin(), at_bound.end(), [](bool b) { return b; })) {
        result = std::move(best->params);
    } else {
        std::expected<SingleStartResult, std::string> refit = fit.run(result, at_bound);
        if (!refit) return std::unexpected(FitError{FitError::Kind::Solver, refit.error()});
        iterations += refit->evaluations;
        const double refit_cost = fit.cost(refit->params);
        // The refit starts from the clamped point and accepts only steps that
        // lower the cost, so a successful refit is never worse than that
        // point. Comparing it with the best cost instead would almost always
        // discard it, because the best point lay beyond the bound and no
        // point inside can reach its cost; the clamped point with the other
        // parameters left where they suited the out-of-range value would be
        // returned instead.
        if (refit->success && std::isfinite(refit_cost)) {
            result = std::move(refit->params);
            success = true;
        }
    }
    return build_outcome(nodes, result, success, iterations, omega, measured, weights, counter);
}

}  // namespace vorlane
