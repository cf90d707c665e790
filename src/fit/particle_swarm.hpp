// The search phase of the particle-swarm fit, exposed for its tests.
#pragma once

#include <cstdint>
#include <optional>

#include "fit/chacha_rng.hpp"
#include "fit/pso_problem.hpp"

namespace vorlane {

// Refuses an empty swarm, and one too large to hold in memory.
std::optional<FitError> check_swarm_size(std::uint64_t num_particles, std::size_t dimension);

// The swarm over `box` (passed check_search_box) with a size that passed
// check_swarm_size, drawing from `rng`; its count is `generations`. Makes
// num_particles * (generations + 1) evaluations.
SearchResult particle_swarm_search(const PsoProblem& problem, const SearchBox& box, std::uint64_t num_particles,
                                   std::uint64_t generations, ChaChaRng& rng);

}  // namespace vorlane
