// The result and error records shared by every fitting method, and the
// statistics every method ends with.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "circuit/tree.hpp"
#include "fit/fit_model.hpp"
#include "fit/residuals.hpp"

namespace vorlane {

struct FitOutcome {
    SeriesList circuit;                 // input tree with the final values
    std::vector<std::string> names;     // every parameter, fixed ones included
    std::vector<double> params;         // within bounds
    // NaN for a fixed parameter, which has no standard error.
    std::optional<std::vector<double>> stderr_;
    std::uint64_t iterations = 0;
    std::uint64_t impedance_evals = 0;
    double cost = 0.0;
    double chi_square = 0.0;
    bool success = false;
};

struct FitError {
    enum class Kind { LengthMismatch, NoPoints, NoParameters, AllFixed, Solver, UnknownMethod, TooLarge };
    Kind kind;
    std::string text;  // solver text, the unknown method name or the whole TooLarge message

    // The user-facing message ("solver error: ...", "unknown fit method ...").
    std::string message() const;
};

using FitResultOr = std::expected<FitOutcome, FitError>;

// The input checks every method starts with, in order; a model whose
// every parameter is fixed has nothing to fit.
std::optional<FitError> check_fit_inputs(std::size_t n_frequencies, std::size_t n_impedances,
                                         const FitModel& model);

// `params` holds the free parameters; the outcome lists every parameter,
// and its standard errors and degrees of freedom count the free ones.
// `known_residuals`, when not empty, is the residual vector at `params` the
// caller already has: it stands in for the evaluation (and is counted as
// one) wherever the bounds leave `params` as they are.
FitOutcome build_outcome(const FitModel& model, std::span<const double> params, bool success,
                         std::uint64_t iterations, std::span<const double> omega,
                         std::span<const Complex> measured, std::span<const double> weights,
                         EvalCounter& counter, std::span<const double> known_residuals = {});

FitResultOr polish_or_fallback(const FitModel& model, std::span<const double> best, std::uint64_t iterations,
                               std::span<const double> frequencies_hz, std::span<const Complex> measured,
                               bool modulus, std::span<const double> omega, std::span<const double> weights,
                               EvalCounter& counter);

}  // namespace vorlane
