// The simulated-annealing fit in solver space: uniform moves as wide as the
// temperature, logistic acceptance of worse points, cooling T0 / k.
#include "fit/simulated_annealing.hpp"

#include <cmath>
#include <optional>
#include <vector>

#include "core/cancellation.hpp"
#include "core/math.hpp"
#include "fit/global_methods.hpp"

namespace vorlane {

namespace {

std::optional<FitError> check_initial_temperature(double t0) {
    if (t0 <= 0.0) {
        return solver_error("Invalid parameter: \"`SimulatedAnnealing`: Initial temperature must be > 0.\"");
    }
    // NaN or +inf would make every move range empty or unbounded.
    if (!std::isfinite(t0)) {
        return solver_error("Invalid parameter: \"`SimulatedAnnealing`: Initial temperature must be finite.\"");
    }
    return std::nullopt;
}

// The move and the acceptance sources: seeds s and s + 1 (wrapping), or
// both from the operating system.
std::optional<std::pair<ChaChaRng, ChaChaRng>> annealing_sources(std::optional<std::uint64_t> seed) {
    std::optional<ChaChaRng> moves = ChaChaRng::from_seed_or_entropy(seed);
    std::optional<ChaChaRng> acceptance =
        ChaChaRng::from_seed_or_entropy(seed ? std::optional<std::uint64_t>(*seed + 1) : std::nullopt);
    if (!moves || !acceptance) return std::nullopt;
    return std::pair{*moves, *acceptance};
}

}  // namespace

SearchResult anneal(const PsoProblem& problem, std::uint64_t iterations, double initial_temperature,
                    ChaChaRng& moves, ChaChaRng& acceptance) {
    std::vector<double> current = problem.start_solver();
    double current_cost = problem.cost(current);
    RunBest best;
    best.offer(current, current_cost);
    std::vector<double> candidate(current.size());
    double temperature = initial_temperature;
    for (std::uint64_t done = 0; done < iterations && !poll_stop();) {
        for (std::size_t i = 0; i < current.size(); ++i) {
            candidate[i] = current[i] + ((2.0 * temperature) * moves.unit() - temperature);
        }
        const double candidate_cost = problem.cost(candidate);
        const double p = acceptance.probability();
        // A number replaces a NaN current cost, which no comparison could.
        const bool accepted = improves(candidate_cost, current_cost) ||
                              1.0 / (1.0 + math::exp((candidate_cost - current_cost) / temperature)) > p;
        ++done;
        temperature = initial_temperature / static_cast<double>(done + 1);
        if (accepted) {
            current.swap(candidate);
            current_cost = candidate_cost;
        }
        best.offer(current, current_cost);
    }
    return SearchResult{std::move(best.point), iterations};
}

FitResultOr simulated_annealing_fit(const FitModel& model, const SpectrumRef& spectrum, std::uint64_t iterations,
                                    double initial_temperature, std::optional<std::uint64_t> seed) {
    if (auto error = check_fit_inputs(spectrum.frequencies_hz.size(), spectrum.measured.size(), model)) {
        return std::unexpected(*error);
    }
    if (auto error = check_initial_temperature(initial_temperature)) return std::unexpected(*error);
    auto sources = annealing_sources(seed);
    if (!sources) return std::unexpected(no_entropy_error());
    const PsoProblem problem(model, spectrum);
    return problem.finish(anneal(problem, iterations, initial_temperature, sources->first, sources->second),
                          "simulated annealing found no best position");
}

}  // namespace vorlane
