// The fit behind a zero-configuration start: the default least-squares fit,
// checked against the noise floor of the spectrum; when its cost stays well
// above it, a short, seeded global stage, and the best of both.
#pragma once

#include <span>

#include "fit/fit_outcome.hpp"
#include "fit/lm_solver.hpp"

namespace vorlane {

// Who placed the start's arcs: a network of the whole circuit puts them
// where the data shows them; a start read off the spectrum (or a network of
// part of the circuit, which leaves the rest to such a start) puts them at
// the maxima of -Im Z only, and misses an arc that shows as a shoulder or
// sits at an end of the window. The search then also tries an arc where the
// fit misses the data most; after a network's start, only when the fit
// passes the check but lies above the expected optimum by more than half the
// check's spread.
enum class ArcsPlaced { ByNetwork, ByStart };

// The default fit from the values of `nodes`. Deterministic: the same inputs
// give bit-identical outcomes. Never above the default fit's own cost.
FitResultOr zero_config_fit(const SeriesList& nodes, std::span<const double> frequencies_hz,
                            std::span<const Complex> measured, bool modulus, const LmOptions& options,
                            ArcsPlaced placed);

}  // namespace vorlane
