// How low a fit's cost can be expected to go on a spectrum: a linear fit of
// a dense ladder of R || C elements (plus a resistance, an inductance, a
// series capacitance and a Warburg term) describes any spectrum that obeys
// the Kramers-Kronig relations down to its noise, so its residual measures
// the noise without any circuit.
#pragma once

#include <span>

#include "core/complex.hpp"

namespace vorlane {

// The cost a fit with `parameter_count` parameters is expected to reach on
// this spectrum with these weights (the per-component noise variance the
// ladder leaves, times half the degrees of freedom). NaN when the spectrum
// has too few usable points for the ladder.
double expected_optimum_cost(std::span<const double> omega, std::span<const Complex> measured,
                             std::span<const double> weights, std::size_t parameter_count);

}  // namespace vorlane
