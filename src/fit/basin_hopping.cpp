// Basin hopping (D. J. Wales and J. P. K. Doye, 1997): random jumps in
// solver space, each followed by a complete multi-start least-squares fit,
// kept or dropped by the Metropolis rule.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/cancellation.hpp"
#include "core/math.hpp"
#include "core/number_format.hpp"
#include "fit/chacha_rng.hpp"
#include "fit/global_methods.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/pso_problem.hpp"

namespace vorlane {

namespace {

// The local fits ignore the caller's least-squares options.
constexpr LmOptions LOCAL_FIT{1e-8, 1e-8, 1e-8, 200};

std::optional<FitError> check_step_size(double step_size) {
    if (step_size >= 0.0 && std::isfinite(step_size)) return std::nullopt;
    return solver_error("basin_hopping_step_size must be a finite number >= 0, not " +
                        format_table_number(step_size));
}

}  // namespace

FitResultOr basin_hopping_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint32_t hops,
                              double step_size, double temperature, std::optional<std::uint64_t> seed) {
    if (auto error = check_fit_inputs(spectrum.frequencies_hz.size(), spectrum.measured.size(), model)) {
        return std::unexpected(*error);
    }
    if (auto error = check_step_size(step_size)) return std::unexpected(*error);
    std::optional<ChaChaRng> rng = ChaChaRng::from_seed_or_entropy(seed);
    if (!rng) return std::unexpected(no_entropy_error());
    const Bounds& bounds = model.bounds();
    auto local_fit = [&](const FitModel& start) {
        return levenberg_marquardt_fit(start, spectrum.frequencies_hz, spectrum.measured, spectrum.modulus,
                                       LOCAL_FIT);
    };

    // The local fits report every parameter; the hops move the free ones.
    FitResultOr current = local_fit(model);
    if (!current) return current;
    std::vector<double> best = model.free_part(current->params);
    double best_cost = current->cost;
    std::uint64_t total_iterations = current->iterations;
    for (std::uint32_t hop = 0; hop < hops && !poll_stop(); ++hop) {
        std::vector<double> y = to_solver_space(model.free_part(current->params), bounds);
        for (double& coordinate : y) coordinate = coordinate + ((2.0 * step_size) * rng->unit() - step_size);
        FitResultOr next = local_fit(model.with_start(physical(y, bounds)));
        if (!next) return next;
        // A number replaces a NaN best or current cost, which no comparison could.
        if (std::isfinite(next->cost) && improves(next->cost, best_cost)) {
            best = model.free_part(next->params);
            best_cost = next->cost;
        }
        bool accepted = false;
        if (std::isfinite(next->cost)) {
            accepted = improves(next->cost, current->cost) ||
                       rng->probability() < math::exp(-(next->cost - current->cost) / temperature);
        }
        total_iterations += next->iterations;
        if (accepted) current = std::move(next);
    }

    // Statistics on a fresh counter: the local fits' evaluations are not reported.
    const PsoProblem statistics(model, spectrum);
    return statistics.outcome(best, true, total_iterations);
}

}  // namespace vorlane
