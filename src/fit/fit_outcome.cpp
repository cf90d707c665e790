// Error messages, input checks, the statistics every fit ends with, and the
// least-squares polish of a global method's best point.
#include "fit/fit_outcome.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "circuit/layout.hpp"
#include "core/cancellation.hpp"
#include "core/quoting.hpp"
#include "fit/jacobian.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "fit/matrix_inverse.hpp"

namespace vorlane {

namespace {

// The polish refines with fixed settings whatever the user asked of the global method.
constexpr LmOptions POLISH_OPTIONS{1e-8, 1e-8, 1e-8, 200};

// Row-major J^T J of P columns.
std::vector<double> normal_matrix(const std::vector<std::vector<double>>& columns) {
    const std::size_t p = columns.size();
    std::vector<double> a(p * p);
    for (std::size_t i = 0; i < p && !poll_stop(); ++i) {
        for (std::size_t j = i; j < p; ++j) {
            double sum = 0.0;
            for (std::size_t k = 0; k < columns[i].size() && k < columns[j].size(); ++k) {
                sum += columns[i][k] * columns[j][k];
            }
            a[i * p + j] = sum;
            a[j * p + i] = sum;
        }
    }
    return a;
}

// sqrt of the diagonal of (chi^2 / (m - P)) (J^T J)^-1; nothing when
// m - P <= 0 or J^T J is exactly singular.
std::optional<std::vector<double>> standard_errors(const std::vector<std::vector<double>>& columns,
                                                   std::size_t m, double chi_square) {
    const std::size_t p = columns.size();
    const double dof = static_cast<double>(m) - static_cast<double>(p);
    if (!(dof > 0.0)) return std::nullopt;
    const std::optional<std::vector<double>> covariance = invert_matrix(normal_matrix(columns), p);
    if (!covariance) return std::nullopt;
    std::vector<double> errors(p);
    for (std::size_t i = 0; i < p; ++i) errors[i] = std::sqrt(chi_square / dof * (*covariance)[i * p + i]);
    return errors;
}

bool same_bits(std::span<const double> a, std::span<const double> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace

std::string FitError::message() const {
    switch (kind) {
        case Kind::LengthMismatch: return "frequencies and impedances must have the same length";
        case Kind::NoPoints: return "frequencies and impedances must not be empty";
        case Kind::NoParameters: return "circuit topology has no parameters to fit";
        case Kind::AllFixed: return "every parameter of this circuit is fixed: there is nothing to fit";
        case Kind::Solver: return "solver error: " + text;
        case Kind::TooLarge: return text;
        case Kind::UnknownMethod:
            return "unknown fit method " + quote(text) +
                   ", expected one of \"levenberg_marquardt\", \"particle_swarm\", \"nelder_mead\", "
                   "\"differential_evolution\", \"simulated_annealing\", \"basin_hopping\"";
    }
    return text;
}

std::optional<FitError> check_fit_inputs(std::size_t n_frequencies, std::size_t n_impedances,
                                         const FitModel& model) {
    if (n_frequencies != n_impedances) return FitError{FitError::Kind::LengthMismatch, {}};
    if (n_frequencies == 0) return FitError{FitError::Kind::NoPoints, {}};
    if (model.param_count() == 0) return FitError{FitError::Kind::NoParameters, {}};
    if (model.size() == 0) return FitError{FitError::Kind::AllFixed, {}};
    return std::nullopt;
}

FitOutcome build_outcome(const FitModel& model, std::span<const double> params, bool success,
                         std::uint64_t iterations, std::span<const double> omega,
                         std::span<const Complex> measured, std::span<const double> weights,
                         EvalCounter& counter, std::span<const double> known_residuals) {
    const std::vector<double> clamped = clamp_to_bounds(params, model.bounds());
    std::vector<double> r;
    if (!known_residuals.empty() && same_bits(clamped, params)) {
        r.assign(known_residuals.begin(), known_residuals.end());
        counter.add();
    } else {
        r = residuals(model, clamped, omega, measured, weights, counter);
    }
    const double cost = cost_of(r);
    const double chi_square = cost + cost;
    const std::vector<std::vector<double>> columns =
        jacobian_columns(model, clamped, omega, measured, weights, counter);

    FitOutcome outcome;
    outcome.params = model.full(clamped);
    outcome.circuit = rebuild_with_values(model.tree(), outcome.params);
    outcome.names = param_names(model.tree());
    outcome.stderr_ = standard_errors(columns, r.size(), chi_square);
    if (!model.all_free() && outcome.stderr_) {
        std::vector<double> all(outcome.params.size(), std::nan(""));
        for (std::size_t k = 0; k < model.size(); ++k) all[model.free_indices()[k]] = (*outcome.stderr_)[k];
        outcome.stderr_ = std::move(all);
    }
    outcome.iterations = iterations;
    outcome.impedance_evals = counter.value();
    outcome.cost = cost;
    outcome.chi_square = chi_square;
    // A success is a finite cost at finite parameters, whatever the method reports.
    outcome.success = success && std::isfinite(cost) &&
                      std::all_of(outcome.params.begin(), outcome.params.end(), [](double v) { return std::isfinite(v); });
    return outcome;
}

FitResultOr polish_or_fallback(const FitModel& model, std::span<const double> best, std::uint64_t iterations,
                               std::span<const double> frequencies_hz, std::span<const Complex> measured,
                               bool modulus, std::span<const double> omega, std::span<const double> weights,
                               EvalCounter& counter) {
    FitOutcome global = build_outcome(model, best, true, iterations, omega, measured, weights, counter);
    const FitModel start = model.with_start(best);
    FitResultOr polished = levenberg_marquardt_fit(start, frequencies_hz, measured, modulus, POLISH_OPTIONS);
    if (!polished) return polished;
    counter.add(polished->impedance_evals);
    // Ties go to the polished point; a NaN on either side keeps the global one.
    if (std::isfinite(polished->cost) && polished->cost <= global.cost) {
        polished->impedance_evals = counter.value();
        return polished;
    }
    global.impedance_evals = counter.value();
    return global;
}

}  // namespace vorlane
