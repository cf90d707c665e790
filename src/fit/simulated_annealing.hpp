// The search phase of the simulated-annealing fit, exposed for its tests.
#pragma once

#include <cstdint>

#include "fit/chacha_rng.hpp"
#include "fit/pso_problem.hpp"

namespace vorlane {

// `iterations` annealing steps from the problem's start with a positive,
// finite initial temperature; moves draw from `moves`, every step draws one
// acceptance probability from `acceptance`. Makes iterations + 1 evaluations.
SearchResult anneal(const PsoProblem& problem, std::uint64_t iterations, double initial_temperature,
                    ChaChaRng& moves, ChaChaRng& acceptance);

}  // namespace vorlane
