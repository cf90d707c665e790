// The solver-space cost, the search box and the shared refusals of the
// global methods.
#include "fit/pso_problem.hpp"

#include <algorithm>
#include <cmath>

#include "circuit/impedance.hpp"
#include "circuit/layout.hpp"
#include "core/math.hpp"
#include "core/number_format.hpp"
#include "core/quoting.hpp"

namespace vorlane {

namespace {

std::vector<double> angular(std::span<const double> frequencies_hz) {
    std::vector<double> omega(frequencies_hz.size());
    for (std::size_t i = 0; i < omega.size(); ++i) omega[i] = frequencies_hz[i] * TWO_PI;
    return omega;
}

}  // namespace

PsoProblem::PsoProblem(FitModel model, const SpectrumRef& spectrum)
    : model_(std::move(model)),
      spectrum_(spectrum),
      omega_(angular(spectrum.frequencies_hz)),
      weights_(compute_weights(spectrum.measured, spectrum.modulus)),
      bounds_(model_.bounds()),
      start_(model_.start()) {}

double PsoProblem::cost(std::span<const double> y) const {
    const std::vector<double> x = physical(y, bounds_);
    return cost_of(residuals(model_, x, omega_, spectrum_.measured, weights_, counter_));
}

FitResultOr PsoProblem::polish(std::span<const double> best, std::uint64_t iterations) const {
    const std::vector<double> x = physical(best, bounds_);
    return polish_or_fallback(model_, x, iterations, spectrum_.frequencies_hz, spectrum_.measured,
                              spectrum_.modulus, omega_, weights_, counter_);
}

FitResultOr PsoProblem::finish(const SearchResult& search, const char* no_best_text) const {
    if (search.best.empty()) return std::unexpected(solver_error(no_best_text));
    return polish(search.best, search.iterations);
}

FitOutcome PsoProblem::outcome(std::span<const double> params, bool success, std::uint64_t iterations) const {
    return build_outcome(model_, params, success, iterations, omega_, spectrum_.measured, weights_, counter_);
}

SearchBox pso_search_box(const Bounds& bounds, std::span<const double> start) {
    const std::size_t n = std::min(bounds.size(), start.size());
    SearchBox box{std::vector<double>(n), std::vector<double>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        const auto [lo, hi] = bounds[i];
        if (!unbounded_above(bounds[i])) {
            box.lower[i] = lo;
            box.upper[i] = hi;
            continue;
        }
        // std::fmax ignores a NaN operand, so a NaN start searches around 1e-6.
        const double g = std::fmax(std::fabs(start[i]), 1e-6);
        box.lower[i] = math::log10(std::fmax(std::fmax(g * 1e-4, lo) - lo, 1e-300));
        box.upper[i] = math::log10(std::fmax(g * 1e4 - lo, 1e-300));
    }
    return box;
}

std::optional<FitError> check_search_box(const SearchBox& box, const FitModel& model) {
    const std::size_t n = std::min(box.lower.size(), box.upper.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (std::isfinite(box.upper[i] - box.lower[i])) continue;
        const std::vector<std::string> names = model.names();
        const std::vector<double>& values = model.start();
        return solver_error("cannot search parameter " + quote(names.at(i)) + " starting at " +
                            format_table_number(values.at(i)) + ": its search range is not finite");
    }
    return std::nullopt;
}

FitError solver_error(std::string text) { return FitError{FitError::Kind::Solver, std::move(text)}; }

FitError no_entropy_error() { return solver_error("the operating system provides no entropy to seed the search"); }

}  // namespace vorlane
