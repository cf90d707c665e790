// The deterministic nine-candidate multi-start least-squares fit.
#pragma once

#include <span>
#include <vector>

#include "fit/fit_model.hpp"
#include "fit/fit_outcome.hpp"
#include "fit/lm_solver.hpp"

namespace vorlane {

struct SingleStartResult {
    std::vector<double> params;  // physical
    bool success = false;
    std::size_t evaluations = 0;
};

// Works on the model's free parameters: `bounds`, `start_solver`, `fixed`
// and the returned parameters all have one entry per free parameter.
std::expected<SingleStartResult, std::string> levenberg_marquardt_single_start(
    const FitModel& model, std::span<const double> omega, std::span<const Complex> measured,
    std::span<const double> weights, const Bounds& bounds, std::span<const double> start_solver,
    const std::vector<bool>& fixed, const LmOptions& options, EvalCounter& counter);

// The nine starting points, physical: x0; x0 with every parameter unbounded
// above scaled by 3, 1/3, 8, 1/8; x0 with every range-bounded parameter at
// 0.2, 0.4, 0.6, 0.8 of its range.
std::vector<std::vector<double>> candidate_starting_points(std::span<const double> x0, const Bounds& bounds);

// Whether `value` lies within 1e-6 of the range [lower, upper] of either
// end (or outside it, or is NaN).
bool at_range_end(double value, double lower, double upper);

// A run is clean when it succeeded at a finite cost, every range-bounded
// parameter lies more than 1e-6 of its range inside both ends, and every
// parameter unbounded above exceeds 100 times its lower bound and stayed
// within [1e-6, 1e6) times its start value x0 (|x0| floored at 1e-300).
// NaN anywhere makes a run unclean. Parameters flagged in `settled` (held
// at an end of their range by the bound clean-up) are passed over.
bool is_clean_solution(std::span<const double> params, double cost, bool success, const Bounds& bounds,
                       std::span<const double> x0, const std::vector<bool>& settled = {});

// How the multi-start goes through its candidates. The default runs every
// candidate, in order of their starting cost, until one ends clean.
struct MultiStartPolicy {
    // A candidate equal to one already run is passed over (it would end at
    // the same point).
    bool skip_repeated = false;
    // A run that converged, clean or not, ends the multi-start: for callers
    // that search further themselves.
    bool stop_at_converged = false;
};

// Solver refusals (negative tolerances) come back as a Solver FitError.
FitResultOr levenberg_marquardt_fit(const FitModel& model, std::span<const double> frequencies_hz,
                                    std::span<const Complex> measured, bool modulus, const LmOptions& options,
                                    const MultiStartPolicy& policy = {});

}  // namespace vorlane
