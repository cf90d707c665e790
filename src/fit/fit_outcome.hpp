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
#include "fit/residuals.hpp"

namespace vorlane {

struct FitOutcome {
    SeriesList circuit;                 // input tree with the final values
    std::vector<std::string> names;
    std::vector<double> params;         // within bounds
    std::optional<std::vector<double>> stderr_;
    std::uint64_t iterations = 0;
    std::uint64_t impedance_evals = 0;
    double cost = 0.0;
    double chi_square = 0.0;
    bool success = false;
};

struct FitError {
    enum class Kind { LengthMismatch, NoPoints, NoParameters, Solver, UnknownMethod, TooLarge };
    Kind kind;
    std::string text;  // solver text, the unknown method name or the whole TooLarge message

    // The user-facing message ("solver error: ...", "unknown fit method ...").
    std::string message() const;
};

using FitResultOr = std::expected<FitOutcome, FitError>;

// The three input checks every method starts with, in order.
std::optional<FitError> check_fit_inputs(std::size_t n_frequencies, std::size_t n_impedances,
                                         const SeriesList& nodes);

FitOutcome build_outcome(const SeriesList& nodes, std::span<const double> params, bool success,
                         std::uint64_t iterations, std::span<const double> omega,
                         std::span<const Complex> measured, std::span<const double> weights,
                         EvalCounter& counter);

FitResultOr polish_or_fallback(const SeriesList& nodes, std::span<const double> best, std::uint64_t iterations,
                               std::span<const double> frequencies_hz, std::span<const Complex> measured,
                               bool modulus, std::span<const double> omega, std::span<const double> weights,
                               EvalCounter& counter);

}  // namespace vorlane
