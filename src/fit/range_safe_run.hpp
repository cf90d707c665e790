// A solver run that cannot leave the finite parameter ranges: the fallback of
// the multi-start fit when every ordinary run left a range (an exponent
// driven below 0 or above 1) and holding it at the end cost more than a
// point that stayed inside.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "fit/levenberg_marquardt.hpp"

namespace vorlane {

// One run from the physical point `start`, in which every parameter with a
// finite range moves through p = lower + (upper - lower)(1 + sin v)/2 (so it
// stays inside its range whatever the solver does) and every other parameter
// through the usual solver space. Returns physical parameters.
std::expected<SingleStartResult, std::string> range_safe_single_start(
    const FitModel& model, std::span<const double> omega, std::span<const Complex> measured,
    std::span<const double> weights, const Bounds& bounds, std::span<const double> start, const LmOptions& options,
    EvalCounter& counter);

}  // namespace vorlane
