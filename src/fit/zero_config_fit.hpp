// The fit behind a zero-configuration start: the default least-squares fit,
// checked against the noise floor of the spectrum; when its cost stays well
// above it, a short, seeded global stage, and the best of both.
#pragma once

#include <span>

#include "fit/fit_outcome.hpp"
#include "fit/lm_solver.hpp"

namespace vorlane {

// The default fit from the values of `nodes`. Deterministic: the same inputs
// give bit-identical outcomes. Never above the default fit's own cost.
FitResultOr zero_config_fit(const SeriesList& nodes, std::span<const double> frequencies_hz,
                            std::span<const Complex> measured, bool modulus, const LmOptions& options);

}  // namespace vorlane
