// The search phase of the differential-evolution fit, exposed for its tests.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "fit/pso_problem.hpp"

namespace vorlane {

struct SingleBox {
    std::vector<float> min;
    std::vector<float> max;
};

// The box in single precision; every coordinate must keep a finite,
// non-empty range there, or the initial sampling has nothing to draw from.
std::expected<SingleBox, FitError> single_precision_box(const SearchBox& box, const FitModel& model);

// Ten evolutions of max(evaluations, 1) steps each, then one double-precision
// re-evaluation per winner; the count is the total of the run evaluations.
std::expected<SearchResult, FitError> differential_evolution_search(const PsoProblem& problem, const SingleBox& box,
                                                                    std::uint64_t evaluations);

}  // namespace vorlane
