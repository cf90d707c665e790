// One Levenberg-Marquardt minimisation (MINPACK lmder, scaled trust region).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "fit/lm_problem.hpp"

namespace vorlane {

struct LmOptions {
    double ftol = 1e-8;
    double xtol = 1e-8;
    double gtol = 1e-8;
    std::uint32_t max_iterations = 200;
    // Off at 0: after every stall_iterations accepted steps, a cost that
    // fell by less than stall_tolerance of itself since the last such check
    // ends the run (a crawl along a flat valley).
    std::uint32_t stall_iterations = 0;
    double stall_tolerance = 0.0;
};

enum class LmTermination {
    ZeroResiduals,
    Converged,          // ftol and/or xtol test met
    Orthogonal,         // gtol test met
    BudgetExhausted,
    Stalled,            // the stall test met
    ToleranceTooSmall,
    NonFinite,
    NoParameters,
    NoResiduals,
    WrongDimensions,
    ResidualsUnavailable,
    Interrupted,        // the current cancellation asked to stop
};

bool is_success(LmTermination reason);

struct LmReport {
    LmTermination reason;
    std::size_t evaluations;  // the initial one plus one per trial point
};

// The work arrays of a run. Kept between the runs of one fit, they are
// allocated by the first run only (and by a larger problem).
struct LmWorkspace {
    std::vector<double> fjac, fvec, wa4, x, diag, qtf, wa1, wa2, wa3;
    std::vector<std::size_t> ipvt;
};

// Minimises 0.5 * |r(u)|^2 from the problem's current vector and leaves the
// problem at the last accepted iterate. A negative tolerance (sign bit set,
// -0.0 included) is refused before the run with "ftol must be >= 0",
// "xtol must be >= 0" or "gtol must be >= 0".
std::expected<LmReport, std::string> lm_minimize(LeastSquaresProblem& problem, const LmOptions& options,
                                                 LmWorkspace& workspace);
std::expected<LmReport, std::string> lm_minimize(LeastSquaresProblem& problem, const LmOptions& options);

}  // namespace vorlane
