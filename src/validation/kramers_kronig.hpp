// The linear Kramers-Kronig test of a measured spectrum (Schoenleber et al.,
// Electrochim. Acta 131 (2014) 20): M serial RC elements with fixed time
// constants, an ohmic resistance and optionally a capacitance and an
// inductance, fitted by linear least squares; then a verdict on whether the
// residuals are the noise of a valid measurement or the structure of an
// invalid one.
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

// Noise: the series elements, the range of time constants and (unless
// given) M are chosen together, the smallest M whose fit is as good as the
// noise allows; outliers are left out of the final fit. Mu: the plain test
// of the paper, on every point, over the measured range, with the series
// elements asked for; M, unless given, grows from 1 until mu falls below
// the cut-off.
enum class KkMethod { Noise, Mu };

struct KkOptions {
    std::optional<std::size_t> m;  // RC elements; none: chosen by `method`
    KkMethod method = KkMethod::Noise;
    double mu_cutoff = 0.85;
    KkPart part = KkPart::Complex;
    std::optional<bool> capacitance;  // none: added when the low-frequency end needs it
    std::optional<bool> inductance;   // none: added when the high-frequency end needs it
    bool modulus_weights = true;      // 1/|Z| weights, else 1
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
    // The verdict, over the points that are not outliers; percentages of |Z|.
    double noise = 0.0;       // the residuals' standard deviation per part
    double systematic = 0.0;  // the part of the residuals that is smooth along frequency
    double threshold = 0.0;   // the largest `systematic` of a valid spectrum
    bool valid = false;
    std::vector<bool> outliers;  // one per point: left out of the fit and the verdict
};

// The user-facing message of a refused input.
struct KkError {
    std::string message;
};

// The largest M the points allow: one time constant per frequency at most,
// and no more unknowns than equations in any least-squares step. 0 when
// not even M = 1 fits.
std::size_t max_time_constants(std::size_t points, KkPart part, bool capacitance, bool inductance);

// mu = 1 - (sum of |R_k| over negative R_k) / (sum of R_k over positive
// R_k); 1 when no R_k is negative.
double mu_criterion(const std::vector<double>& resistances);

// Frequencies finite and positive, with 2 pi f and the widened range of time
// constants representable; impedances finite and nonzero; enough points for
// M; cut-off in (0, 1].
std::expected<KkResult, KkError> kramers_kronig(const std::vector<double>& frequencies,
                                                const std::vector<Complex>& impedances,
                                                const KkOptions& options);

}  // namespace vorlane
