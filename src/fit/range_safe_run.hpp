// A solver run that cannot leave the finite parameter ranges: the fallback of
// the multi-start fit when every ordinary run left a range (an exponent
// driven below 0 or above 1) and holding it at the end cost more than a
// point that stayed inside.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "fit/levenberg_marquardt.hpp"
#include "fit/lm_problem.hpp"

namespace vorlane {

// One run from the physical point `start`, in which every parameter with a
// finite range moves through p = lower + (upper - lower)(1 + sin v)/2 (so it
// stays inside its range whatever the solver does) and every other parameter
// through the usual solver space. Returns physical parameters. `problem` is
// restarted with nothing fixed; `workspace` holds the solver's arrays.
std::expected<SingleStartResult, std::string> range_safe_single_start(LmProblem& problem,
                                                                      std::span<const double> start,
                                                                      const LmOptions& options,
                                                                      LmWorkspace& workspace);

}  // namespace vorlane
