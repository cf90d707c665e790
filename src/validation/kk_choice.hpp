// The automatic choice of the ladder: series elements, range of time
// constants and number of RC elements.
#pragma once

#include <cstddef>
#include <optional>

#include "validation/kk_ladder.hpp"

namespace vorlane {

struct ShapeRequest {
    std::optional<std::size_t> m;     // none: chosen
    std::optional<bool> capacitance;  // none: chosen
    std::optional<bool> inductance;   // none: chosen
    KkPart part = KkPart::Complex;    // other parts keep the measured range of time constants
};

// Every candidate shape (each free series element with and without, the
// measured range and one widened by a decade at each end for complex fits)
// is fitted with the largest M considered; the one with the lowest
// Bayesian information criterion wins, its noise taken from the best
// candidate. M is then the smallest whose reduced chi-square comes within
// two standard deviations of the lowest over every M up to that largest.
// Spectra of many points are judged on every k-th point in frequency order.
// `points` must allow M = 1 for the requested series elements.
LadderShape choose_shape(const KkPoints& points, const ShapeRequest& request);

}  // namespace vorlane
