// The global fitting methods; each ends in polish_or_fallback except basin
// hopping, which chains complete least-squares fits.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "fit/fit_model.hpp"
#include "fit/fit_outcome.hpp"

namespace vorlane {

struct SpectrumRef {
    std::span<const double> frequencies_hz;
    std::span<const Complex> measured;
    bool modulus = true;
};

FitResultOr nelder_mead_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t iterations);
FitResultOr particle_swarm_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t num_particles,
                               std::uint64_t generations, std::optional<std::uint64_t> seed);
FitResultOr differential_evolution_fit(const FitModel& model, const SpectrumRef& spectrum,
                                       std::uint64_t evaluations);
FitResultOr simulated_annealing_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t iterations,
                                    double initial_temperature, std::optional<std::uint64_t> seed);
FitResultOr basin_hopping_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint32_t hops,
                              double step_size, double temperature, std::optional<std::uint64_t> seed);

}  // namespace vorlane
