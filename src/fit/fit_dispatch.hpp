// The options of one fit call and the dispatch on the method name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "circuit/constraints.hpp"
#include "fit/fit_outcome.hpp"
#include "fit/zero_config_fit.hpp"

namespace vorlane {

struct FitOptions {
    std::string method = "levenberg_marquardt";
    std::uint32_t max_iterations = 200;
    double ftol = 1e-8;
    double xtol = 1e-8;
    SeriesList nodes;                   // holds the starting values
    Constraints constraints;            // fixed parameters, own bounds, arc order
    std::vector<double> frequencies;    // hertz
    std::vector<Complex> impedances;
    bool modulus = true;
    std::uint64_t num_particles = 200;
    std::uint64_t generations = 1000;
    std::optional<std::uint64_t> seed;
    std::uint64_t nelder_mead_iterations = 2000;
    std::uint64_t de_evaluations = 20000;
    std::uint64_t sa_iterations = 5000;
    double sa_initial_temperature = 2.0;
    std::uint32_t basin_hopping_hops = 20;
    double basin_hopping_step_size = 1.0;
    double basin_hopping_temperature = 1.0;
    // The start was found without the caller's help (a network or the
    // spectrum): the default method checks its fit and searches further
    // when the fit stays poor.
    bool zero_configuration = false;
    // Who placed that start's arcs (a network of the whole circuit, or a
    // start read off the spectrum).
    ArcsPlaced arcs_placed = ArcsPlaced::ByStart;
};

// True for the six method names run_fit dispatches on.
bool is_known_method(std::string_view name);

// Runs the method named by options.method on the free parameters of the
// constrained circuit; interchangeable arcs come out ordered by time
// constant when the constraints ask for it. An unknown name is an
// UnknownMethod error carrying the name, a fit beyond the memory limit
// (fit_size.hpp) a TooLarge error.
FitResultOr run_fit(const FitOptions& options);

}  // namespace vorlane
