// The dispatch from a method name to its fitting method.
#include "fit/fit_dispatch.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "circuit/impedance.hpp"
#include "circuit/arc_order.hpp"
#include "circuit/layout.hpp"
#include "fit/fit_size.hpp"
#include "fit/global_methods.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/start_point.hpp"
#include "fit/zero_config_fit.hpp"

namespace vorlane {

namespace {

// The least-squares gradient test is not a user option.
constexpr double FIXED_GTOL = 1e-8;

FitResultOr run_levenberg_marquardt(const FitOptions& o, const FitModel& m) {
    const LmOptions lm{o.ftol, o.xtol, FIXED_GTOL, o.max_iterations};
    // The zero-configuration search works on the whole tree; a constrained
    // circuit keeps the plain fit of its free parameters.
    if (o.zero_configuration && o.constraints.empty()) {
        return zero_config_fit(o.nodes, o.frequencies, o.impedances, o.modulus, lm, o.arcs_placed);
    }
    return levenberg_marquardt_fit(m, o.frequencies, o.impedances, o.modulus, lm);
}

SpectrumRef spectrum_of(const FitOptions& o) { return SpectrumRef{o.frequencies, o.impedances, o.modulus}; }

FitResultOr run_particle_swarm(const FitOptions& o, const FitModel& m) {
    return particle_swarm_fit(m, spectrum_of(o), o.num_particles, o.generations, o.seed);
}

FitResultOr run_nelder_mead(const FitOptions& o, const FitModel& m) {
    return nelder_mead_fit(m, spectrum_of(o), o.nelder_mead_iterations);
}

FitResultOr run_differential_evolution(const FitOptions& o, const FitModel& m) {
    return differential_evolution_fit(m, spectrum_of(o), o.de_evaluations);
}

FitResultOr run_simulated_annealing(const FitOptions& o, const FitModel& m) {
    return simulated_annealing_fit(m, spectrum_of(o), o.sa_iterations, o.sa_initial_temperature, o.seed);
}

FitResultOr run_basin_hopping(const FitOptions& o, const FitModel& m) {
    return basin_hopping_fit(m, spectrum_of(o), o.basin_hopping_hops, o.basin_hopping_step_size,
                             o.basin_hopping_temperature, o.seed);
}

struct MethodRow {
    std::string_view name;
    FitResultOr (*run)(const FitOptions&, const FitModel&);
};

constexpr std::array METHODS{
    MethodRow{"levenberg_marquardt", run_levenberg_marquardt},
    MethodRow{"particle_swarm", run_particle_swarm},
    MethodRow{"nelder_mead", run_nelder_mead},
    MethodRow{"differential_evolution", run_differential_evolution},
    MethodRow{"simulated_annealing", run_simulated_annealing},
    MethodRow{"basin_hopping", run_basin_hopping},
};

// A method whose search never came back to its start (a global method's
// population need not contain it) must not hand back a worse point: the start
// is then the result, a success only if the method stood still there.
FitOutcome no_worse_than_start(const FitOptions& o, const FitModel& model, FitOutcome outcome) {
    const std::vector<double>& start = model.start();
    if (!within_bounds(start, model.bounds())) return outcome;
    std::vector<double> omega(o.frequencies.size());
    for (std::size_t i = 0; i < omega.size(); ++i) omega[i] = o.frequencies[i] * TWO_PI;
    const std::vector<double> weights = compute_weights(o.impedances, o.modulus);
    EvalCounter counter;
    counter.add(outcome.impedance_evals);
    const double start_cost = cost_of(residuals(model, start, omega, o.impedances, weights, counter));
    if (!std::isfinite(start_cost) || outcome.cost <= start_cost) return outcome;
    const bool stood_still = outcome.success && same_point(outcome.params, model.full(start));
    return build_outcome(model, start, stood_still, outcome.iterations, omega, o.impedances, weights, counter);
}

// The same fitted circuit with its interchangeable arcs ordered by time
// constant; the cost, which does not depend on the order, stays as it is.
void order_arcs(FitOutcome& outcome, const Constraints& constraints) {
    const std::vector<std::size_t> order = arc_order(outcome.circuit, outcome.params, constraints);
    outcome.params = permuted(outcome.params, order);
    if (outcome.stderr_) outcome.stderr_ = permuted(*outcome.stderr_, order);
    outcome.circuit = rebuild_with_values(outcome.circuit, outcome.params);
}

}  // namespace

bool is_known_method(std::string_view name) {
    return std::ranges::any_of(METHODS, [&](const MethodRow& method) { return method.name == name; });
}

FitResultOr run_fit(const FitOptions& options) {
    if (auto error = check_fit_size(options.frequencies.size(), param_count(options.nodes), options)) {
        return std::unexpected(*error);
    }
    for (const MethodRow& method : METHODS) {
        if (method.name != options.method) continue;
        const FitModel model(options.nodes, options.constraints);
        FitResultOr outcome = method.run(options, model);
        if (!outcome) return outcome;
        FitOutcome kept = no_worse_than_start(options, model, std::move(*outcome));
        if (options.constraints.ordered_arcs) order_arcs(kept, options.constraints);
        return kept;
    }
    return std::unexpected(FitError{FitError::Kind::UnknownMethod, options.method});
}

}  // namespace vorlane
