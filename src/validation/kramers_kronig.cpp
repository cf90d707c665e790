// The linear Kramers-Kronig test: input checks, the fit of the chosen
// ladder, outliers and the verdict.
#include "validation/kramers_kronig.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/cancellation.hpp"
#include "core/number_format.hpp"
#include "validation/kk_choice.hpp"
#include "validation/kk_ladder.hpp"
#include "validation/kk_verdict.hpp"

namespace vorlane {
namespace {

// The plain mu rule stops here even when mu never falls below the cut-off
// (noise-free data never over-fits): each step solves a problem of M
// columns.
constexpr std::size_t MAX_MU_RULE_M = 100;
// Frequencies and moduli are kept to where every column of the widened
// ladder and every weight is a finite number.
constexpr double SMALLEST_VALUE = 1e-100;
constexpr double LARGEST_VALUE = 1e100;

std::string part_name(KkPart part) {
    switch (part) {
        case KkPart::Real: return "real";
        case KkPart::Imaginary: return "imaginary";
        case KkPart::Complex: break;
    }
    return "complex";
}

bool representable(double x) { return x >= SMALLEST_VALUE && x <= LARGEST_VALUE; }

std::optional<KkError> check_values(const std::vector<double>& frequencies, const std::vector<Complex>& impedances) {
    if (frequencies.size() != impedances.size()) {
        return KkError{"frequencies and impedances must have the same length"};
    }
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        if (!(std::isfinite(frequencies[i]) && frequencies[i] > 0.0)) {
            return KkError{"frequencies must be finite and positive: frequency " + std::to_string(i) + " is " +
                           format_debug_float(frequencies[i])};
        }
        if (!representable(frequencies[i])) {
            return KkError{"frequencies must lie between 1e-100 and 1e100 Hz for the test: frequency " +
                           std::to_string(i) + " is " + format_debug_float(frequencies[i])};
        }
    }
    for (std::size_t i = 0; i < impedances.size(); ++i) {
        const Complex z = impedances[i];
        if (!(std::isfinite(z.re) && std::isfinite(z.im)) || (z.re == 0.0 && z.im == 0.0)) {
            return KkError{"impedances must be finite and nonzero: impedance " + std::to_string(i) + " is (" +
                           format_debug_float(z.re) + ", " + format_debug_float(z.im) + ")"};
        }
        if (!representable(std::hypot(z.re, z.im))) {
            return KkError{"impedances must have a modulus between 1e-100 and 1e100 ohm for the test: impedance " +
                           std::to_string(i) + " is (" + format_debug_float(z.re) + ", " +
                           format_debug_float(z.im) + ")"};
        }
    }
    return std::nullopt;
}

std::optional<KkError> check_input(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                                   const KkOptions& options) {
    if (auto refused = check_values(frequencies, impedances)) return refused;
    if (!(options.mu_cutoff > 0.0 && options.mu_cutoff <= 1.0)) {
        return KkError{"mu_cutoff must lie in (0, 1], got " + format_debug_float(options.mu_cutoff)};
    }
    if (options.m && *options.m == 0) return KkError{"m must be at least 1"};
    // The fewest columns the options allow: automatic series elements may be
    // left out.
    const bool capacitance = options.capacitance.value_or(false);
    const bool inductance = options.inductance.value_or(false);
    const std::size_t points = frequencies.size();
    const std::size_t allowed = max_time_constants(points, options.part, capacitance, inductance);
    if (allowed == 0) {
        std::size_t needed = points + 1;
        while (max_time_constants(needed, options.part, capacitance, inductance) == 0) ++needed;
        return KkError{"a " + part_name(options.part) + " fit needs at least " + std::to_string(needed) +
                       " measured points, got " + std::to_string(points)};
    }
    if (options.m && *options.m > allowed) {
        return KkError{"m = " + std::to_string(*options.m) + " is too large: " + std::to_string(points) +
                       " measured points allow at most m = " + std::to_string(allowed) + " for a " +
                       part_name(options.part) + " fit"};
    }
    return std::nullopt;
}

// One fit of a ladder to the listed points, evaluated at every point.
struct LadderFit {
    LadderShape shape;
    FittedLadder ladder;
    std::vector<Complex> impedance;
    std::vector<double> residuals_real;
    std::vector<double> residuals_imag;
};

LadderFit fit_shape(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                    const KkPoints& points, const LadderShape& shape, KkPart part) {
    LadderFit out;
    out.shape = shape;
    std::vector<double> tau = ladder_time_constants(shape, points);
    const std::vector<double> coefficients =
        fit_ladder(ladder_design(points, tau, shape), ladder_target(points), shape, part);
    out.ladder = fitted_ladder(points, std::move(tau), coefficients, shape);
    const std::size_t n = frequencies.size();
    out.impedance.resize(n);
    out.residuals_real.resize(n);
    out.residuals_imag.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (poll_stop_at_point(i)) break;
        const Complex z = ladder_impedance(out.ladder, 6.283185307179586 * frequencies[i]);
        const double modulus = std::hypot(impedances[i].re, impedances[i].im);
        out.impedance[i] = z;
        out.residuals_real[i] = (impedances[i].re - z.re) / modulus;
        out.residuals_imag[i] = (impedances[i].im - z.im) / modulus;
    }
    return out;
}

std::vector<std::size_t> rows_without(const std::vector<bool>& left_out) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < left_out.size(); ++i) {
        if (!left_out[i]) rows.push_back(i);
    }
    return rows;
}

// m grows from 1 and stops at the first m >= 2 with mu below the cut-off (a
// single element cannot over-fit: its resistance may come out negative
// only because one time constant misses the spectrum).
LadderFit mu_rule(const std::vector<double>& frequencies, const std::vector<Complex>& impedances,
                  const KkPoints& points, const KkOptions& options) {
    LadderShape shape{1, 0.0, options.capacitance.value_or(false), options.inductance.value_or(false)};
    const std::size_t limit =
        std::min(max_time_constants(points.size(), options.part, shape.capacitance, shape.inductance), MAX_MU_RULE_M);
    LadderFit fit;
    for (std::size_t m = 1; m <= limit && !poll_stop(); ++m) {
        shape.m = m;
        fit = fit_shape(frequencies, impedances, points, shape, options.part);
        if (m >= 2 && mu_criterion(fit.ladder.resistances) < options.mu_cutoff) break;
    }
    return fit;
}

KkResult result_of(LadderFit fit, const std::vector<double>& frequencies, const std::vector<std::size_t>& by_frequency,
                   std::vector<bool> outliers) {
    KkResult out;
    out.m = fit.shape.m;
    out.mu = mu_criterion(fit.ladder.resistances);
    out.ohmic_resistance = fit.ladder.ohmic_resistance;
    if (fit.shape.capacitance) out.capacitance = 1.0 / fit.ladder.inverse_capacitance;
    if (fit.shape.inductance) out.inductance = fit.ladder.inductance;
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        out.pseudo_chi_square += fit.residuals_real[i] * fit.residuals_real[i] +
                                 fit.residuals_imag[i] * fit.residuals_imag[i];
    }
    const KkVerdict verdict =
        judge({by_frequency, fit.residuals_real, fit.residuals_imag}, outliers, fit.shape.columns());
    out.noise = verdict.noise;
    out.systematic = verdict.systematic;
    out.threshold = verdict.threshold;
    out.valid = verdict.valid;
    out.outliers = std::move(outliers);
    out.time_constants = std::move(fit.ladder.time_constants);
    out.resistances = std::move(fit.ladder.resistances);
    out.impedance = std::move(fit.impedance);
    out.residuals_real = std::move(fit.residuals_real);
    out.residuals_imag = std::move(fit.residuals_imag);
    return out;
}

}  // namespace

std::size_t max_time_constants(std::size_t points, KkPart part, bool capacitance, bool inductance) {
    const std::size_t reactive = std::size_t{capacitance} + std::size_t{inductance};
    std::size_t limit = points;  // one time constant per frequency
    auto at_most = [&](std::size_t unknown_besides_m, std::size_t equations) {
        limit = equations >= unknown_besides_m ? std::min(limit, equations - unknown_besides_m) : 0;
    };
    switch (part) {
        case KkPart::Complex: at_most(1 + reactive, 2 * points); break;
        case KkPart::Real:
            at_most(1, points);
            if (reactive > points) limit = 0;
            break;
        case KkPart::Imaginary: at_most(reactive, points); break;
    }
    return limit;
}

double mu_criterion(const std::vector<double>& resistances) {
    double negative = 0.0, positive = 0.0;
    for (double r : resistances) {
        if (r < 0.0) {
            negative -= r;
        } else {
            positive += r;
        }
    }
    if (negative == 0.0) return 1.0;
    return 1.0 - negative / positive;
}

std::expected<KkResult, KkError> kramers_kronig(const std::vector<double>& frequencies,
                                                const std::vector<Complex>& impedances, const KkOptions& options) {
    if (auto refused = check_input(frequencies, impedances, options)) return std::unexpected(*refused);
    const std::size_t n = frequencies.size();
    std::vector<bool> outliers(n, false);
    const KkPoints all = kk_points(frequencies, impedances, rows_without(outliers), options.modulus_weights);
    const std::vector<std::size_t> by_frequency = frequency_order(frequencies);
    if (options.method == KkMethod::Mu) {
        // The paper's test as it stands: the measured window, the series
        // elements asked for, every point.
        LadderFit plain;
        if (options.m) {
            const LadderShape shape{*options.m, 0.0, options.capacitance.value_or(false),
                                    options.inductance.value_or(false)};
            plain = fit_shape(frequencies, impedances, all, shape, options.part);
        } else {
            plain = mu_rule(frequencies, impedances, all, options);
        }
        return result_of(std::move(plain), frequencies, by_frequency, std::move(outliers));
    }
    const ShapeRequest request{options.m, options.capacitance, options.inductance, options.part};
    LadderFit fit = fit_shape(frequencies, impedances, all, choose_shape(all, request), options.part);
    outliers = find_outliers({by_frequency, fit.residuals_real, fit.residuals_imag});
    const std::vector<std::size_t> kept = rows_without(outliers);
    if (kept.size() < n) {
        const KkPoints points = kk_points(frequencies, impedances, kept, options.modulus_weights);
        // A given m the remaining points cannot carry keeps every point.
        if (options.m && *options.m > max_time_constants(points.size(), options.part,
                                                         options.capacitance.value_or(false),
                                                         options.inductance.value_or(false))) {
            outliers.assign(n, false);
        } else if (!poll_stop()) {
            fit = fit_shape(frequencies, impedances, points, choose_shape(points, request), options.part);
        }
    }
    return result_of(std::move(fit), frequencies, by_frequency, std::move(outliers));
}

}  // namespace vorlane
