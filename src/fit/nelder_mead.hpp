// The search phase of the Nelder-Mead fit, exposed for its tests.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "fit/pso_problem.hpp"

namespace vorlane {

// y0, then y0 with coordinate i moved up by 0.1 |y0_i| (by 0.1 when
// |y0_i| <= 1e-8 or NaN), for every i.
std::vector<std::vector<double>> nelder_mead_initial_simplex(std::span<const double> y0);

// The simplex walk from the problem's start; the completed iterations are
// counted. A NaN reflected cost ends it with a solver FitError.
std::expected<SearchResult, FitError> nelder_mead_search(const PsoProblem& problem, std::uint64_t max_iterations);

}  // namespace vorlane
