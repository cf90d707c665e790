// The linear Kramers-Kronig test of a measured spectrum (Schoenleber et al.,
// Electrochim. Acta 131 (2014) 20): M serial RC elements with fixed time
// constants, an ohmic resistance and optionally a capacitance and an
// inductance, fitted by linear least squares; M chosen by the mu criterion
// or given.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "core/complex.hpp"

namespace vorlane {

// Which parts of the impedance the linear fit matches. A real-part fit finds
// the capacitance and inductance afterwards from the imaginary part, an
// imaginary-part fit the ohmic resistance from the real part.
enum class KkPart { Complex, Real, Imaginary };

struct KkOptions {
    std::optional<std::size_t> m;  // RC elements; none: the mu criterion
    double mu_cutoff = 0.85;
    KkPart part = KkPart::Complex;
    bool capacitance = false;
    bool inductance = false;
    bool modulus_weights = true;  // 1/|Z| weights, else 1
};

struct KkResult {
    std::size_t m = 0;
    double mu = 0.0;
    std::vector<double> time_constants;  // s, ascending
    double ohmic_resistance = 0.0;
    std::vector<double> resistances;  // one per time constant
    std::optional<double> capacitance;
    std::optional<double> inductance;
    std::vector<Complex> impedance;        // the fitted model at the measured frequencies
    std::vector<double> residuals_real;    // (Z - Z_fit).re / |Z|
    std::vector<double> residuals_imag;    // (Z - Z_fit).im / |Z|
    double pseudo_chi_square = 0.0;        // sum of squared relative residuals (Boukamp)
};

// The user-facing message of a refused input.
struct KkError {
    std::string message;
};

// The largest M the points allow: one time constant per frequency at most,
// and no more unknowns than equations in any least-squares step. 0 when
// not even M = 1 fits.
std::size_t max_time_constants(std::size_t points, const KkOptions& options);

// mu = 1 - (sum of |R_k| over negative R_k) / (sum of R_k over positive
// R_k); 1 when no R_k is negative.
double mu_criterion(const std::vector<double>& resistances);

// Frequencies finite and positive, impedances finite and nonzero, enough
// points for M (given, or 1 for the automatic choice), cut-off in (0, 1].
// Without a given M, M grows from 1 and stops at the first M >= 2 with
// mu < cut-off (M = 1 has mu 1 or -inf, which says nothing about
// over-fitting); the largest allowed M, but at most 100, when that never
// happens.
std::expected<KkResult, KkError> kramers_kronig(const std::vector<double>& frequencies,
                                                const std::vector<Complex>& impedances,
                                                const KkOptions& options);

}  // namespace vorlane
